#pragma once
// The two ends of an offline run. The host implements the reader, which
// hands the component its input; the component pushes its output into the
// writer, which the host drains (DefaultOfflineWriter is the usual one).

#include <cstdint>

#include "platform/core/RefCounted.h"

namespace zoc {

/// Input of an offline run, implemented by the host.
class OfflineIInterface : public core::RefCountedObject {
public:
    /// Channels the reader delivers.
    virtual long GetChannelCount() const = 0;
    /// Fills destination[0 .. channels) with up to `frames` frames that start
    /// at frame `position` of the source; returns the frames delivered (fewer
    /// at the end of the source, 0 past it). Called on the run's worker thread.
    virtual long GetAudio(float** destination, long channels, std::int64_t position, long frames) = 0;
};

/// Output of an offline run.
class OfflineOInterface : public core::RefCountedObject {
public:
    virtual long GetChannelCount() const = 0;
    /// Producer: true while a run may still put audio; false once it has put
    /// its last frame, which tells the consumer that an empty writer is done.
    virtual void SetOpenToWrite(bool open) = 0;
    /// Drops everything not yet taken.
    virtual void Flush() = 0;
    /// Takes up to `frames` frames of every channel, starting at frame
    /// `sourceOffset` of each source channel; returns the frames taken (0 when
    /// no room was made in time: the producer tries again).
    virtual long PutAudio(const float** source, long channels, std::int64_t sourceOffset, long frames) = 0;
};

} // namespace zoc

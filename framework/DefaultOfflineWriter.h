#pragma once
// A blocking ring buffer between one producer (the offline run's worker) and
// one consumer (the host). The producer waits up to 50 ms for room, the
// consumer up to 250 ms for data; a call that times out returns 0 frames and
// its caller tries again. The lock guards only the counters and positions.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <boost/signals2/signal.hpp>

#include "framework/OfflineInterfaces.h"
#include "platform/core/Gate.h"

namespace zoc {

class DefaultOfflineWriter : public OfflineOInterface {
public:
    using MediaReadySignal = boost::signals2::signal<void()>;

    DefaultOfflineWriter() = default;

    /// Control thread, before a run. Keeps the buffers when neither the
    /// channel count nor the capacity grows (the larger, earlier values stay
    /// in force); otherwise allocates new ones. Empties the ring, zeroes the
    /// start adjustment, opens the space gate and closes the data gate.
    void Initialize(long channels, long capacity);

    long GetChannelCount() const override;
    long GetCapacity() const;
    /// Closing also wakes a consumer waiting for data, so the end of a run is
    /// seen at once instead of after a time-out.
    void SetOpenToWrite(bool open) override;
    bool IsOpenToWrite() const { return openToWrite_.load(std::memory_order_acquire); }
    void Flush() override;
    /// Producer thread. When this fills the ring, closes the space gate and
    /// emits the media-ready signal (on the producer's thread).
    long PutAudio(const float** source, long channels, std::int64_t sourceOffset, long frames) override;
    /// Consumer thread. Copies up to `frames` frames to the start of each
    /// destination channel; 0 at once when the writer is closed for writing
    /// and empty, 0 after 250 ms without data.
    long GetAudio(float** destination, long channels, long frames);
    /// Frames waiting to be taken.
    long GetAvailable() const;

    void SetStartAdjust(std::int64_t frames);
    std::int64_t GetStartAdjust() const;

    /// Emitted when the ring becomes full: media is ready to be taken.
    MediaReadySignal& GetMediaReadySignal() { return mediaReady_; }

    static constexpr int kPutWaitMs = 50;
    static constexpr int kGetWaitMs = 250;

private:
    long channels_ = 0;
    long capacity_ = 0;
    std::vector<std::shared_ptr<float[]>> buffers_;
    int available_ = 0;
    int readPosition_ = 0;
    int writePosition_ = 0;
    std::int64_t startAdjust_ = 0;
    mutable std::mutex mutex_;
    core::Gate dataGate_{false};
    core::Gate spaceGate_{true};
    MediaReadySignal mediaReady_;
    std::atomic<bool> openToWrite_{false};
};

} // namespace zoc

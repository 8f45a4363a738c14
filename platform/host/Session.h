#pragma once
// Drives one component the way the host does: propose a layout, set the rate,
// apply a preset and parameters, resume, hand over blocks of planar float
// samples, suspend. Parameter changes can be scheduled at exact frames; the
// host block is split there so the change lands on that frame.

#include <cstdint>
#include <string>
#include <vector>

#include "contracts/host/AudioFilter.h"

namespace zoc::host {

class Session {
public:
    explicit Session(core::Ref<AudioFilter> filter);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    /// Proposes `channels` in and out (the usual layout for the count) and
    /// sets the sample rate. False when the component did not take the layout
    /// with that many channels.
    bool Configure(std::size_t channels, float sampleRate);
    /// Proposes explicit layouts.
    bool Configure(const media::AudioChannelLayout& layout, float sampleRate);

    void ApplyPreset(int index) { filter_->SetFactoryPreset(index); }
    void SetParameter(int index, float normalized) { filter_->SetParameterAutomated(index, normalized); }
    /// Schedules SetParameterAutomated(index, normalized) for when processing
    /// reaches `frame` (counted from Resume).
    void ScheduleParameter(std::int64_t frame, int index, float normalized);

    /// Feeds `channels` side-chain channels (0: none) from the next Resume
    /// on. Their pointers follow the main channels in Process's `inputs`, as
    /// the component receives them; a component takes at most as many as
    /// its side-chain bus has.
    void SetSideChain(std::size_t channels);

    /// Tells the component whether this session renders faster than real
    /// time (files) or plays (the default).
    void SetRenderingOffline(bool offline) { filter_->SetRenderingOffline(offline); }

    void Resume();
    void Suspend();

    /// Processes `frames` frames in host blocks of at most BlockSize(),
    /// splitting where a scheduled change falls. `inputs` holds one pointer
    /// per configured channel, then one per side-chain channel; `outputs` one
    /// per configured channel. Each block is preceded by SetCurrentOffset
    /// with its first frame counted from Resume.
    void Process(float* const* inputs, float* const* outputs, std::int64_t frames);

    void SetBlockSize(int frames);
    int BlockSize() const { return blockSize_; }
    std::int64_t Position() const { return position_; }
    std::size_t Channels() const { return channels_; }
    AudioFilter& Filter() { return *filter_; }

private:
    struct Change {
        std::int64_t frame;
        int index;
        float normalized;
    };
    core::Ref<AudioFilter> filter_;
    std::size_t channels_ = 0;
    std::size_t sideChain_ = 0;
    int blockSize_ = 512;
    std::int64_t position_ = 0;
    bool running_ = false;
    std::vector<Change> changes_; // sorted by frame, stable for equal frames
    std::vector<float*> inputPointers_;
    std::vector<float*> outputPointers_;
};

} // namespace zoc::host

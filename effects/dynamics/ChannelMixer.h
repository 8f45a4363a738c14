#pragma once
// Channel Mixer: every output channel is a weighted sum of all input
// channels, through an 8 x 8 gain matrix set in percent.

#include <array>
#include <atomic>
#include <cstddef>
#include <string>

#include "framework/DeferredWork.h"
#include "framework/MultiChannelComponentBase.h"

namespace zoc::components {

extern const std::string kChannelMixerComponentID;

class ChannelMixer : public MultiChannelComponentBase {
public:
    static constexpr int kMaxChannels = 8;
    static constexpr int kMatrixSize = kMaxChannels * kMaxChannels;
    /// The channel count (read only), then one entry per output and input.
    static constexpr int kParameterCount = kMatrixSize + 1;
    static constexpr int kChannelCountParameter = 0;
    static constexpr float kMinPercent = -100.0f;
    static constexpr float kMaxPercent = 100.0f;
    /// A matrix change during playback glides over 10 ms so it never clicks.
    static constexpr double kRampSeconds = 0.01;

    /// The parameter index of the gain from `input` into `output` (0-based).
    static constexpr int EntryParameter(int output, int input) { return 1 + output * kMaxChannels + input; }

    /// Stereo, with the first factory preset (identity) applied.
    ChannelMixer();

    int GetParameterCount() override { return kParameterCount; }
    /// Stores a matrix entry; the channel count (index 0) is ignored
    /// entirely. Control thread; never blocks.
    void SetParameter(int index, float normalized) override;
    float GetParameter(int index) override;
    /// Accepts exactly one input and one output layout with the same number
    /// of channels, 1 to 8. Anything else, including more than 8 channels,
    /// keeps the current buses and returns false. Control thread, suspended.
    bool RequestIOConfiguration(const host::ChannelLayoutList& inputs,
                                const host::ChannelLayoutList& outputs) override;
    /// Jumps to the current matrix without a glide.
    void Resume() override;
    /// Audio thread; allocates nothing. Inputs and outputs may share buffers.
    void Process(float** inputs, float** outputs, int frames) override;

protected:
    void OnNumberOfChannelsChanged(std::size_t count) override;

private:
    /// Frames mixed per pass when outputs overwrite inputs still to be read.
    static constexpr std::size_t kScratchFrames = 256;

    struct Term {
        int input;
        float gain;
    };
    /// The non-zero gains into one output, in input order.
    struct Row {
        std::array<Term, kMaxChannels> terms;
        int count = 0;
    };

    void BuildParameterInfos();
    void TakeTargets(bool glide);
    void BuildRows();
    void MixRamp(float* const* inputs, float* const* outputs, int frames);
    void MixRows(float* const* inputs, float* const* outputs, std::size_t frames) const;

    // Control thread.
    std::array<float, kMatrixSize> normalized_{};
    std::array<std::atomic<float>, kMatrixSize> targets_{};
    std::atomic<int> pendingChannels_;
    DeferredWork work_;

    // Audio thread.
    int channels_;
    std::array<float, kMatrixSize> gains_{};
    std::array<float, kMatrixSize> increments_{};
    std::array<float, kMatrixSize> rampTargets_{};
    std::array<Row, kMaxChannels> rows_{};
    int rampLength_ = 1;
    int rampRemaining_ = 0;
    std::array<float, kMaxChannels * kScratchFrames> scratch_{};
};

} // namespace zoc::components

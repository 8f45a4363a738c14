#pragma once
// Speech Volume Leveler: evens out the loudness of speech within a clip. The
// leveling (gain rider, gate, compressors, limiter) is the IntraClip kernel's;
// this component owns the parameter surface and the presets, hands parameter
// changes to the kernel at block boundaries and publishes its amplification
// meter. The console commands "IntraClip.Setup" and "IntraClip.Debug" read
// and write the kernel's global tuning record.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "dsp/intraclip/IntraClip.h"
#include "framework/MultiChannelComponentBase.h"

namespace zoc::components {

extern const std::string kIntraClipComponentID;

class IntraClipComponent : public MultiChannelComponentBase {
public:
    static constexpr int kMaxChannels = dsp::intraclip::IntraClip::kMaxChannels;
    static constexpr int kParameterCount = dsp::intraclip::IntraClip::kParameterCount;
    static constexpr int kMeterParameter = dsp::intraclip::IntraClip::kAmplification;

    IntraClipComponent();

    int GetParameterCount() override { return kParameterCount; }
    /// Stores the real value in the parameter's pending slot; the kernel takes
    /// it at the start of the next block. The meter is read only. Any thread
    /// the host uses for parameters; never blocks or allocates.
    void SetParameter(int index, float normalized) override;
    /// The stored value, normalized. For the meter: the kernel's current
    /// amplification when a block ran since the last read, else the value
    /// read then.
    float GetParameter(int index) override;
    /// Nothing when unchanged; otherwise the base takes the rate and the
    /// kernel is initialized for it. Control thread; allocates.
    void SetSampleRate(float rate) override;
    /// Initializes the kernel for the channels and rate (taking the current
    /// global tuning record), hands it every value and resets it. Control
    /// thread; allocates.
    void Resume() override;
    /// The kernel's look-ahead.
    int GetInitialDelay() override { return kernel_.GetLatency(); }
    /// Audio thread; never allocates, locks or blocks.
    void Process(float** inputs, float** outputs, int frames) override;

protected:
    /// Accepts 8 values (all but Target Dynamic Range) or 9.
    bool LoadParams(const host::PresetData& preset) override;
    /// The kernel is initialized again for the new count. Control thread.
    void OnNumberOfChannelsChanged(std::size_t count) override;

private:
    struct PendingSlot {
        std::atomic<bool> pending{false};
        std::atomic<float> value{0.0f};
    };

    void BuildParameterInfos();
    void InitializeKernel();

    dsp::intraclip::IntraClip kernel_;
    int channelCount_;
    std::array<float, kParameterCount> values_{}; ///< real values, control thread
    std::array<PendingSlot, kParameterCount> pending_{};
    std::atomic<std::int32_t> blocksSinceMeterRead_{0};
};

/// Registers "IntraClip.Setup" and "IntraClip.Debug" with the console.
void RegisterIntraClipConsoleCommands();

} // namespace zoc::components

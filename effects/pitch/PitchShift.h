#pragma once
// Pitch Shifter: changes the pitch of all channels in real time without
// changing their duration. The shifting, the parameter values, their ranges
// and the latency belong to one dsp::Stretch kernel over all channels; this
// component owns the parameter surface and the presets and hands the kernel
// whole blocks.

#include <string>
#include <vector>

#include "dsp/Stretch.h"
#include "framework/MultiChannelComponentBase.h"

namespace zoc::components {

extern const std::string kPitchShiftComponentID;

class PitchShift : public MultiChannelComponentBase {
public:
    static constexpr int kMaxChannels = dsp::Stretch::kMaxChannels;
    static constexpr int kParameterCount = dsp::Stretch::kParameterCount;

    PitchShift();

    int GetParameterCount() override { return kParameterCount; }
    /// Passes the real value to the kernel at once, then to the base (NaN
    /// reaches neither the kernel nor a new value; values outside 0..1 are
    /// clamped). Any thread the host uses for parameters; never blocks or
    /// allocates.
    void SetParameter(int index, float normalized) override;
    /// The normalized form of the value the kernel keeps.
    float GetParameter(int index) override;
    core::Ref<host::AudioFilterParameterInfo> GetParameterInfo(int index) override;
    /// Applies the row, then counts a change of the component's own
    /// parameters, so a host redraws them.
    void SetFactoryPreset(int index) override;
    /// Nothing when unchanged; otherwise the kernel takes the integer rate.
    /// Control thread; allocates.
    void SetSampleRate(float rate) override;
    /// Clears the kernel's history and heads. Control thread.
    void Resume() override;
    void Suspend() override;
    /// The kernel's latency for the settings last set, in frames.
    int GetInitialDelay() override { return shifter_.GetLatency(true); }
    /// Audio thread; never allocates.
    void Process(float** inputs, float** outputs, int frames) override;

protected:
    /// The base's result; counts a change like a preset.
    bool LoadParams(const host::PresetData& preset) override;
    /// The kernel takes the new count. Control thread; allocates.
    void OnNumberOfChannelsChanged(std::size_t count) override;

private:
    dsp::Stretch shifter_;
    int channelCount_;
    std::vector<core::Ref<GenericParameterInfo>> infos_;
};

} // namespace zoc::components

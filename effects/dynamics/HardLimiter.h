#pragma once
// Hard Limiter: a look-ahead brick-wall limiter. The limiting itself, the
// parameter values, their ranges and the latency belong to one
// dsp::HardLimit kernel; this component owns the parameter surface and the
// presets and hands the kernel one frame of all channels at a time.

#include <string>
#include <vector>

#include "dsp/HardLimit.h"
#include "framework/MultiChannelComponentBase.h"

namespace zoc::components {

extern const std::string kHardLimiterComponentID;

class HardLimiter : public MultiChannelComponentBase {
public:
    static constexpr int kMaxChannels = dsp::HardLimit::kMaxChannels;
    /// The kernel's first five parameters; its true-peak switch is not offered here.
    static constexpr int kParameterCount = 5;

    HardLimiter();

    int GetParameterCount() override { return kParameterCount; }
    /// Passes the real value to the kernel at once (NaN is ignored, values
    /// outside 0..1 are clamped). Any thread the host uses for parameters;
    /// never blocks or allocates.
    void SetParameter(int index, float normalized) override;
    /// The normalized form of the value the kernel keeps (which may be the
    /// sent value rounded to the kernel's grid).
    float GetParameter(int index) override;
    core::Ref<host::AudioFilterParameterInfo> GetParameterInfo(int index) override;
    /// Nothing when unchanged; otherwise the kernel takes the integer rate.
    /// Control thread; allocates.
    void SetSampleRate(float rate) override;
    /// Clears the kernel's delay line and gain state. Control thread.
    void Resume() override;
    void Suspend() override;
    /// The look-ahead in frames.
    int GetInitialDelay() override { return limiter_.GetLatency(); }
    /// Audio thread; never allocates.
    void Process(float** inputs, float** outputs, int frames) override;

protected:
    /// The kernel takes the new count. Control thread; allocates.
    void OnNumberOfChannelsChanged(std::size_t count) override;

private:
    void BuildParameterInfos();

    dsp::HardLimit limiter_;
    int channelCount_;
    std::vector<core::Ref<GenericParameterInfo>> infos_;
};

} // namespace zoc::components

#pragma once
// Components that run one DSP kernel per channel. Blocks of 2048 frames or
// more are spread over all processors, one task per channel; shorter blocks
// stay on the calling thread, channel 0 first. Both give the same output.

#include <cmath>
#include <cstddef>
#include <memory>
#include <vector>

#include "contracts/dsp/Kernel.h"
#include "dsp/Denormals.h"
#include "framework/MultiChannelComponentBase.h"
#include "platform/core/Threads.h"

namespace zoc {

template <dsp::ChannelKernel Kernel>
class MultithreadedComponentBase : public MultiChannelComponentBase {
public:
    /// Blocks at least this long are processed in parallel.
    static constexpr int kParallelBlockFrames = 2048;

    MultithreadedComponentBase(std::string componentID, core::UString title, int maxChannels,
                               FactoryPresetTable presets = {})
        : MultiChannelComponentBase(std::move(componentID), std::move(title), maxChannels, std::move(presets)),
          channelCount_(GetNumberOfOutputChannels()), kernels_(std::make_unique<Kernel[]>(channelCount_))
    {
    }

    void SetSampleRate(float rate) override
    {
        if (rate == GetSampleRate())
            return;
        MultiChannelComponentBase::SetSampleRate(rate);
        const int accepted = static_cast<int>(GetSampleRate());
        ForEachKernel([accepted](Kernel& kernel) { kernel.SetSampleRate(accepted); });
    }

    void Suspend() override
    {
        MultiChannelComponentBase::Suspend();
        ForEachKernel([](Kernel& kernel) { kernel.Suspend(); });
    }

    void Resume() override
    {
        MultiChannelComponentBase::Resume();
        ForEachKernel([](Kernel& kernel) { kernel.Resume(); });
        // The processor pool starts on first use; start it here, where
        // allocating is allowed, so the first long block does not.
        if (channelCount_ > 1)
            core::threads::ProcessorCount();
    }

    int GetInitialDelay() override { return channelCount_ > 0 ? kernels_[0].GetLatency() : 0; }

    /// Real-time safe: no allocation; long blocks wait for the worker tasks.
    void Process(float** inputs, float** outputs, int frames) override
    {
        if (frames >= kParallelBlockFrames && channelCount_ > 1) {
            core::threads::ExecuteCPUBoundTaskOnAllProcessors(
                [&](int channel) {
                    dsp::ScopedFlushDenormals flush;
                    kernels_[channel].Process(inputs[channel], outputs[channel], frames);
                },
                static_cast<int>(channelCount_));
            return;
        }
        dsp::ScopedFlushDenormals flush;
        for (std::size_t channel = 0; channel < channelCount_; ++channel)
            kernels_[channel].Process(inputs[channel], outputs[channel], frames);
    }

    /// Whether a channel change re-applies every parameter to the new kernels.
    void SetParamsOnChannelChange(bool restore) { restoreParameters_ = restore; }

protected:
    void OnNumberOfChannelsChanged(std::size_t count) override
    {
        channelCount_ = count;
        std::vector<float> saved;
        if (restoreParameters_) {
            for (int p = 0; p < GetParameterCount(); ++p)
                saved.push_back(GetParameter(p));
        }
        kernels_.reset();
        kernels_ = std::make_unique<Kernel[]>(count);
        if (restoreParameters_ && static_cast<int>(saved.size()) == GetParameterCount()) {
            for (int p = 0; p < GetParameterCount(); ++p)
                SetParameter(p, saved[static_cast<std::size_t>(p)]);
        }
        const int rate = static_cast<int>(GetSampleRate());
        if (rate >= 1)
            ForEachKernel([rate](Kernel& kernel) { kernel.SetSampleRate(rate); });
    }

    std::size_t GetChannelCount() const { return channelCount_; }
    Kernel& GetKernel(std::size_t channel) { return kernels_[channel]; }

    template <class F>
    void ForEachKernel(F&& function)
    {
        for (std::size_t channel = 0; channel < channelCount_; ++channel)
            function(kernels_[channel]);
    }

private:
    std::size_t channelCount_;
    std::unique_ptr<Kernel[]> kernels_;
    bool restoreParameters_ = true;
};

} // namespace zoc

#pragma once
// The protocol between components and the DSP kernels they own.
//
// A kernel is a plain object, default-constructed and owned by its component.
// It takes the integer sample rate after construction and on every change,
// parameters in real units by its own indexes (with GetBounds answering for
// every index the component describes), forwards Suspend/Resume, reports its
// latency in frames, and processes blocks. Every operation returns normally:
// kernels report no errors, and Process fills every output frame it is given.
// Process must not allocate, lock or block once Resume has run.

#include <concepts>

namespace zoc::dsp {

/// Kernels run one per channel by the multithreaded component base.
template <class K>
concept ChannelKernel = std::default_initializable<K> && requires(K kernel, const K constKernel, int integer,
                                                                  float value, float& bound, float* samples) {
    kernel.SetSampleRate(integer);
    kernel.SetParameter(integer, value);
    { constKernel.GetParameter(integer) } -> std::convertible_to<float>;
    constKernel.GetBounds(integer, bound, bound);
    { constKernel.GetLatency() } -> std::convertible_to<int>;
    kernel.Suspend();
    kernel.Resume();
    kernel.Process(samples, samples, integer);
};

/// Kernels that take all channels of a frame or block at once.
template <class K>
concept MultiChannelKernel = std::default_initializable<K> && requires(K kernel, int integer, float value,
                                                                       float** channels) {
    kernel.SetSampleRate(integer);
    kernel.SetChannels(integer);
    kernel.SetParameter(integer, value);
    kernel.Process(channels, channels, integer);
};

/// Base of analyzers created by name through the kernel factory: they are fed
/// audio and accumulate a result.
class DSPAnalyzer {
public:
    virtual ~DSPAnalyzer() = default;
    virtual void Analyze(const float* samples, int frames) = 0;
    virtual void Reset() = 0;
};

/// Base of processors created by name through the kernel factory.
class DSPProcess {
public:
    virtual ~DSPProcess() = default;
    virtual void Process(const float* input, float* output, int frames) = 0;
};

} // namespace zoc::dsp

namespace zoc::dsp {

/// Kernels of offline components: all channels at once, over a duration set
/// before the run. Resume rewinds to the start of the duration.
template <class K>
concept OfflineKernel = MultiChannelKernel<K> && requires(K kernel, const K constKernel, long long frames,
                                                          int integer, float& bound) {
    kernel.SetDuration(frames);
    { constKernel.GetProcessedDuration() } -> std::convertible_to<long long>;
    { constKernel.GetLatency() } -> std::convertible_to<int>;
    { constKernel.GetParameter(integer) } -> std::convertible_to<float>;
    constKernel.GetBounds(integer, bound, bound);
    kernel.Suspend();
    kernel.Resume();
};

} // namespace zoc::dsp

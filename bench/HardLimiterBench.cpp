// Hard Limiter while it limits: the component benchmark runs the default
// preset on material below the ceiling, where the gain path idles. Here the
// input boost drives the same material 8 to 20 dB over the ceiling, so every
// stage of the gain computation runs on every frame.

#include <cmath>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "dsp/HardLimit.h"
#include "effects/dynamics/HardLimiter.h"
#include "platform/host/Session.h"

namespace {

void HardLimiterLimiting(benchmark::State& state)
{
    zoc::host::Session session(zoc::core::Ref<zoc::host::AudioFilter>(new zoc::components::HardLimiter));
    session.Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session.ApplyPreset(0);
    session.SetParameter(1, 1.0f);                          // +20 dB
    session.SetParameter(4, static_cast<float>(state.range(0))); // linked or per channel
    zoc::bench::TimeBlocks(state, session);
}
BENCHMARK(HardLimiterLimiting)->Arg(1)->Arg(0)->ArgName("linked")->Unit(benchmark::kMicrosecond);

/// The kernel alone, sample peaks against true peaks, 20 dB into the ceiling.
void HardLimitKernel(benchmark::State& state)
{
    using zoc::dsp::HardLimit;
    constexpr int kBlock = zoc::bench::kBlock;
    HardLimit limiter;
    limiter.SetSampleRate(static_cast<int>(zoc::bench::kSampleRate));
    limiter.SetChannels(2);
    limiter.SetParameter(HardLimit::kInputBoost, 20.0f);
    limiter.SetParameter(HardLimit::kTruePeak, static_cast<float>(state.range(0)));
    limiter.Resume();
    std::vector<float> left(kBlock), right(kBlock), outLeft(kBlock), outRight(kBlock);
    for (int i = 0; i < kBlock; ++i) {
        left[static_cast<std::size_t>(i)] = 0.2f * std::sin(0.0654f * static_cast<float>(i));
        right[static_cast<std::size_t>(i)] = 0.2f * std::sin(0.0654f * static_cast<float>(i + 1));
    }
    float* in[2] = {left.data(), right.data()};
    float* out[2] = {outLeft.data(), outRight.data()};
    for (auto _ : state) {
        limiter.Process(in, out, kBlock);
        benchmark::ClobberMemory();
    }
    state.counters["realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock / zoc::bench::kSampleRate,
                           benchmark::Counter::kIsRate);
}
BENCHMARK(HardLimitKernel)->Arg(0)->Arg(1)->ArgName("truePeak")->Unit(benchmark::kMicrosecond);

} // namespace

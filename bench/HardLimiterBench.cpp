// Hard Limiter while it limits: the component benchmark runs the default
// preset on material below the ceiling, where the gain path idles. Here the
// input boost drives the same material 8 to 20 dB over the ceiling, so every
// stage of the gain computation runs on every frame.

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
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

} // namespace

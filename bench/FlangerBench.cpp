// The flanger's other renderings, beside its default preset (sine sweep, two
// taps) in ComponentBench: the triangular sweep with one tap that most of its
// presets use, and the default preset on a mono input, which still runs both
// sweeps and averages them.

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "contracts/host/AudioFilterRegistrar.h"
#include "effects/delay/Flanger.h"
#include "platform/host/Session.h"

namespace {

void FlangerPreset(benchmark::State& state, int preset, int channels)
{
    zoc::host::Session session(zoc::host::utility::CreateAudioFilter(zoc::components::kFlangerComponentID));
    session.Configure(static_cast<std::size_t>(channels), zoc::bench::kSampleRate);
    session.ApplyPreset(preset);
    zoc::bench::TimeBlocks(state, session);
}

BENCHMARK_CAPTURE(FlangerPreset, HeavyFlangeTriangleOneTap, 8, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(FlangerPreset, DefaultMono, 0, 1)->Unit(benchmark::kMicrosecond);

} // namespace

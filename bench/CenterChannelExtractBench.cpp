// The center channel extractor at every FFT size, beside its default preset
// in ComponentBench: the cost grows with the transform and with the number
// of frames per second the interval allows at that size.

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "effects/spatial/CenterChannelExtract.h"
#include "platform/host/Session.h"

namespace {

using zoc::components::CenterChannelExtract;

void CenterExtractFFTSize(benchmark::State& state)
{
    zoc::host::Session session(zoc::core::Ref<zoc::host::AudioFilter>(new CenterChannelExtract));
    session.Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session.ApplyPreset(0);
    session.SetParameter(CenterChannelExtract::kFFTSize, static_cast<float>(state.range(0)));
    state.SetLabel(std::to_string(512 << state.range(0)) + " points, latency " +
                   std::to_string(session.Filter().GetInitialDelay()));
    zoc::bench::TimeBlocks(state, session);
}
BENCHMARK(CenterExtractFFTSize)
    ->DenseRange(0, CenterChannelExtract::kFFTSizeChoices - 1)
    ->Unit(benchmark::kMicrosecond);

// "Vocal Remove": five overlays and the full mask at work.
void CenterExtractVocalRemove(benchmark::State& state)
{
    zoc::host::Session session(zoc::core::Ref<zoc::host::AudioFilter>(new CenterChannelExtract));
    session.Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session.ApplyPreset(7);
    zoc::bench::TimeBlocks(state, session);
}
BENCHMARK(CenterExtractVocalRemove)->Unit(benchmark::kMicrosecond);

} // namespace

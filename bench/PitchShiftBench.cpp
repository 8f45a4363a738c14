// Pitch Shifter while it shifts: the component benchmark runs the default
// preset, a ratio of one, where the head never splices. Here the ratio is
// +3 semitones with the default splice setting at each precision step, so
// the similarity search runs at every splice.

#include <cmath>

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "effects/pitch/PitchShift.h"
#include "platform/host/Session.h"

namespace {

void PitchShiftShifting(benchmark::State& state)
{
    zoc::host::Session session(zoc::core::Ref<zoc::host::AudioFilter>(new zoc::components::PitchShift));
    session.Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session.ApplyPreset(0);
    // Ratio 2^(3/12) on 0.5..2; precision step on 0..2; the default splice setting.
    session.SetParameter(0, static_cast<float>((std::pow(2.0, 3.0 / 12.0) - 0.5) / 1.5));
    session.SetParameter(1, static_cast<float>(state.range(0)) / 2.0f);
    session.SetParameter(4, 1.0f);
    zoc::bench::TimeBlocks(state, session);
}
BENCHMARK(PitchShiftShifting)->Arg(0)->Arg(1)->Arg(2)->ArgName("precision")->Unit(benchmark::kMicrosecond);

} // namespace

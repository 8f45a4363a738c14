// The equalizers at work, beside their flat default presets in
// ComponentBench: the parametric equalizer with all seven sections shaping
// the sound, the 30-band graphic equalizer on a preset, and the same with a
// slider moving before every block (each move redesigns the filter and
// crossfades to it).

#include <stdexcept>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "contracts/host/AudioFilterRegistrar.h"
#include "framework/Registration.h"
#include "platform/host/Session.h"

namespace {

using zoc::host::Session;

zoc::core::Ref<zoc::host::AudioFilter> Create(const std::string& className)
{
    for (const zoc::ComponentInfo& info : zoc::GetComponentCatalog())
        if (info.className == className)
            return zoc::host::utility::CreateAudioFilter(info.componentID);
    throw std::runtime_error("no component " + className);
}

void SetReal(Session& session, int index, float value)
{
    session.SetParameter(index, session.Filter().GetParameterInfo(index)->ToNormalized(value));
}

void ParametricSevenSections(benchmark::State& state)
{
    Session session(Create("ParametricEQ"));
    session.Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session.ApplyPreset(0);
    // Five bands at +-2..3 dB, both shelves on: the job bench/vs-sox compares.
    for (const auto& [index, value] : {std::pair{6, 3.0f}, {10, -2.0f}, {14, 2.0f}, {18, -3.0f}, {22, 2.0f},
                                       {1, 4.0f}, {29, 1.0f}, {3, 3.0f}, {30, 1.0f}})
        SetReal(session, index, value);
    zoc::bench::TimeBlocks(state, session);
}

constexpr int kClassicV = 3; // "Classic V" in the 30-band preset list

void Graphic30ClassicV(benchmark::State& state)
{
    Session session(Create("GraphicEQ30Bands"));
    session.Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session.ApplyPreset(kClassicV);
    zoc::bench::TimeBlocks(state, session);
}

void Graphic30SliderEveryBlock(benchmark::State& state)
{
    Session session(Create("GraphicEQ30Bands"));
    session.Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session.ApplyPreset(kClassicV);
    constexpr int kBand10 = 13;
    zoc::bench::TimeBlocks(state, session,
                           [&](std::int64_t block) { SetReal(session, kBand10, block % 2 == 0 ? 6.0f : -6.0f); });
}

BENCHMARK(ParametricSevenSections)->Name("Equalizer/ParametricEQ/seven sections")->Unit(benchmark::kMicrosecond);
BENCHMARK(Graphic30ClassicV)->Name("Equalizer/GraphicEQ30Bands/Classic V")->Unit(benchmark::kMicrosecond);
BENCHMARK(Graphic30SliderEveryBlock)
    ->Name("Equalizer/GraphicEQ30Bands/slider move every block")
    ->Unit(benchmark::kMicrosecond);

} // namespace

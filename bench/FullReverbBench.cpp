// The Full Reverb's impulse: synthesis alone, and a whole calculation as
// Resume runs it with an empty cache (synthesis, spectra, cache file) and
// with a warm one (the file read back), for the largest preset (Large
// Auditorium: 4.28 s of decay, 298096 frames per response at 48 kHz); and
// the whole processing cost.

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "contracts/host/AudioFilterRegistrar.h"
#include "effects/reverb/FullReverb.h"
#include "framework/Library.h"
#include "platform/host/Session.h"

namespace {

using zoc::components::FullReverb;

constexpr int kLargeAuditorium = 12;

std::unique_ptr<zoc::host::Session> MakeSession(int preset)
{
    auto session = std::make_unique<zoc::host::Session>(
        zoc::host::utility::CreateAudioFilter(zoc::components::kFullReverbComponentID));
    session->Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session->ApplyPreset(preset);
    return session;
}

zoc::components::fullreverb::Settings SettingsOf(zoc::host::AudioFilter& filter)
{
    const auto value = [&](int index) {
        return filter.GetParameterInfo(index)->FromNormalized(filter.GetParameter(index));
    };
    zoc::components::fullreverb::Settings settings;
    settings.sampleRate = zoc::bench::kSampleRate;
    settings.decayTime = value(FullReverb::kDecayTime);
    settings.preDelayTime = value(FullReverb::kPreDelayTime);
    settings.diffusion = value(FullReverb::kDiffusion);
    settings.perception = value(FullReverb::kPerception);
    settings.roomSize = value(FullReverb::kRoomSize);
    settings.dimension = value(FullReverb::kDimension);
    settings.location = value(FullReverb::kLocation);
    settings.highPass = value(FullReverb::kEarlyHighPass);
    settings.lowGain = value(FullReverb::kLowGain);
    settings.midGain = value(FullReverb::kMidGain);
    settings.highGain = value(FullReverb::kHighGain);
    settings.lowFrequency = value(FullReverb::kLowFrequency);
    settings.highFrequency = value(FullReverb::kHighFrequency);
    settings.midFrequency = value(FullReverb::kMidFrequency);
    settings.midQ = value(FullReverb::kMidQ);
    settings.colorationDecay = value(FullReverb::kColorationDecay);
    settings.sumInputs = value(FullReverb::kSumInputs) != 0.0f;
    settings.includeDirect = value(FullReverb::kIncludeDirect) != 0.0f;
    settings.channels = zoc::bench::kChannels;
    return settings;
}

void Synthesis(benchmark::State& state, int preset)
{
    const zoc::components::fullreverb::Settings settings = SettingsOf(MakeSession(preset)->Filter());
    const zoc::components::fullreverb::Sizes sizes = zoc::components::fullreverb::ComputeSizes(settings);
    std::vector<float> tail(sizes.impulseChannels * static_cast<std::size_t>(sizes.impulseLength));
    std::vector<float> early(tail.size());
    for (auto _ : state) {
        std::fill(tail.begin(), tail.end(), 0.0f);
        std::fill(early.begin(), early.end(), 0.0f);
        benchmark::DoNotOptimize(
            zoc::components::fullreverb::Synthesize(settings, sizes, tail.data(), early.data(), {}));
    }
    state.counters["frames"] = sizes.impulseLength;
}

/// Audio thread and convolution worker together, as process CPU time, per
/// second of 48 kHz stereo audio (the "realtime" counter).
void WholeCost(benchmark::State& state, int preset)
{
    const auto session = MakeSession(preset);
    zoc::bench::TimeBlocks(state, *session);
}

/// Resume with an empty cache directory (`warm` false) or with the file the
/// previous calculation left.
void WholeCalculation(benchmark::State& state, int preset, bool warm)
{
    const std::filesystem::path previous = zoc::GetTempDir();
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("zoc-fullreverb-bench-" + std::to_string(::getpid()));
    zoc::SetupTempDir(scratch);
    if (warm) {
        const auto session = MakeSession(preset);
        session->Resume();
        session->Suspend();
    }
    for (auto _ : state) {
        if (!warm) {
            state.PauseTiming();
            std::filesystem::remove_all(scratch);
            state.ResumeTiming();
        }
        const auto session = MakeSession(preset);
        session->Resume();
        session->Suspend();
    }
    std::filesystem::remove_all(scratch);
    zoc::SetupTempDir(previous);
}

const bool kRegistered = [] {
    zoc::Initialize();
    for (const auto& [name, preset] : {std::pair{"Default", 0}, {"LargeAuditorium", kLargeAuditorium}}) {
        benchmark::RegisterBenchmark((std::string("FullReverb/WholeCost/") + name).c_str(), WholeCost, preset)
            ->MeasureProcessCPUTime()
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("FullReverb/Synthesis/LargeAuditorium", Synthesis, kLargeAuditorium)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("FullReverb/ColdCalculation/LargeAuditorium", WholeCalculation, kLargeAuditorium,
                                 false)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("FullReverb/WarmCalculation/LargeAuditorium", WholeCalculation, kLargeAuditorium,
                                 true)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    return true;
}();

} // namespace

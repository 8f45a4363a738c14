// One benchmark per registered real-time component: 48 kHz stereo, 512-frame
// blocks, default preset, steady state (after Resume and a second of warm-up).
// Reports frames per second and the real-time factor (audio seconds processed
// per second of processing).

#include <cmath>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "contracts/host/AudioFilterRegistrar.h"
#include "framework/Library.h"
#include "framework/Registration.h"
#include "platform/host/Session.h"

namespace {

constexpr float kSampleRate = 48000.0f;
constexpr int kChannels = 2;
constexpr int kBlock = 512;

void BenchComponent(benchmark::State& state, const std::string& componentID)
{
    zoc::core::Ref<zoc::host::AudioFilter> filter = zoc::host::utility::CreateAudioFilter(componentID);
    zoc::host::Session session(filter);
    session.Configure(kChannels, kSampleRate);
    session.ApplyPreset(0);
    session.SetBlockSize(kBlock);
    session.Resume();

    // Program-like material: a tone with some noise, at about -12 dBFS.
    std::vector<std::vector<float>> input(kChannels, std::vector<float>(kBlock));
    std::vector<std::vector<float>> output(kChannels, std::vector<float>(kBlock));
    unsigned seed = 12345;
    for (int channel = 0; channel < kChannels; ++channel) {
        for (int i = 0; i < kBlock; ++i) {
            seed = seed * 1664525u + 1013904223u;
            const float noise = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
            input[channel][i] = 0.2f * std::sin(0.0654f * static_cast<float>(i + channel)) + 0.05f * noise;
        }
    }
    float* in[kChannels] = {input[0].data(), input[1].data()};
    float* out[kChannels] = {output[0].data(), output[1].data()};
    for (int warmup = 0; warmup < static_cast<int>(kSampleRate) / kBlock; ++warmup)
        filter->Process(in, out, kBlock);

    for (auto _ : state) {
        filter->Process(in, out, kBlock);
        benchmark::DoNotOptimize(out[0][0]);
        benchmark::ClobberMemory();
    }
    session.Suspend();

    const double frames = static_cast<double>(state.iterations()) * kBlock;
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["realtime"] = benchmark::Counter(frames / kSampleRate, benchmark::Counter::kIsRate);
}

// Registers a benchmark for every component in the catalog before main runs.
const bool kRegistered = [] {
    zoc::Initialize();
    for (const zoc::ComponentInfo& info : zoc::GetComponentCatalog()) {
        zoc::core::Ref<zoc::host::AudioFilter> probe = zoc::host::utility::CreateAudioFilter(info.componentID);
        if (!probe || probe->IsOfflineProcess() || probe->IsGenerator())
            continue;
        benchmark::RegisterBenchmark(("Component/" + info.className).c_str(), BenchComponent, info.componentID)
            ->Unit(benchmark::kMicrosecond);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();

// Offline components (generators) rendering 60 s of 48 kHz stereo through
// the host's offline session, one benchmark per component and factory
// preset. The output is drained into memory, so the time is the run alone:
// the worker's synthesis and the hand-over through the ring writer.

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "contracts/host/AudioFilterRegistrar.h"
#include "framework/Library.h"
#include "framework/Registration.h"
#include "platform/host/OfflineSession.h"

namespace {

constexpr double kSeconds = 60.0;

void BenchOffline(benchmark::State& state, const std::string& componentID, int preset)
{
    zoc::host::OfflineSession session(zoc::host::utility::CreateAudioFilter(componentID));
    session.Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session.Configuration().ApplyPreset(preset);
    const auto frames = static_cast<std::int64_t>(kSeconds * zoc::bench::kSampleRate);
    std::vector<std::vector<float>> block(zoc::bench::kChannels, std::vector<float>(65536));
    std::vector<float*> pointers;
    for (auto& channel : block)
        pointers.push_back(channel.data());
    std::int64_t produced = 0;
    for (auto _ : state) {
        session.SetSelection(0, frames);
        if (!session.Start()) {
            state.SkipWithError("the run did not start");
            return;
        }
        while (const long got = session.Read(pointers.data(), 65536))
            produced += got;
        benchmark::DoNotOptimize(block[0][0]);
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(produced), benchmark::Counter::kIsRate);
    state.counters["realtime"] = benchmark::Counter(static_cast<double>(produced) / zoc::bench::kSampleRate,
                                                    benchmark::Counter::kIsRate);
}

const bool kRegistered = [] {
    zoc::Initialize();
    for (const zoc::ComponentInfo& info : zoc::GetComponentCatalog()) {
        zoc::core::Ref<zoc::host::AudioFilter> probe = zoc::host::utility::CreateAudioFilter(info.componentID);
        if (!probe || !probe->IsOfflineProcess())
            continue;
        for (int preset = 0; preset < std::max(1, probe->GetNumFactoryPresets()); ++preset)
            benchmark::RegisterBenchmark(("Offline/" + info.className + "/" + std::to_string(preset)).c_str(),
                                         BenchOffline, info.componentID, preset)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
    }
    return true;
}();

} // namespace

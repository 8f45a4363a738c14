// One benchmark per registered real-time component: 48 kHz stereo, 512-frame
// blocks, default preset, steady state (see BenchSupport.h).

#include <string>

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "contracts/host/AudioFilterRegistrar.h"
#include "framework/Library.h"
#include "framework/Registration.h"
#include "platform/host/Session.h"

namespace {

void BenchComponent(benchmark::State& state, const std::string& componentID)
{
    zoc::host::Session session(zoc::host::utility::CreateAudioFilter(componentID));
    session.Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session.ApplyPreset(0);
    zoc::bench::TimeBlocks(state, session);
}
// Registers a benchmark for every component in the catalog before main runs.
const bool kRegistered = [] {
    zoc::Initialize();
    for (const zoc::ComponentInfo& info : zoc::GetRealTimeComponentCatalog()) {
        benchmark::RegisterBenchmark(("Component/" + info.className).c_str(), BenchComponent, info.componentID)
            ->Unit(benchmark::kMicrosecond);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();

// The channel mixer at work, beside its identity default in ComponentBench:
// the stereo mid/side matrix that bench/vs-sox compares, and the same with an
// entry moving before every block (each move glides over 10 ms, so every
// block runs the per-frame glide).

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "effects/dynamics/ChannelMixer.h"
#include "platform/host/Session.h"

namespace {

using zoc::components::ChannelMixer;

constexpr int kStereoToMidSide = 19;

void ChannelMixerMidSide(benchmark::State& state)
{
    zoc::host::Session session(zoc::core::Ref<ChannelMixer>(new ChannelMixer));
    session.Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session.ApplyPreset(kStereoToMidSide);
    zoc::bench::TimeBlocks(state, session);
}
BENCHMARK(ChannelMixerMidSide);

void ChannelMixerEntryEveryBlock(benchmark::State& state)
{
    zoc::host::Session session(zoc::core::Ref<ChannelMixer>(new ChannelMixer));
    session.Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session.ApplyPreset(kStereoToMidSide);
    zoc::bench::TimeBlocks(state, session, [&](std::int64_t block) {
        session.SetParameter(ChannelMixer::EntryParameter(1, 0), (block % 2 == 0) ? 0.8f : 0.9f);
    });
}
BENCHMARK(ChannelMixerEntryEveryBlock);

} // namespace

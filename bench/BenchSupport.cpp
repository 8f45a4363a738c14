#include "bench/BenchSupport.h"

#include <cmath>
#include <vector>

namespace zoc::bench {

void TimeBlocks(benchmark::State& state, host::Session& session,
                const std::function<void(std::int64_t block)>& beforeBlock)
{
    session.SetBlockSize(kBlock);
    session.Resume();
    host::AudioFilter& filter = session.Filter();

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
        filter.Process(in, out, kBlock);

    std::int64_t block = 0;
    for (auto _ : state) {
        if (beforeBlock)
            beforeBlock(block++);
        filter.Process(in, out, kBlock);
        benchmark::DoNotOptimize(out[0][0]);
        benchmark::ClobberMemory();
    }
    session.Suspend();

    const double frames = static_cast<double>(state.iterations()) * kBlock;
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["realtime"] = benchmark::Counter(frames / kSampleRate, benchmark::Counter::kIsRate);
}

} // namespace zoc::bench

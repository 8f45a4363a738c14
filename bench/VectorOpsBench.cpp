// Scale against the obvious std::transform multiply, at a typical audio block
// size (fits in L1) and a large buffer (streams through the caches).

#include "primitives/VectorOps.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr float kGain = 0.707f;

std::vector<float> Ramp(std::size_t n)
{
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<float>(i % 1000) * 0.001f - 0.5f;
    return v;
}

void SetThroughput(benchmark::State& state, std::size_t n)
{
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(2 * n * sizeof(float)));
}

void BM_Scale(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto source = Ramp(n);
    std::vector<float> destination(n);
    for (auto _ : state) {
        zoc::primitives::Scale(source.data(), kGain, destination.data(), n);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    SetThroughput(state, n);
}

void BM_StdTransformScale(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto source = Ramp(n);
    std::vector<float> destination(n);
    for (auto _ : state) {
        std::transform(source.begin(), source.end(), destination.begin(), [](float x) { return x * kGain; });
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    SetThroughput(state, n);
}

} // namespace

BENCHMARK(BM_Scale)->Arg(512)->Arg(65536);
BENCHMARK(BM_StdTransformScale)->Arg(512)->Arg(65536);

// Amplify's steady-state gain against the plain multiply it should match:
// both scale 48 kHz stereo 512-frame blocks by a constant.

#include <algorithm>
#include <vector>

#include <benchmark/benchmark.h>

#include "effects/dynamics/Amplify.h"
#include "platform/host/Session.h"

namespace {

constexpr int kBlock = 512;

void AmplifySteadyGain(benchmark::State& state)
{
    zoc::core::Ref<zoc::components::Amplify> amplify(new zoc::components::Amplify);
    zoc::host::Session session(amplify);
    session.Configure(2, 48000.0f);
    session.ApplyPreset(8); // -6 dB
    session.Resume();
    std::vector<float> left(kBlock, 0.5f), right(kBlock, 0.25f), outLeft(kBlock), outRight(kBlock);
    float* in[2] = {left.data(), right.data()};
    float* out[2] = {outLeft.data(), outRight.data()};
    for (auto _ : state) {
        amplify->Process(in, out, kBlock);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(AmplifySteadyGain);

void PlainTransformMultiply(benchmark::State& state)
{
    std::vector<float> left(kBlock, 0.5f), right(kBlock, 0.25f), outLeft(kBlock), outRight(kBlock);
    const float gain = 0.501187f;
    for (auto _ : state) {
        std::transform(left.begin(), left.end(), outLeft.begin(), [gain](float x) { return x * gain; });
        std::transform(right.begin(), right.end(), outRight.begin(), [gain](float x) { return x * gain; });
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(PlainTransformMultiply);

} // namespace

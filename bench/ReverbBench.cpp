// The Reverb's whole cost (audio thread and convolution worker together, as
// process CPU time) per second of 48 kHz stereo audio, beside the floor of
// its algorithm: FFTW's own complex forward and inverse transforms of the
// same size, one pair per hop (the engine packs two real channels into each).
// Compare the "realtime" counters: floor / reverb is the engine's overhead.

#include <fftw3.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "contracts/host/AudioFilterRegistrar.h"
#include "dsp/AlignedBuffer.h"
#include "dsp/FFT.h"
#include "dsp/IppFFT32.h"
#include "effects/reverb/Reverb.h"
#include "framework/Library.h"
#include "platform/host/Session.h"

namespace {

using zoc::components::Reverb;

constexpr int kDefaultPreset = 0;
constexpr int kBiggerRoomAmbience = 2;

struct Sizes {
    int fftSize;
    int hop;
};

Sizes SizesOf(int preset)
{
    zoc::host::Session session(zoc::host::utility::CreateAudioFilter(zoc::components::kReverbComponentID));
    session.Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session.ApplyPreset(preset);
    session.Resume();
    auto& reverb = dynamic_cast<Reverb&>(session.Filter());
    const Sizes sizes{static_cast<int>(zoc::components::reverb::FFTSizeFor(static_cast<std::int32_t>(reverb.ImpulseLength()))),
                      static_cast<int>(reverb.HopSize())};
    session.Suspend();
    return sizes;
}

void ReverbWholeCost(benchmark::State& state, int preset)
{
    zoc::host::Session session(zoc::host::utility::CreateAudioFilter(zoc::components::kReverbComponentID));
    session.Configure(zoc::bench::kChannels, zoc::bench::kSampleRate);
    session.ApplyPreset(preset);
    zoc::bench::TimeBlocks(state, session);
}

void FFTWFloor(benchmark::State& state, int preset)
{
    const Sizes sizes = SizesOf(preset);
    const auto n = static_cast<std::size_t>(sizes.fftSize);
    fftwf_complex* in = fftwf_alloc_complex(n);
    fftwf_complex* out = fftwf_alloc_complex(n);
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;
    {
        std::lock_guard lock(zoc::dsp::FFTWPlannerMutex());
        forward = fftwf_plan_dft_1d(sizes.fftSize, in, out, FFTW_FORWARD, FFTW_ESTIMATE);
        inverse = fftwf_plan_dft_1d(sizes.fftSize, out, in, FFTW_BACKWARD, FFTW_ESTIMATE);
    }
    for (std::size_t i = 0; i < n; ++i) {
        in[i][0] = static_cast<float>(i % 97) * 1e-3f;
        in[i][1] = static_cast<float>(i % 89) * 1e-3f;
    }
    for (auto _ : state) {
        fftwf_execute(forward);
        fftwf_execute(inverse);
        benchmark::ClobberMemory();
    }
    {
        std::lock_guard lock(zoc::dsp::FFTWPlannerMutex());
        fftwf_destroy_plan(forward);
        fftwf_destroy_plan(inverse);
    }
    fftwf_free(in);
    fftwf_free(out);
    const double frames = static_cast<double>(state.iterations()) * sizes.hop;
    state.counters["N"] = sizes.fftSize;
    state.counters["hop"] = sizes.hop;
    state.counters["realtime"] = benchmark::Counter(frames / zoc::bench::kSampleRate, benchmark::Counter::kIsRate);
}

/// The split-array transform the engine uses, same sizes as the floor.
void SplitTransforms(benchmark::State& state, int preset)
{
    const Sizes sizes = SizesOf(preset);
    const auto n = static_cast<std::size_t>(sizes.fftSize);
    zoc::dsp::IppFFT32 fft(sizes.fftSize);
    zoc::dsp::AlignedBuffer re(n), im(n), outRe(n), outIm(n);
    for (std::size_t i = 0; i < n; ++i) {
        re[i] = static_cast<float>(i % 97) * 1e-3f;
        im[i] = static_cast<float>(i % 89) * 1e-3f;
    }
    for (auto _ : state) {
        fft.Forward(re.Data(), im.Data(), outRe.Data(), outIm.Data());
        fft.Inverse(outRe.Data(), outIm.Data(), re.Data(), im.Data());
        benchmark::ClobberMemory();
    }
    const double frames = static_cast<double>(state.iterations()) * sizes.hop;
    state.counters["realtime"] = benchmark::Counter(frames / zoc::bench::kSampleRate, benchmark::Counter::kIsRate);
}

const bool kRegistered = [] {
    zoc::Initialize();
    for (const auto& [name, preset] : {std::pair{"Default", kDefaultPreset}, {"BiggerRoomAmbience", kBiggerRoomAmbience}}) {
        benchmark::RegisterBenchmark((std::string("Reverb/WholeCost/") + name).c_str(), ReverbWholeCost, preset)
            ->MeasureProcessCPUTime()
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("Reverb/FFTWFloor/") + name).c_str(), FFTWFloor, preset)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("Reverb/SplitTransforms/") + name).c_str(), SplitTransforms, preset)
            ->Unit(benchmark::kMicrosecond);
    }
    return true;
}();

} // namespace

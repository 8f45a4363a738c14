// Building the band-limited tables by inverse FFT of their harmonic series.

#include "dsp/tones/BandLimitedTables.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>

#include "dsp/FFT.h"

namespace zoc::dsp::tones {
namespace {

/// Powers of two (fast transforms), at least two samples per period of the
/// top harmonic. Only the richest tables get that close; their top harmonics
/// are so weak that interpolation images stay below -65 dB.
int TableSize(int harmonics)
{
    return std::max(BandLimitedTables::kSineSize, 2 * static_cast<int>(std::bit_ceil(static_cast<unsigned>(harmonics))));
}

/// Fills `out` (size + 2 values) with sum of amplitude(k) sin(2 pi k n / size).
template <class Amplitude>
void Synthesize(int size, int harmonics, Amplitude amplitude, float* out)
{
    RealFFT fft(size);
    std::vector<std::complex<float>> bins(static_cast<std::size_t>(fft.BinCount()));
    // A sine of amplitude A is the bin pair (0, -A/2) and its conjugate.
    for (int k = 1; k <= harmonics; ++k)
        bins[static_cast<std::size_t>(k)] = {0.0f, static_cast<float>(-0.5 * amplitude(k))};
    fft.Inverse(bins.data(), out);
    out[size] = out[0];
    out[size + 1] = out[1];
}

} // namespace

const BandLimitedTables& BandLimitedTables::Get()
{
    static const BandLimitedTables tables;
    return tables;
}

BandLimitedTables::BandLimitedTables()
{
    std::size_t total = kSineSize + 2;
    for (int index = 0; index < kTableCount; ++index)
        total += 2 * static_cast<std::size_t>(TableSize(HarmonicsOf(index)) + 2);
    storage_.assign(total, 0.0f);
    float* next = storage_.data();

    constexpr double pi = std::numbers::pi;
    // Sawtooth rising through zero at phase 0 (jump at phase 0.5):
    // (2/pi) sum (-1)^(k+1) sin(k x) / k. Triangle rising through zero at
    // phase 0: (8/pi^2) sum over odd k of (-1)^((k-1)/2) sin(k x) / k^2.
    const auto sawtooth = [](int k) { return (k % 2 == 1 ? 2.0 : -2.0) / (pi * k); };
    const auto triangle = [](int k) {
        if (k % 2 == 0)
            return 0.0;
        return ((k / 2) % 2 == 0 ? 8.0 : -8.0) / (pi * pi * k * k);
    };
    float sawtoothPeak = 0.0f;
    for (int index = 0; index < kTableCount; ++index) {
        const int harmonics = HarmonicsOf(index);
        const int size = TableSize(harmonics);
        Synthesize(size, harmonics, sawtooth, next);
        for (int n = 0; n < size; ++n)
            sawtoothPeak = std::max(sawtoothPeak, std::fabs(next[n]));
        sawtooth_[static_cast<std::size_t>(index)] = {next, size, harmonics};
        next += size + 2;
        Synthesize(size, harmonics, triangle, next);
        triangle_[static_cast<std::size_t>(index)] = {next, size, harmonics};
        next += size + 2;
    }
    // One scale for every sawtooth table, so switching tables keeps the level
    // and the ringing of the richest table still peaks at 1.
    for (Table& table : sawtooth_) {
        float* samples = const_cast<float*>(table.samples);
        for (int n = 0; n < table.size + 2; ++n)
            samples[n] /= sawtoothPeak;
    }
    for (int n = 0; n < kSineSize; ++n)
        next[n] = static_cast<float>(std::sin(2.0 * pi * n / kSineSize));
    next[kSineSize] = next[0];
    next[kSineSize + 1] = next[1];
    sine_ = {next, kSineSize, 1};
}

} // namespace zoc::dsp::tones

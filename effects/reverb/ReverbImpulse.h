#pragma once
// The Reverb's impulse response, synthesised from its settings by a seeded
// random process: a circular buffer of noise read by three random walkers and
// kept diffusing by random local smoothing, under an exponential fade-in,
// then a time-varying low-pass, a DC blocker and a linear fade-out. The
// generator is reseeded from the settings, so the same settings give the
// same impulse on every run and every machine.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace zoc::components::reverb {

/// What shapes the impulse (times in ms).
struct ImpulseSettings {
    float sampleRate = 44100.0f;
    float decayTime = 700.0f;
    float preDelayTime = 10.0f;
    float perception = 20.0f;
    float diffusion = 1812.0f;
    bool sumInputs = true;
    std::uint32_t channels = 2; ///< processed channels
};

/// Sizes derived from the settings.
struct ImpulseSizes {
    std::int32_t decaySamples = 0;      ///< Ls
    std::int32_t attackSamples = 0;     ///< A: frames of the fade-in, at least 10
    std::int32_t diffusionLength = 0;   ///< M: noise buffer length, 500 .. 15500
    std::int32_t smoothingStrength = 0; ///< Rc: spread of the smoothing gains, at most 45000
    std::int32_t impulseLength = 0;     ///< L
    std::uint32_t impulseChannels = 0;  ///< K: channels + 2 cross responses without Sum Inputs
};

ImpulseSizes ComputeSizes(const ImpulseSettings& settings);

/// Smallest power of two of at least 2 * impulseLength: the FFT size.
std::uint32_t FFTSizeFor(std::int32_t impulseLength);

/// Truncation towards zero that keeps out-of-range values out of undefined
/// behaviour: NaN gives 0, values beyond the type its nearest end (64 bits: 0).
std::int32_t TruncateTo32(double value);
std::int64_t TruncateTo64(double value);

/// The impulses' first-order DC blocker, in place over `count` samples
/// `stride` floats apart, starting from rest.
void BlockDC(float* samples, std::size_t count, std::size_t stride);

/// Seeds the runtime generator from the settings and writes K * L samples,
/// interleaved by frame, into `impulse`. `progress` is told the fraction done
/// as each channel starts (0.7 .. 0.9).
void SynthesizeImpulse(const ImpulseSettings& settings, const ImpulseSizes& sizes, float* impulse,
                       const std::function<void(float)>& progress);

} // namespace zoc::components::reverb

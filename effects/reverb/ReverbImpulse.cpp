// Synthesis of the Reverb's impulse response.

#include "effects/reverb/ReverbImpulse.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <vector>

#include "platform/core/Random.h"

namespace zoc::components::reverb {

namespace {

using core::crt::rand;

/// Impulses longer than this (samples) are cut: 6 s at 384 kHz with room.
constexpr std::int32_t kMaxImpulseLength = 1 << 22;

/// Gains of the walkers' three shapes: the main walker reads the noise
/// through a curve that favours its peaks, the second (fading in over the
/// impulse) more gently, the third (fading in later) as it is.
constexpr double kMainExponent = 1.8;
constexpr double kSecondExponent = 1.3;
constexpr double kFullScale = 32768.0;
/// Overall level of the impulse.
constexpr float kImpulseGain = 0.06f;

double Sign(double x) { return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0); }

/// One reader of the noise buffer: its position, a counter whose bits say
/// when the step width drifts, and the step width.
struct Walker {
    std::int32_t position = 0;
    std::int32_t counter = 0;
    std::int16_t step = 0;

    void Advance(std::int32_t length)
    {
        counter = (counter + 1) & 15;
        for (const int bit : {1, 2, 4, 8}) {
            if (counter & bit)
                step = static_cast<std::int16_t>(step + rand() % 3 - 1);
        }
        if (step < 2 || step > 64)
            step = static_cast<std::int16_t>(rand() % 50 + 2);
        position = (length + 2 + (rand() % step - step / 2) + position) % length;
    }
};

/// Spreads the noise a little around a random place: five neighbours become
/// weighted averages with random gains, keeping the buffer from repeating
/// itself as the walkers pass again.
void SmoothAround(std::vector<float>& buffer, std::int32_t length, std::int32_t strength)
{
    const std::int32_t half = std::max(1, strength / 2);
    const std::int32_t quarter = std::max(1, strength / 4);
    const std::int32_t full = std::max(1, strength);
    const std::int32_t q = rand() % length;
    const auto at = [&](std::int32_t offset) -> float& {
        return buffer[static_cast<std::size_t>(((q + offset) % length + length) % length)];
    };
    const auto gain = [](std::int32_t spread) { return static_cast<float>(rand() % spread + (10000 - spread)); };
    at(-2) = gain(quarter) * ((5.0f * at(-2) + at(-3) + at(-1)) / 7.0f) / 10000.0f;
    at(-1) = gain(half) * ((3.0f * at(-1) + at(-2) + at(0)) / 5.0f) / 10000.0f;
    at(0) = gain(full) * ((at(-1) + at(0) + at(1)) / 3.0f) / 10000.0f;
    at(1) = gain(half) * ((3.0f * at(1) + at(0) + at(2)) / 5.0f) / 10000.0f;
    at(2) = gain(quarter) * ((5.0f * at(2) + at(1) + at(3)) / 7.0f) / 10000.0f;
}

} // namespace

std::int32_t TruncateTo32(double value)
{
    if (!(value > -2147483648.0))
        return value != value ? 0 : INT32_MIN;
    if (value >= 2147483647.0)
        return INT32_MAX;
    return static_cast<std::int32_t>(value);
}

std::int64_t TruncateTo64(double value)
{
    if (!(value > -9.2e18) || !(value < 9.2e18))
        return 0;
    return static_cast<std::int64_t>(value);
}

void BlockDC(float* samples, std::size_t count, std::size_t stride)
{
    // A pole just inside the unit circle and a zero on it.
    constexpr double kDcPole = 0.99820796566444;
    constexpr double kDcGain = 0.99910754994081;
    constexpr double kDcZero = 0.99910041572362;
    double state = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        float& sample = samples[i * stride];
        const double next = sample + kDcPole * state;
        sample = static_cast<float>(kDcGain * next - kDcZero * state);
        state = next;
    }
}

ImpulseSizes ComputeSizes(const ImpulseSettings& settings)
{
    const float rate = settings.sampleRate;
    ImpulseSizes sizes;
    sizes.decaySamples = std::max(1, TruncateTo32(settings.decayTime * rate / 1000.0f));
    sizes.attackSamples = std::max(10, TruncateTo32(settings.preDelayTime * rate / 1000.0f));
    sizes.diffusionLength = std::max(1, TruncateTo32(settings.perception * 7500.0f / 100.0f + 500.0f));
    const double strength = sizes.diffusionLength /
                            std::exp(std::log(sizes.decaySamples / 25000.0) / 1.1) * 1.3;
    sizes.smoothingStrength = TruncateTo32(std::min(strength, 45000.0));
    sizes.impulseLength =
        std::clamp(TruncateTo32(static_cast<double>(sizes.decaySamples) * 1.4 * 1.2), 1, kMaxImpulseLength);
    sizes.impulseChannels = settings.sumInputs ? settings.channels : settings.channels + 2;
    return sizes;
}

std::uint32_t FFTSizeFor(std::int32_t impulseLength)
{
    return std::bit_ceil(static_cast<std::uint32_t>(2 * std::max(1, impulseLength)));
}

void SynthesizeImpulse(const ImpulseSettings& settings, const ImpulseSizes& sizes, float* impulse,
                       const std::function<void(float)>& progress)
{
    const std::int32_t length = sizes.impulseLength;
    const std::int32_t noiseLength = sizes.diffusionLength;
    const std::uint32_t channels = sizes.impulseChannels;

    const auto seed = static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(TruncateTo64(static_cast<double>(settings.diffusion) * 10000019.0) ^
                                   TruncateTo64(static_cast<double>(settings.perception) * 100003.0) ^
                                   TruncateTo64(static_cast<double>(noiseLength) * 10007.0) ^
                                   TruncateTo64(static_cast<double>(sizes.attackSamples) * 1000003.0) ^
                                   static_cast<std::int64_t>(sizes.decaySamples)));
    core::crt::srand(seed);

    std::vector<float> noise(2 * static_cast<std::size_t>(noiseLength) + 20, 0.0f);
    std::vector<float> h(static_cast<std::size_t>(length));
    // The fade-in rises by 96 dB over the attack.
    const double growth = std::exp(std::log(65536.0) / sizes.attackSamples);
    const std::int32_t fadeStart = (17 * length) / 18;
    const std::int32_t fadeLength = length - fadeStart;

    for (std::uint32_t k = 0; k < channels; ++k) {
        if (progress)
            progress(static_cast<float>(k) / static_cast<float>(channels) * 0.2f + 0.7f);

        for (std::int32_t i = 0; i < noiseLength; ++i) {
            const int fraction = rand() % 10000;
            const int whole = rand() % 32000;
            float value = static_cast<float>(whole) + static_cast<float>(fraction) / 10000.0f;
            if (rand() & 1)
                value = -value;
            noise[static_cast<std::size_t>(i)] = value;
        }

        std::array<Walker, 3> walkers;
        walkers[1].position = rand() % noiseLength;
        walkers[2].position = rand() % noiseLength;
        for (Walker& walker : walkers)
            walker.counter = rand() & 31;
        for (Walker& walker : walkers)
            walker.step = static_cast<std::int16_t>(rand() % 26 + 6);
        double envelope = 1.0 / 65536.0;

        for (std::int32_t t = 0; t < length; ++t) {
            for (Walker& walker : walkers)
                walker.Advance(noiseLength);
            // Smoothing at 85 % of the frames.
            if (static_cast<int>((rand() % 1000) / 1000.0 + 0.85) != 0)
                SmoothAround(noise, noiseLength, sizes.smoothingStrength);

            const double position = static_cast<double>(t) / length;
            const double second = std::min(1.0, position * 1.3 / 1.2);
            const double third = std::min(1.0, position * 0.2 / 1.2);
            envelope = std::min(1.0, envelope * growth);

            const double x1 = noise[static_cast<std::size_t>(walkers[0].position)];
            const double x2 = noise[static_cast<std::size_t>(walkers[1].position)];
            const double x3 = noise[static_cast<std::size_t>(walkers[2].position)];
            const double sum =
                Sign(x2) * std::pow(std::fabs(x2 / kFullScale), kSecondExponent) * kFullScale * second +
                Sign(x1) * std::pow(std::fabs(x1 / kFullScale), kMainExponent) * kFullScale +
                Sign(x3) * std::fabs(x3 / kFullScale) * kFullScale * third;
            h[static_cast<std::size_t>(t)] =
                static_cast<float>(sum * envelope * static_cast<double>(kImpulseGain) / kFullScale);
        }

        // Low-pass whose reach grows along the impulse: later reflections
        // are darker. The cut-off falls faster for a shorter diffusion time.
        const float diffusionSamples = settings.sampleRate * settings.diffusion / 1000.0f;
        const float lengthAsFloat = static_cast<float>(length);
        const float reachStep = lengthAsFloat / diffusionSamples;
        float reach = 0.0f;
        float previous = 0.0f;
        for (std::int32_t i = 0; i + 1 < length; ++i) {
            const float x = h[static_cast<std::size_t>(i)];
            reach += reachStep;
            h[static_cast<std::size_t>(i)] = (reach * previous + x * lengthAsFloat) / (reach + lengthAsFloat);
            previous = x;
        }

        BlockDC(h.data(), h.size(), 1);

        float gain = 1.0f;
        const float fall = 1.0f / static_cast<float>(fadeLength);
        for (std::int32_t i = fadeStart; i < length; ++i) {
            h[static_cast<std::size_t>(i)] *= gain;
            gain -= fall;
        }

        for (std::int32_t t = 0; t < length; ++t)
            impulse[static_cast<std::size_t>(t) * channels + k] = h[static_cast<std::size_t>(t)];
    }
}

} // namespace zoc::components::reverb

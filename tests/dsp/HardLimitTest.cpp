#include "dsp/HardLimit.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::dsp {
namespace {

using Planar = std::vector<std::vector<float>>;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

struct Settings {
    float ceilingDb = -0.1f, boostDb = 0.0f, lookAheadMs = 2.0f, releaseMs = 150.0f;
    bool linked = true, truePeak = false;
};

Planar Feed(HardLimit& limiter, const Planar& input)
{
    Planar output(input.size(), std::vector<float>(input[0].size()));
    std::vector<float*> in, out;
    for (std::size_t channel = 0; channel < input.size(); ++channel) {
        in.push_back(const_cast<float*>(input[channel].data()));
        out.push_back(output[channel].data());
    }
    limiter.Process(in.data(), out.data(), static_cast<int>(input[0].size()));
    return output;
}

/// A limiter at `rate` for `channels`, set up and resumed.
void Prepare(HardLimit& limiter, const Settings& s, int channels = 2, int rate = 48000)
{
    limiter.SetSampleRate(rate);
    limiter.SetChannels(channels);
    const float values[] = {s.ceilingDb, s.boostDb, s.lookAheadMs, s.releaseMs, s.linked ? 1.0f : 0.0f,
                            s.truePeak ? 1.0f : 0.0f};
    for (int index = 0; index < 6; ++index)
        limiter.SetParameter(index, values[index]);
    limiter.Resume();
}

Planar Limit(const Settings& settings, const Planar& input)
{
    HardLimit limiter;
    Prepare(limiter, settings, static_cast<int>(input.size()));
    return Feed(limiter, input);
}

std::vector<float> Sine(std::size_t frames, float hertz, double amplitude)
{
    return test::SineSignal(1, frames, 48000.0f, hertz, static_cast<float>(amplitude))[0];
}

/// Noise, a sweep from 30 Hz to 18 kHz, or drum-like hits (a decaying thump
/// with a noisy click): 0.5 s of stereo at 48 kHz, about full scale.
Planar Material(int kind)
{
    constexpr std::size_t kFrames = 24000;
    Planar x(2, std::vector<float>(kFrames));
    const std::vector<float> noise = test::Noise(kFrames * 2, 7);
    const double sweepRate = std::log(600.0) / 0.5;
    for (std::size_t i = 0; i < kFrames; ++i) {
        const double t = static_cast<double>(i) / 48000.0, since = std::fmod(t, 0.125);
        for (std::size_t channel = 0; channel < 2; ++channel) {
            const double hiss = noise[2 * i + channel];
            const double values[] = {
                0.7 * hiss, 0.9 * std::sin(kTwoPi * 30.0 / sweepRate * std::exp(sweepRate * t) + channel),
                std::exp(-since * 40.0) * (0.8 * std::sin(kTwoPi * 60.0 * since) + 0.6 * std::exp(-since * 400.0) * hiss)};
            x[channel][i] = static_cast<float>(values[kind]);
        }
    }
    return x;
}

/// Peak of the wave reconstructed at 4 times the rate (Hann-windowed sinc,
/// 32 taps a side), away from the ends where the signal is cut off.
double InterSamplePeak(const std::vector<float>& x)
{
    constexpr int kHalf = 32;
    double peak = 0.0;
    for (int i = kHalf; i + kHalf < static_cast<int>(x.size()); ++i)
        for (int quarter = 0; quarter < 4; ++quarter) {
            double sum = 0.0;
            for (int k = i - kHalf + 1; k <= i + kHalf; ++k) {
                const double d = i + quarter / 4.0 - k;
                const double sinc = d == 0.0 ? 1.0 : std::sin(std::numbers::pi * d) / (std::numbers::pi * d);
                sum += x[static_cast<std::size_t>(k)] * sinc * (0.5 + 0.5 * std::cos(std::numbers::pi * d / kHalf));
            }
            peak = std::max(peak, std::abs(sum));
        }
    return peak;
}

TEST(HardLimit, TruePeakDetectionCatchesTheWaveBetweenSamples)
{
    // Sample peaks never pass the ceiling; between samples the wave still
    // overshoots, the more the more energy sits near Nyquist, unless the
    // true-peak detector watches it. +10 dB into -1 dB, channels apart.
    const char* names[] = {"noise", "sweep", "drum hits"};
    const double ceiling = test::FromDb(-1.0);
    for (int kind = 0; kind < 3; ++kind) {
        double overshoot[2] = {};
        for (bool truePeak : {false, true}) {
            const Planar out = Limit({-1.0f, 10.0f, 2.0f, 150.0f, false, truePeak}, Material(kind));
            for (const auto& channel : out)
                EXPECT_LE(test::TailPeak(channel, channel.size()), static_cast<float>(ceiling));
            overshoot[truePeak] = test::Db(InterSamplePeak(out[0]) / ceiling);
        }
        std::printf("inter-sample peak over the ceiling, %s: %.2f dB on samples, %.2f dB true peak\n", names[kind],
                    overshoot[0], overshoot[1]);
        // What is left is mostly the 4x grid, which can miss a crest near
        // Nyquist by up to 0.7 dB.
        EXPECT_LT(overshoot[1], 0.75) << names[kind];
        EXPECT_LE(overshoot[1], overshoot[0] + 0.01) << names[kind];
    }
}

TEST(HardLimit, BelowTheCeilingTheOutputIsTheDelayedInput)
{
    // Quiet noise, a limited burst, quiet noise again: the output is the
    // input delayed by exactly the reported latency, bit for bit, until the
    // burst and again after its hold and release (0.6 s).
    Planar in = Material(0);
    for (auto& channel : in) {
        channel.resize(80000, 0.0f);
        for (std::size_t i = 24000; i < channel.size(); ++i)
            channel[i] = channel[i - 24000];
        for (std::size_t i = 0; i < channel.size(); ++i)
            channel[i] *= (i >= 10000 && i < 12000) ? 2.0f : 0.5f;
    }
    for (int rate : {44100, 48000, 96000})
        for (float lookAheadMs : {0.0f, 2.0f, 15.0f}) {
            HardLimit limiter;
            Prepare(limiter, {-0.1f, 0.0f, lookAheadMs, 150.0f, true, rate == 96000}, 2, rate);
            const auto latency = static_cast<std::size_t>(limiter.GetLatency());
            const Planar out = Feed(limiter, in);
            for (std::size_t channel = 0; channel < 2; ++channel)
                for (std::size_t i = 0; i < out[channel].size(); ++i) {
                    if (i >= 10000 && i < 70000)
                        continue;
                    ASSERT_EQ(out[channel][i], i < latency ? 0.0f : in[channel][i - latency]) << rate << " " << i;
                }
        }
}

TEST(HardLimit, SteadySineComesOutAtTheCeilingWithoutDistortion)
{
    // 6 dB over a -1 dB ceiling at the default timing; the second second is
    // measured. Frequencies with whole cycles in it, so the projection on
    // sine and cosine gives the fundamental.
    const double ceiling = test::FromDb(-1.0);
    for (double frequency : {20.0, 40.0, 100.0, 1000.0, 5000.0}) {
        const std::vector<float> tone = Sine(96000, static_cast<float>(frequency), 2.0 * ceiling);
        const std::vector<float> out = Limit({-1.0f}, {tone, tone})[0];
        double sine = 0, cosine = 0, energy = 0;
        for (std::size_t i = 48000; i < 96000; ++i) {
            const double phase = kTwoPi * frequency * static_cast<double>(i) / 48000.0;
            sine += out[i] * std::sin(phase) / 24000.0, cosine += out[i] * std::cos(phase) / 24000.0;
            energy += static_cast<double>(out[i]) * out[i] / 48000.0;
        }
        const double amplitude = std::hypot(sine, cosine);
        const double distortion = 10.0 * std::log10(std::max(energy / (amplitude * amplitude / 2.0) - 1.0, 1e-16));
        std::printf("%6.0f Hz: level %.3f dB re ceiling, THD+N %.1f dB\n", frequency, test::Db(amplitude / ceiling),
                    distortion);
        EXPECT_LT(distortion, -40.0) << frequency << " Hz";
        EXPECT_NEAR(test::Db(amplitude / ceiling), 0.0, 0.1) << frequency << " Hz";
    }
    // The true-peak detector reads a steady high tone's crest to within
    // 0.003 dB, so the limited tone uses the headroom it has.
    const std::vector<float> high = Sine(48000, 11000.0f, 1.0);
    const std::vector<float> out = Limit({-1.0f, 0.0f, 2.0f, 150.0f, true, true}, {high})[0];
    EXPECT_NEAR(test::Db(test::TailPeak(out, 20000) / ceiling), 0.0, 0.003);
}

TEST(HardLimit, GainReachesThePeakInTimeThenHoldsAndReleases)
{
    // One full-scale click over a steady 0.1 with a -6 dB ceiling.
    HardLimit limiter;
    Prepare(limiter, {-6.0f, 0.0f, 2.0f, 50.0f}, 1);
    Planar in{std::vector<float>(20000, 0.1f)};
    in[0][1000] = 1.0f;
    const std::vector<float> out = Feed(limiter, in)[0];
    const std::size_t latency = 96;
    const auto ceiling = static_cast<float>(test::FromDb(-6.0));
    EXPECT_EQ(out[999], 0.1f); // the fade starts one look-ahead before the click ...
    EXPECT_LT(out[1000], 0.1f);
    EXPECT_LT(out[1000 + latency - 1], 0.1f * 0.6f);
    EXPECT_NEAR(out[1000 + latency], ceiling, 1e-6f); // ... and lands on the ceiling with it
    EXPECT_NEAR(out[1000 + latency + 500], 0.1f * ceiling, 1e-6f); // held (20 ms)
    for (std::size_t i = 1000 + latency + 1; i + 1 < out.size(); ++i)
        ASSERT_LE(out[i], out[i + 1] + 1e-7f) << "the release only rises, at " << i;
    EXPECT_EQ(out.back(), 0.1f);
    // The click leaves the hold window (look-ahead, 1 and 20 ms) at 2057;
    // the release then rises as a one-pole of 50 ms towards 2 % above unity
    // and stops at unity, which the two moving averages (98 frames) pass on.
    const double tau = 0.050 * 48000.0;
    const double rise = std::log(0.02 / (1.02 - ceiling)) / std::log(std::exp(-1.0 / tau));
    std::size_t back = 1000 + latency;
    while (out[back] != 0.1f)
        ++back;
    EXPECT_NEAR(static_cast<double>(back), 1000.0 + latency + 1 + 960 + rise + 98, 10.0);
    // With true peak the wave between the click and the frame before it
    // is nearly the click, so the gain has landed one frame earlier.
    Prepare(limiter, {-6.0f, 0.0f, 2.0f, 50.0f, true, true}, 1);
    EXPECT_LE(Feed(limiter, in)[0][1000 + latency - 1], 0.1f * ceiling * 1.0001f);
}

TEST(HardLimit, LinkedChannelsShareOneGain)
{
    Planar in{Sine(4800, 480.0f, 2.0), Sine(4800, 624.0f, 0.25)};
    const Planar linked = Limit({-0.1f, 0.0f, 2.0f, 150.0f, true}, in);
    const Planar separate = Limit({-0.1f, 0.0f, 2.0f, 150.0f, false}, in);
    EXPECT_LT(test::TailPeak(linked[1], 2000), 0.2f); // ducked by the left channel
    for (std::size_t i = 96; i < 4800; ++i)
        ASSERT_EQ(separate[1][i], in[1][i - 96]);
    EXPECT_NEAR(test::TailPeak(separate[0], 2000), test::FromDb(-0.1), 1e-4);
}

TEST(HardLimitThreaded, SettingsChangeWhileTheAudioThreadRuns)
{
    HardLimit limiter;
    Prepare(limiter, {-3.0f});
    std::atomic<bool> done{false};
    std::thread control([&] {
        for (int turn = 0; !done.load(); ++turn) {
            const float values[] = {turn % 2 ? -6.0f : -3.0f, static_cast<float>(turn % 21),
                                    static_cast<float>(turn % 7),  static_cast<float>(turn % 300),
                                    static_cast<float>(turn % 2),  static_cast<float>(turn / 2 % 2)};
            for (int index = 0; index < 6; ++index)
                limiter.SetParameter(index, values[index]);
            std::this_thread::yield();
        }
    });
    const Planar in = Material(2);
    for (int pass = 0; pass < 4; ++pass)
        for (const auto& channel : Feed(limiter, in))
            EXPECT_LE(test::TailPeak(channel, channel.size()), static_cast<float>(test::FromDb(-3.0)));
    done = true;
    control.join();
}

} // namespace
} // namespace zoc::dsp

#include "effects/filters/ParametricEQ.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>

#include <gtest/gtest.h>

#include "dsp/FFT.h"
#include "tests/support/AllocationGuard.h"
#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using P = dsp::Parametric;
using test::Signal;

struct ParametricEQFixture : ::testing::Test {
    core::Ref<ParametricEQ> eq{new ParametricEQ};
    test::TestHost host{eq};

    /// Sets a parameter by its real value through the host's normalization.
    void Set(int index, float real) { eq->SetParameter(index, eq->GetParameterInfo(index)->ToNormalized(real)); }
    float Real(int index) { return eq->GetParameterInfo(index)->FromNormalized(eq->GetParameter(index)); }
    std::vector<float> Curve(std::size_t points = 1000)
    {
        std::vector<float> curve;
        EXPECT_TRUE(eq->GetCurveData(0, points, curve));
        return curve;
    }
    /// The drawn response at `hertz`, read between the curve's log-spaced points.
    float CurveAt(const std::vector<float>& curve, double hertz)
    {
        const double position = curve.size() * std::log(hertz / 20.0) / std::log(eq->GetSampleRate() / 40.0);
        const auto below = static_cast<std::size_t>(position);
        const double t = position - static_cast<double>(below);
        return static_cast<float>((1 - t) * curve[below] + t * curve[std::min(below + 1, curve.size() - 1)]);
    }
};

// Frequency ranges follow the rate; bandwidths do not.
TEST_F(ParametricEQFixture, RangesFollowTheRateAndSlopesReadAsFractions)
{
    host.Configure(2, 96000.0f);
    EXPECT_FLOAT_EQ(eq->GetParameterInfo(41)->FromNormalized(1.0f), 0.48f * 96000.0f);
    EXPECT_FLOAT_EQ(eq->GetParameterInfo(32)->FromNormalized(1.0f), P::kMaxBandwidth); // not a frequency range
    // A slope is a fraction of the steepest (as saved), or the order itself (as presets pass it).
    for (const auto& [value, fraction] : {std::pair{1.0f, 1.0f}, std::pair{0.5f, 0.5f}, std::pair{2.0f, 0.25f}}) {
        eq->SetParameter(P::kHighPassSlope, value);
        EXPECT_EQ(eq->GetParameter(P::kHighPassSlope), fraction) << value;
    }
}

TEST_F(ParametricEQFixture, ImpulseResponseMatchesTheDrawnCurve)
{
    constexpr int kLength = 1 << 17;
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (float rate : {44100.0f, 48000.0f, 96000.0f}) {
        host.Configure(1, rate);
        dsp::RealFFT fft(kLength);
        for (int setting = 0; setting < 15; ++setting) {
            if (setting < 12) {
                eq->SetFactoryPreset(setting);
            } else { // random settings: every section on, bands no narrower than 40 Hz or Q 10
                eq->SetParameter(P::kConstantQ, static_cast<float>(setting % 2));
                for (int index = 0; index < 45; ++index)
                    if (index != P::kConstantQ && index != P::kOriginalSampleRate)
                        eq->SetParameter(index, unit(random));
                for (int band = 0; band < 5; ++band) {
                    eq->SetParameter(P::kBand1Enable + 4 * band, 1.0f);
                    eq->SetParameter(P::kBand1Q + 4 * band, unit(random) * 0.33f);
                    Set(P::kBand1Bandwidth + band, 40.0f + unit(random) * 5000.0f);
                }
                Set(P::kHighPassFrequency, 40.0f + unit(random) * 500.0f);
                eq->SetParameter(P::kHighPassSlope, std::round(1.0f + unit(random) * 7.0f));
                eq->SetParameter(P::kLowPassSlope, std::round(1.0f + unit(random) * 7.0f));
                eq->SetParameter(P::kBypass, 0.0f);
            }
            const Signal response = host.Run(test::ImpulseSignal(1, kLength));
            std::vector<std::complex<float>> spectrum(static_cast<std::size_t>(fft.BinCount()));
            fft.Forward(response[0].data(), spectrum.data());
            const std::vector<float> curve = Curve(300);
            // Below -80 dB, or 100 dB under the loudest part of the response,
            // single-precision rounding in the impulse response dominates.
            const float floor = std::max(-80.0f, *std::max_element(curve.begin(), curve.end()) - 100.0f);
            for (std::size_t i = 0; i < curve.size(); ++i) {
                const double hertz = 20.0 * std::pow(rate / 40.0, static_cast<double>(i) / 300.0);
                if (hertz > 0.45 * rate || curve[i] < floor)
                    continue;
                const double bin = hertz * kLength / rate;
                const auto k = static_cast<std::size_t>(bin);
                const double t = bin - static_cast<double>(k);
                const double measured = (1 - t) * std::abs(spectrum[k]) + t * std::abs(spectrum[k + 1]);
                ASSERT_NEAR(test::Db(measured), curve[i], 0.1)
                    << "setting " << setting << " at " << hertz << " Hz, rate " << rate;
            }
        }
    }
}

TEST_F(ParametricEQFixture, PeakAndFlatMeasureAsSet)
{
    host.Configure(2, 44100.0f);
    eq->SetFactoryPreset(0);
    const Signal sine = test::SineSignal(2, 44100, 44100.0f, 1000.0f, 0.25f);
    EXPECT_EQ(test::MaxDifference(host.Run(sine), sine), 0.0f); // default: all bands at 0 dB

    Set(P::kBand1Frequency + 8, 1000.0f);
    Set(P::kBand1Gain + 8, 12.0f);
    EXPECT_NEAR(test::Db(test::TailPeak(host.Run(sine)[1], 22050) / 0.25), 12.0, 0.1);
    EXPECT_NEAR(CurveAt(Curve(), 1000.0), 12.0f, 0.1f);
}

TEST_F(ParametricEQFixture, QOrBandwidthDependsOnConstantQ)
{
    host.Configure(1, 48000.0f);
    Set(P::kBand1Gain, 10.0f);
    for (float constantQ : {0.0f, 0.5f}) { // on from 0.5, in the component and its kernels alike
        eq->SetParameter(P::kConstantQ, constantQ);
        const int ignored = constantQ >= 0.5f ? P::kBand1Bandwidth : P::kBand1Q;
        const int used = constantQ >= 0.5f ? P::kBand1Q : P::kBand1Bandwidth;
        const std::vector<float> before = Curve();
        const float kept = eq->GetParameter(ignored);
        eq->SetParameter(ignored, 0.2f);
        EXPECT_EQ(Curve(), before) << constantQ;
        EXPECT_EQ(eq->GetParameter(ignored), kept) << constantQ; // not stored for later either
        eq->SetParameter(used, 0.9f);
        EXPECT_NE(Curve(), before) << constantQ;
    }
    // A preset goes out in index order: its Q values (Q 2) arrive while
    // ConstantQ is still on and are kept, then its ConstantQ turns it off.
    eq->SetFactoryPreset(0);
    EXPECT_EQ(eq->GetParameter(P::kConstantQ), 0.0f);
    EXPECT_NEAR(Real(P::kBand1Q), 2.0f, 1e-4f);
}

TEST_F(ParametricEQFixture, LoadsAndChannelChangesEndWithBypassOff)
{
    host.Configure(2, 48000.0f);
    Set(P::kBand1Gain, 6.0f);
    Set(P::kBand1Frequency, 1000.0f);
    eq->SetParameter(P::kBypass, 1.0f);
    host::PresetData saved;
    eq->SaveSettings(saved);
    std::vector<float> params = saved.GetParamList();
    params[P::kOriginalSampleRate] = 0.5f; // made at 96 kHz: the fraction meant 10 + 990 * 46070 / 23030 Hz
    saved.SetParamList(params);
    ASSERT_TRUE(eq->LoadSettings(saved));
    EXPECT_EQ(eq->GetParameter(P::kBypass), 0.0f);
    EXPECT_NEAR(Real(P::kBand1Frequency), 1990.4f, 0.1f);
    EXPECT_EQ(eq->GetParameter(P::kOriginalSampleRate), 0.25f);

    eq->SetParameter(P::kBypass, 1.0f);
    host.Configure(6, 48000.0f);
    EXPECT_EQ(eq->GetParameter(P::kBypass), 0.0f);
    EXPECT_FLOAT_EQ(Real(P::kBand1Gain), 6.0f);
    // Anything else than a preset is taken as made at the current rate.
    EXPECT_EQ(eq->GetParameter(P::kOriginalSampleRate), 0.25f);

    eq->StartLoadingSettings();
    eq->SetParameter(P::kOriginalSampleRate, 0.9f);
    eq->FinishLoadingSettings(false);
    EXPECT_EQ(eq->GetParameter(P::kOriginalSampleRate), 0.25f);
}

TEST_F(ParametricEQFixture, PresetsGiveTheSameHertzAtEveryRate)
{
    std::vector<std::vector<float>> responses;
    for (float rate : {44100.0f, 96000.0f}) {
        host.Configure(2, rate);
        eq->SetFactoryPreset(9); // Old Time Radio: 300 Hz to 3 kHz, bump at 1 kHz
        const std::vector<float> curve = Curve(4000);
        responses.emplace_back();
        for (double hertz : {150.0, 300.0, 600.0, 1000.0, 2000.0, 3000.0})
            responses.back().push_back(CurveAt(curve, hertz));
    }
    for (std::size_t i = 0; i < responses[0].size(); ++i)
        EXPECT_NEAR(responses[0][i], responses[1][i], 0.5f) << i;
    // A later rate change keeps the hertz, and the stored values follow.
    const float bump = Real(P::kBand1Frequency + 8);
    EXPECT_NEAR(Real(P::kBand1Bandwidth + 2), 800.0f, 0.5f); // its bandwidth in hertz, at any rate
    host.Configure(2, 48000.0f);
    EXPECT_NEAR(Real(P::kBand1Frequency + 8), bump, 0.05f);
    EXPECT_NEAR(CurveAt(Curve(4000), 1000.0), responses[1][3], 0.1f);
}

// Long blocks run the channels on the processor pool, so this suite also runs
// under ThreadSanitizer.
using ParametricEQThreaded = ParametricEQFixture;

TEST_F(ParametricEQThreaded, SteadyProcessingNeverAllocatesAndBadValuesAreHarmless)
{
    host.Configure(2, 48000.0f);
    eq->SetFactoryPreset(10);
    host.Resume();
    // 2048-frame blocks take the parallel path, shorter ones the calling thread.
    const Signal input = test::SineSignal(2, 8192, 48000.0f, 440.0f);
    Signal output = input;
    {
        test::AllocationGuard guard;
        host.ProcessBlock(input, output, 0, 2048);
        eq->SetParameter(P::kBand1Gain + 4, 0.9f); // a change glides in, still without allocation
        for (std::size_t offset = 2048; offset < 8192; offset += 2048)
            host.ProcessBlock(input, output, offset, offset < 4096 ? 2048 : 1024);
    }
    const float before = eq->GetParameter(P::kBand1Gain);
    eq->SetParameter(P::kBand1Gain, std::nanf(""));
    eq->SetParameter(P::kHighPassSlope, std::nanf(""));
    eq->SetParameter(P::kLowPassSlope, -40.0f);
    eq->SetParameter(P::kBand1Frequency, 1e9f);
    EXPECT_EQ(eq->GetParameter(P::kBand1Gain), before);
    EXPECT_EQ(eq->GetParameter(P::kBand1Frequency), 1.0f);
}

} // namespace
} // namespace zoc::components

#include "effects/filters/GraphicEQ.h"

#include <chrono>
#include <cmath>
#include <complex>
#include <numbers>
#include <thread>

#include <gtest/gtest.h>

#include "framework/Library.h"
#include "tests/support/AllocationGuard.h"
#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using test::Signal;

float BandValue(float decibels) { return (decibels + 36.0f) / 72.0f; }

struct Member {
    int bands;
    std::function<core::Ref<GraphicEQ>()> create;
};

const std::vector<Member>& Members()
{
    static const std::vector<Member> members{
        {10, [] { return core::Ref<GraphicEQ>(new GraphicEQ10Bands); }},
        {20, [] { return core::Ref<GraphicEQ>(new GraphicEQ20Bands); }},
        {30, [] { return core::Ref<GraphicEQ>(new GraphicEQ30Bands); }},
    };
    return members;
}

TEST(GraphicEQ, DefaultPresetAndProcessingFlagReadBack)
{
    for (const Member& member : Members()) {
        core::Ref<GraphicEQ> eq = member.create();
        // The default preset reads back exactly as stored.
        eq->SetFactoryPreset(0);
        EXPECT_NEAR(eq->GetParameter(0), 0.121f, 1e-5f);
        EXPECT_NEAR(eq->GetParameter(2), 0.3924f, 1e-5f);
        EXPECT_NEAR(eq->GetParameter(4), 0.5f, 1e-6f);
        // IsProcessing follows Resume/Suspend and ignores writes.
        test::TestHost host(eq);
        host.Configure(2, 48000.0f);
        eq->SetParameter(eq->IsProcessingIndex(), 1.0f);
        EXPECT_EQ(eq->GetParameter(eq->IsProcessingIndex()), 0.0f);
        host.Resume();
        EXPECT_EQ(eq->GetParameter(eq->IsProcessingIndex()), 1.0f);
        host.Suspend();
    }
}

// Random sliders within +/-12 dB: the measured response at every band centre
// below 0.45 of the rate lands within 1 dB of its slider, at the default
// accuracy.
TEST(GraphicEQ, ResponseAtEachCentreFollowsItsSlider)
{
    constexpr float kRate = 48000.0f;
    unsigned seed = 20240611;
    for (const Member& member : Members()) {
        core::Ref<GraphicEQ> eq = member.create();
        test::TestHost host(eq);
        host.Configure(1, kRate);
        std::vector<float> decibels = test::Noise(static_cast<std::size_t>(member.bands), seed++);
        for (std::size_t band = 0; band < decibels.size(); ++band) {
            decibels[band] *= 12.0f; // within +/-12 dB
            eq->SetParameter(4 + static_cast<int>(band), BandValue(decibels[band]));
        }
        const int taps = eq->GetInitialDelay() * 2;
        const Signal out = host.Run(test::ImpulseSignal(1, static_cast<std::size_t>(taps), 0), 4096);
        const auto centres = dsp::Graphic::GetBandCentres(member.bands / 10 - 1);
        for (std::size_t band = 0; band < decibels.size(); ++band) {
            if (centres[band] < 0.45 * kRate) {
                EXPECT_NEAR(test::Db(test::MagnitudeAt(out[0], centres[band] / kRate)), decibels[band], 1.0)
                    << member.bands << " bands, " << centres[band] << " Hz";
            }
        }
    }
}

// A 15 dB shelf in the sliders (the bands up to 250 Hz up, the rest flat):
// the window's sidelobes must not spread ripple over the flat bands from an
// octave above the step on, the more so the longer the filter. At the
// midpoint between the two bands of the step a long filter is half way.
TEST(GraphicEQ, RippleBetweenFlatBandsAfterAStepStaysSmall)
{
    constexpr float kRate = 48000.0f;
    const Member& member = Members()[0];
    core::Ref<GraphicEQ> eq = member.create();
    test::TestHost host(eq);
    host.Configure(1, kRate);
    const auto centres = dsp::Graphic::GetBandCentres(0);
    for (int band = 0; band < member.bands; ++band)
        eq->SetParameter(4 + band, BandValue(centres[static_cast<std::size_t>(band)] <= 250.0 ? 15.0f : 0.0f));
    struct Case {
        float accuracy;
        double ripple; // dB, at most
        double halfWay; // dB, within of the 7.5 dB midpoint
    };
    // 382, 1552 and 10160 taps at 48 kHz.
    const auto response = [&] {
        return host.Run(test::ImpulseSignal(1, static_cast<std::size_t>(eq->GetInitialDelay() * 2), 0), 4096)[0];
    };
    const Case cases[] = {{0.0f, 0.03, 2.5}, {0.003f, 0.002, 0.7}, {0.03f, 1e-4, 0.05}};
    for (const Case& c : cases) {
        eq->SetParameter(0, c.accuracy);
        const std::vector<float> h = response();
        double worst = 0.0;
        for (double f = 1000.0; f < 16000.0; f *= std::pow(2.0, 1.0 / 48.0))
            worst = std::max(worst, std::fabs(test::Db(test::MagnitudeAt(h, f / kRate))));
        EXPECT_LT(worst, c.ripple) << "accuracy " << c.accuracy;
        EXPECT_NEAR(test::Db(test::MagnitudeAt(h, std::sqrt(250.0 * 500.0) / kRate)), 7.5, c.halfWay)
            << "accuracy " << c.accuracy;
    }
    // The long filter shows how the sliders blend: a raised cosine of log frequency.
    const std::vector<float> h = response();
    for (double t : {0.25, 0.75})
        EXPECT_NEAR(test::Db(test::MagnitudeAt(h, 250.0 * std::pow(2.0, t) / kRate)),
                    7.5 * (1.0 + std::cos(std::numbers::pi * t)), 0.05)
            << t;
    // The top band sits at 16 kHz: raised alone, half way up at 11.3 kHz.
    for (int band = 0; band < member.bands; ++band)
        eq->SetParameter(4 + band, BandValue(band == member.bands - 1 ? 15.0f : 0.0f));
    EXPECT_NEAR(test::Db(test::MagnitudeAt(response(), std::sqrt(8000.0 * 16000.0) / kRate)), 7.5, 0.05);
}

TEST(GraphicEQ, FlatSlidersAreAPureDelayOfTheReportedLatency)
{
    for (const Member& member : Members()) {
        for (float accuracy : {0.0f, 0.121f, 0.03f}) {
            core::Ref<GraphicEQ> eq = member.create();
            test::TestHost host(eq);
            host.Configure(2, 44100.0f);
            eq->SetParameter(0, accuracy);
            const auto latency = static_cast<std::size_t>(eq->GetInitialDelay());
            const Signal input{test::Noise(latency + 3000, 7), test::Noise(latency + 3000, 8)};
            const Signal out = host.Run(input, 1000);
            double error = 0.0;
            for (std::size_t c = 0; c < 2; ++c)
                for (std::size_t n = 0; n < 3000; ++n)
                    error = std::max(error, std::fabs(static_cast<double>(out[c][n + latency]) - input[c][n]));
            EXPECT_LT(test::Db(error), -100.0) << member.bands << " bands, accuracy " << accuracy;
            for (std::size_t n = 0; n < latency; ++n)
                ASSERT_LT(std::fabs(out[0][n]), 1e-5f) << "output before the latency at " << n;
        }
    }
}

// A 100 Hz sine plays while the two sliders around it jump between -12 and
// +12 dB: each new level is heard, and the output never steps further between
// samples than a sine of the louder level would.
TEST(GraphicEQ, SliderJumpsAreHeardWithoutClicks)
{
    constexpr float kRate = 48000.0f;
    constexpr float kAmplitude = 0.25f;
    constexpr int kBlock = 480;
    core::Ref<GraphicEQ> eq = Members()[0].create();
    test::TestHost host(eq);
    host.Configure(1, kRate);
    eq->SetParameter(0, 0.03f); // 8112 points: resolves 63 and 125 Hz, settles in 0.2 s
    auto setBoth = [&](float decibels) {
        eq->SetParameter(5, BandValue(decibels));
        eq->SetParameter(6, BandValue(decibels));
    };
    setBoth(-12.0f);
    host.Resume();
    const Signal input = test::SineSignal(1, 96000, kRate, 100.0f, kAmplitude);
    Signal output = input;
    for (int block = 0; block < 200; ++block) {
        if (block % 40 == 10)
            setBoth(block % 80 == 10 ? 12.0f : -12.0f);
        host.ProcessBlock(input, output, static_cast<std::size_t>(block * kBlock), kBlock);
    }
    for (int change = 10; change < 170; change += 40) {
        float peak = 0.0f;
        for (int n = change * kBlock + 12000; n < (change + 40) * kBlock; ++n)
            peak = std::max(peak, std::fabs(output[0][static_cast<std::size_t>(n)]));
        const float expected = change % 80 == 10 ? 12.0f : -12.0f;
        EXPECT_NEAR(test::Db(peak / kAmplitude), expected, 1.0) << "after block " << change;
    }
    const float loudest = kAmplitude * std::pow(10.0f, 12.5f / 20.0f);
    const float sineStep = loudest * 2.0f * std::numbers::pi_v<float> * 100.0f / kRate;
    for (std::size_t n = 1; n < output[0].size(); ++n)
        ASSERT_LT(std::fabs(output[0][n] - output[0][n - 1]), sineStep * 1.05f + 1e-3f) << "step at " << n;
}

struct LibraryScope {
    LibraryScope() { Initialize(); }
    ~LibraryScope() { Terminate(); }
};

void WaitForUpdates(GraphicEQ& eq)
{
    for (int wait = 0; wait < 2000 && eq.RunningUpdates() != 0; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(eq.RunningUpdates(), 0);
}

// Accuracy, rate and channel changes rebuild the impulses once, in the
// background, at the next block; band gains are heard without a rebuild.
TEST(GraphicEQThreaded, OnlyStructuralChangesRebuildInTheBackground)
{
    LibraryScope library;
    core::Ref<GraphicEQ> eq = Members()[2].create();
    test::TestHost host(eq);
    host.Configure(2, 48000.0f);
    host.Resume();
    const Signal input = test::SineSignal(2, 512, 48000.0f, 1000.0f);
    Signal output = input;
    auto block = [&] { host.ProcessBlock(input, output, 0, 512); };

    int expected = eq->Kernel().GetUpdateCount();
    struct Change {
        const char* what;
        std::function<void()> apply;
        bool rebuilds;
    };
    const std::vector<Change> changes{
        {"accuracy", [&] { eq->SetParameter(0, 0.05f); }, true},
        {"rate", [&] { eq->SetSampleRate(44100.0f); }, true},
        {"channels", [&] { host.Configure(1, 44100.0f); }, true},
        {"band gain", [&] { eq->SetParameter(20, BandValue(6.0f)); }, false},
        {"master gain", [&] { eq->SetParameter(1, 0.7f); }, false},
        {"is processing", [&] { eq->SetParameter(eq->IsProcessingIndex(), 0.0f); }, false},
    };
    for (const Change& change : changes) {
        change.apply();
        block();
        WaitForUpdates(*eq);
        block();
        WaitForUpdates(*eq);
        expected += change.rebuilds ? 1 : 0;
        EXPECT_EQ(eq->Kernel().GetUpdateCount(), expected) << change.what;
    }
    EXPECT_EQ(eq->GetParameter(eq->IsProcessingIndex()), 1.0f);
    EXPECT_NEAR(eq->GetParameter(20), BandValue(6.0f), 1e-6f);
}

// Only the block that posts a rebuild allocates; the blocks that play on
// while the rebuild runs and is handed over do not. A file render rebuilds
// in the block that sees the change instead, so its output does not depend
// on how fast a background rebuild would have been.
TEST(GraphicEQThreaded, RebuildsAllocateOnlyWhenPostedAndFileRendersRebuildInPlace)
{
    LibraryScope library;
    const Signal input = test::SineSignal(2, 4096, 48000.0f, 440.0f);
    Signal output = input;
    for (bool offline : {false, true}) {
        core::Ref<GraphicEQ> eq = Members()[0].create();
        test::TestHost host(eq);
        host.Configure(2, 48000.0f);
        eq->SetRenderingOffline(offline);
        host.Resume();
        const int before = eq->Kernel().GetUpdateCount();
        eq->SetParameter(0, 0.01f);
        host.ProcessBlock(input, output, 0, 512);
        if (offline) {
            EXPECT_EQ(eq->RunningUpdates(), 0);
        } else {
            {
                test::AllocationGuard guard;
                for (std::size_t offset = 512; offset < 4096; offset += 512)
                    host.ProcessBlock(input, output, offset, 512);
            }
            WaitForUpdates(*eq);
        }
        EXPECT_EQ(eq->Kernel().GetUpdateCount(), before + 1) << "offline " << offline;
    }
}

// The curve shows the realized response: the phono playback preset follows
// the analytic de-emphasis curve (6 dB lower) across the band.
TEST(GraphicEQ, CurveOfThePhonoPresetFollowsTheAnalyticCurve)
{
    core::Ref<GraphicEQ> eq = Members()[2].create();
    test::TestHost host(eq);
    host.Configure(2, 44100.0f);
    eq->SetFactoryPreset(19); // RIAA De-Emphasis
    constexpr std::size_t kPoints = 200;
    std::vector<float> curve;
    ASSERT_TRUE(eq->GetCurveData(0, kPoints, curve));
    ASSERT_EQ(curve.size(), kPoints);
    auto riaa = [](double f) {
        const std::complex<double> s(0.0, 2.0 * std::numbers::pi * f);
        return std::abs((1.0 + s * 318e-6) / ((1.0 + s * 3180e-6) * (1.0 + s * 75e-6)));
    };
    for (std::size_t i = 0; i < kPoints; ++i) {
        const double f = 20.0 * std::pow(22050.0 / 20.0, static_cast<double>(i) / kPoints);
        if (f < 30.0 || f > 18000.0)
            continue;
        EXPECT_NEAR(curve[i], 20.0 * std::log10(riaa(f) / riaa(1000.0)) - 6.0, 0.6) << f << " Hz";
    }
    EXPECT_FALSE(eq->GetCurveData(1, kPoints, curve));
    // Its sliders hold the curve at the band centres to the 0.1 dB they are
    // written in, the master gain the 6 dB of headroom.
    const auto real = [&](int index) { return eq->GetParameterInfo(index)->FromNormalized(eq->GetParameter(index)); };
    const auto centres = dsp::Graphic::GetBandCentres(2);
    for (std::size_t band = 0; band < centres.size(); ++band)
        EXPECT_NEAR(real(4 + static_cast<int>(band)), 20.0 * std::log10(riaa(centres[band]) / riaa(1000.0)), 0.051)
            << centres[band] << " Hz";
    EXPECT_NEAR(real(1), -6.0f, 1e-3f);
}

} // namespace
} // namespace zoc::components

#include "dsp/Graphic.h"

#include <atomic>
#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dsp/PartitionedConvolver.h"
#include "tests/support/Measure.h"

namespace zoc::dsp {
namespace {

/// Resumes a kernel at 48 kHz with 1024-point accuracy.
void Start(Graphic& graphic, int channels)
{
    graphic.SetSampleRate(48000);
    graphic.SetChannels(channels);
    graphic.SetParameter(Graphic::kAccuracy, 1024.0f);
    graphic.Resume();
}

// Block-wise FFT convolution equals direct convolution, for filters shorter
// than, equal to and longer than a block, and a block of one sample.
TEST(PartitionedConvolver, MatchesDirectConvolution)
{
    struct Case {
        int block;
        int taps;
    };
    for (const Case& test : {Case{64, 1000}, Case{256, 256}, Case{128, 37}, Case{1, 5}}) {
        const std::vector<float> taps = zoc::test::Noise(static_cast<std::size_t>(test.taps), 1);
        std::vector<float> input = zoc::test::Noise(static_cast<std::size_t>(test.block) * 40, 2);

        PartitionedConvolver convolver(test.block, test.taps, 2, 2);
        convolver.SetFilter(1, taps.data(), test.taps);
        std::vector<float> output(input.size());
        for (std::size_t at = 0; at < input.size(); at += static_cast<std::size_t>(test.block)) {
            convolver.PushBlock(1, &input[at]);
            convolver.FilterBlock(1, 1, &output[at]);
        }
        for (std::size_t n = 0; n < input.size(); ++n) {
            double expected = 0.0;
            for (std::size_t j = 0; j < taps.size() && j <= n; ++j)
                expected += static_cast<double>(taps[j]) * input[n - j];
            ASSERT_NEAR(output[n], expected, 2e-4 * std::sqrt(static_cast<double>(test.taps)))
                << "block " << test.block << ", taps " << test.taps << ", frame " << n;
        }
    }
}

// Each band set's sliders sit on the standard centres and bands at or
// above Nyquist leave the response alone.
TEST(Graphic, BandsAtOrAboveNyquistHaveNoEffect)
{
    EXPECT_EQ(Graphic::GetBandCentres(0).front(), 31.5);
    EXPECT_EQ(Graphic::GetBandCentres(1).back(), 22400.0);
    EXPECT_EQ(Graphic::GetBandCentres(2).front(), 25.0);
    EXPECT_EQ(Graphic::GetBandCentres(2).back(), 20000.0);

    Graphic graphic;
    graphic.SetSampleRate(44100);
    graphic.SetParameter(Graphic::kBandSet, 1.0f);
    graphic.SetParameter(Graphic::kFirstBand + 18, -6.0f); // 16 kHz
    const double before = graphic.ComputeFilterResponse(21000.0);
    graphic.SetParameter(Graphic::kFirstBand + 19, 12.0f); // 22.4 kHz, above 22.05 kHz
    EXPECT_EQ(graphic.ComputeFilterResponse(21000.0), before);
    EXPECT_NEAR(20.0 * std::log10(before), -6.0, 0.1);

    // Range clamps the sliders; Reset returns every band to 0 dB.
    graphic.SetParameter(Graphic::kRange, 3.0f);
    EXPECT_NEAR(20.0 * std::log10(graphic.ComputeFilterResponse(16000.0)), -3.0, 0.1);
    graphic.SetParameter(Graphic::kReset, 0.4f); // a switch below its middle is off
    EXPECT_EQ(graphic.GetParameter(Graphic::kFirstBand + 18), -6.0f);
    graphic.SetParameter(Graphic::kReset, 1.0f);
    EXPECT_EQ(graphic.GetParameter(Graphic::kFirstBand + 18), 0.0f);
    EXPECT_NEAR(graphic.ComputeFilterResponse(16000.0), 1.0, 1e-6);
}

// The audio thread plays a sine while another thread keeps changing the
// accuracy and rebuilding the impulses. The output stays bounded and never
// clicks, and once the last rebuild has taken over, the delay is the one the
// kernel reports.
TEST(GraphicThreaded, RebuildsWhileTheAudioThreadPlays)
{
    constexpr int kRate = 48000;
    constexpr float kAmplitude = 0.5f;
    constexpr double kFrequency = 200.0;
    Graphic graphic;
    Start(graphic, 2);

    std::atomic<bool> done{false};
    std::thread builder([&] {
        for (float accuracy : {3000.0f, 700.0f, 5000.0f, 2048.0f}) {
            graphic.SetParameter(Graphic::kAccuracy, accuracy);
            graphic.UpdateImpulses();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        done.store(true);
    });

    const double step = 2.0 * std::numbers::pi * kFrequency / kRate;
    const float sineStep = kAmplitude * static_cast<float>(step);
    float previous = 0.0f;
    long long frame = 0;
    auto play = [&](long long frames) {
        for (long long end = frame + frames; frame < end; ++frame) {
            const float x = kAmplitude * static_cast<float>(std::sin(step * static_cast<double>(frame)));
            const float in[2] = {x, -x};
            float out[2] = {};
            graphic.ProcessOneSample(in, out);
            ASSERT_TRUE(std::isfinite(out[0]) && std::fabs(out[0]) <= kAmplitude * 1.01f) << frame;
            ASSERT_EQ(out[1], -out[0]);
            if (frame > 0) {
                ASSERT_LT(std::fabs(out[0] - previous), sineStep * 1.2f + 1e-4f) << "click at " << frame;
            }
            previous = out[0];
        }
    };
    while (!done.load())
        play(480);
    builder.join();
    play(3 * kRate / 10); // long enough for the last filter to take over
    graphic.Suspend();

    // A flat filter of the final length: the output is the input delayed.
    const int latency = graphic.GetLatency();
    float in[2] = {};
    float out[2] = {};
    graphic.ProcessOneSample(in, out);
    ++frame;
    const double expected = kAmplitude * std::sin(step * static_cast<double>(frame - 1 - latency));
    EXPECT_NEAR(out[0], expected, 1e-4) << "latency " << latency;
}

// A filter rebuilt while the previous rebuild is still taking over is taken
// up in turn, with no Suspend or further rebuild to free the replaced one.
TEST(Graphic, RebuildDuringAHandOverIsStillTakenUp)
{
    Graphic graphic;
    Start(graphic, 1);
    float in = 0.0f;
    float out = 0.0f;
    auto play = [&](int frames) {
        for (int n = 0; n < frames; ++n)
            graphic.ProcessOneSample(&in, &out);
    };
    graphic.SetParameter(Graphic::kAccuracy, 2048.0f);
    graphic.UpdateImpulses();
    play(300); // past a block boundary: the 2047-tap filter is taking over
    graphic.SetParameter(Graphic::kAccuracy, 4096.0f);
    graphic.UpdateImpulses();
    play(48000);
    // A flat filter is a pure delay: the impulse comes out after the latency.
    in = 1.0f;
    play(1);
    in = 0.0f;
    int peak = -1;
    for (int n = 1; n < 8192 && peak < 0; ++n) {
        play(1);
        if (std::fabs(out) > 0.5f)
            peak = n;
    }
    EXPECT_EQ(peak, graphic.GetLatency());
    EXPECT_EQ(peak, 4095 / 2 + 512) << "4095 taps, 512-frame blocks";
}

} // namespace
} // namespace zoc::dsp

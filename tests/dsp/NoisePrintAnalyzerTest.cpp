#include "dsp/NoisePrintAnalyzer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

using zoc::dsp::NoisePrintAnalyzer;

// A cosine centred on bin 16 of 256-point frames: through the periodic Hann
// window (whose points sum to N / 2) its bin holds A N / 4 in every frame,
// whatever the frame's phase. 1024 samples make (1024 - 256) / 128 + 1 = 7
// half-overlapping frames, however they are handed over; a reset starts over.
TEST(NoisePrintAnalyzer, AveragesTheHannMagnitudesOfHalfOverlappingFrames)
{
    constexpr int kSize = 256;
    constexpr double kAmplitude = 0.5;
    std::vector<float> tone(1024);
    for (std::size_t n = 0; n < tone.size(); ++n)
        tone[n] = static_cast<float>(kAmplitude * std::cos(2.0 * std::numbers::pi * 16.0 * n / kSize));

    NoisePrintAnalyzer analyzer(48000.0f, kSize);
    EXPECT_EQ(analyzer.AverageMagnitudes(), std::vector<float>(kSize / 2 + 1, 0.0f));
    for (int block : {1024, 100, 1}) {
        analyzer.Reset();
        for (std::size_t at = 0; at < tone.size(); at += static_cast<std::size_t>(block))
            analyzer.Analyze(tone.data() + at, static_cast<int>(std::min<std::size_t>(block, tone.size() - at)));
        ASSERT_EQ(analyzer.FramesAnalyzed(), 7) << block;
        const std::vector<float> average = analyzer.AverageMagnitudes();
        ASSERT_EQ(average.size(), static_cast<std::size_t>(kSize / 2 + 1));
        EXPECT_NEAR(average[16], kAmplitude * kSize / 4, 1e-3) << block;
        // The Hann window's neighbours take half as much; the rest is empty.
        EXPECT_NEAR(average[15], kAmplitude * kSize / 8, 1e-3) << block;
        EXPECT_LT(average[40], 1e-3f) << block;
    }
}

} // namespace

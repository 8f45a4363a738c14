// zoc generate and offline components in zoc apply, the clipping warning
// and --normalize.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

constexpr int kRate = 48000;

class OutputLevelTest : public ::testing::Test {
protected:
    OutputLevelTest()
    {
        // A quiet sine with ten samples at twice full scale (+6.0 dBFS).
        Frames samples = DistinctSines(2, 4800, kRate, 0.25f);
        for (std::size_t k = 0; k < 10; ++k)
            samples[k % 2][100 + 37 * k] = k % 3 == 0 ? -2.0f : 2.0f;
        WriteAudio(hot, samples, kRate);
    }
    ScratchDirectory dir;
    std::string hot = dir / "hot.wav";
};

TEST_F(OutputLevelTest, ClippingEncodingsWarnOnceWithCountPeakAndWayOut)
{
    struct Case {
        const char* output;
        const char* bits;
        const char* wayOut; ///< empty: float output keeps everything, no warning
    };
    for (const Case& c : {Case{"o16.wav", "16", "--bits 32f"}, Case{"o24.aiff", "24", "--bits 32f"},
                          Case{"o.flac", "", "--normalize"}, Case{"o.ogg", "", "--normalize"},
                          Case{"of.wav", "32f", ""}}) {
        std::vector<std::string> arguments = {"apply", "Amplify", hot, dir / c.output};
        if (*c.bits != '\0')
            arguments.insert(arguments.begin() + 2, {"--bits", c.bits});
        const ZocResult result = RunZoc(arguments);
        ASSERT_EQ(result.exitCode, 0) << c.output << ": " << result.err;
        if (*c.wayOut == '\0') {
            EXPECT_EQ(result.err, "") << c.output;
            EXPECT_EQ(Peak(ReadAudio(dir / c.output)), 2.0f);
            continue;
        }
        EXPECT_EQ(result.ErrorLines(), 1u) << result.err;
        EXPECT_NE(result.err.find("warning: 10 samples clipped in " + std::string(c.output)), std::string::npos)
            << result.err;
        EXPECT_NE(result.err.find("peak +6.0 dBFS"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(c.wayOut), std::string::npos) << result.err;
    }
}

TEST_F(OutputLevelTest, NormalizePutsThePeakOnTheTargetAndKeepsTheShape)
{
    const AudioData original = ReadAudio(hot);
    struct Case {
        const char* target;
        double decibels;
        const char* bits;
        double tolerance; ///< linear, for the sample format
    };
    for (const Case& c : {Case{"0", 0.0, "16", 1.0 / 32768}, Case{"-1", -1.0, "24", 1e-6},
                          Case{"-6.5dB", -6.5, "32f", 1e-6}, Case{"-20dBFS", -20.0, "16", 1.0 / 32768}}) {
        const std::string out = dir / "n.wav";
        const ZocResult result = RunZoc({"apply", "Amplify", "--normalize", c.target, "--bits", c.bits, hot, out});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.err, "") << c.target; // nothing clips once normalized
        const AudioData normalized = ReadAudio(out);
        const double gain = std::pow(10.0, c.decibels / 20.0) / 2.0;
        EXPECT_NEAR(Peak(normalized), 2.0 * gain, c.tolerance) << c.target;
        for (std::size_t n = 0; n < original.Length(); n += 53)
            ASSERT_NEAR(normalized.samples[1][n], original.samples[1][n] * gain, c.tolerance) << c.target << " " << n;
    }
}

TEST_F(OutputLevelTest, NormalizeCoversLongOutputAndLeavesSilenceAlone)
{
    // Longer than the chunks the second pass copies in, with the peak late.
    const std::string longIn = dir / "long.wav";
    Frames samples(1, std::vector<float>(150000, 0.1f));
    samples[0][140001] = -0.4f;
    WriteAudio(longIn, samples, kRate);
    const AudioData loud = RunZocAndRead({"apply", "Amplify", "--normalize", "0", longIn, dir / "l.wav"}, dir / "l.wav");
    ASSERT_EQ(loud.Length(), 150000u);
    EXPECT_FLOAT_EQ(loud.samples[0][140001], -1.0f);
    EXPECT_FLOAT_EQ(loud.samples[0][3], 0.25f);
    EXPECT_FLOAT_EQ(loud.samples[0][149999], 0.25f);

    const std::string silentIn = dir / "silent.wav";
    WriteAudio(silentIn, Frames(2, std::vector<float>(1000, 0.0f)), kRate);
    const AudioData silent =
        RunZocAndRead({"apply", "Amplify", "--normalize", "-1", silentIn, dir / "s.wav"}, dir / "s.wav");
    EXPECT_EQ(Peak(silent), 0.0f);
}

TEST(GenerateThreaded, WritesTheRequestedLengthLayoutRateAndPeak)
{
    ScratchDirectory dir;
    const AudioData chord =
        RunZocAndRead({"generate", "Tones", "--preset", "Major Chord", "--duration", "3", dir / "chord.wav"},
                      dir / "chord.wav");
    EXPECT_EQ(chord.sampleRate, 48000);
    ASSERT_EQ(chord.samples.size(), 2u);
    EXPECT_EQ(chord.Length(), 3u * 48000u);
    EXPECT_GT(Peak(chord), 0.5f);
    EXPECT_LE(Peak(chord), 1.0f);

    const AudioData mono = RunZocAndRead({"generate", "generate tones", "--rate", "22050", "--channels", "1",
                                          "--duration", "0.5", "--set", "gain=-20", "--bits", "16", dir / "m.wav"},
                                         dir / "m.wav");
    EXPECT_EQ(mono.sampleRate, 22050);
    ASSERT_EQ(mono.samples.size(), 1u);
    EXPECT_EQ(mono.Length(), 11025u);
    // -9 dB tone, 20 dB down.
    EXPECT_NEAR(Peak(mono), std::pow(10.0f, -29.03f / 20.0f), 2e-3f);

    const AudioData noise = RunZocAndRead(
        {"generate", "Noise", "--duration", "0.5", "--normalize", "-3", "--quiet", dir / "n.flac"}, dir / "n.flac");
    EXPECT_NEAR(Peak(noise), std::pow(10.0, -3.0 / 20.0), 1.0 / (1 << 23));
}

TEST(GenerateThreaded, ApplyRunsTheTremoloOverAFile)
{
    ScratchDirectory dir;
    Frames steady(2, std::vector<float>(48000, 0.5f));
    WriteAudio(dir / "in.wav", steady, 48000);
    const AudioData out =
        RunZocAndRead({"apply", "Tones", "--preset", "Tremolo", dir / "in.wav", dir / "out.wav"}, dir / "out.wav");
    ASSERT_EQ(out.samples.size(), 2u);
    ASSERT_EQ(out.Length(), 48000u);
    const auto [low, high] = std::minmax_element(out.samples[0].begin() + 4800, out.samples[0].begin() + 43200);
    EXPECT_NEAR(*high, 0.5f, 1e-3f);
    EXPECT_LT(*low, 0.1f);
}

} // namespace
} // namespace zoc::test

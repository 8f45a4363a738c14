// zoc generate and zoc apply of an offline component, checked on the files
// they write.

#include <gtest/gtest.h>

#include <cmath>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

TEST(GenerateThreaded, WritesTheRequestedLengthLayoutAndRate)
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
    float low = 1.0f;
    float high = 0.0f;
    for (std::size_t n = 4800; n < 43200; ++n) {
        low = std::min(low, out.samples[0][n]);
        high = std::max(high, out.samples[0][n]);
    }
    EXPECT_NEAR(high, 0.5f, 1e-3f);
    EXPECT_LT(low, 0.1f);
}

} // namespace
} // namespace zoc::test

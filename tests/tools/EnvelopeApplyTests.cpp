// zoc apply on the envelopes: the whole input is the selection, --keyframes
// draws the envelope, saved settings carry it.

#include <gtest/gtest.h>

#include <cmath>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

constexpr int kRate = 48000;
constexpr std::size_t kFrames = 9600;

class EnvelopeApplyTest : public ::testing::Test {
protected:
    EnvelopeApplyTest() { WriteAudio(in, Frames(2, std::vector<float>(kFrames, 0.5f)), kRate); }
    ScratchDirectory dir;
    std::string in = dir / "in.wav";
    std::string out = dir / "out.wav";
};

TEST_F(EnvelopeApplyTest, LinearFadeOutReachesSilenceAtTheEnd)
{
    const AudioData output = RunZocAndRead({"apply", "Fade Envelope", "--preset", "Linear Fade Out", in, out}, out);
    ASSERT_EQ(output.Length(), kFrames);
    for (const std::vector<float>& channel : output.samples) {
        for (std::size_t n = 0; n < kFrames; n += 97)
            ASSERT_NEAR(channel[n], 0.5 * (1.0 - static_cast<double>(n) / kFrames), 0.5 / kFrames + 1e-6) << n;
        EXPECT_LT(std::fabs(channel.back()), 1e-3f);
    }
}

TEST_F(EnvelopeApplyTest, KeyframesDipTheGainAndSurviveSavedSettings)
{
    const std::string settings = dir / "dip.json";
    const ZocResult drawn = RunZoc(
        {"apply", "gain envelope", "--keyframes", "0:1,0.5:0.25,1:1", "--save-settings", settings, in, out});
    ASSERT_EQ(drawn.exitCode, 0) << drawn.err;
    const AudioData dipped = ReadAudio(out);
    const std::vector<float>& left = dipped.samples[0];
    EXPECT_NEAR(left[0], 0.5, 1e-6);                 // unity at the start
    EXPECT_NEAR(left[kFrames / 2], 0.5 * 0.25, 1e-4); // -12 dB in the middle
    // Halfway in fader travel: gain = (position / unity)^k below unity, with
    // k putting 0.3 (as far below 0.65 as the top is above) at -15 dB.
    const double k = std::log(std::pow(10.0, -15.0 / 20.0)) / std::log(0.3 / 0.65);
    EXPECT_NEAR(left[kFrames / 4], 0.5 * std::pow((1.0 + std::pow(0.25, 1.0 / k)) / 2.0, k), 1e-4);
    EXPECT_NEAR(left[kFrames - 1], 0.5, 1e-3);

    const std::string again = dir / "again.wav";
    EXPECT_TRUE(RunZocAndRead({"apply", "GainEnvelope", "--load-settings", settings, in, again}, again).samples ==
                dipped.samples);
}

TEST_F(EnvelopeApplyTest, BadKeyframesAreRefusedWithOneLine)
{
    struct Case {
        const char* component;
        const char* keyframes;
    };
    for (const Case& c : {Case{"Gain Envelope", ""}, Case{"Gain Envelope", "0:1,"}, Case{"Gain Envelope", "0.5"},
                          Case{"Gain Envelope", "a:1"}, Case{"Gain Envelope", "1.5:1"},
                          Case{"Gain Envelope", "0:-1"}, Case{"Gain Envelope", "0:1;1:1"},
                          Case{"Gain Envelope", "0:1:2"}, Case{"Amplify", "0:1,1:1"}}) {
        const ZocResult result = RunZoc({"apply", c.component, "--keyframes", c.keyframes, in, out});
        EXPECT_EQ(result.exitCode, 2) << c.component << " '" << c.keyframes << "'";
        EXPECT_EQ(result.ErrorLines(), 1u) << result.err;
    }
}

} // namespace
} // namespace zoc::test

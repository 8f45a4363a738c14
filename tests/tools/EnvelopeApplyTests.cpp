// zoc apply on the envelopes: the whole input is the selection, --keyframes
// draws the envelope, saved settings carry it.

#include <gtest/gtest.h>

#include <cmath>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

constexpr std::size_t kFrames = 9600;

class EnvelopeApplyTest : public ZocFileTest {
protected:
    EnvelopeApplyTest() : ZocFileTest(Frames(2, std::vector<float>(kFrames, 0.5f))) {}
};

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

TEST_F(EnvelopeApplyTest, SecondsAndDecibelsDrawTheSameEnvelopeAsFractions)
{
    // The input lasts 0.2 s, so 0.05 s is a quarter of it.
    struct Case {
        const char* component;
        const char* keyframes;
        const char* same;
    };
    for (const Case& c : {Case{"Fade Envelope", "0:0,0.05s:1", "0:0,0.25:1"},
                          Case{"Fade Envelope", "-0.05s:1,1:0", "0.75:1,1:0"},
                          Case{"Fade Envelope", "0s:1,end-0.05s:1,end-0s:0", "0:1,0.75:1,1:0"},
                          Case{"Fade Envelope", "0.25:-6.0206dB,0.1S:0db", "0.25:0.5,0.5:1"},
                          Case{"Gain Envelope", "0:1,0.1s:-12dB,-0s:1", "0:1,0.5:0.2511886,1:1"}}) {
        const std::string expected = dir / "expected.wav";
        const AudioData a = RunZocAndRead({"apply", c.component, "--keyframes", c.keyframes, in, out}, out);
        const AudioData b = RunZocAndRead({"apply", c.component, "--keyframes", c.same, in, expected}, expected);
        ASSERT_EQ(a.Length(), b.Length());
        for (std::size_t n = 0; n < a.Length(); ++n)
            ASSERT_NEAR(a.samples[0][n], b.samples[0][n], 1e-5) << c.keyframes << " at " << n;
    }
}

TEST_F(EnvelopeApplyTest, BadKeyframesAreRefusedWithTheReason)
{
    // The input lasts 0.2 s.
    std::vector<Refusal> cases;
    for (const char* keyframes : {"", "0:1,", "0.5", "a:1", "1.5:1", "0:-1", "0:1;1:1", "0:1:2"})
        cases.push_back({{"apply", "Gain Envelope", "--keyframes", keyframes, "IN", "OUT"}, 2, {}});
    for (const auto& [keyframes, says] : std::initializer_list<std::pair<const char*, const char*>>{
             {"0.5:1,0.25:0", "must increase"}, {"0.5:1,0.5:0", "must increase"}, {"0.1s:1,0.05s:0", "must increase"},
             {"0.15s:1,-0.1s:0", "must increase"}, {"0.5:1,-0.2s:0", "must increase"}, {"0.3s:1", "outside in.wav"},
             {"-0.3s:1", "outside in.wav"}, {"2:1", "outside 0..1"}, {"--1s:1", "not a position"},
             {"end+1s:1", "not a position"}, {"0:xdB", "not a position"}, {"1s:-1", "negative"}})
        cases.push_back({{"apply", "Fade Envelope", "--keyframes", keyframes, "IN", "OUT"}, 2, {says}});
    cases.push_back({{"apply", "Amplify", "--keyframes", "0:1,1:1", "IN", "OUT"}, 2, {}});
    // Without an input there is no length to count seconds in.
    cases.push_back(
        {{"apply", "Fade Envelope", "--keyframes", "0:0,1s:1", "--save-settings", "DIR/fade.json"}, 2, {"need an input file"}});
    ExpectRefused(cases);
}
} // namespace
} // namespace zoc::test

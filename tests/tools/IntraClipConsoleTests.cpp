// The leveler from the command line: its console commands through
// zoc console, and zoc apply by its title with a tuning set by --console.

#include <gtest/gtest.h>

#include <cmath>

#include "dsp/intraclip/IntraClip.h"
#include "tests/support/Measure.h"
#include "tests/support/SpeechLike.h"
#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

struct IntraClipConsole : ::testing::Test {
    void TearDown() override { dsp::intraclip::SetGlobalParam(dsp::intraclip::DefaultGlobalParam()); }
};

TEST_F(IntraClipConsole, CommandsAnswerOnStandardOutput)
{
    struct Case {
        std::vector<std::string> words;
        int exitCode;
        const char* answer; // start of stdout, or of stderr when refused
    };
    for (const Case& c : {Case{{"console", "SetTimeStretchPreviewQ 11"}, 0, "Time stretch preview Q set to 11"},
                          Case{{"console", "IntraClip.Debug", "0"}, 0, "Normal processing\n"},
                          Case{{"console", "IntraClip.Setup 1 2 3"}, 2, "zoc: console: IntraClip.Setup RefLevel"},
                          Case{{"console", "IntraClip.Setup -12 10 35 -10 -40 15 -60 -50 10 500 1000 8000 15 1.5 10 "
                                           "1000 250 10 50 2 -100 10 250 -6 5 100 -1.0 15"},
                               0, "Parameter changed for next run.\n"}}) {
        const ZocResult result = RunZoc(c.words);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.words.back() << ": " << result.err;
        EXPECT_TRUE(c.exitCode != 0 || result.err.empty()) << result.err;
        const std::string& text = c.exitCode == 0 ? result.out : result.err;
        EXPECT_TRUE(text.starts_with(c.answer)) << c.words.back() << ": " << text;
    }
}

// The look-ahead set by apply --console is the delay zoc apply compensates:
// the output lines up with the input whatever the tuning.
TEST_F(IntraClipConsole, ApplyCompensatesTheLookAheadTheConsoleSet)
{
    ScratchDirectory dir;
    const SpeechLike speech = MakeSpeechLike({-16}, 1.0, 0.2, -62.0, 48000);
    const std::string in = dir / "in.wav";
    WriteAudio(in, speech.samples, 48000);
    for (const char* delay : {"-200", "-30"}) {
        const std::string setup = std::string("IntraClip.Setup -12 10 35 -10 -40 15 -60 -50 10 500 1000 8000 15 1.5 "
                                              "10 1000 250 10 50 2 ") + delay + " 10 250 -6 5 100 -1.0 15";
        const std::string out = dir / (std::string("out") + delay + ".wav");
        const AudioData output = RunZocAndRead({"apply", "Speech Volume Leveler", "--console", setup, in, out}, out);
        ASSERT_EQ(output.Length(), speech.samples[0].size());
        // Where the voice in the output lines up best with the input.
        const std::vector<float> input(speech.samples[0].begin() + 20000, speech.samples[0].begin() + 40000);
        int best = 0;
        double bestCorrelation = -1.0;
        for (int lag = -50; lag <= 50; ++lag) {
            const std::vector<float> candidate(output.samples[0].begin() + 20000 + lag,
                                               output.samples[0].begin() + 40000 + lag);
            const double correlation = Correlation(input, candidate);
            if (correlation > bestCorrelation) {
                bestCorrelation = correlation;
                best = lag;
            }
        }
        EXPECT_EQ(best, 0) << delay;
        EXPECT_GT(bestCorrelation, 0.95) << delay;
    }
    const ZocResult refused =
        RunZoc({"apply", "Speech Volume Leveler", "--console", "IntraClip.Setup 1 2", in, dir / "refused.wav"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("--console 'IntraClip.Setup 1 2' was refused"), std::string::npos) << refused.err;
}

} // namespace
} // namespace zoc::test

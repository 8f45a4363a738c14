// zoc apply A + B + ...: a chain in one pass must give what running the
// stages one after the other through float files gives, with the latency of
// all stages compensated once and the tail rung out through every stage.
// zoc apply IN... -o DIR: every good file written as a single run would
// write it, and a bad one reported without stopping the rest.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/support/Measure.h"
#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

constexpr int kRate = 48000;

void ExpectSameSamples(const AudioData& actual, const AudioData& expected, float tolerance = 0.0f)
{
    ASSERT_EQ(actual.samples.size(), expected.samples.size());
    ASSERT_EQ(actual.Length(), expected.Length());
    for (std::size_t channel = 0; channel < expected.samples.size(); ++channel)
        for (std::size_t frame = 0; frame < expected.Length(); ++frame)
            ASSERT_NEAR(actual.samples[channel][frame], expected.samples[channel][frame], tolerance)
                << "channel " << channel << " frame " << frame;
}

class ChainTest : public ::testing::Test {
protected:
    ScratchDirectory dir;
    std::string in = dir / "in.wav";
    std::string middle = dir / "middle.wav";
    std::string stepwise = dir / "stepwise.wav";
    std::string chained = dir / "chained.wav";
};

TEST_F(ChainTest, ToneShapingChainMatchesTwoSteps)
{
    const Frames input = DistinctSines(2, 20000, kRate, 0.3f);
    WriteAudio(in, input, kRate);
    const std::vector<std::string> first{"amplify", "--preset", "+6dB Boost"};
    const std::vector<std::string> second{"parametriceq", "--set", "EQ Band 1 Gain=9", "--at",
                                          "0.2:EQ Band 1 Gain=-6"};
    RunZocAndRead(Words({{"apply"}, first, {in, middle}}), middle);
    const AudioData expected = RunZocAndRead(Words({{"apply"}, second, {middle, stepwise}}), stepwise);
    ExpectSameSamples(RunZocAndRead(Words({{"apply"}, first, {"+"}, second, {in, chained}}), chained), expected);
}

// DelayProbe (registered by the apply tests) delays by 100 frames and says so.
TEST_F(ChainTest, EchoTailRingsThroughLaterStagesWithLatencyCompensatedOnce)
{
    Frames input(2, std::vector<float>(4800, 0.0f));
    input[0][0] = input[1][0] = 0.8f; // one click: everything after it is echo
    WriteAudio(in, input, kRate);
    const std::string report = dir / "report.json";
    const AudioData expected = RunZocAndRead({"apply", "echo", "--tail", "1.5", in, stepwise}, stepwise);
    const AudioData output = RunZocAndRead(
        {"apply", "delayprobe", "+", "echo", "--tail", "1.5", "+", "delayprobe", "--report", report, in, chained},
        chained);
    ASSERT_EQ(output.Length(), 4800u + 72000u);
    // The echo sees its blocks 100 frames later than alone: rounding may differ.
    ExpectSameSamples(output, expected, 1e-6f);
    EXPECT_GT(TailPeak(output.samples[0], 72000), 0.01f) << "the echoes after the input's end are missing";

    const nlohmann::json stats = nlohmann::json::parse(FileContents(report));
    EXPECT_EQ(stats["latency"], 200);
    ASSERT_EQ(stats["stages"].size(), 3u);
    EXPECT_EQ(stats["stages"][0]["latency"], 100);
    EXPECT_EQ(stats["stages"][1]["latency"], 0);
    EXPECT_EQ(stats["stages"][2]["component"], "DelayProbe");
}

TEST_F(ChainTest, SideChainReachesItsStageInStepWithTheInput)
{
    // The key starts halfway: the ducking must start where it does for the
    // component alone, though the stage hears everything 100 frames late.
    WriteAudio(in, DistinctSines(2, 9600, kRate, 0.05f), kRate);
    Frames key = DistinctSines(1, 9600, kRate, 0.9f);
    std::fill_n(key[0].begin(), 4800, 0.0f);
    const std::string keyPath = dir / "key.wav";
    WriteAudio(keyPath, key, kRate);
    const std::vector<std::string> dynamics{"dynamics", "--preset", "Vocal Limiter", "--sidechain", keyPath};
    const AudioData expected = RunZocAndRead(Words({{"apply"}, dynamics, {in, stepwise}}), stepwise);
    ExpectSameSamples(RunZocAndRead(Words({{"apply", "delayprobe", "+"}, dynamics, {in, chained}}), chained), expected);
    EXPECT_LT(TailPeak(expected.samples[0], 1000), 0.025f) << "the key did not duck the input";
}

class BatchThreaded : public ::testing::Test {
protected:
    ScratchDirectory dir;
    std::string outputs = dir / "out";
};

TEST_F(BatchThreaded, CorruptFileFailsAloneAndTheOthersMatchSingleRuns)
{
    std::filesystem::create_directories(dir / "more");
    std::vector<std::string> good;
    for (int i = 0; i < 4; ++i) {
        good.push_back(dir / ((i == 3 ? "more/" : "") + std::string("take") + std::to_string(i) + ".wav"));
        WriteAudio(good.back(), DistinctSines(2, 3000 + 500 * i, kRate, 0.1f * (i + 1)), kRate);
    }
    const std::string corrupt = dir / "broken.wav";
    std::ofstream(corrupt) << "RIFF this is not audio";

    const ZocResult result = RunZoc(Words({{"apply", "echo", "--preset", "1", "--tail", "0.25", good[0], good[1], corrupt},
                                           {good.begin() + 2, good.end()},
                                           {"-o", outputs, "--jobs", "3", "--suffix", "-echo"}}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("broken.wav"), std::string::npos) << result.err;
    EXPECT_EQ(result.ErrorLines(), 1u) << result.err;
    EXPECT_NE(result.out.find("5 files: 4 written, 1 failed"), std::string::npos) << result.out;

    for (std::size_t i = 0; i < good.size(); ++i) {
        const std::string single = dir / ("single" + std::to_string(i) + ".wav");
        const AudioData expected = RunZocAndRead({"apply", "echo", "--preset", "1", "--tail", "0.25", good[i], single},
                                                 single);
        const AudioData written = ReadAudio(outputs + "/take" + std::to_string(i) + "-echo.wav");
        EXPECT_EQ(written.samples, expected.samples) << good[i];
    }
    EXPECT_FALSE(std::filesystem::exists(outputs + "/broken-echo.wav"));
    EXPECT_TRUE(Temporaries(outputs).empty());
}

} // namespace
} // namespace zoc::test

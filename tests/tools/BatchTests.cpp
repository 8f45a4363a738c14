// zoc apply IN... -o DIR: every good file written as a single run would
// write it, a bad one reported without stopping the rest, and clashing
// output names refused before any file is touched.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

constexpr int kRate = 48000;

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

    std::vector<std::string> arguments{"apply", "echo", "--preset", "1", "--tail", "0.25"};
    arguments.insert(arguments.end(), good.begin(), good.begin() + 2);
    arguments.push_back(corrupt);
    arguments.insert(arguments.end(), good.begin() + 2, good.end());
    arguments.insert(arguments.end(), {"-o", outputs, "--jobs", "3", "--suffix", "-echo"});
    const ZocResult result = RunZoc(arguments);
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

// Settings files of a component this build does not have: info shows what the
// placeholder holds, and the same file loads as usual where the component
// exists (apply refuses them: see the settings tests).

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

using nlohmann::json;

constexpr const char* kForeignID = "{11111111-2222-3333-4444-555555555555}";

class MissingComponentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteAudio(in, DistinctSines(2, 4000, 48000), 48000);
        ASSERT_EQ(RunZoc({"apply", "Echo", "--preset", "1", "--set", "0=640", "--save-settings", echo}).exitCode, 0);
        saved = json::parse(FileContents(echo));
    }
    /// The saved Echo settings as if a component called Warp had written them.
    std::string Foreign(bool withDescriptions)
    {
        json foreign = saved;
        foreign["id"] = kForeignID;
        foreign["component"] = "Warp";
        if (!withDescriptions)
            foreign.erase("parameter_info");
        const std::string path = dir / (withDescriptions ? "warp.json" : "warp-bare.json");
        std::ofstream(path) << foreign.dump();
        return path;
    }

    ScratchDirectory dir;
    std::string in = dir / "in.wav";
    std::string out = dir / "out.wav";
    std::string echo = dir / "echo.json";
    json saved;
};

TEST_F(MissingComponentTest, InfoShowsSavedValuesAndUnits)
{
    ZocResult result = RunZoc({"info", "--load-settings", Foreign(true)});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Warp"), std::string::npos);
    EXPECT_NE(result.out.find("640 ms"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Delay Time (Left Channel)"), std::string::npos);

    result = RunZoc({"info", "--load-settings", Foreign(true), "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json info = json::parse(result.out);
    EXPECT_TRUE(info["missing"].get<bool>());
    ASSERT_EQ(info["parameters"].size(), saved["parameters"].size());
    const json& delay = info["parameters"][0];
    EXPECT_EQ(delay["unit"], "time");
    EXPECT_EQ(delay["unit_label"], "ms");
    EXPECT_FLOAT_EQ(delay["value"].get<float>(), 640.0f);
    EXPECT_FLOAT_EQ(delay["normalized"].get<float>(), saved["parameters"][0].get<float>());
    EXPECT_TRUE(delay["automatable"].get<bool>());

    // Files without descriptions still show every normalized value.
    result = RunZoc({"info", "--load-settings", Foreign(false), "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json bare = json::parse(result.out);
    EXPECT_EQ(bare["parameters"][0]["value"], nullptr);
    EXPECT_EQ(bare["parameters"][0]["key"], "param_0");
    EXPECT_FLOAT_EQ(bare["parameters"][3]["normalized"].get<float>(), saved["parameters"][3].get<float>());
}

TEST_F(MissingComponentTest, ABuildWithTheComponentRecreatesItFromTheFile)
{
    const AudioData named = RunZocAndRead({"apply", "Echo", "--load-settings", echo, in, out}, out);
    const std::string unnamedOut = dir / "unnamed.wav";
    const AudioData unnamed = RunZocAndRead({"apply", "--load-settings", echo, in, unnamedOut}, unnamedOut);
    const std::string presetOut = dir / "preset.wav";
    const AudioData direct =
        RunZocAndRead({"apply", "Echo", "--preset", "1", "--set", "0=640", in, presetOut}, presetOut);
    EXPECT_EQ(unnamed.samples, direct.samples);
    EXPECT_EQ(named.samples, direct.samples);

    const ZocResult info = RunZoc({"info", "--load-settings", echo, "--json"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_FLOAT_EQ(json::parse(info.out)["parameters"][0]["value"].get<float>(), 640.0f);
}

} // namespace
} // namespace zoc::test

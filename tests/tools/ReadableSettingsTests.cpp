// Settings files people read and write: saved files show each parameter's
// key, name and real value; hand-written files give real values by key.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

constexpr int kRate = 48000;

class ReadableSettingsTest : public ::testing::Test {
protected:
    ReadableSettingsTest()
    {
        WriteAudio(stereo, DistinctSines(2, 4800, kRate), kRate);
        WriteAudio(surround, DistinctSines(6, 4800, kRate), kRate);
    }
    void WriteText(const std::string& path, const std::string& text) const { std::ofstream(path) << text; }
    nlohmann::json Saved() const { return nlohmann::json::parse(FileContents(saved)); }

    ScratchDirectory dir;
    std::string stereo = dir / "stereo.wav";
    std::string surround = dir / "surround.wav";
    std::string out = dir / "out.wav";
    std::string hand = dir / "hand.json";
    std::string saved = dir / "saved.json";
};

TEST_F(ReadableSettingsTest, SavedFilesDescribeEachParameter)
{
    const ZocResult result =
        RunZoc({"apply", "Echo", stereo, out, "--set", "delay_time=90ms", "--save-settings", saved});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const nlohmann::json info = Saved()["parameter_info"];
    EXPECT_EQ(info[1]["index"], 1);
    EXPECT_EQ(info[1]["key"], "delay_time_right_channel");
    EXPECT_EQ(info[1]["name"], "Delay Time (Right Channel)");
    EXPECT_EQ(info[1]["unit_label"], "ms");
    EXPECT_NEAR(info[1]["value"].get<double>(), 90.0, 1e-3);
    // Loading the saved file reproduces the normalized values exactly.
    const std::string again = dir / "again.json";
    ASSERT_EQ(RunZoc({"apply", "Echo", "--load-settings", saved, "--save-settings", again}).exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(FileContents(again))["parameters"], Saved()["parameters"]);
}

TEST_F(ReadableSettingsTest, HandWrittenValuesSetOnlyWhatTheyName)
{
    const struct {
        std::string text;
        bool surroundFile;
        std::vector<std::pair<int, double>> values; // index, real value
    } cases[] = {
        {R"({"component": "Echo", "values": {"delay_time": "90ms", "feedback": 30, "echo_bounce": true}})",
         false,
         {{0, 90.0}, {1, 90.0}, {2, 30.0}, {3, 30.0}, {4, 85.0}, {15, 1.0}}},
        // A channel's own key wins over the all-channel key whatever their order.
        {R"({"values": {"center": -12, "gain": "-6dB"}})", true, {{2, -6.0}, {3, -6.0}, {4, -12.0}, {7, -6.0}}},
        {R"({"component": "amplify", "values": {}})", false, {{2, 0.0}, {3, 0.0}}},
    };
    for (const auto& c : cases) {
        WriteText(hand, c.text);
        const std::string component = c.text.find("Echo") != std::string::npos ? "Echo" : "Amplify";
        const ZocResult result = RunZoc({"apply", component, c.surroundFile ? surround : stereo, out,
                                         "--load-settings", hand, "--save-settings", saved});
        ASSERT_EQ(result.exitCode, 0) << c.text << "\n" << result.err;
        const nlohmann::json info = Saved()["parameter_info"];
        for (const auto& [index, value] : c.values)
            EXPECT_NEAR(info[index]["value"].get<double>(), value, 1e-3) << c.text << " index " << index;
    }
    // A file naming its component needs no NAME on the command line.
    WriteText(hand, R"({"component": "Amplify", "values": {"gain": "-6dB"}})");
    const ZocResult result = RunZoc({"apply", "--load-settings", hand, stereo, out});
    EXPECT_EQ(result.exitCode, 0) << result.err;
}

} // namespace
} // namespace zoc::test

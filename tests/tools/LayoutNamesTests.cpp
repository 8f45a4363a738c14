// One zoc command line for mono and stereo files: names that work on every
// layout, values with units, and what zoc info shows about both.

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

constexpr int kRate = 44100;
constexpr std::size_t kFrames = 4800;

class LayoutNamesTest : public ::testing::Test {
protected:
    LayoutNamesTest()
    {
        WriteAudio(mono, DistinctSines(1, kFrames, kRate), kRate);
        WriteAudio(stereo, DistinctSines(2, kFrames, kRate), kRate);
        WriteAudio(surround, DistinctSines(8, kFrames, kRate), kRate);
    }
    ScratchDirectory dir;
    std::string mono = dir / "mono.wav";
    std::string stereo = dir / "stereo.wav";
    std::string surround = dir / "surround.wav";
    std::string out = dir / "out.wav";
};

/// The gain in dB between a channel of the input and of the output.
double GainDb(const AudioData& input, const AudioData& output, std::size_t channel)
{
    double in = 0.0;
    double outEnergy = 0.0;
    for (std::size_t i = 0; i < input.samples[channel].size(); ++i) {
        in += static_cast<double>(input.samples[channel][i]) * input.samples[channel][i];
        outEnergy += static_cast<double>(output.samples[channel][i]) * output.samples[channel][i];
    }
    return 10.0 * std::log10(outEnergy / in);
}

TEST_F(LayoutNamesTest, OneCommandLineServesEveryLayout)
{
    // Gains in dB on each channel of the mono, stereo and 7.1 files; no
    // gains: the names do not fit that layout.
    const struct {
        std::vector<std::string> settings;
        std::vector<double> mono, stereo, surround;
    } cases[] = {
        {{"--set", "gain=-6dB"}, {-6}, {-6, -6}, {-6, -6, -6, -6, -6, -6, -6, -6}},
        {{"--preset", "-6dB Cut"}, {-6}, {-6, -6}, {-6, -6, -6, -6, -6, -6, -6, -6}},
        // A channel's own name overrides the all-channel one, in either order.
        {{"--set", "gain=-6dB", "--set", "right=-12dB"}, {}, {-6, -12}, {-6, -12, -6, -6, -6, -6, -6, -6}},
        {{"--set", "right=-12dB", "--set", "gain=-6"}, {}, {-6, -12}, {-6, -12, -6, -6, -6, -6, -6, -6}},
        {{"--set", "left_surround=-40"}, {}, {}, {0, 0, 0, 0, -40, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        std::string label;
        for (const std::string& word : c.settings)
            label += word + " ";
        const struct {
            const std::string& file;
            const std::vector<double>& gains;
        } layouts[] = {{mono, c.mono}, {stereo, c.stereo}, {surround, c.surround}};
        for (const auto& layout : layouts) {
            if (layout.gains.empty())
                continue;
            const AudioData input = ReadAudio(layout.file);
            const AudioData output = RunZocAndRead(Words({{"apply", "Amplify", layout.file, out}, c.settings}), out);
            EXPECT_EQ(output.sampleRate, kRate);
            ASSERT_EQ(output.samples.size(), layout.gains.size()) << label;
            for (std::size_t channel = 0; channel < layout.gains.size(); ++channel)
                EXPECT_NEAR(GainDb(input, output, channel), layout.gains[channel], 0.01)
                    << label << layout.file << " channel " << channel;
        }
    }
}
TEST_F(LayoutNamesTest, InfoNamesItsLayoutAndBothForms)
{
    const struct {
        std::string channels;
        std::string configured;
        std::vector<std::string> mentions;
        std::vector<std::string> keys; ///< of the gains
    } cases[] = {
        {"1", "Configured for 1 channel", {"gain "}, {"gain"}},
        {"2", "Configured for 2 channels", {"left ", "Names for every channel", "gain", "left, right"}, {"left", "right"}},
        {"6", "Configured for 6 channels", {"left_surround", "left, right, center, low_frequency_effects"},
         {"left", "right", "center", "low_frequency_effects", "left_surround", "right_surround"}},
    };
    for (const auto& c : cases) {
        const ZocResult result = RunZoc({"info", "Amplify", "--channels", c.channels});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.out.find(c.configured), std::string::npos) << result.out;
        for (const std::string& mention : c.mentions)
            EXPECT_NE(result.out.find(mention), std::string::npos) << mention << "\n" << result.out;
        EXPECT_EQ(result.out.find("Names for every channel") == std::string::npos, c.channels == "1");

        const ZocResult json = RunZoc({"info", "AMPLIFY", "--json", "--channels", c.channels, "--rate", "44100"});
        ASSERT_EQ(json.exitCode, 0) << json.err;
        const nlohmann::json info = nlohmann::json::parse(json.out);
        EXPECT_EQ(info["class"], "Amplify");
        EXPECT_EQ(info["parameter_count"], 34);
        EXPECT_EQ(info["channels"], std::stoi(c.channels));
        EXPECT_EQ(info["all_channel_names"].size(), c.channels == "1" ? 0u : 1u);
        EXPECT_EQ(info["presets"][4], "+6dB Boost");
        // Channel count, link and a gain per channel: only described parameters are listed.
        const nlohmann::json& parameters = info["parameters"];
        ASSERT_EQ(parameters.size(), 2u + std::stoul(c.channels));
        const nlohmann::json& first = parameters[2];
        EXPECT_EQ(first["index"], 2);
        EXPECT_EQ(first["name"], c.channels == "1" ? "Gain" : "Left");
        const double span = first["max"].get<double>() - first["min"].get<double>();
        EXPECT_NEAR(first["normalized"].get<double>(), (first["value"].get<double>() - first["min"].get<double>()) / span,
                    1e-5);
        EXPECT_TRUE(first.contains("text") && first.contains("exposed") && first.contains("automatable"));
        for (std::size_t k = 0; k < c.keys.size(); ++k)
            EXPECT_EQ(parameters[2 + k]["key"], c.keys[k]) << c.channels;
    }
    const nlohmann::json echo = nlohmann::json::parse(RunZoc({"info", "Echo", "--channels", "2", "--json"}).out);
    std::vector<std::string> keys;
    for (const nlohmann::json& alias : echo["all_channel_names"])
        keys.push_back(alias["key"]);
    EXPECT_EQ(keys, (std::vector<std::string>{"delay_time", "feedback", "echo_level"}));
    EXPECT_EQ(echo["all_channel_names"][0]["indexes"], nlohmann::json::array({0, 1}));
}

} // namespace
} // namespace zoc::test

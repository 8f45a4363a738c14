// Settings files: round trips through save and load, real values by key,
// every custom property type, the refusal of files that do not fit the
// component, and files of a component this build does not have.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <tuple>
#include <nlohmann/json.hpp>

#include "contracts/host/PresetData.h"
#include "platform/core/PropList.h"
#include "tests/tools/ZocTestSupport.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Errors.h"
#include "tools/zoc/SettingsFile.h"

namespace zoc::test {
namespace {

using nlohmann::json;

constexpr const char* kForeignID = "{11111111-2222-3333-4444-555555555555}";

class SettingsTest : public ZocFileTest {
protected:
    SettingsTest() : ZocFileTest(Frames(2, std::vector<float>(4800, 0.5f))) {}
    /// The settings a zoc apply without IN and OUT saves.
    json Saved(const std::vector<std::string>& arguments)
    {
        EXPECT_EQ(RunZoc(Words({arguments, {"--save-settings", settings}})).exitCode, 0);
        return json::parse(FileContents(settings));
    }

    std::string settings = dir / "settings.json";
};

TEST_F(SettingsTest, SavedSettingsReproduceTheGains)
{
    const json saved = Saved({"apply", "Amplify", "--set", "Left=-12", "--set", "Right=3.5"});
    EXPECT_EQ(saved["format"], "zoc-settings");
    EXPECT_EQ(saved["component"], "Amplify");
    EXPECT_EQ(saved["parameters"].size(), 34u);

    const AudioData output = RunZocAndRead({"apply", "Amplify", "--load-settings", settings, in, out}, out);
    EXPECT_NEAR(output.samples[0][100], 0.5 * std::pow(10.0, -12.0 / 20.0), 1e-6);
    EXPECT_NEAR(output.samples[1][100], 0.5 * std::pow(10.0, 3.5 / 20.0), 1e-6);

    // Saving while applying writes the same settings as saving alone.
    const std::string again = dir / "again.json";
    ASSERT_EQ(RunZoc({"apply", "Amplify", "--load-settings", settings, "--save-settings", again, in, out}).exitCode, 0);
    EXPECT_EQ(json::parse(FileContents(again))["parameters"], saved["parameters"]);
}

TEST_F(SettingsTest, SavedFilesShowTheRealValueOfEveryParameterSet)
{
    const std::string six = dir / "six.wav";
    const std::string hand = dir / "hand.json";
    WriteAudio(six, Frames(6, std::vector<float>(4800, 0.5f)), 48000);
    const struct {
        std::string component;
        bool sixChannels;
        std::string handWritten; ///< loaded first unless empty
        std::vector<std::string> options;
        std::vector<std::pair<int, double>> values; ///< index, real value
    } cases[] = {
        {"Delay", false, "", {"--set", "delay_time=0.05s", "--set", "right_channel_delay_time=-20ms"}, {{0, 50.0}, {3, -20.0}}},
        {"Delay", false, "", {"--at", "0.01:mix=10%", "--set", "mix=40%"}, {{2, 40.0}, {5, 40.0}}},
        {"Echo", false, R"({"component": "Echo", "values": {"delay_time": "90ms", "feedback": 30, "echo_bounce": true}})", {},
         {{0, 90.0}, {1, 90.0}, {2, 30.0}, {3, 30.0}, {4, 85.0}, {15, 1.0}}},
        // A channel's own key wins over the all-channel key whatever their order.
        {"Amplify", true, R"({"values": {"center": -12, "gain": "-6dB"}})", {}, {{2, -6.0}, {3, -6.0}, {4, -12.0}, {7, -6.0}}},
        {"Amplify", false, R"({"component": "amplify", "values": {}})", {}, {{2, 0.0}, {3, 0.0}}},
        {"Echo", false, "", {"--set", "delay_time=90ms", "--set", "feedback=20%"}, {{0, 90.0}, {1, 90.0}, {2, 20.0}, {3, 20.0}}},
    };
    for (const auto& c : cases) {
        std::ofstream(hand) << c.handWritten;
        const ZocResult result = RunZoc(Words({{"apply", c.component, c.sixChannels ? six : in, out}, c.options,
                                               c.handWritten.empty() ? std::vector<std::string>{}
                                                                     : std::vector<std::string>{"--load-settings", hand},
                                               {"--save-settings", settings}}));
        ASSERT_EQ(result.exitCode, 0) << c.component << " " << c.handWritten << "\n" << result.err;
        const json info = json::parse(FileContents(settings))["parameter_info"];
        for (const auto& [index, value] : c.values)
            EXPECT_NEAR(info[index]["value"].get<double>(), value, 1e-3) << c.component << " " << index;
    }
    // Each entry says which parameter it is.
    const json info = json::parse(FileContents(settings))["parameter_info"];
    EXPECT_EQ(info[1]["index"], 1);
    EXPECT_EQ(info[1]["key"], "delay_time_right_channel");
    EXPECT_EQ(info[1]["name"], "Delay Time (Right Channel)");
    EXPECT_EQ(info[1]["unit_label"], "ms");
}

TEST_F(SettingsTest, FilesThatDoNotFitAreRefusedWithTheReason)
{
    const json amplify = Saved({"apply", "Amplify"});
    const json echo = Saved({"apply", "Echo"});
    const json envelope = Saved({"apply", "Gain Envelope", "--keyframes", "0:1,1:0.5"});
    auto variant = [](json copy, auto change) {
        change(copy);
        return copy.dump();
    };
    const auto keyframe = [](json position, json gain) {
        return [=](json& j) { j["custom"]["LogicalKeyframes"]["value"][1] = {position, gain}; };
    };
    const std::string zeroID = "{00000000-0000-0000-0000-000000000000}";
    const std::string overflow = "{\"component\": \"Echo\", \"x\": 1e400}";
    // NAME on the command line (none when empty), the file, what the message says.
    const std::vector<std::tuple<std::string, std::string, std::vector<std::string>>> cases = {
        {"Amplify", "{\"format\": \"zoc-settings\", ", {"not valid JSON"}},
        {"Amplify", "[1, 2, 3]", {"expected a JSON object"}},
        {"Amplify", variant(amplify, [](json& j) { j["parameters"].erase(0); }), {"has 33 values but Amplify has 34"}},
        {"Amplify", variant(amplify, [](json& j) { j["parameters"][3] = "loud"; }), {"parameters[3]: expected a number"}},
        {"Amplify", variant(amplify, [](json& j) { j["parameters"][2] = 1.5; }), {"outside 0..1"}},
        {"Amplify", variant(amplify, [](json& j) { j["parameters"] = 7; }), {"parameters"}},
        {"Amplify", variant(amplify, [](json& j) { j.erase("parameters"); }), {"parameters"}},
        {"Amplify", variant(amplify, [](json& j) { j["format"] = "other"; }), {"format"}},
        {"Amplify", variant(amplify, [](json& j) { j["version"] = "one"; }), {"version"}},
        {"Amplify", variant(amplify, [](json& j) { j["type"] = 3; }), {"type"}},
        {"Amplify", variant(amplify, [](json& j) { j["custom"] = {{"x", {{"type", "int"}, {"value", 1.5}}}}; }),
         {"custom.x"}},
        {"Amplify", variant(amplify, [](json& j) { j["custom"] = {{"x", {{"type", "colour"}, {"value", 1}}}}; }),
         {"colour"}},
        {"Amplify", variant(amplify, [](json& j) { j["chunk"] = "abc"; }), {"chunk"}},
        {"Amplify", variant(amplify, [](json& j) { j["chunk"] = "zz"; }), {"hexadecimal"}},
        // Hand-written values by key.
        {"Amplify", R"({"values": {"gian": 1}})", {"values.gian: unknown parameter 'gian'"}},
        {"Amplify", R"({"values": {"gain": "-6ms"}})", {"values.gain: 'Left' takes dB, not 'ms'"}},
        {"Amplify", R"({"values": {"gain": 100}})", {"values.gain: value 100 for 'Left' is outside -96..48 dB"}},
        {"Amplify", R"({"values": {"gain": [1]}})", {"values.gain: expected a number or text"}},
        {"Amplify", R"({"values": [1]})", {"values: expected an object of values by parameter key"}},
        {"Amplify", R"({"component": "Echo", "values": {}})", {"component: the settings are for 'Echo', not Amplify"}},
        // Custom data, versions and identities.
        {"Gain Envelope",
         variant(envelope, [](json& j) { j["custom"]["LogicalKeyframes"] = {{"type", "string"}, {"value", "0:1"}}; }),
         {"custom.LogicalKeyframes: expected type \"float_pairs\""}},
        {"Gain Envelope", variant(envelope, keyframe(-0.5f, 1.0f)), {"position -0.5 is outside 0..1"}},
        {"Gain Envelope", variant(envelope, keyframe(0.5f, -1.0f)), {"gain -1"}},
        {"Gain Envelope", variant(envelope, keyframe("nan", 1)), {"position nan"}},
        {"Gain Envelope", variant(envelope, keyframe(0.5, "inf")), {"gain inf"}},
        {"Gain Envelope", variant(envelope, [](json& j) {
             j["type"] = "factory";
             j["factory_name"] = "Fade Ot";
         }),
         {"has no preset 'Fade Ot'"}},
        {"Gain Envelope", variant(envelope, [](json& j) { j["version"] = 0.5; }), {"they are version 0.5"}},
        {"Echo", variant(echo, [](json& j) { j.erase("id"); }), {"id: missing"}},
        {"Echo", variant(echo, [](json& j) { j["version"] = 7; }), {"Echo refused them: they are version 7, newer"}},
        {"Echo", variant(echo, [&](json& j) { j["id"] = zeroID; }), {"the settings are for '" + zeroID + "', not Echo"}},
        // A number beyond any float is not JSON, also without NAME.
        {"", overflow, {"is not valid JSON"}},
        {"Echo", overflow, {"number overflow"}},
        // A component this build does not have.
        {"", variant(echo, [&](json& j) { j["id"] = kForeignID, j["component"] = "Warp"; }), {"Warp", kForeignID}},
        {"Echo", variant(echo, [&](json& j) { j["id"] = kForeignID, j["component"] = "Warp"; }), {"Warp", kForeignID}},
    };
    for (const auto& [component, text, mentions] : cases) {
        std::ofstream(settings) << text;
        std::vector<std::string> arguments{"apply", "--load-settings", settings, "IN", "OUT"};
        if (!component.empty())
            arguments.insert(arguments.begin() + 1, component);
        RunRefused(arguments, 2, mentions);
    }
}

TEST(SettingsJsonTest, EveryCustomValueTypeRoundTrips)
{
    auto nested = core::MakeRef<core::PropList>();
    nested->Set("depth", std::int64_t{2});
    auto custom = core::MakeRef<core::PropList>();
    custom->Set("float", 0.25f);
    custom->Set("nan", std::nanf(""));
    custom->Set("int", std::int64_t{-7});
    custom->Set("bool", true);
    custom->Set("string", core::UString(u"Gr\u00fc\u00dfe"));
    custom->Set("pairs", core::FloatPairList{{1.0f, 2.0f}, {-3.5f, HUGE_VALF}});
    custom->Set("list", nested);
    custom->Set("lists", core::PropListArray{nested, core::MakeRef<core::PropList>()});

    host::PresetData original;
    original.SetParamList({0.0f, 0.5f, 1.0f});
    original.SetVersion(2.0f);
    original.SetPresetType(host::PresetType::kChunk);
    original.SetFactoryPresetName(u"Mine");
    original.SetCustomDataSection(custom);
    const std::uint8_t bytes[] = {0x00, 0x7f, 0xff, 0x10};
    original.SetChunkData(bytes, sizeof bytes);

    const tool::Component component = tool::FindComponent("Amplify");
    const json text = json::parse(tool::SettingsToJson(original, component).dump());
    const host::PresetData loaded = tool::SettingsFromJson(text, component, 3);

    EXPECT_EQ(loaded.GetParamList(), original.GetParamList());
    EXPECT_EQ(loaded.GetVersion(), 2.0f);
    EXPECT_EQ(loaded.GetPresetType(), host::PresetType::kChunk);
    EXPECT_EQ(loaded.GetFactoryPresetName(), u"Mine");
    std::vector<std::uint8_t> chunk;
    ASSERT_TRUE(loaded.GetChunkData(chunk));
    EXPECT_EQ(chunk, std::vector<std::uint8_t>(std::begin(bytes), std::end(bytes)));
    ASSERT_TRUE(loaded.GetCustomDataSection());
    const core::PropList& back = *loaded.GetCustomDataSection();
    EXPECT_TRUE(std::isnan(*back.Get<float>("nan")));
    // NaN never equals itself, so compare the rest structurally.
    custom->Remove("nan");
    auto withoutNan = back.DeepCopy();
    withoutNan->Remove("nan");
    EXPECT_TRUE(withoutNan->Equals(*custom));
    EXPECT_TRUE(std::holds_alternative<std::int64_t>(*back.Find("int")));
    EXPECT_TRUE(std::holds_alternative<float>(*back.Find("float")));

    EXPECT_THROW(tool::SettingsFromJson(text, component, 4), tool::Failure);
}

/// Settings of a component this build does not have: info shows what the
/// placeholder holds; where the component exists the same file loads as usual.
class MissingComponentTest : public ZocFileTest {
protected:
    void SetUp() override
    {
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

// Settings files: round trips through save and load, every custom property
// type, and the refusal of files that do not fit the component.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
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

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { WriteAudio(in, Frames(2, std::vector<float>(256, 0.5f)), 48000); }
    void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

    ScratchDirectory dir;
    std::string in = dir / "in.wav";
    std::string out = dir / "out.wav";
    std::string settings = dir / "settings.json";
};

TEST_F(SettingsTest, SavedSettingsReproduceTheGains)
{
    ASSERT_EQ(RunZoc({"apply", "Amplify", "--set", "Left=-12", "--set", "Right=3.5", "--save-settings", settings}).exitCode,
              0);
    const json saved = json::parse(FileContents(settings));
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

TEST_F(SettingsTest, InvalidFilesAreRefusedWithoutOutput)
{
    json valid = json::parse(
        (RunZoc({"apply", "Amplify", "--save-settings", settings}), FileContents(settings)));
    auto variant = [&](auto change) {
        json copy = valid;
        change(copy);
        return copy.dump();
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"{\"format\": \"zoc-settings\", ", "not valid JSON"},
        {"[1, 2, 3]", "expected a JSON object"},
        {variant([](json& j) { j["parameters"].erase(0); }), "has 33 values but Amplify has 34"},
        {variant([](json& j) { j["parameters"][3] = "loud"; }), "parameters[3]: expected a number"},
        {variant([](json& j) { j["parameters"][2] = 1.5; }), "outside 0..1"},
        {variant([](json& j) { j["parameters"] = 7; }), "parameters"},
        {variant([](json& j) { j.erase("parameters"); }), "parameters"},
        {variant([](json& j) { j["format"] = "other"; }), "format"},
        {variant([](json& j) { j["version"] = "one"; }), "version"},
        {variant([](json& j) { j["type"] = 3; }), "type"},
        {variant([](json& j) { j["id"] = "{00000000-0000-0000-0000-000000000000}"; }), "not Amplify"},
        {variant([](json& j) { j["custom"] = {{"x", {{"type", "int"}, {"value", 1.5}}}}; }), "custom.x"},
        {variant([](json& j) { j["custom"] = {{"x", {{"type", "colour"}, {"value", 1}}}}; }), "colour"},
        {variant([](json& j) { j["chunk"] = "abc"; }), "chunk"},
        {variant([](json& j) { j["chunk"] = "zz"; }), "hexadecimal"},
    };
    for (const auto& [text, mention] : cases) {
        WriteText(settings, text);
        const ZocResult result = RunZoc({"apply", "Amplify", "--load-settings", settings, in, out});
        EXPECT_EQ(result.exitCode, 2) << text;
        EXPECT_EQ(result.ErrorLines(), 1u) << result.err;
        EXPECT_NE(result.err.find(mention), std::string::npos) << result.err;
        EXPECT_FALSE(std::filesystem::exists(out)) << text;
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

} // namespace
} // namespace zoc::test

// What zoc does to the files around a job: paths that name one file twice,
// outputs that cannot be written, permissions, long names and sizes, and
// settings that must load back exactly as they were saved.

#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/tools/ZocTestSupport.h"
#include "tools/zoc/AudioFile.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Errors.h"

namespace zoc::test {
namespace {

using nlohmann::json;

class FileSafetyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteAudio(in, DistinctSines(2, 4800, 48000), 48000);
        WriteAudio(out, Frames(1, std::vector<float>(7, 0.75f)), 8000);
    }

    /// Runs a job that must fail before touching anything: IN and the
    /// earlier OUT keep their bytes and no temporary file remains.
    ZocResult RunRefused(const std::vector<std::string>& arguments, int exitCode, const std::string& mention)
    {
        const std::string inBefore = FileContents(in);
        const std::string outBefore = FileContents(out);
        const ZocResult result = RunZoc(arguments);
        std::string label;
        for (const std::string& argument : arguments)
            label += argument + " ";
        EXPECT_EQ(result.exitCode, exitCode) << label << "\n" << result.err;
        EXPECT_EQ(result.ErrorLines(), 1u) << label << "\n" << result.err;
        EXPECT_NE(result.err.find(mention), std::string::npos) << label << "\n" << result.err;
        EXPECT_EQ(FileContents(in), inBefore) << label;
        EXPECT_EQ(FileContents(out), outBefore) << label;
        EXPECT_TRUE(Temporaries(dir.Path()).empty()) << label;
        return result;
    }

    ScratchDirectory dir;
    std::string in = dir / "in.wav";
    std::string out = dir / "out.wav";
};

TEST_F(FileSafetyTest, OneFileNamedTwiceIsRefused)
{
    std::filesystem::create_symlink("in.wav", dir / "alias.wav");
    const std::string side = dir / "side.wav";
    WriteAudio(side, DistinctSines(2, 4800, 48000), 48000);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"apply", "Amplify", "--save-settings", in, in, out}, "IN and --save-settings"},
        {{"apply", "Amplify", "--report", out, in, out}, "OUT and --report"},
        {{"apply", "Amplify", "--report", dir / "alias.wav", in, out}, "IN and --report"},
        {{"apply", "Amplify", in, dir / "alias.wav"}, "IN and OUT"},
        {{"apply", "Amplify", in, dir / "./in.wav"}, "IN and OUT"},
        {{"apply", "Amplify", "--load-settings", out, in, out}, "OUT and --load-settings"},
        {{"apply", "Dynamics", "--sidechain", out, in, out}, "OUT and --sidechain"},
        {{"apply", "Amplify", "--save-settings", dir / "x.json", "--report", dir / "x.json", in, out},
         "--save-settings and --report"},
    };
    for (const auto& [arguments, mention] : cases)
        RunRefused(arguments, 2, mention);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.json"));
    // Reading one file twice is fine, and so is saving settings where they came from.
    EXPECT_EQ(RunZoc({"apply", "Dynamics", "--sidechain", in, in, out}).exitCode, 0);
    const std::string settings = dir / "s.json";
    ASSERT_EQ(RunZoc({"apply", "Amplify", "--save-settings", settings}).exitCode, 0);
    EXPECT_EQ(RunZoc({"apply", "Amplify", "--load-settings", settings, "--set", "Left=-6", "--save-settings", settings})
                  .exitCode,
              0);
    EXPECT_EQ(RunZoc({"apply", "Amplify", "--load-settings", settings, "--save-settings", settings, in, out}).exitCode,
              0);
}

TEST_F(FileSafetyTest, OutputsThatCannotBeWrittenFailBeforeProcessing)
{
    std::filesystem::create_directory(dir / "folder.json");
    std::ofstream(dir / "locked.json") << "{}";
    std::filesystem::permissions(dir / "locked.json", std::filesystem::perms::owner_read);
    RunRefused({"apply", "Amplify", "--report", dir / "missing/r.json", in, out}, 1, "r.json");
    RunRefused({"apply", "Amplify", "--report", dir / "folder.json", in, out}, 1, "directory");
    RunRefused({"apply", "Amplify", "--save-settings", dir / "folder.json", in, out}, 1, "directory");
    RunRefused({"apply", "Amplify", "--report", dir / "locked.json", in, out}, 1, "write-protected");
    EXPECT_EQ(FileContents(dir / "locked.json"), "{}");
    // Nothing of a refused job is written, not even the settings.
    RunRefused({"apply", "Amplify", "--save-settings", dir / "s.json", "--report", dir / "folder.json", in, out}, 1,
               "directory");
    EXPECT_FALSE(std::filesystem::exists(dir / "s.json"));
}

TEST_F(FileSafetyTest, ReplacedFilesKeepTheirPermissionsAndLinks)
{
    using std::filesystem::perms;
    for (const perms mode : {perms::owner_read | perms::owner_write,
                             perms::owner_read | perms::owner_write | perms::group_read | perms::others_read,
                             perms::owner_read | perms::owner_write | perms::group_write}) {
        std::filesystem::permissions(out, mode);
        ASSERT_EQ(RunZoc({"apply", "Amplify", in, out}).exitCode, 0);
        EXPECT_EQ(std::filesystem::status(out).permissions(), mode);
        EXPECT_EQ(ReadAudio(out).Length(), 4800u);
    }
    // Write-protected: refused, also for root.
    std::filesystem::permissions(out, perms::owner_read | perms::group_read | perms::others_read);
    RunRefused({"apply", "Amplify", in, out}, 1, "write-protected");

    // A link is written through: its target is replaced, the link stays.
    std::filesystem::permissions(out, perms::owner_read | perms::owner_write);
    std::filesystem::create_symlink("out.wav", dir / "link.wav");
    ASSERT_EQ(RunZoc({"apply", "Amplify", "--set", "Left=-6", in, dir / "link.wav"}).exitCode, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.wav"));
    EXPECT_NEAR(ReadAudio(out).samples[0][100], 0.5 * ReadAudio(in).samples[0][100], 1e-3);
}

TEST_F(FileSafetyTest, NamesUpToTheLimitAreWritten)
{
    for (const std::size_t length : {200u, 244u, 255u}) {
        const std::string name = std::string(length - 4, 'n') + ".wav";
        ASSERT_EQ(RunZoc({"apply", "Amplify", in, dir / name}).exitCode, 0) << length;
        EXPECT_TRUE(std::filesystem::exists(dir / name));
    }
    // Shortened names keep whole UTF-8 characters and stay recognisable.
    const std::string umlauts = [] {
        std::string text;
        for (int i = 0; i < 127; ++i)
            text += "\xc3\xbc";
        return text + ".wav";
    }();
    const std::string temporary = tool::TemporaryName(umlauts, 255);
    EXPECT_LE(temporary.size(), 255u);
    EXPECT_TRUE(temporary.starts_with(".\xc3\xbc"));
    EXPECT_NE(temporary.find(".zoc-" + std::to_string(::getpid()) + "-"), std::string::npos);
    const std::size_t nameEnd = temporary.find(".zoc-");
    EXPECT_EQ(nameEnd % 2, 1u) << "a character was split";
}

TEST(OutputSizeTest, LongOutputGetsAContainerThatHoldsIt)
{
    const tool::OutputFormat wav = tool::ChooseOutputFormat("a.wav", "");
    const tool::OutputFormat aiff = tool::ChooseOutputFormat("a.aiff", "16");
    const tool::OutputFormat flac = tool::ChooseOutputFormat("a.flac", "");
    const double hour = 3600.0 * 48000.0;
    const auto container = [](const tool::OutputFormat& format) { return format.format & SF_FORMAT_TYPEMASK; };
    EXPECT_EQ(container(tool::FitFormatToSize(wav, hour, 2)), SF_FORMAT_WAV);
    // 3.2 h of stereo float is past 4 GiB; a stream may be too.
    EXPECT_EQ(container(tool::FitFormatToSize(wav, 3.2 * hour, 2)), SF_FORMAT_RF64);
    EXPECT_EQ(container(tool::FitFormatToSize(wav, std::nullopt, 1)), SF_FORMAT_RF64);
    EXPECT_EQ(tool::FitFormatToSize(wav, std::nullopt, 1).format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    EXPECT_EQ(container(tool::FitFormatToSize(aiff, 6.0 * hour, 2)), SF_FORMAT_AIFF);
    EXPECT_THROW(tool::FitFormatToSize(aiff, 7.0 * hour, 2), zoc::Error);
    EXPECT_EQ(container(tool::FitFormatToSize(flac, 100.0 * hour, 8)), SF_FORMAT_FLAC);
}

TEST_F(FileSafetyTest, LimitsAreUsageErrorsBeforeProcessing)
{
    WriteAudio(dir / "fast.wav", Frames(1, std::vector<float>(64, 0.1f)), 800000);
    WriteAudio(dir / "hifi.wav", Frames(1, std::vector<float>(64, 0.1f)), 705600);
    const std::string longWord(5000, 'x');
    const std::vector<std::tuple<std::vector<std::string>, std::string>> cases = {
        {{"apply", "Amplify", dir / "fast.wav", out}, "1 Hz to 768 kHz"},
        {{"apply", "Amplify", dir / "hifi.wav", dir / "hifi.ogg"}, "705600 Hz"},
        {{"apply", "Amplify", dir / "hifi.wav", dir / "hifi.flac"}, "705600 Hz"},
        {{"apply", "Amplify", "--at", "0.2:Left=-3", in, out}, "past the end"},
        {{"apply", "Amplify", "--at", "1e300:Left=-3", in, out}, "past the end"},
        {{"apply", "Amplify", "--load-settings", "", in, out}, "--load-settings needs a file name"},
        {{"apply", "Amplify", "--save-settings=", in, out}, "--save-settings needs a file name"},
        {{"apply", "Amplify", "--report", "", in, out}, "--report needs a file name"},
    };
    for (const auto& [arguments, mention] : cases)
        RunRefused(arguments, 2, mention);
    EXPECT_FALSE(std::filesystem::exists(dir / "hifi.ogg"));
    // Within the tail is still within the output.
    EXPECT_EQ(RunZoc({"apply", "Amplify", "--tail", "0.2", "--at", "0.2:Left=-3", in, out}).exitCode, 0);

    const ZocResult console = RunZoc({"console", longWord});
    EXPECT_EQ(console.exitCode, 2);
    EXPECT_LT(console.err.size(), 400u) << "a long argument is not echoed whole";
}

TEST_F(FileSafetyTest, DemoMakesItsDirectoryButNoChainOfParents)
{
    const ZocResult result = RunZoc({"demo", "--quiet", dir / "a/b/c"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.ErrorLines(), 1u) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "a"));
}

TEST_F(FileSafetyTest, LooseSettingsAreRefusedWithTheReason)
{
    const std::string settings = dir / "s.json";
    ASSERT_EQ(RunZoc({"apply", "Gain Envelope", "--keyframes", "0:1,1:0.5", "--save-settings", settings}).exitCode, 0);
    const json envelope = json::parse(FileContents(settings));
    ASSERT_EQ(RunZoc({"apply", "Echo", "--save-settings", settings}).exitCode, 0);
    const json echo = json::parse(FileContents(settings));
    auto variant = [](json copy, auto change) {
        change(copy);
        return copy.dump();
    };
    const auto keyframe = [](float position, float gain) {
        return [=](json& j) {
            j["custom"]["LogicalKeyframes"]["value"][1] = {position, gain};
        };
    };
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"Gain Envelope",
         variant(envelope, [](json& j) { j["custom"]["LogicalKeyframes"] = {{"type", "string"}, {"value", "0:1"}}; }),
         "custom.LogicalKeyframes: expected type \"float_pairs\""},
        {"Gain Envelope", variant(envelope, keyframe(-0.5f, 1.0f)), "position -0.5 is outside 0..1"},
        {"Gain Envelope", variant(envelope, keyframe(0.5f, -1.0f)), "gain -1"},
        {"Gain Envelope", variant(envelope, [](json& j) { j["custom"]["LogicalKeyframes"]["value"][1] = {"nan", 1}; }),
         "position nan"},
        {"Gain Envelope",
         variant(envelope, [](json& j) { j["custom"]["LogicalKeyframes"]["value"][1] = {0.5, "inf"}; }),
         "gain inf"},
        {"Gain Envelope", variant(envelope, [](json& j) {
                         j["type"] = "factory";
                         j["factory_name"] = "Fade Ot";
                     }),
         "has no preset 'Fade Ot'"},
        {"Echo", variant(echo, [](json& j) { j.erase("id"); }), "id: missing"},
        {"Echo", variant(echo, [](json& j) { j["version"] = 7; }), "Echo refused them: they are version 7, newer"},
        {"Gain Envelope", variant(envelope, [](json& j) { j["version"] = 0.5; }), "they are version 0.5"},
    };
    for (const auto& [component, text, mention] : cases) {
        std::ofstream(settings) << text;
        RunRefused({"apply", component, "--load-settings", settings, in, out}, 2, mention);
    }
    // A file that is not JSON (here a number beyond any float) is reported as
    // such, also without NAME.
    std::ofstream(settings) << "{\"component\": \"Echo\", \"x\": 1e400}";
    RunRefused({"apply", "--load-settings", settings, in, out}, 2, "is not valid JSON");
    RunRefused({"apply", "Echo", "--load-settings", settings, in, out}, 2, "number overflow");
    std::ofstream(settings) << variant(echo, [](json& j) { j["id"] = "{00000000-0000-0000-0000-000000000000}"; });
    RunRefused({"apply", "Echo", "--load-settings", settings, in, out}, 2,
               "the settings are for '{00000000-0000-0000-0000-000000000000}', not Echo");
}

TEST(SettingsRoundTripTest, EveryPresetOfEveryComponentLoadsBackBitForBit)
{
    // Every component in the catalog, so new ones are covered as they come.
    ScratchDirectory dir;
    const std::string settings = dir / "preset.json";
    const std::string direct = dir / "direct.wav";
    const std::string loaded = dir / "loaded.wav";
    for (const std::size_t channels : {2u, 1u})
        WriteAudio(dir / (std::to_string(channels) + ".wav"), DistinctSines(channels, 2400, 48000, 0.7f), 48000);
    for (const tool::Component& component : tool::AllComponents()) {
        core::Ref<host::AudioFilter> filter = tool::CreateComponent(component);
        if (filter->IsOfflineProcess())
            continue;
        const std::string name = component.info.className;
        std::string in = dir / "2.wav";
        if (RunZoc({"apply", name, in, direct}).exitCode != 0)
            in = dir / "1.wav"; // a mono-only component
        for (int preset = 0; preset < std::max(1, filter->GetNumFactoryPresets()); ++preset) {
            std::vector<std::string> save{"apply", name, "--save-settings", settings, in, direct};
            if (filter->GetNumFactoryPresets() > 0)
                save.insert(save.begin() + 2, {"--preset", std::to_string(preset)});
            const ZocResult saved = RunZoc(save);
            ASSERT_EQ(saved.exitCode, 0) << name << " preset " << preset << ": " << saved.err;
            const ZocResult reloaded = RunZoc({"apply", name, "--load-settings", settings, in, loaded});
            ASSERT_EQ(reloaded.exitCode, 0) << name << " preset " << preset << ": " << reloaded.err;
            EXPECT_EQ(FileContents(loaded), FileContents(direct)) << name << " preset " << preset;
        }
    }
}

} // namespace
} // namespace zoc::test

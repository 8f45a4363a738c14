// What zoc does to the files around a job: paths that name one file twice,
// permissions, long names and sizes, and settings that must load back
// exactly as they were saved.

#include <gtest/gtest.h>

#include <sndfile.h>
#include <unistd.h>


#include "tests/tools/ZocTestSupport.h"
#include "tools/zoc/AudioFile.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Errors.h"

namespace zoc::test {
namespace {

class FileSafetyTest : public ZocFileTest {
protected:
    void SetUp() override { WriteAudio(out, Frames(1, std::vector<float>(7, 0.75f)), 8000); }
};

TEST_F(FileSafetyTest, OneFileNamedTwiceIsRefused)
{
    std::filesystem::create_symlink("in.wav", dir / "alias.wav");
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
        RunRefused(arguments, 2, {mention});
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
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.wav", "out.wav"}));
    // Write-protected: refused, also for root.
    std::filesystem::permissions(out, perms::owner_read | perms::group_read | perms::others_read);
    RunRefused({"apply", "Amplify", in, out}, 1, {"write-protected"});

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

TEST_F(FileSafetyTest, AtWithinTheTailAndLongConsoleWords)
{
    // Within the tail is still within the output.
    EXPECT_EQ(RunZoc({"apply", "Amplify", "--tail", "0.2", "--at", "0.2:Left=-3", in, out}).exitCode, 0);
    const ZocResult console = RunZoc({"console", std::string(5000, 'x')});
    EXPECT_EQ(console.exitCode, 2);
    EXPECT_LT(console.err.size(), 400u) << "a long argument is not echoed whole";
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

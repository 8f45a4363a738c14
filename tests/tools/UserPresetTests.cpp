// zoc's user presets: --save-preset writes them under the configuration
// directory, --preset and zoc info find them.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

/// Sets an environment variable (or removes it, for nullopt) for a test's
/// lifetime.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::optional<std::string>& value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        Set(value);
    }
    ~ScopedEnvironment() { Set(old_); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void Set(const std::optional<std::string>& value) { value ? ::setenv(name_, value->c_str(), 1) : ::unsetenv(name_); }
    const char* name_;
    std::optional<std::string> old_;
};

unsigned ModeOf(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

class UserPresetTest : public ::testing::Test {
protected:
    ScratchDirectory dir;
    ScopedEnvironment config{"XDG_CONFIG_HOME", dir / "config"};
    std::string presets = dir / "config/zoc/presets";
};

TEST_F(UserPresetTest, SavedPresetIsFoundByApplyAndListedByInfo)
{
    const ZocResult saved = RunZoc({"apply", "Amplify", "--set", "Left=-6", "--set", "Right=-12", "--save-preset",
                                    "Quiet Left", "--quiet"});
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    const std::string file = presets + "/Amplify/Quiet Left.json";
    EXPECT_EQ(nlohmann::json::parse(FileContents(file))["component"], "Amplify");
    for (const std::string& directory : {dir / "config", dir / "config/zoc", presets, presets + "/Amplify"})
        EXPECT_EQ(ModeOf(directory), 0700u) << directory;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"config"}); // nothing left beside it

    const ZocResult info = RunZoc({"info", "Amplify", "--preset", "quiet left", "--json"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    const nlohmann::json document = nlohmann::json::parse(info.out);
    EXPECT_NEAR(document["parameters"][2]["value"].get<double>(), -6.0, 1e-3);
    EXPECT_NEAR(document["parameters"][3]["value"].get<double>(), -12.0, 1e-3);
    EXPECT_EQ(document["user_presets"], nlohmann::json::array({"Quiet Left"}));
    EXPECT_NE(RunZoc({"info", "Amplify"}).out.find("Your presets"), std::string::npos);

    const std::string in = dir / "in.wav";
    const std::string out = dir / "out.wav";
    WriteAudio(in, Frames(2, std::vector<float>(480, 0.5f)), 48000);
    const AudioData quiet = RunZocAndRead({"apply", "Amplify", "--preset", "Quiet Left", in, out}, out);
    EXPECT_NEAR(quiet.samples[0][100], 0.5 * std::pow(10.0, -6.0 / 20.0), 1e-4);
    EXPECT_NEAR(quiet.samples[1][100], 0.5 * std::pow(10.0, -12.0 / 20.0), 1e-4);

    // Saving again over the same name replaces it; saving while applying works too.
    ASSERT_EQ(RunZoc({"apply", "Amplify", "--set", "Left=-3", "--save-preset", "Quiet Left", in, out}).exitCode, 0);
    const ZocResult again = RunZoc({"info", "Amplify", "--preset", "Quiet Left", "--json"});
    EXPECT_NEAR(nlohmann::json::parse(again.out)["parameters"][2]["value"].get<double>(), -3.0, 1e-3);
}

TEST_F(UserPresetTest, TheDirectoryFollowsXdgConfigHomeElseHome)
{
    struct Case {
        std::optional<std::string> xdg;
        std::string expected;
    };
    const ScopedEnvironment home("HOME", dir / "home");
    for (const Case& c : {Case{dir / "xdg", dir / "xdg/zoc/presets/Echo/P.json"},
                          Case{std::nullopt, dir / "home/.config/zoc/presets/Echo/P.json"},
                          Case{"relative/dir", dir / "home/.config/zoc/presets/Echo/P.json"}}) {
        const ScopedEnvironment xdg("XDG_CONFIG_HOME", c.xdg);
        const ZocResult result = RunZoc({"apply", "Echo", "--save-preset", "P"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, "saved preset 'P' to " + c.expected + "\n");
        EXPECT_EQ(ModeOf(c.expected) & 0400, 0400u) << c.expected;
    }
}

TEST_F(UserPresetTest, BadNamesAndUnknownPresetsAreUsageErrors)
{
    for (const char* name : {"", "../escape", ".hidden", "a/b", "tab\there"}) {
        const ZocResult result = RunZoc({"apply", "Amplify", "--save-preset", name});
        EXPECT_EQ(result.exitCode, 2) << name;
        EXPECT_EQ(result.ErrorLines(), 1u) << result.err;
    }
    EXPECT_TRUE(dir.Entries().empty());

    ASSERT_EQ(RunZoc({"apply", "Amplify", "--save-preset", "Mine"}).exitCode, 0);
    const ZocResult unknown = RunZoc({"info", "Amplify", "--preset", "Mnie"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.ErrorLines(), 1u) << unknown.err;
    EXPECT_NE(unknown.err.find("your presets: 'Mine'"), std::string::npos) << unknown.err;
    // Another component's presets are not this one's.
    EXPECT_EQ(RunZoc({"info", "Echo", "--preset", "Mine"}).exitCode, 2);
}

} // namespace
} // namespace zoc::test

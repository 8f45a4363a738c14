// zoc's failures: exit code, one line on stderr naming the cause, and never
// a partial output file.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

struct ErrorCase {
    std::vector<std::string> arguments; // "IN", "OUT" and "DIR/" are replaced
    int exitCode;
    std::vector<std::string> mentions;
};

class ErrorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteAudio(dir / "in.wav", DistinctSines(2, 4800, 48000), 48000);
        WriteAudio(dir / "forty.wav", Frames(40, std::vector<float>(16, 0.1f)), 48000);
    }

    std::vector<std::string> Expand(const std::vector<std::string>& arguments) const
    {
        std::vector<std::string> expanded;
        for (const std::string& argument : arguments) {
            if (argument == "IN")
                expanded.push_back(dir / "in.wav");
            else if (argument == "OUT")
                expanded.push_back(dir / "out.wav");
            else if (argument.starts_with("DIR/"))
                expanded.push_back(dir / argument.substr(4));
            else
                expanded.push_back(argument);
        }
        return expanded;
    }

    /// Runs every case with no output present and with an output present;
    /// the output must be absent, or unchanged, afterwards.
    void Check(const std::vector<ErrorCase>& cases)
    {
        const std::string out = dir / "out.wav";
        for (const ErrorCase& c : cases) {
            std::string label;
            for (const std::string& argument : c.arguments)
                label += argument + " ";
            for (const bool preexisting : {false, true}) {
                std::filesystem::remove(out);
                if (preexisting)
                    WriteAudio(out, Frames(1, std::vector<float>(7, 0.75f)), 8000);
                const std::string before = preexisting ? FileContents(out) : "";
                const ZocResult result = RunZoc(Expand(c.arguments));
                EXPECT_EQ(result.exitCode, c.exitCode) << label << "\n" << result.err;
                EXPECT_EQ(result.ErrorLines(), 1u) << label << "\n" << result.err;
                EXPECT_TRUE(result.err.starts_with("zoc: ")) << label << "\n" << result.err;
                for (const std::string& mention : c.mentions)
                    EXPECT_NE(result.err.find(mention), std::string::npos) << label << "\n" << result.err;
                if (preexisting)
                    EXPECT_EQ(FileContents(out), before) << label;
                else
                    EXPECT_FALSE(std::filesystem::exists(out)) << label;
                // No temporary file is left behind.
                for (const std::string& entry : dir.Entries())
                    EXPECT_EQ(entry.find(".zoc-"), std::string::npos) << label << ": " << entry;
            }
        }
    }

    ScratchDirectory dir;
};

TEST_F(ErrorTest, UsageErrorsNameTheCauseAndCloseMatches)
{
    Check({
        {{"aply"}, 2, {"unknown command 'aply'", "'apply'"}},
        {{"apply", "Amplfy", "IN", "OUT"}, 2, {"unknown component 'Amplfy'", "'Amplify'"}},
        {{"apply", "Amplify", "--gain", "3", "IN", "OUT"}, 2, {"unknown option '--gain'"}},
        {{"apply", "Amplify", "--set", "Lfet=3", "IN", "OUT"}, 2, {"unknown parameter 'Lfet'", "'Left'"}},
        {{"apply", "Amplify", "--set", "40=3", "IN", "OUT"}, 2, {"no parameter 40", "0..33"}},
        {{"apply", "Amplify", "--set", "Left=60", "IN", "OUT"}, 2, {"Amplify: value 60 for 'Left' is outside -96..48 dB"}},
        {{"apply", "Amplify", "--set", "Left=loud", "IN", "OUT"}, 2, {"'loud'", "not a number"}},
        {{"apply", "Amplify", "--set", "Left", "IN", "OUT"}, 2, {"PARAM=VALUE"}},
        {{"apply", "Amplify", "--set-normalized", "Left=1.5", "IN", "OUT"}, 2, {"outside 0..1"}},
        {{"apply", "Amplify", "--at", "0.1:Right=-200", "IN", "OUT"}, 2, {"outside -96..48 dB"}},
        {{"apply", "Amplify", "--at", "soon:Right=-2", "IN", "OUT"}, 2, {"'soon'", "not a number"}},
        {{"apply", "Amplify", "--preset", "+6 dB boost", "IN", "OUT"}, 2, {"unknown preset", "'+6dB Boost'"}},
        {{"apply", "Amplify", "--preset", "12", "IN", "OUT"}, 2, {"no preset 12", "0..8"}},
        {{"apply", "Amplify", "--block", "0", "IN", "OUT"}, 2, {"--block"}},
        {{"apply", "Amplify", "--block"}, 2, {"--block needs a value"}},
        {{"apply", "Amplify", "--bits", "8", "IN", "OUT"}, 2, {"--bits must be 16, 24 or 32f"}},
        {{"apply", "Amplify", "--raw", "--tail", "1", "IN", "OUT"}, 2, {"--raw"}},
        {{"apply", "Amplify", "IN"}, 2, {"output file"}},
        {{"apply", "Amplify", "DIR/forty.wav", "OUT"}, 2, {"does not take 40 channels"}},
        {{"info", "Amplify", "--channels", "40"}, 2, {"does not take 40 channels"}},
        {{"info", "Amplify", "--rate", "fast"}, 2, {"not a number"}},
        {{"info", "Nothing"}, 2, {"unknown component 'Nothing'"}},
        {{"console", "NoSuchCommand 1"}, 2, {"NoSuchCommand"}},
        {{"console", "SetTimeStretchPreviewQ", "13"}, 2, {"13"}},
        {{}, 2, {"no command"}},
    });
}

TEST_F(ErrorTest, OutputFormatsThatCannotBeWrittenAreUsageErrors)
{
    Check({
        {{"apply", "Amplify", "IN", "DIR/out.mp3"}, 2, {"out.mp3"}},
        {{"apply", "Amplify", "--bits", "32f", "IN", "DIR/out.flac"}, 2, {"FLAC", "32-bit float"}},
        {{"apply", "Amplify", "--bits", "16", "IN", "DIR/out.ogg"}, 2, {"--bits"}},
    });
    EXPECT_FALSE(std::filesystem::exists(dir / "out.flac"));
}

TEST_F(ErrorTest, FilesThatCannotBeReadOrWrittenAreIoErrors)
{
    std::filesystem::create_directory(dir / "folder");
    std::filesystem::create_directory(dir / "folder.wav");
    {
        std::ofstream garbage(dir / "garbage.wav");
        garbage << "this is not audio";
    }
    Check({
        {{"apply", "Amplify", "DIR/missing.wav", "OUT"}, 1, {"missing.wav", "No such file"}},
        {{"apply", "Amplify", "DIR/garbage.wav", "OUT"}, 1, {"garbage.wav"}},
        {{"apply", "Amplify", "DIR/folder", "OUT"}, 1, {"folder", "directory"}},
        {{"apply", "Amplify", "IN", "DIR/no/such/dir/out.wav"}, 1, {"cannot write", "out.wav"}},
        {{"apply", "Amplify", "IN", "DIR/folder.wav"}, 1, {"cannot write", "folder.wav"}},
        {{"apply", "Amplify", "--load-settings", "DIR/none.json", "IN", "OUT"}, 1, {"none.json"}},
    });
}

TEST_F(ErrorTest, UnwritableDirectoryLeavesNothing)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes everywhere";
    std::filesystem::create_directory(dir / "locked");
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    Check({{{"apply", "Amplify", "IN", "DIR/locked/out.wav"}, 1, {"Permission denied"}}});
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_all);
}

TEST(HelpTest, HelpIsUsageOnStdout)
{
    for (const std::string word : {"--help", "help", "-h"}) {
        const ZocResult result = RunZoc({word});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_NE(result.out.find("zoc apply NAME [options] IN OUT"), std::string::npos);
        EXPECT_NE(result.out.find("\"format\": \"zoc-settings\""), std::string::npos);
        EXPECT_TRUE(result.err.empty());
    }
    EXPECT_EQ(RunZoc({"apply", "--help"}).exitCode, 0);
}

} // namespace
} // namespace zoc::test

// zoc's failures: exit code 2 for a job that cannot work as asked, 1 for files
// that cannot be read or written; one line on stderr naming the cause, and
// never a partial output or any other file left behind.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

class ErrorTest : public ZocFileTest {
protected:
    void SetUp() override
    {
        WriteAudio(dir / "forty.wav", Frames(40, std::vector<float>(16, 0.1f)), 48000);
        WriteAudio(dir / "slow.wav", DistinctSines(1, 4410, 44100), 44100);
        std::filesystem::create_directory(dir / "other");
        WriteAudio(dir / "other/in.wav", DistinctSines(1, 700, 48000), 48000);
        std::filesystem::create_directory(dir / "folder");
        std::filesystem::create_directory(dir / "folder.wav");
        std::ofstream(dir / "garbage.wav") << "this is not audio";
        WriteAudio(dir / "fast.wav", Frames(1, std::vector<float>(64, 0.1f)), 800000);
        WriteAudio(dir / "hifi.wav", Frames(1, std::vector<float>(64, 0.1f)), 705600);
        std::filesystem::create_directory(dir / "folder.json");
        std::ofstream(dir / "locked.json") << "{}";
        std::filesystem::permissions(dir / "locked.json", std::filesystem::perms::owner_read);
    }
};

TEST_F(ErrorTest, UsageErrorsNameTheCauseAndCloseMatches)
{
    std::vector<Refusal> cases;
    for (const char* target : {"3", "0.5", "-101", "x", "dB", "-3 dB", "-3dBx"})
        cases.push_back({{"apply", "Amplify", "--normalize", target, "IN", "OUT"}, 2, {"--normalize"}});
    cases.insert(cases.end(), {
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
        // Units and names that work on every layout, misused.
        {{"apply", "Echo", "IN", "OUT", "--set", "delay_time=3dB"}, 2,
         {"zoc: Echo: 'Delay Time (Left Channel)' takes ms or s, not 'dB' (range 0..2000 ms)"}},
        {{"apply", "Amplify", "IN", "OUT", "--set", "gain=-6ms"}, 2,
         {"zoc: Amplify: 'Left' takes dB, not 'ms' (range -96..48 dB)"}},
        {{"apply", "Delay", "IN", "OUT", "--at", "0.01:mix=1k"}, 2,
         {"zoc: Delay: 'Left Channel Mix' takes %, not 'k' (range 0..100 %)"}},
        {{"apply", "Echo", "IN", "OUT", "--set", "delay_time=3s"}, 2,
         {"zoc: Echo: value 3s for 'Delay Time (Left Channel)' is outside 0..2000 ms"}},
        {{"apply", "Amplify", "IN", "OUT", "--set", "gian=-6dB"}, 2, {"zoc: Amplify: unknown parameter 'gian'"}},
        {{"apply", "Amplify", "--preset", "+6 dB boost", "IN", "OUT"}, 2, {"unknown preset", "'+6dB Boost'"}},
        {{"apply", "Amplify", "--preset", "12", "IN", "OUT"}, 2, {"no preset 12", "0..8"}},
        {{"apply", "Amplify", "--block", "0", "IN", "OUT"}, 2, {"--block"}},
        {{"apply", "Amplify", "--block"}, 2, {"--block needs a value"}},
        {{"apply", "Amplify", "--bits", "8", "IN", "OUT"}, 2, {"--bits must be 16, 24 or 32f"}},
        {{"apply", "Amplify", "--raw", "--tail", "1", "IN", "OUT"}, 2, {"--raw"}},
        {{"apply", "Amplify", "IN"}, 2, {"output file"}},
        {{"apply", "Amplify", "DIR/forty.wav", "OUT"}, 2, {"does not take 40 channels"}},
        {{"apply", "Amplify", "DIR/fast.wav", "OUT"}, 2, {"1 Hz to 768 kHz"}},
        {{"apply", "Amplify", "DIR/hifi.wav", "DIR/hifi.ogg"}, 2, {"705600 Hz"}},
        {{"apply", "Amplify", "DIR/hifi.wav", "DIR/hifi.flac"}, 2, {"705600 Hz"}},
        {{"apply", "Amplify", "--at", "0.2:Left=-3", "IN", "OUT"}, 2, {"past the end"}},
        {{"apply", "Amplify", "--at", "1e300:Left=-3", "IN", "OUT"}, 2, {"past the end"}},
        {{"apply", "Amplify", "--load-settings", "", "IN", "OUT"}, 2, {"--load-settings needs a file name"}},
        {{"apply", "Amplify", "--save-settings=", "IN", "OUT"}, 2, {"--save-settings needs a file name"}},
        {{"apply", "Amplify", "--report", "", "IN", "OUT"}, 2, {"--report needs a file name"}},
        {{"apply", "Amplify", "IN", "DIR/out.mp3"}, 2, {"out.mp3"}},
        {{"apply", "Amplify", "--bits", "32f", "IN", "DIR/out.flac"}, 2, {"FLAC", "32-bit float"}},
        {{"apply", "Amplify", "--bits", "16", "IN", "DIR/out.ogg"}, 2, {"--bits"}},
        {{"apply", "Dynamics", "--sidechain", "DIR/slow.wav", "IN", "OUT"}, 2, {"44100 Hz", "48000 Hz"}},
        {{"apply", "Amplify", "--sidechain", "IN", "IN", "OUT"}, 2, {"no side-chain"}},
        {{"apply", "Tones", "--at", "0.05:gain=-6", "IN", "OUT"}, 2, {"whole file"}},
        {{"generate", "Amplify", "DIR/a.wav"}, 2, {"not a generator"}},
        {{"generate", "Tones"}, 2, {"needs a generator and an output file"}},
        {{"generate", "Tones", "--duration", "0", "DIR/a.wav"}, 2, {"--duration"}},
        {{"generate", "Tones", "--channels", "33", "DIR/a.wav"}, 2, {"--channels"}},
        {{"generate", "Tones", "--preset", "Nope", "DIR/a.wav"}, 2, {"Nope"}},
        {{"generate", "Tones", "DIR/a.xyz"}, 2, {"xyz"}},
        {{"info", "Amplify", "--channels", "40"}, 2, {"does not take 40 channels"}},
        {{"info", "Amplify", "--rate", "fast"}, 2, {"not a number"}},
        {{"info", "Nothing"}, 2, {"unknown component 'Nothing'"}},
        {{"console", "NoSuchCommand 1"}, 2, {"NoSuchCommand"}},
        {{"console", "SetTimeStretchPreviewQ", "13"}, 2, {"13"}},
        {{}, 2, {"no command"}},
    });
    ExpectRefused(cases);
}

TEST_F(ErrorTest, MalformedBatchesChainsAndCurvesTouchNothing)
{
    ExpectRefused({
        // Batches: both inputs would be out/in.wav; in.wav over itself.
        {{"apply", "amplify", "IN", "DIR/other/in.wav", "-o", "DIR/out"}, 2, {"would both be written to"}},
        {{"apply", "amplify", "IN", "-o", "DIR/"}, 2, {"over itself"}},
        {{"apply", "amplify", "-o", "DIR/out"}, 2, {"needs input files"}},
        {{"apply", "amplify", "IN", "-o", "DIR/out", "--jobs", "0"}, 2, {"--jobs"}},
        {{"apply", "amplify", "--suffix", "x", "IN", "OUT"}, 2, {"--suffix"}},
        {{"apply", "amplify", "--report", "DIR/r.json", "IN", "-o", "DIR/out"}, 2, {"--report", "batch"}},
        // Chains.
        {{"apply", "amplify", "+", "IN", "OUT"}, 2, {"a chain ends with its last component"}},
        {{"apply", "amplify", "IN", "+", "echo", "OUT"}, 2, {"stage 1", "unexpected"}},
        {{"apply", "amplify", "+", "+", "echo", "IN", "OUT"}, 2, {"stage 2", "names no component"}},
        {{"apply", "tones", "+", "echo", "IN", "OUT"}, 2, {"cannot be a stage of a chain"}},
        {{"apply", "amplify", "--save-preset", "x", "+", "echo", "IN", "OUT"}, 2, {"--save-preset"}},
        {{"apply", "amplify", "--tail", "1", "+", "echo", "--raw", "IN", "OUT"}, 2, {"--raw"}},
        {{"apply", "dynamics", "--sidechain", "IN", "+", "dynamics", "--sidechain", "IN", "IN", "OUT"}, 2,
         {"stages 1 and 2"}},
        // Curves of components that draw none, and envelope options where they cannot apply.
        {{"curve", "Amplify"}, 2, {}},
        {{"curve", "Dynamics", "--set", "Number of X/Y Pairs=0"}, 2, {}},
        {{"curve", "Dynamics", "--points", "0"}, 2, {"--points"}},
        {{"curve", "Fade Envelope", "--keyframes", "0:0,2s:1"}, 2, {}},
        {{"curve", "Fade Envelope", "--keyframes", "0:0,40s:1", "--duration", "30"}, 2, {}},
        {{"curve", "Fade Envelope", "--keyframes", "0.5:0,0.2:1"}, 2, {"must increase"}},
        {{"curve", "Fade Envelope", "--duration", "0"}, 2, {"--duration"}},
        {{"curve", "Dynamics", "--keyframes", "0:1"}, 2, {"--keyframes"}},
        {{"curve", "Dynamics", "--duration", "3"}, 2, {"--duration"}},
        // Streams: --type is only for '-'.
        {{"apply", "amplify", "--type", "flac", "IN", "DIR/x.wav"}, 2, {"--type is for output to '-'"}},
        {{"apply", "amplify", "--type", "mp3", "IN", "-"}, 2, {"--type must be"}},
    });
}

TEST_F(ErrorTest, FilesThatCannotBeReadOrWrittenAreIoErrors)
{
    ExpectRefused({
        {{"apply", "Amplify", "DIR/missing.wav", "OUT"}, 1, {"missing.wav", "No such file"}},
        {{"apply", "Amplify", "DIR/garbage.wav", "OUT"}, 1, {"garbage.wav"}},
        {{"apply", "Amplify", "DIR/folder", "OUT"}, 1, {"folder", "directory"}},
        {{"apply", "Amplify", "IN", "DIR/no/such/dir/out.wav"}, 1, {"cannot write", "out.wav"}},
        {{"apply", "Amplify", "IN", "DIR/folder.wav"}, 1, {"cannot write", "folder.wav"}},
        {{"apply", "Amplify", "--load-settings", "DIR/none.json", "IN", "OUT"}, 1, {"none.json"}},
        {{"apply", "Dynamics", "--sidechain", "DIR/missing.wav", "IN", "OUT"}, 1, {"missing.wav"}},
        // Outputs beside OUT are checked before any processing; a refused job writes none of them.
        {{"apply", "Amplify", "--report", "DIR/missing/r.json", "IN", "OUT"}, 1, {"r.json"}},
        {{"apply", "Amplify", "--report", "DIR/folder.json", "IN", "OUT"}, 1, {"directory"}},
        {{"apply", "Amplify", "--save-settings", "DIR/folder.json", "IN", "OUT"}, 1, {"directory"}},
        {{"apply", "Amplify", "--report", "DIR/locked.json", "IN", "OUT"}, 1, {"write-protected"}},
        {{"apply", "Amplify", "--save-settings", "DIR/s.json", "--report", "DIR/folder.json", "IN", "OUT"}, 1,
         {"directory"}},
        // No new files under /dev, and a report is renamed into place, so not onto a device.
        {{"apply", "amplify", "IN", "/dev/stdout.wav"}, 1, {"no files in /dev"}},
        {{"apply", "amplify", "IN", "/dev/zoc-missing/out.wav"}, 1, {"no files in /dev"}},
        {{"apply", "amplify", "--report", "/dev/null", "IN", "OUT"}, 1, {"/dev/null", "not a file"}},
        // The demo makes its own directory but no chain of parents.
        {{"demo", "--quiet", "DIR/a/b/c"}, 1, {}},
    });
    EXPECT_FALSE(std::filesystem::exists("/dev/stdout.wav"));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
    EXPECT_EQ(FileContents(dir / "locked.json"), "{}");
}

TEST_F(ErrorTest, UnwritableDirectoryLeavesNothing)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes everywhere";
    std::filesystem::create_directory(dir / "locked");
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    ExpectRefused({{{"apply", "Amplify", "IN", "DIR/locked/out.wav"}, 1, {"Permission denied"}}});
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_all);
}

} // namespace
} // namespace zoc::test

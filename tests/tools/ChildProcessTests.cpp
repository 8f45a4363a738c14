// zoc as a separate process: signals in the middle of a job, nohup, runs
// killed outright, file size limits, input arriving through a pipe, and
// audio through real pipes between two zoc processes.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <csignal>
#include <fstream>
#include <thread>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

/// The writing end of a named pipe zoc reads from.
class PipeFeeder {
public:
    explicit PipeFeeder(const std::string& path)
    {
        // Non-blocking until zoc has opened its end, so a zoc that never
        // does cannot hang the test.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while ((descriptor_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (descriptor_ >= 0)
            ::fcntl(descriptor_, F_SETFL, 0);
    }
    ~PipeFeeder() { Close(); }
    bool IsOpen() const { return descriptor_ >= 0; }
    void Write(const std::string& bytes)
    {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t written = ::write(descriptor_, bytes.data() + done, bytes.size() - done);
            if (written <= 0)
                return; // zoc has gone
            done += static_cast<std::size_t>(written);
        }
    }
    void Close()
    {
        if (descriptor_ >= 0)
            ::close(descriptor_);
        descriptor_ = -1;
    }

private:
    int descriptor_ = -1;
};

class ChildProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A zoc that died closes its pipe; writing to it must not end the test.
        previousPipeHandler = std::signal(SIGPIPE, SIG_IGN);
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    }
    void TearDown() override { std::signal(SIGPIPE, previousPipeHandler); }

    ScratchDirectory dir;
    std::string fifo = dir / "stream.wav";
    std::string out = dir / "out.wav";
    Frames samples = DistinctSines(2, 3000, 48000);
    void (*previousPipeHandler)(int) = SIG_DFL;
};

TEST_F(ChildProcessTest, EveryCatchableSignalRemovesTheTemporaryAndKeepsTheOutput)
{
    for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU}) {
        // An output from an earlier run, which a failed run must leave alone.
        WriteAudio(out, Frames(1, std::vector<float>(9, 0.25f)), 8000);
        const std::string before = FileContents(out);
        const pid_t child = SpawnZoc({"apply", "Amplify", "--set", "Left=-6", fifo, out});
        PipeFeeder feeder(fifo);
        ASSERT_TRUE(feeder.IsOpen());
        // Half the stream: zoc waits for the rest with OUT's temporary open.
        feeder.Write(StreamHeader(2, 48000) + StreamSamples(samples));
        ASSERT_FALSE(AwaitTemporary(dir.Path()).empty()) << strsignal(signal);
        ::kill(child, signal);
        const int status = WaitFor(child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << strsignal(signal) << " status " << status;
        EXPECT_TRUE(Temporaries(dir.Path()).empty()) << strsignal(signal);
        EXPECT_EQ(FileContents(out), before) << strsignal(signal);
    }
}

TEST_F(ChildProcessTest, SignalsIgnoredAtStartStayIgnored)
{
    // As under nohup, or a background job of a script.
    const pid_t child = SpawnZoc({"apply", "Amplify", fifo, out},
                                 {.ignoredSignals = {SIGHUP, SIGINT}, .fileSizeLimit = 0, .errorPath = {}});
    PipeFeeder feeder(fifo);
    ASSERT_TRUE(feeder.IsOpen());
    feeder.Write(StreamHeader(2, 48000) + StreamSamples(samples));
    ASSERT_FALSE(AwaitTemporary(dir.Path()).empty());
    ::kill(child, SIGHUP);
    ::kill(child, SIGINT);
    feeder.Write(StreamSamples(samples));
    feeder.Close();
    const int status = WaitFor(child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    const AudioData output = ReadAudio(out);
    ASSERT_EQ(output.Length(), 2 * samples[0].size());
    EXPECT_EQ(output.samples[1][4000], samples[1][1000]);
}

TEST_F(ChildProcessTest, TemporariesOfKilledRunsAreRemovedByTheNextRun)
{
    const pid_t child = SpawnZoc({"apply", "Amplify", fifo, out});
    PipeFeeder feeder(fifo);
    ASSERT_TRUE(feeder.IsOpen());
    feeder.Write(StreamHeader(2, 48000));
    const std::string stale = AwaitTemporary(dir.Path());
    ASSERT_FALSE(stale.empty());
    ::kill(child, SIGKILL);
    WaitFor(child);
    ASSERT_TRUE(std::filesystem::exists(dir / stale)) << "nothing can clean up after SIGKILL";

    // Look-alikes that are not ours to remove: a live process's (pid 1), one
    // from another machine, and a user's file that only resembles the pattern.
    const std::string killedPid = std::to_string(child);
    const std::string afterPid = stale.substr(stale.find(killedPid) + killedPid.size());
    const std::vector<std::string> kept = {".out.wav.zoc-1" + afterPid,
                                           ".out.wav.zoc-" + killedPid + "-0badcafe-abcdef", ".notes.zoc-backup"};
    for (const std::string& name : kept)
        std::ofstream(dir / name) << "keep";

    WriteAudio(dir / "in.wav", samples, 48000);
    ASSERT_EQ(RunZoc({"apply", "Amplify", dir / "in.wav", dir / "other.wav"}).exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / stale));
    for (const std::string& name : kept)
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
}

TEST_F(ChildProcessTest, AFullDiskIsReportedAsSuchForEveryFormat)
{
    // A file size limit makes writes fail the way a full disk does, with the
    // system's own reason ("File too large" here, "No space left on device"
    // there) rather than an encoder's guess.
    WriteAudio(dir / "in.wav", DistinctSines(2, 96000, 48000), 48000);
    for (const std::string name : {"out.wav", "out.flac", "out.ogg", "out.aiff"}) {
        const std::string errors = dir / "errors.txt";
        const pid_t child = SpawnZoc({"apply", "Amplify", dir / "in.wav", dir / name},
                                     {.ignoredSignals = {SIGXFSZ}, .fileSizeLimit = 8192, .errorPath = errors});
        const int status = WaitFor(child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << name << " status " << status;
        const std::string message = FileContents(errors);
        EXPECT_NE(message.find("File too large"), std::string::npos) << message;
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
        EXPECT_FALSE(std::filesystem::exists(dir / name)) << name;
        EXPECT_TRUE(Temporaries(dir.Path()).empty()) << name;
    }
}

TEST_F(ChildProcessTest, StreamsOfUnknownLengthGiveWhatFilesGive)
{
    // An envelope spreads its keyframes over the whole input, so it must see
    // the stream's true length; any other component streams straight through,
    // into WAV that can grow past 4 GiB.
    const std::string file = dir / "file.wav";
    WriteAudio(file, samples, 48000);
    for (const std::vector<std::string>& job :
         {std::vector<std::string>{"apply", "Fade Envelope", "--preset", "Linear Fade Out"},
          std::vector<std::string>{"apply", "Amplify", "--set", "Right=-3"}}) {
        ASSERT_EQ(RunZoc(Words({job, {file, dir / "expected.wav"}})).exitCode, 0);
        const pid_t child = SpawnZoc(Words({job, {fifo, out}}));
        {
            PipeFeeder feeder(fifo);
            ASSERT_TRUE(feeder.IsOpen());
            feeder.Write(StreamHeader(2, 48000) + StreamSamples(samples));
        }
        const int status = WaitFor(child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << job[1] << " status " << status;
        EXPECT_EQ(ReadAudio(out).samples, ReadAudio(dir / "expected.wav").samples) << job[1];
    }
    // The Amplify output: a plain WAV with room kept for 64-bit sizes.
    EXPECT_EQ(FileContents(out).substr(0, 4), "RIFF");
    EXPECT_EQ(FileContents(out).substr(12, 4), "JUNK");
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

TEST(PipeTest, StandardOutputFeedsStandardInputInEveryStreamableFormat)
{
    struct Case {
        const char* type;
        const char* bits;
        double tolerance; // of the encoding between the two processes
    };
    const Case cases[] = {{"wav", "32f", 1e-6}, {"wav", "16", 1.0 / 16384}, {"flac", "24", 1e-6}};
    ScratchDirectory dir;
    const std::string in = dir / "in.wav";
    const Frames input = DistinctSines(2, 30000, 48000, 0.2f);
    WriteAudio(in, input, 48000);
    const double gain = std::pow(10.0, 5.99995 / 20.0); // the preset's stored gain
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.bits);
        const std::string out = dir / (std::string("out-") + c.type + c.bits + ".wav");
        // The first zoc writes into a pipe and the second reads one, so
        // neither can seek: the length is known only when the stream ends.
        const std::string command = "cat " + Quoted(in) + " | " + Quoted(ZOC_BINARY) +
                                    " apply amplify --preset '+6dB Boost' --type " + c.type + " --bits " + c.bits +
                                    " - - | " + Quoted(ZOC_BINARY) + " apply amplify - " + Quoted(out);
        ASSERT_EQ(std::system(command.c_str()), 0);
        const AudioData output = ReadAudio(out);
        ASSERT_EQ(output.Length(), input[0].size());
        ASSERT_EQ(output.samples.size(), 2u);
        for (std::size_t channel = 0; channel < 2; ++channel)
            for (std::size_t frame = 0; frame < input[0].size(); frame += 7)
                ASSERT_NEAR(output.samples[channel][frame], input[channel][frame] * gain, c.tolerance)
                    << "channel " << channel << " frame " << frame;
    }
}

} // namespace
} // namespace zoc::test

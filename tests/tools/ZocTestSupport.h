#pragma once
// Helpers for driving the zoc command in-process: a scratch directory, small
// audio files written and read with libsndfile, and one run's exit code and
// output.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/ScratchDirectory.h"

namespace zoc::test {

using Frames = std::vector<std::vector<float>>; // [channel][frame]

struct AudioData {
    Frames samples;
    int sampleRate = 0;
    int format = 0;
    std::size_t Length() const { return samples.empty() ? 0 : samples[0].size(); }
};

struct ZocResult {
    int exitCode = -1;
    std::string out;
    std::string err;
    /// Lines in stderr.
    std::size_t ErrorLines() const;
};

ZocResult RunZoc(const std::vector<std::string>& arguments);
/// One command line from its parts, in order.
std::vector<std::string> Words(std::initializer_list<std::vector<std::string>> parts);
/// Runs zoc, fails the test unless it succeeds, and reads the file it wrote to `output`.
AudioData RunZocAndRead(const std::vector<std::string>& arguments, const std::string& output);

/// Writes a 32-bit float WAV.
void WriteAudio(const std::string& path, const Frames& samples, int sampleRate);
AudioData ReadAudio(const std::string& path);

/// The largest magnitude in any channel.
float Peak(const AudioData& audio);

/// `frames` frames per channel: channel c holds a sine of (c + 1) * 100 Hz.
Frames DistinctSines(std::size_t channels, std::size_t frames, int sampleRate, float amplitude = 0.5f);
std::string FileContents(const std::string& path);

/// The start of a 32-bit float WAV whose sizes say 0xFFFFFFFF, as a program
/// writing to a pipe leaves them: its length is unknown until the stream ends.
std::string StreamHeader(int channels, int sampleRate);
/// Interleaved little-endian float samples, as they follow StreamHeader.
std::string StreamSamples(const Frames& samples);

/// How the zoc command is started as a child process.
struct ChildSetup {
    std::vector<int> ignoredSignals; ///< ignored when zoc starts (as under nohup)
    long fileSizeLimit = 0;          ///< bytes a file may grow to; 0 for no limit
    std::string errorPath;           ///< file that receives stderr; /dev/null when empty
};
/// Starts the built zoc binary with `arguments`; returns its process id.
pid_t SpawnZoc(const std::vector<std::string>& arguments, const ChildSetup& setup = {});
/// Waits for the child to end and returns its wait status.
int WaitFor(pid_t child);
/// Waits up to a few seconds for a zoc temporary file to appear in `directory`;
/// returns its name, or an empty string.
std::string AwaitTemporary(const std::string& directory);
/// Names in `directory` that are zoc temporaries.
std::vector<std::string> Temporaries(const std::string& directory);

/// A job zoc must refuse: "IN", "OUT" and "DIR/name" in the arguments stand
/// for the fixture's files; every mention must be in the one-line message.
struct Refusal {
    std::vector<std::string> arguments;
    int exitCode;
    std::vector<std::string> mentions;
};

/// A scratch directory holding IN (a stereo 48 kHz file) for jobs that must
/// fail without touching anything.
class ZocFileTest : public ::testing::Test {
protected:
    explicit ZocFileTest(const Frames& input = DistinctSines(2, 4800, 48000)) { WriteAudio(in, input, 48000); }
    std::vector<std::string> Expand(const std::vector<std::string>& arguments) const;
    /// Runs one refused job as things are: the exit code, one line "zoc: ..."
    /// with every mention, and IN, OUT and the directory's entries unchanged.
    ZocResult RunRefused(const std::vector<std::string>& arguments, int exitCode,
                         const std::vector<std::string>& mentions = {});
    /// Runs every job twice, without OUT and with an earlier OUT.
    void ExpectRefused(const std::vector<Refusal>& cases);

    ScratchDirectory dir;
    std::string in = dir / "in.wav";
    std::string out = dir / "out.wav";
};

} // namespace zoc::test

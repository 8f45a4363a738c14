#pragma once
// Helpers for driving the zoc command in-process: a scratch directory, small
// audio files written and read with libsndfile, and one run's exit code and
// output.

#include <filesystem>
#include <string>
#include <vector>

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

/// A fresh directory, removed with everything in it at destruction.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    /// Names of the files in the directory, hidden ones included, sorted.
    std::vector<std::string> Entries() const;

private:
    std::filesystem::path path_;
};

/// Writes a 32-bit float WAV.
void WriteAudio(const std::string& path, const Frames& samples, int sampleRate);
AudioData ReadAudio(const std::string& path);

/// `frames` frames per channel: channel c holds a sine of (c + 1) * 100 Hz.
Frames DistinctSines(std::size_t channels, std::size_t frames, int sampleRate, float amplitude = 0.5f);
std::string FileContents(const std::string& path);

} // namespace zoc::test

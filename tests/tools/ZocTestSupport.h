#pragma once
// Helpers for driving the zoc command in-process: a scratch directory, small
// audio files written and read with libsndfile, and one run's exit code and
// output.

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
/// Runs zoc, fails the test unless it succeeds, and reads the file it wrote to `output`.
AudioData RunZocAndRead(const std::vector<std::string>& arguments, const std::string& output);

/// Writes a 32-bit float WAV.
void WriteAudio(const std::string& path, const Frames& samples, int sampleRate);
AudioData ReadAudio(const std::string& path);

/// `frames` frames per channel: channel c holds a sine of (c + 1) * 100 Hz.
Frames DistinctSines(std::size_t channels, std::size_t frames, int sampleRate, float amplitude = 0.5f);
std::string FileContents(const std::string& path);

} // namespace zoc::test

#include "tests/tools/ZocTestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>
#include <stdexcept>

#include "tools/zoc/Zoc.h"

namespace zoc::test {

std::size_t ZocResult::ErrorLines() const { return static_cast<std::size_t>(std::count(err.begin(), err.end(), '\n')); }

ZocResult RunZoc(const std::vector<std::string>& arguments)
{
    std::ostringstream out;
    std::ostringstream err;
    ZocResult result;
    result.exitCode = zoc::tool::Run(arguments, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
}

AudioData RunZocAndRead(const std::vector<std::string>& arguments, const std::string& output)
{
    const ZocResult result = RunZoc(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return ReadAudio(output);
}

void WriteAudio(const std::string& path, const Frames& samples, int sampleRate)
{
    SF_INFO info{};
    info.channels = static_cast<int>(samples.size());
    info.samplerate = sampleRate;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("cannot write test file " + path);
    const std::size_t frames = samples[0].size();
    std::vector<float> interleaved;
    for (std::size_t frame = 0; frame < frames; ++frame) {
        for (const auto& channel : samples)
            interleaved.push_back(channel[frame]);
    }
    sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(frames));
    sf_close(file);
}

AudioData ReadAudio(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        throw std::runtime_error("cannot read test file " + path);
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    AudioData data;
    data.sampleRate = info.samplerate;
    data.format = info.format;
    data.samples.assign(static_cast<std::size_t>(info.channels), std::vector<float>(static_cast<std::size_t>(info.frames)));
    for (std::size_t i = 0; i < interleaved.size(); ++i)
        data.samples[i % data.samples.size()][i / data.samples.size()] = interleaved[i];
    return data;
}

Frames DistinctSines(std::size_t channels, std::size_t frames, int sampleRate, float amplitude)
{
    Frames samples(channels, std::vector<float>(frames));
    for (std::size_t channel = 0; channel < channels; ++channel) {
        const double frequency = 100.0 * static_cast<double>(channel + 1);
        for (std::size_t frame = 0; frame < frames; ++frame)
            samples[channel][frame] = amplitude * static_cast<float>(std::sin(
                                                      2.0 * std::numbers::pi * frequency * static_cast<double>(frame) / sampleRate));
    }
    return samples;
}

std::string FileContents(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

} // namespace zoc::test

#include "tests/tools/ZocTestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>
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

std::vector<std::string> Words(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> words;
    for (const std::vector<std::string>& part : parts)
        words.insert(words.end(), part.begin(), part.end());
    return words;
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

float Peak(const AudioData& audio)
{
    float peak = 0.0f;
    for (const std::vector<float>& channel : audio.samples)
        for (const float sample : channel)
            peak = std::max(peak, std::fabs(sample));
    return peak;
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

namespace {

void PutLittleEndian(std::string& bytes, std::uint32_t value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
}

} // namespace

std::string StreamHeader(int channels, int sampleRate)
{
    std::string header = "RIFF";
    PutLittleEndian(header, 0xFFFFFFFFu, 4);
    header += "WAVEfmt ";
    PutLittleEndian(header, 16, 4);
    PutLittleEndian(header, 3, 2); // IEEE float
    PutLittleEndian(header, static_cast<std::uint32_t>(channels), 2);
    PutLittleEndian(header, static_cast<std::uint32_t>(sampleRate), 4);
    PutLittleEndian(header, static_cast<std::uint32_t>(sampleRate * channels * 4), 4);
    PutLittleEndian(header, static_cast<std::uint32_t>(channels * 4), 2);
    PutLittleEndian(header, 32, 2);
    header += "data";
    PutLittleEndian(header, 0xFFFFFFFFu, 4);
    return header;
}

std::string StreamSamples(const Frames& samples)
{
    std::string bytes;
    for (std::size_t frame = 0; frame < samples[0].size(); ++frame) {
        for (const auto& channel : samples) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &channel[frame], sizeof bits);
            PutLittleEndian(bytes, bits, 4);
        }
    }
    return bytes;
}

pid_t SpawnZoc(const std::vector<std::string>& arguments, const ChildSetup& setup)
{
    std::vector<std::string> words{ZOC_BINARY};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string errorPath = setup.errorPath.empty() ? "/dev/null" : setup.errorPath;
    const pid_t child = ::fork();
    if (child != 0)
        return child;
    // In the child only async-signal-safe calls until exec.
    for (int signal = 1; signal < NSIG; ++signal)
        ::signal(signal, SIG_DFL);
    for (const int signal : setup.ignoredSignals)
        ::signal(signal, SIG_IGN);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    if (setup.fileSizeLimit > 0) {
        const rlimit size{static_cast<rlim_t>(setup.fileSizeLimit), static_cast<rlim_t>(setup.fileSizeLimit)};
        ::setrlimit(RLIMIT_FSIZE, &size);
    }
    const int error = ::open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (error >= 0)
        ::dup2(error, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

int WaitFor(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::vector<std::string> Temporaries(const std::string& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".zoc-") != std::string::npos)
            names.push_back(name);
    }
    return names;
}

std::string AwaitTemporary(const std::string& directory)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::vector<std::string> names = Temporaries(directory);
        if (!names.empty())
            return names.front();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return {};
}

std::vector<std::string> ZocFileTest::Expand(const std::vector<std::string>& arguments) const
{
    std::vector<std::string> expanded;
    for (const std::string& argument : arguments) {
        if (argument == "IN")
            expanded.push_back(in);
        else if (argument == "OUT")
            expanded.push_back(out);
        else if (argument.starts_with("DIR/"))
            expanded.push_back(dir / argument.substr(4));
        else
            expanded.push_back(argument);
    }
    return expanded;
}

ZocResult ZocFileTest::RunRefused(const std::vector<std::string>& arguments, int exitCode,
                                  const std::vector<std::string>& mentions)
{
    std::string label;
    for (const std::string& argument : arguments)
        label += argument + " ";
    const std::string inBefore = FileContents(in);
    const bool hadOut = std::filesystem::exists(out);
    const std::string outBefore = hadOut ? FileContents(out) : "";
    const std::vector<std::string> entries = dir.Entries();
    const ZocResult result = RunZoc(Expand(arguments));
    EXPECT_EQ(result.exitCode, exitCode) << label << "\n" << result.err;
    EXPECT_EQ(result.ErrorLines(), 1u) << label << "\n" << result.err;
    EXPECT_TRUE(result.err.starts_with("zoc: ")) << label << "\n" << result.err;
    for (const std::string& mention : mentions)
        EXPECT_NE(result.err.find(mention), std::string::npos) << label << "\n" << result.err;
    EXPECT_EQ(FileContents(in), inBefore) << label;
    EXPECT_EQ(std::filesystem::exists(out), hadOut) << label;
    EXPECT_EQ(hadOut ? FileContents(out) : "", outBefore) << label;
    // Nothing written beside them either: no temporary, no other output.
    EXPECT_EQ(dir.Entries(), entries) << label;
    return result;
}

void ZocFileTest::ExpectRefused(const std::vector<Refusal>& cases)
{
    for (const Refusal& c : cases) {
        for (const bool earlierOutput : {false, true}) {
            std::filesystem::remove(out);
            if (earlierOutput)
                WriteAudio(out, Frames(1, std::vector<float>(7, 0.75f)), 8000);
            RunRefused(c.arguments, c.exitCode, c.mentions);
        }
    }
}

} // namespace zoc::test

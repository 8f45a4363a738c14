#pragma once
// What the convolution reverbs' tests share: a fixture that gives every test
// its own empty cache directory, parameters in real units, test signals, the
// check of a wet output against a direct convolution, and the scenarios both
// reverbs must pass alike.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dsp/AlignedBuffer.h"
#include "framework/Library.h"
#include "tests/support/Measure.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/TestHost.h"

namespace zoc::components::reverbtest {

using test::Signal;
using test::TestHost;

template <class Component>
class Fixture : public ::testing::Test {
protected:
    Fixture() : previous_(GetTempDir()) { SetupTempDir(scratch_.Path()); }
    ~Fixture() override { SetupTempDir(previous_); }

    static Component& Of(TestHost& host) { return dynamic_cast<Component&>(host.Filter()); }

    static void Set(TestHost& host, int index, float value)
    {
        host.Filter().SetParameter(index, host.Filter().GetParameterInfo(index)->ToNormalized(value));
    }
    static float Get(TestHost& host, int index)
    {
        return host.Filter().GetParameterInfo(index)->FromNormalized(host.Filter().GetParameter(index));
    }

    /// Impulse channel k of a response (interleaved by frame), as doubles.
    static std::vector<double> Channel(Component& reverb, const dsp::AlignedBuffer& response, std::size_t k)
    {
        const std::size_t channels = reverb.ImpulseChannelCount();
        std::vector<double> h(reverb.ImpulseLength());
        for (std::size_t t = 0; t < h.size(); ++t)
            h[t] = response[t * channels + k];
        return h;
    }

    /// Offline, level changes leave the impulse alone and `shape` (a
    /// change of a shaping setting) rebuilds it before the next block.
    static void ExpectOnlyShapingChangesRebuild(TestHost& host, const std::function<void()>& levels,
                                                const std::function<void()>& shape)
    {
        host.GetSession().SetRenderingOffline(true);
        const Signal input = test::SineSignal(2, 512, 8000.0f, 440.0f);
        host.Run(input, 512);
        const std::uint64_t before = host.Filter().GetParameterDirtyCount();
        levels();
        host.Run(input, 512, false);
        EXPECT_EQ(host.Filter().GetParameterDirtyCount(), before);
        shape();
        host.Run(input, 512, false);
        EXPECT_GT(host.Filter().GetParameterDirtyCount(), before);
        EXPECT_FALSE(Of(host).IsCalculating());
        EXPECT_FLOAT_EQ(Get(host, Component::kCalculatingImpulse), 100.0f);
        EXPECT_FLOAT_EQ(Get(host, Component::kIsProcessing), 1.0f);
        host.Suspend();
        EXPECT_FLOAT_EQ(Get(host, Component::kIsProcessing), 0.0f);
    }

    /// A stereo `host` at `rate` goes to six channels (`responses` impulse
    /// channels), then to twice the rate: every channel still reverberates.
    static void ExpectNewLayoutAndRateRebuild(TestHost& host, float rate, std::uint32_t responses)
    {
        host.Run(test::ImpulseSignal(2, 3000, 0), 512);
        host.Suspend();
        ASSERT_TRUE(host.Configure(6, rate));
        host.Resume();
        EXPECT_EQ(Of(host).ImpulseChannelCount(), responses);
        host.Suspend();
        host.GetSession().Configure(6, 2 * rate);
        const int latency = host.Filter().GetInitialDelay();
        const Signal output = host.Run(test::ImpulseSignal(6, static_cast<std::size_t>(latency) + 10, 0), 700);
        for (const auto& channel : output)
            EXPECT_GT(test::TailPeak(channel, 10), 0.0f);
        host.Suspend();
    }

    /// The cache directory's files whose names start with `prefix`.
    std::vector<std::filesystem::path> CacheFiles(std::string_view prefix) const
    {
        std::vector<std::filesystem::path> files;
        for (const std::string& name : scratch_.Entries())
            if (name.starts_with(prefix))
                files.push_back(scratch_.Path() / name);
        return files;
    }

    test::ScratchDirectory scratch_;

private:
    std::filesystem::path previous_;
};

inline std::vector<char> ReadBytes(const std::filesystem::path& path)
{
    std::vector<char> bytes(std::filesystem::file_size(path));
    std::ifstream(path, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

/// Whatever is at `path` (file, directory, link) becomes a file of `bytes`.
inline void ReplaceFile(const std::filesystem::path& path, const std::vector<char>& bytes)
{
    std::filesystem::remove_all(path);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

/// `path` becomes a symbolic link to a file of `bytes` beside it.
inline void ReplaceByLink(const std::filesystem::path& path, const std::vector<char>& bytes)
{
    const std::filesystem::path target = path.parent_path() / "elsewhere";
    ReplaceFile(target, bytes);
    std::filesystem::remove_all(path);
    std::filesystem::create_symlink(target, path);
}

/// Frames [from, end) of every channel.
inline Signal Slice(const Signal& signal, std::size_t from)
{
    Signal part;
    for (const auto& channel : signal)
        part.emplace_back(channel.begin() + static_cast<std::ptrdiff_t>(from), channel.end());
    return part;
}

/// Different noise in every channel.
inline Signal NoiseSignal(std::size_t channels, std::size_t frames)
{
    Signal signal;
    for (std::size_t c = 0; c < channels; ++c)
        signal.push_back(test::Noise(frames, 11 + static_cast<unsigned>(c)));
    return signal;
}

/// A burst of `burst` frames of noise (another per channel, from `seed`
/// on), then silence up to `frames`.
inline Signal BurstSignal(std::size_t channels, std::size_t frames, std::size_t burst, unsigned seed)
{
    Signal signal(channels, std::vector<float>(frames, 0.0f));
    for (std::size_t c = 0; c < channels; ++c) {
        const std::vector<float> noise = test::Noise(burst, seed + static_cast<unsigned>(c));
        std::copy(noise.begin(), noise.end(), signal[c].begin());
    }
    return signal;
}

inline bool AllFinite(const Signal& signal)
{
    return std::all_of(signal.begin(), signal.end(), [](const std::vector<float>& channel) {
        return std::all_of(channel.begin(), channel.end(), [](float value) { return std::isfinite(value); });
    });
}

/// y += gain * (x * h), by the definition.
inline void Convolve(const std::vector<float>& x, const std::vector<double>& h, double gain, std::vector<double>& y)
{
    for (std::size_t n = 0; n < x.size(); ++n) {
        if (x[n] == 0.0f)
            continue;
        for (std::size_t k = 0; k < h.size() && n + k < y.size(); ++k)
            y[n + k] += gain * x[n] * h[k];
    }
}

/// Adds input `x` heard through impulse channel `k` to output `y`.
using AddResponse = std::function<void(const std::vector<float>& x, std::size_t k, std::vector<double>& y)>;

/// The wet output, undelayed, by direct convolution: with `sumInputs` every
/// channel hears the average of the inputs through its own response;
/// otherwise each hears its own input, and two channels also hear each other
/// through the cross responses (left into right is impulse channel
/// `leftToRight`, right into left the other of 2 and 3).
inline std::vector<std::vector<double>> DirectWet(const Signal& input, bool sumInputs, std::size_t leftToRight,
                                                  const AddResponse& add)
{
    const std::size_t channels = input.size();
    const std::size_t frames = input[0].size();
    std::vector<std::vector<double>> expected(channels, std::vector<double>(frames, 0.0));
    if (sumInputs) {
        std::vector<float> average(frames, 0.0f);
        for (std::size_t i = 0; i < frames; ++i) {
            for (std::size_t ch = 0; ch < channels; ++ch)
                average[i] += input[ch][i];
            average[i] /= static_cast<float>(channels);
        }
        for (std::size_t ch = 0; ch < channels; ++ch)
            add(average, ch, expected[ch]);
        return expected;
    }
    for (std::size_t ch = 0; ch < channels; ++ch)
        add(input[ch], ch, expected[ch]);
    if (channels == 2) {
        add(input[0], leftToRight, expected[1]);
        add(input[1], 5 - leftToRight, expected[0]);
    }
    return expected;
}

/// Every channel of `output` is `expected` delayed by `latency`, within
/// 1e-5 of its peak.
inline void ExpectDelayedBy(const Signal& output, const std::vector<std::vector<double>>& expected, int latency)
{
    const auto delay = static_cast<std::size_t>(latency);
    for (std::size_t ch = 0; ch < expected.size(); ++ch) {
        double peak = 0.0, worst = 0.0;
        for (std::size_t i = 0; i < output[ch].size(); ++i) {
            const double want = i >= delay ? expected[ch][i - delay] : 0.0;
            peak = std::max(peak, std::fabs(want));
            worst = std::max(worst, std::fabs(output[ch][i] - want));
        }
        ASSERT_GT(peak, 0.0) << "channel " << ch;
        EXPECT_LT(worst, 1e-5 * peak) << "channel " << ch;
    }
}

/// Stereo blocks of a sine at `rate` while another thread calls
/// `change(round)` over and over: every output stays finite.
inline void ExpectFiniteWhileChanging(TestHost& host, float rate, const std::function<void(int round)>& change)
{
    host.Resume();
    const Signal input = test::SineSignal(2, 256, rate, 440.0f);
    std::atomic<bool> done{false};
    std::thread control([&] {
        for (int round = 0; !done.load(); ++round) {
            change(round);
            std::this_thread::yield();
        }
    });
    Signal output = input;
    bool finite = true;
    for (int block = 0; block < 200 && finite; ++block) {
        host.ProcessBlock(input, output, 0, 256);
        finite = AllFinite(output);
    }
    done = true;
    control.join();
    host.Suspend();
    EXPECT_TRUE(finite);
}

/// A rate or layout that changes and comes back between two blocks
/// rebuilds nothing: the impulse in use fits again and plays on from
/// silence, exactly as a fresh instance, while the host plays and while it
/// renders offline. `make` gives a stereo instance at `rate`, not resumed.
template <class Component>
void ExpectFlipsKeepPlaying(const std::function<TestHost()>& make, float rate)
{
    struct Case {
        const char* name;
        std::function<void(TestHost&)> flip;
    };
    const Case cases[] = {
        {"rate", [rate](TestHost& host) {
             host.Filter().SetSampleRate(2 * rate);
             host.Filter().SetSampleRate(rate);
         }},
        {"layout", [rate](TestHost& host) {
             host.GetSession().Configure(1, rate);
             host.GetSession().Configure(2, rate);
         }},
    };
    for (const Case& c : cases) {
        for (const bool offline : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (offline ? ", offline" : ", playing"));
            TestHost host = make();
            TestHost fresh = make();
            host.GetSession().SetRenderingOffline(offline);
            fresh.GetSession().SetRenderingOffline(offline);
            const auto frames = static_cast<std::size_t>(host.Filter().GetInitialDelay()) + 600;
            const Signal input = NoiseSignal(2, frames);
            Signal output = input;
            host.Resume();
            host.ProcessBlock(input, output, 0, 300);
            c.flip(host);
            for (std::size_t from = 0; from < frames; from += 300)
                host.ProcessBlock(input, output, from, static_cast<int>(std::min<std::size_t>(300, frames - from)));
            EXPECT_FALSE(dynamic_cast<Component&>(host.Filter()).RebuildPending());
            const Signal expected = fresh.Run(input, 300);
            EXPECT_GT(test::TailPeak(output[0], 100), 0.0f);
            EXPECT_EQ(output, expected);
            host.Suspend();
            fresh.Suspend();
        }
    }
}

} // namespace zoc::components::reverbtest

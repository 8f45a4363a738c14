// The test host.

#include "tests/support/TestHost.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "contracts/host/AudioFilterRegistrar.h"
#include "tests/support/AllocationGuard.h"

namespace zoc::test {

Signal ConstantSignal(std::size_t channels, std::size_t frames, float value)
{
    return Signal(channels, std::vector<float>(frames, value));
}

Signal ImpulseSignal(std::size_t channels, std::size_t frames, std::size_t at)
{
    Signal signal = ConstantSignal(channels, frames, 0.0f);
    for (auto& channel : signal)
        channel.at(at) = 1.0f;
    return signal;
}

Signal SineSignal(std::size_t channels, std::size_t frames, float sampleRate, float frequency, float amplitude)
{
    Signal signal = ConstantSignal(channels, frames, 0.0f);
    for (auto& channel : signal) {
        for (std::size_t i = 0; i < frames; ++i)
            channel[i] = amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * frequency *
                                                                 static_cast<double>(i) / sampleRate));
    }
    return signal;
}

TestHost::TestHost(core::Ref<host::AudioFilter> filter) : session_(std::make_shared<host::Session>(std::move(filter)))
{
}

TestHost TestHost::ForComponent(const std::string& componentID)
{
    core::Ref<host::AudioFilter> filter = host::utility::CreateAudioFilter(componentID);
    EXPECT_TRUE(filter) << "no component registered as " << componentID;
    return TestHost(filter);
}

bool TestHost::Configure(std::size_t channels, float sampleRate, bool expectAccepted)
{
    const bool accepted = session_->Configure(channels, sampleRate);
    if (expectAccepted) {
        EXPECT_TRUE(accepted) << "the component refused " << channels << " channels";
    }
    return accepted;
}

Signal TestHost::Run(const Signal& input, int blockSize, bool resume)
{
    Signal output = input;
    if (resume)
        session_->Resume();
    session_->SetBlockSize(blockSize);
    std::vector<float*> in;
    std::vector<float*> out;
    Signal inputCopy = input;
    for (std::size_t channel = 0; channel < input.size(); ++channel) {
        in.push_back(inputCopy[channel].data());
        out.push_back(output[channel].data());
    }
    const std::int64_t frames = input.empty() ? 0 : static_cast<std::int64_t>(input[0].size());
    session_->Process(in.data(), out.data(), frames);
    return output;
}

void TestHost::ProcessBlock(const Signal& input, Signal& output, std::size_t offset, int frames)
{
    // Fixed arrays, so tests can guard this call against allocation.
    constexpr std::size_t kMaxChannels = 64;
    std::array<float*, kMaxChannels> in{};
    std::array<float*, kMaxChannels> out{};
    for (std::size_t channel = 0; channel < input.size() && channel < kMaxChannels; ++channel) {
        in[channel] = const_cast<float*>(input[channel].data()) + offset;
        out[channel] = output[channel].data() + offset;
    }
    Filter().Process(in.data(), out.data(), frames);
}

Signal TestHost::RunInBlocks(const Signal& input, std::size_t block, const std::function<void(std::size_t)>& before)
{
    Resume();
    Signal output = input;
    const std::size_t frames = input.empty() ? 0 : input[0].size();
    for (std::size_t from = 0; from < frames; from += block) {
        if (before)
            before(from);
        ProcessBlock(input, output, from, static_cast<int>(std::min(block, frames - from)));
    }
    return output;
}

void TestHost::ExpectBlocksDoNotAllocate(const std::vector<std::function<void()>>& changes)
{
    Resume();
    const Signal input = SineSignal(2, 512, 48000.0f, 440.0f);
    Signal output = input;
    AllocationGuard guard;
    ProcessBlock(input, output, 0, 512);
    for (const auto& change : changes) {
        change();
        ProcessBlock(input, output, 0, 512);
    }
}

float MaxDifference(const Signal& a, const Signal& b)
{
    float worst = 0.0f;
    for (std::size_t channel = 0; channel < a.size() && channel < b.size(); ++channel) {
        for (std::size_t i = 0; i < a[channel].size() && i < b[channel].size(); ++i)
            worst = std::fmax(worst, std::fabs(a[channel][i] - b[channel][i]));
    }
    return worst;
}

} // namespace zoc::test

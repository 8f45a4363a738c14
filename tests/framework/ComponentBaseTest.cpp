// Bus negotiation, presets, settings and the multithreaded base, exercised
// through small test components.

#include <array>
#include <algorithm>
#include <thread>

#include <gtest/gtest.h>

#include "framework/MultithreadedComponentBase.h"
#include "platform/core/String.h"
#include "tests/support/AllocationGuard.h"
#include "tests/support/TestHost.h"

namespace zoc {
namespace {

using test::Signal;

// The threads a kernel ran on, recorded without allocating so that recording
// never trips the allocation guard.
class ThreadSet {
public:
    void insert(std::thread::id id)
    {
        if (std::find(begin(), end(), id) == end() && count_ < ids_.size())
            ids_[count_++] = id;
    }
    std::size_t size() const { return count_; }
    const std::thread::id* begin() const { return ids_.data(); }
    const std::thread::id* end() const { return ids_.data() + count_; }

private:
    std::array<std::thread::id, 64> ids_{};
    std::size_t count_ = 0;
};

// A one-pole low-pass with a gain, so the output depends on every sample
// before it and block boundaries would show if state were lost.
class TestKernel {
public:
    void SetSampleRate(int rate) { sampleRate = rate; }
    void SetParameter(int index, float value) { (index == 0 ? gain : coefficient) = value; }
    float GetParameter(int index) const { return index == 0 ? gain : coefficient; }
    void GetBounds(int, float& lo, float& hi) const { lo = 0.0f, hi = 1.0f; }
    int GetLatency() const { return 3; }
    void Suspend() {}
    void Resume() { state = 0.0f; }
    void Process(float* in, float* out, int frames)
    {
        threads.insert(std::this_thread::get_id());
        for (int i = 0; i < frames; ++i) {
            state += coefficient * (in[i] - state);
            out[i] = gain * state;
        }
    }

    int sampleRate = 0;
    float gain = 1.0f;
    float coefficient = 0.5f;
    float state = 0.0f;
    ThreadSet threads;
};

constexpr std::array<PresetRow<2>, 2> kTestPresets = {{
    {kDefaultPresetKey, {1.0f, 0.5f}},
    {"$$$/Test/Presets/Soft=Soft", {0.25f, 0.1f}},
}};

class TestComponent : public MultithreadedComponentBase<TestKernel> {
public:
    explicit TestComponent(int maxChannels = 32)
        : MultithreadedComponentBase("test-component", u"Test", maxChannels, kTestPresets)
    {
        AddParameterInfo(0, core::MakeRef<GenericParameterInfo>(u"Gain", u"", host::kUnitNumber, 0, 0.0f, 2.0f, true));
        AddParameterInfo(1, core::MakeRef<GenericParameterInfo>(u"Smoothing", u"", host::kUnitNumber, 1, 0.0f,
                                                                1.0f, true));
    }
    int GetParameterCount() override { return 2; }
    void SetParameter(int index, float normalized) override
    {
        if (auto real = RealFromNormalized(index, normalized)) {
            values[static_cast<std::size_t>(index)] = *real;
            ForEachKernel([&](TestKernel& kernel) { kernel.SetParameter(index, *real); });
        }
        MultithreadedComponentBase::SetParameter(index, normalized);
    }
    float GetParameter(int index) override
    {
        auto info = GetParameterInfo(index);
        return info ? info->ToNormalized(values[static_cast<std::size_t>(index)]) : 0.0f;
    }
    TestKernel& Kernel(std::size_t channel) { return GetKernel(channel); }
    std::size_t Channels() const { return GetChannelCount(); }

    std::array<float, 2> values{1.0f, 0.5f};
    int channelChanges = 0;

protected:
    void OnNumberOfChannelsChanged(std::size_t count) override
    {
        ++channelChanges;
        MultithreadedComponentBase::OnNumberOfChannelsChanged(count);
    }
};

std::string InputBusName(host::AudioFilter& filter) { return core::ToUtf8(filter.GetInputBuses().at(0).GetName()); }
std::string OutputBusName(host::AudioFilter& filter) { return core::ToUtf8(filter.GetOutputBuses().at(0).GetName()); }

TEST(BusNegotiation, NamesBusesIgnoresBadProposalsAndRunsMonoOverTooManyChannels)
{
    core::Ref<TestComponent> component(new TestComponent);
    EXPECT_EQ(InputBusName(*component), "Stereo In");
    component->RequestIOConfiguration({media::StereoLayout()}, {media::MonoLayout()});
    component->RequestIOConfiguration({media::StereoLayout(), media::StereoLayout()}, {media::StereoLayout()});
    EXPECT_EQ(component->channelChanges, 0);

    EXPECT_TRUE(component->RequestIOConfiguration({media::LayoutForChannelCount(8)}, {media::LayoutForChannelCount(8)}));
    EXPECT_EQ(InputBusName(*component), "Multichannel In");
    EXPECT_EQ(OutputBusName(*component), "Multichannel Out");
    EXPECT_EQ(component->Channels(), 8u);
    EXPECT_TRUE(component->RequestIOConfiguration({media::Surround51Layout()}, {media::Surround51Layout()}));
    component->RequestIOConfiguration({media::Surround51Layout()}, {media::Surround51Layout()});
    EXPECT_EQ(InputBusName(*component), "Surround 5.1 In");
    EXPECT_EQ(component->channelChanges, 2);
    EXPECT_TRUE(component->RequestIOConfiguration({media::MonoLayout()}, {media::MonoLayout()}));
    EXPECT_EQ(OutputBusName(*component), "Mono Out");

    // More channels than the component takes: it runs mono over the layout.
    core::Ref<TestComponent> stereoOnly(new TestComponent(2));
    const auto three = media::LayoutForChannelCount(3);
    EXPECT_FALSE(stereoOnly->RequestIOConfiguration({three}, {three}));
    EXPECT_EQ(InputBusName(*stereoOnly), "Mono In");
    EXPECT_EQ(stereoOnly->GetInputBuses().at(0).GetLayout(), three);
    EXPECT_EQ(stereoOnly->Channels(), 1u);
}

TEST(FactoryPresets, NamesAndOutOfRangeIndexes)
{
    core::Ref<TestComponent> component(new TestComponent);
    ASSERT_EQ(component->GetNumFactoryPresets(), 2);
    EXPECT_EQ(core::ToUtf8(component->GetFactoryPresetName(0)), "(Default)");
    EXPECT_EQ(core::ToUtf8(component->GetFactoryPresetName(1)), "Soft");
    EXPECT_TRUE(component->GetFactoryPresetName(-1).empty());

    component->SetFactoryPreset(1);
    EXPECT_FLOAT_EQ(component->values[0], 0.5f);
    component->SetFactoryPreset(-1);
    component->SetFactoryPreset(2);
    EXPECT_FLOAT_EQ(component->values[0], 0.5f);
    EXPECT_FLOAT_EQ(component->values[1], 0.1f);
}

TEST(Settings, RoundTripAndRefuseWrongLength)
{
    core::Ref<TestComponent> component(new TestComponent);
    component->SetParameter(0, 0.75f);
    host::PresetData saved;
    ASSERT_TRUE(component->SaveSettings(saved));
    ASSERT_EQ(saved.GetParamList().size(), 2u);

    component->SetParameter(0, 0.0f);
    ASSERT_TRUE(component->LoadSettings(saved));
    EXPECT_FLOAT_EQ(component->values[0], 1.5f);
    EXPECT_FALSE(component->IsLoadingSettings());

    host::PresetData shorter;
    shorter.SetParamList({0.1f});
    EXPECT_FALSE(component->LoadSettings(shorter));
    EXPECT_FLOAT_EQ(component->values[0], 1.5f);

    host::PresetData newer;
    newer.SetParamList({0.1f, 0.1f});
    newer.SetVersion(99.0f);
    EXPECT_FALSE(component->LoadSettings(newer));
    EXPECT_FLOAT_EQ(component->values[0], 1.5f);
}

TEST(ParameterAccess, StringsAndMissingDescriptions)
{
    core::Ref<TestComponent> component(new TestComponent);
    component->SetParameter(0, 0.25f);
    EXPECT_EQ(core::ToUtf8(component->GetParameterString(0)), "0.50");
    EXPECT_TRUE(component->GetParameterString(7).empty());
    EXPECT_FALSE(component->GetParameterInfo(7));
    EXPECT_FALSE(component->GetParameterInfo(-1));

    float value = 42.0f;
    EXPECT_FALSE(component->GetKeyFrameParameter(3, value));
    EXPECT_EQ(value, 42.0f);
}

TEST(MultithreadedBaseThreaded, LongAndShortBlocksGiveTheSameOutput)
{
    const Signal input = test::SineSignal(4, 2048 * 3, 48000.0f, 997.0f);
    auto render = [&](int block) {
        test::TestHost host(core::Ref<host::AudioFilter>(new TestComponent));
        host.Configure(4, 48000.0f);
        return host.Run(input, block);
    };
    const Signal shortBlocks = render(2047);
    const Signal longBlocks = render(2048);
    EXPECT_EQ(test::MaxDifference(shortBlocks, longBlocks), 0.0f);
}

TEST(MultithreadedBaseThreaded, ShortBlocksStayOnTheCallingThread)
{
    core::Ref<TestComponent> component(new TestComponent);
    test::TestHost host(component);
    host.Configure(2, 48000.0f);
    host.Run(test::ConstantSignal(2, 2047, 0.5f), 2047);
    for (std::size_t channel = 0; channel < 2; ++channel) {
        ASSERT_EQ(component->Kernel(channel).threads.size(), 1u);
        EXPECT_EQ(*component->Kernel(channel).threads.begin(), std::this_thread::get_id());
    }
    // A long block must finish every channel before Process returns.
    const Signal out = host.Run(test::ConstantSignal(2, 4096, 0.5f), 4096);
    EXPECT_NEAR(out[1][4095], 0.5f, 1e-6f);
}

TEST(MultithreadedBaseThreaded, SteadyBlocksDoNotAllocate)
{
    core::Ref<TestComponent> component(new TestComponent);
    test::TestHost host(component);
    host.Configure(2, 48000.0f);
    Signal input = test::ConstantSignal(2, 4096, 0.25f);
    Signal output = input;
    host.Resume();
    host.ProcessBlock(input, output, 0, 4096); // the first long block may start the worker pool
    {
        test::AllocationGuard guard;
        host.ProcessBlock(input, output, 0, 512);
        host.ProcessBlock(input, output, 0, 4096);
    }
}

TEST(MultithreadedBase, ChannelChangeRestoresParametersAndRate)
{
    core::Ref<TestComponent> component(new TestComponent);
    component->SetSampleRate(44100.0f);
    component->SetParameter(0, 0.3f);
    component->SetParameter(1, 0.9f);
    component->RequestIOConfiguration({media::Surround51Layout()}, {media::Surround51Layout()});
    ASSERT_EQ(component->Channels(), 6u);
    EXPECT_NEAR(component->GetParameter(0), 0.3f, 1e-6f);
    for (std::size_t channel = 0; channel < 6; ++channel) {
        EXPECT_NEAR(component->Kernel(channel).gain, 0.6f, 1e-6f);
        EXPECT_NEAR(component->Kernel(channel).coefficient, 0.9f, 1e-6f);
        EXPECT_EQ(component->Kernel(channel).sampleRate, 44100);
    }
    EXPECT_EQ(component->GetInitialDelay(), 3);
}

} // namespace
} // namespace zoc

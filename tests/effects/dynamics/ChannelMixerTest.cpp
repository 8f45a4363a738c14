#include "effects/dynamics/ChannelMixer.h"

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "platform/core/String.h"
#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using test::Signal;
constexpr int kEntry = ChannelMixer::EntryParameter(0, 0);

float NormalizedPercent(float percent) { return (percent + 100.0f) / 200.0f; }

Signal NoiseChannels(std::size_t channels, std::size_t frames)
{
    Signal signal;
    for (std::size_t channel = 0; channel < channels; ++channel)
        signal.push_back(test::Noise(frames, 11 + static_cast<unsigned>(channel)));
    return signal;
}

/// The plain single-precision matrix product, zero gains skipped.
Signal MatrixProduct(const std::vector<std::vector<float>>& gains, const Signal& input)
{
    Signal output(gains.size(), std::vector<float>(input[0].size()));
    for (std::size_t o = 0; o < gains.size(); ++o) {
        for (std::size_t n = 0; n < input[0].size(); ++n) {
            bool first = true;
            float sum = 0.0f;
            for (std::size_t i = 0; i < input.size(); ++i) {
                if (gains[o][i] == 0.0f)
                    continue;
                volatile float product = input[i][n] * gains[o][i];
                sum = first ? product : sum + product;
                first = false;
            }
            output[o][n] = sum;
        }
    }
    return output;
}

struct ChannelMixerFixture : ::testing::Test {
    core::Ref<ChannelMixer> mixer{new ChannelMixer};
    test::TestHost host{mixer};

    int Preset(const std::string& name)
    {
        for (int index = 0; index < mixer->GetNumFactoryPresets(); ++index)
            if (core::ToUtf8(mixer->GetFactoryPresetName(index)) == name)
                return index;
        ADD_FAILURE() << "no preset " << name;
        return 0;
    }

    std::string Name(int index) { return core::ToUtf8(mixer->GetParameterInfo(index)->GetName()); }
};

TEST_F(ChannelMixerFixture, NamesEntriesFromInputToOutputLabels)
{
    struct Case { std::size_t channels; int output, input; std::string name; };
    for (const Case& c : {Case{2, 0, 0, "L to L"}, Case{2, 1, 0, "L to R"}, Case{2, 0, 1, "R to L"},
                          Case{2, 7, 2, "3 to 8"}, Case{6, 2, 4, "Ls to C"}, Case{6, 3, 5, "Rs to LFE"},
                          Case{3, 0, 2, "3 to 1"}, Case{1, 0, 0, "M to M"}}) {
        host.Configure(c.channels, 48000.0f);
        EXPECT_EQ(Name(ChannelMixer::EntryParameter(c.output, c.input)), c.name) << c.channels << " channels";
        const auto count = mixer->GetParameterInfo(0);
        EXPECT_FLOAT_EQ(count->FromNormalized(mixer->GetParameter(0)), static_cast<float>(c.channels));
    }
}

TEST_F(ChannelMixerFixture, AcceptsOneLayoutEachWayOfOneToEightChannels)
{
    struct Case { host::ChannelLayoutList inputs, outputs; bool accepted; std::size_t channelsAfter; };
    const auto layout = media::LayoutForChannelCount;
    const Case cases[] = {
        {{layout(6)}, {layout(6)}, true, 6},
        {{layout(8)}, {layout(8)}, true, 8},
        {{layout(1)}, {layout(1)}, true, 1},
        {{layout(9)}, {layout(9)}, false, 1},   // more than the matrix holds
        {{layout(2)}, {layout(1)}, false, 1},   // counts differ
        {{layout(2), layout(2)}, {layout(2)}, false, 1},
        {{}, {}, false, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mixer->RequestIOConfiguration(c.inputs, c.outputs), c.accepted);
        EXPECT_EQ(mixer->GetNumberOfOutputChannels(), c.channelsAfter);
        EXPECT_EQ(mixer->GetNumberOfInputChannels(), c.channelsAfter);
    }
}

TEST_F(ChannelMixerFixture, OutputIsTheMatrixProductForEveryChannelCount)
{
    std::mt19937 random(5);
    std::uniform_real_distribution<float> normalized(0.0f, 1.0f);
    for (std::size_t channels : {1u, 2u, 6u, 8u}) {
        host.Configure(channels, 48000.0f);
        std::vector<std::vector<float>> gains(channels, std::vector<float>(channels));
        for (int o = 0; o < ChannelMixer::kMaxChannels; ++o) {
            for (int i = 0; i < ChannelMixer::kMaxChannels; ++i) {
                // About a third of the entries are silent, some are unity.
                const int pick = static_cast<int>(random() % 6);
                const float value = pick < 2 ? 0.5f : pick == 2 ? 1.0f : normalized(random);
                mixer->SetParameter(ChannelMixer::EntryParameter(o, i), value);
                if (static_cast<std::size_t>(o) < channels && static_cast<std::size_t>(i) < channels)
                    gains[static_cast<std::size_t>(o)][static_cast<std::size_t>(i)] = (-100.0f + value * 200.0f) / 100.0f;
            }
        }
        const Signal input = NoiseChannels(channels, 2000);
        const Signal expected = MatrixProduct(gains, input);
        EXPECT_EQ(test::MaxDifference(host.Run(input, 173), expected), 0.0f) << channels << " channels";

        // The same with every output buffer shared with its input, as hosts
        // that process in place do; runs longer than the scratch space.
        Signal inPlace = input;
        std::vector<float*> pointers;
        for (auto& channel : inPlace)
            pointers.push_back(channel.data());
        mixer->Resume();
        mixer->Process(pointers.data(), pointers.data(), 2000);
        EXPECT_EQ(test::MaxDifference(inPlace, expected), 0.0f) << channels << " channels in place";
    }
}

TEST_F(ChannelMixerFixture, InversePresetPairsRestoreTheInput)
{
    struct Case { const char* first; const char* second; float tolerance; };
    const Case cases[] = {
        {"Stereo to Mid/Side", "Stereo to Mid/Side", 1e-6f},
        {"Mid/Side to Stereo", "Stereo to Mid/Side", 1e-6f},
        {"Swap Left & Right", "Swap Left & Right", 0.0f},
        {"ITU 5.1 to [C L R Ls Rs LFE]", "[C L R Ls Rs LFE] to ITU 5.1", 0.0f},
        {"ITU 5.1 to [L C R Ls Rs LFE]", "[L C R Ls Rs LFE] to ITU 5.1", 0.0f},
        {"ITU 5.1 to [L R Ls Rs C LFE]", "[L R Ls Rs C LFE] to ITU 5.1", 0.0f},
    };
    const Signal input = NoiseChannels(8, 1000);
    host.Configure(8, 48000.0f);
    for (const Case& c : cases) {
        mixer->SetFactoryPreset(Preset(c.first));
        const Signal once = host.Run(input);
        EXPECT_GT(test::MaxDifference(once, input), 0.0f) << c.first;
        mixer->SetFactoryPreset(Preset(c.second));
        EXPECT_LE(test::MaxDifference(host.Run(once), input), c.tolerance) << c.first << ", then " << c.second;
    }
}

TEST_F(ChannelMixerFixture, DownmixesWeighCentreAndSurroundsAtMinus3dB)
{
    host.Configure(6, 48000.0f);
    mixer->SetFactoryPreset(Preset("Downmix to 2/0 (Stereo)"));
    // Only the centre and the left surround carry signal.
    Signal input(6, std::vector<float>(64, 0.0f));
    input[2].assign(64, 0.5f);
    input[4].assign(64, 0.25f);
    const Signal output = host.Run(input);
    const float minus3dB = static_cast<float>(test::FromDb(-3.0103));
    EXPECT_NEAR(output[0][10], 0.75f * minus3dB, 1e-6f);
    EXPECT_NEAR(output[1][10], 0.5f * minus3dB, 1e-6f);
    for (std::size_t channel = 2; channel < 6; ++channel)
        EXPECT_EQ(output[channel][10], 0.0f);

    // B-format to four speakers: the omnidirectional W reaches each at -9 dB.
    host.Configure(4, 48000.0f);
    mixer->SetFactoryPreset(Preset("Ambisonic B-Format to [L R Ls Rs]"));
    Signal w(4, std::vector<float>(64, 0.0f));
    w[0].assign(64, 0.5f);
    const Signal speakers = host.Run(w);
    for (std::size_t channel = 0; channel < 4; ++channel)
        EXPECT_NEAR(speakers[channel][10], 0.5f * minus3dB / 2.0f, 1e-6f) << channel;
}

TEST_F(ChannelMixerFixture, ChannelCountAndUnusedEntriesChangeNothing)
{
    host.Configure(2, 48000.0f);
    mixer->SetPresetNameAndDirtyState(u"Mine", false);
    const float countBefore = mixer->GetParameter(0);
    mixer->SetParameter(0, 1.0f);
    core::UString name;
    bool dirty = true;
    mixer->GetPresetNameAndDirtyState(name, dirty);
    EXPECT_FALSE(dirty) << "the channel count reached the host";
    EXPECT_EQ(mixer->GetParameter(0), countBefore);

    // An entry into output 3 is kept but a stereo mix never uses it; NaN and
    // out-of-range values neither.
    mixer->SetParameter(ChannelMixer::EntryParameter(2, 0), 1.0f);
    EXPECT_EQ(mixer->GetParameter(ChannelMixer::EntryParameter(2, 0)), 1.0f);
    mixer->SetParameter(kEntry, std::numeric_limits<float>::quiet_NaN());
    mixer->SetParameter(ChannelMixer::EntryParameter(1, 1), 7.0f);
    EXPECT_EQ(mixer->GetParameter(kEntry), 1.0f);
    EXPECT_EQ(mixer->GetParameter(ChannelMixer::EntryParameter(1, 1)), 1.0f);
    mixer->GetPresetNameAndDirtyState(name, dirty);
    EXPECT_TRUE(dirty);
    const Signal input = NoiseChannels(2, 300);
    EXPECT_EQ(test::MaxDifference(host.Run(input), input), 0.0f);
}

TEST_F(ChannelMixerFixture, SilentEntriesIgnoreNonFiniteInput)
{
    host.Configure(2, 48000.0f);
    mixer->SetFactoryPreset(Preset("Fill Right with Left"));
    Signal input = NoiseChannels(2, 512);
    input[1][100] = std::numeric_limits<float>::quiet_NaN();
    input[1][200] = std::numeric_limits<float>::infinity();
    const Signal output = host.Run(input, 64);
    for (const auto& channel : output)
        for (std::size_t n = 0; n < channel.size(); ++n)
            ASSERT_EQ(channel[n], input[0][n]);
}

TEST_F(ChannelMixerFixture, MatrixChangesGlideOverTenMilliseconds)
{
    host.Configure(2, 48000.0f);
    const Signal ones = test::ConstantSignal(2, 2000, 1.0f);
    const Signal output = host.RunInBlocks(ones, 100, [&](std::size_t from) {
        if (from == 500) {
            mixer->SetParameter(kEntry, NormalizedPercent(0.0f));                        // L to L off
            mixer->SetParameter(ChannelMixer::EntryParameter(0, 1), NormalizedPercent(50.0f)); // R to L half
        }
    });
    EXPECT_EQ(output[0][499], 1.0f);
    // 480 steps from 1 + 0 to 0 + 0.5: a straight line with no jump.
    for (std::size_t n = 500; n < 980; ++n) {
        const float expected = 1.0f - 0.5f * static_cast<float>(n - 500) / 480.0f;
        ASSERT_NEAR(output[0][n], expected, 1e-5f) << n;
    }
    for (std::size_t n = 980; n < 2000; ++n)
        ASSERT_EQ(output[0][n], 0.5f) << n;
    for (float sample : output[1])
        ASSERT_EQ(sample, 1.0f);

    // A resume starts on the new matrix at once.
    mixer->SetParameter(kEntry, NormalizedPercent(100.0f));
    EXPECT_EQ(host.Run(ones)[0][0], 1.5f);
}

} // namespace
} // namespace zoc::components

#include "framework/AudioComponentZombie.h"

#include <gtest/gtest.h>

#include "contracts/host/AudioFilterRegistrar.h"
#include "framework/Registration.h"
#include "platform/core/PropList.h"
#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using host::AudioFilter;

TEST(AudioComponentZombie, HoldsCountedParametersAndSettingsUninterpreted)
{
    core::Ref<AudioComponentZombie> zombie{new AudioComponentZombie("{not-built}", u"Gone", 3, true)};
    EXPECT_TRUE(zombie->IsZombie());
    EXPECT_TRUE(zombie->DoPresetsUseChunkData());
    EXPECT_EQ(zombie->GetParameterCount(), 3);
    for (int index = 0; index < 3; ++index) {
        EXPECT_EQ(zombie->GetParameter(index), 0.0f);
        auto info = zombie->GetParameterInfo(index);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->FromNormalized(0.0f), 0.0f);
        EXPECT_EQ(info->FromNormalized(1.0f), 1.0f);
        EXPECT_EQ(info->GetUnit(), host::kUnitNumber);
        EXPECT_FALSE(info->CanBeAutomated());
    }
    EXPECT_EQ(zombie->GetParameter(3), 0.0f);
    EXPECT_FALSE(zombie->GetParameterInfo(3));
    EXPECT_FALSE(zombie->GetParameterInfo(-1));

    zombie->SetParameter(1, 0.75f);
    zombie->SetParameter(7, 0.5f); // beyond the list: ignored
    EXPECT_EQ(zombie->GetParameter(1), 0.75f);
    zombie->SetParameterDisplayName(2, u"Depth");
    zombie->SetParameterUnit(2, host::kUnitDecibels, true);
    EXPECT_EQ(zombie->GetParameterInfo(2)->GetName(), u"Depth");
    EXPECT_EQ(zombie->GetParameterInfo(2)->GetUnit(), host::kUnitDecibels);
    EXPECT_TRUE(zombie->GetParameterInfo(2)->CanBeAutomated());

    host::PresetData loaded;
    loaded.SetParamList({0.25f, 1.0f, 0.0f});
    loaded.SetVersion(2.0f);
    loaded.SetPresetType(host::PresetType::kCustom);
    loaded.SetFactoryPresetName(u"Wide");
    auto custom = core::MakeRef<core::PropList>();
    custom->Set("DefaultValue", 0.5f);
    loaded.SetCustomDataSection(custom);
    const std::uint8_t bytes[] = {1, 2, 3};
    loaded.SetChunkData(bytes, sizeof bytes);
    EXPECT_TRUE(zombie->LoadSettings(loaded));
    host::PresetData saved;
    EXPECT_TRUE(zombie->SaveSettings(saved));
    EXPECT_EQ(saved.GetParamList(), loaded.GetParamList());
    EXPECT_EQ(saved.GetVersion(), 2.0f);
    EXPECT_EQ(saved.GetPresetType(), host::PresetType::kCustom);
    EXPECT_EQ(saved.GetFactoryPresetName(), u"Wide");
    std::vector<std::uint8_t> chunk;
    ASSERT_TRUE(saved.GetChunkData(chunk));
    EXPECT_EQ(chunk, (std::vector<std::uint8_t>{1, 2, 3}));
    ASSERT_TRUE(saved.GetCustomDataSection());
    EXPECT_EQ(*saved.GetCustomDataSection()->Get<float>("DefaultValue"), 0.5f);
    // Loading copies the values; the stored parameters stay as they were.
    EXPECT_EQ(zombie->GetParameter(0), 0.0f);

    // Audio passes through, as the host does for a component that does nothing.
    test::TestHost host{zombie};
    host.Configure(2, 48000.0f);
    const test::Signal input = test::SineSignal(2, 300, 48000.0f, 1000.0f);
    EXPECT_EQ(test::MaxDifference(host.Run(input), input), 0.0f);

    EXPECT_FALSE(zombie->CreateComponentFromZombieState());
    EXPECT_EQ(zombie->GetParameter(1), 0.75f);
    EXPECT_FALSE(zombie->GetReferrencedAudioFitler());
}

/// Puts a component into a state unlike a fresh one: 2 channels at 48 kHz,
/// its last factory preset, one parameter moved, channel maps and an edited
/// preset name.
void Configure(test::TestHost& host)
{
    AudioFilter& filter = host.Filter();
    host.Configure(2, 48000.0f);
    if (filter.GetNumFactoryPresets() > 1)
        host.GetSession().ApplyPreset(filter.GetNumFactoryPresets() - 1);
    for (int index = 0; index < filter.GetParameterCount(); ++index) {
        auto info = filter.GetParameterInfo(index);
        if (info && info->CanBeAutomated() && info->GetUnit() != host::kUnitSwitch) {
            filter.SetParameter(index, 0.37f);
            break;
        }
    }
    filter.SetUseChannelMap(true);
    filter.SetChannelMap({1, 0}, AudioFilter::Direction::kInput);
    filter.SetChannelMap({0, 1}, AudioFilter::Direction::kOutput);
    filter.SetPresetNameAndDirtyState(u"Mine", true);
}

TEST(AudioComponentZombie, EveryComponentComesBackFromItsPlaceholder)
{
    const auto catalog = GetComponentCatalog();
    ASSERT_FALSE(catalog.empty());
    const test::Signal input = {test::Noise(6000, 3), test::Noise(6000, 4)};
    for (const ComponentInfo& info : catalog) {
        SCOPED_TRACE(info.className);
        core::Ref<AudioFilter> original = host::utility::CreateAudioFilter(info.componentID);
        ASSERT_TRUE(original);
        test::TestHost originalHost{original};
        Configure(originalHost);

        core::Ref<AudioComponentZombie> zombie{new AudioComponentZombie(original)};
        EXPECT_EQ(zombie->GetReferrencedAudioFitler().get(), original.get());
        EXPECT_EQ(zombie->GetComponentID(), info.componentID);
        ASSERT_EQ(zombie->GetParameterCount(), original->GetParameterCount());
        for (int index = 0; index < original->GetParameterCount(); ++index) {
            EXPECT_EQ(zombie->GetParameter(index), original->GetParameter(index)) << index;
            if (auto source = original->GetParameterInfo(index)) {
                EXPECT_EQ(zombie->GetParameterInfo(index)->GetUnit(), source->GetUnit()) << index;
                EXPECT_EQ(zombie->GetParameterInfo(index)->CanBeAutomated(), source->CanBeAutomated()) << index;
            }
        }

        core::Ref<AudioFilter> rebuilt = zombie->CreateComponentFromZombieState();
        ASSERT_TRUE(rebuilt);
        EXPECT_FALSE(rebuilt->IsZombie());
        EXPECT_EQ(rebuilt->GetComponentID(), info.componentID);
        EXPECT_EQ(rebuilt->GetNumberOfInputChannels(), 2u);
        EXPECT_EQ(rebuilt->GetNumberOfOutputChannels(), 2u);
        EXPECT_EQ(rebuilt->GetSampleRate(), 48000.0f);
        EXPECT_TRUE(rebuilt->GetUseChannelMap());
        EXPECT_EQ(rebuilt->GetChannelMap(AudioFilter::Direction::kInput), (host::ChannelMap{1, 0}));
        core::UString name;
        bool dirty = false;
        rebuilt->GetPresetNameAndDirtyState(name, dirty);
        EXPECT_EQ(name, u"Mine");
        EXPECT_TRUE(dirty);
        // Components that keep real values may read back an ulp away.
        for (int index = 0; index < original->GetParameterCount(); ++index)
            EXPECT_FLOAT_EQ(rebuilt->GetParameter(index), original->GetParameter(index)) << index;

        if (original->IsOfflineProcess())
            continue; // offline components run through a reader and writer, not blocks
        test::TestHost rebuiltHost{rebuilt};
        rebuiltHost.Configure(2, 48000.0f);
        EXPECT_EQ(test::MaxDifference(rebuiltHost.Run(input), originalHost.Run(input)), 0.0f);
    }
}

} // namespace
} // namespace zoc::components

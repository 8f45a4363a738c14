// Placeholder for a component that is missing or not to be run.

#include "framework/AudioComponentZombie.h"

#include "contracts/host/AudioFilterRegistrar.h"

namespace zoc::components {

AudioComponentZombie::AudioComponentZombie(std::string componentID, core::UString displayName, int parameterCount,
                                           bool presetsUseChunkData)
    : AudioFilter(std::move(componentID), std::move(displayName)), presetsUseChunkData_(presetsUseChunkData)
{
    for (int index = 0; index < parameterCount; ++index) {
        infos_.push_back(Describe(index, {}, host::kUnitNumber, false));
        values_.push_back(0.0f);
    }
}

AudioComponentZombie::AudioComponentZombie(const core::Ref<host::AudioFilter>& component)
    : AudioFilter(component->GetComponentID(), component->GetDisplayName()),
      presetsUseChunkData_(component->DoPresetsUseChunkData()), referenced_(component)
{
    AddInputBuses(component->GetInputBuses());
    AddOutputBuses(component->GetOutputBuses());
    component->SaveSettings(settings_);
    SetSampleRate(component->GetSampleRate());
    SetBlockSize(component->GetBlockSize());
    for (int index = 0; index < component->GetParameterCount(); ++index) {
        values_.push_back(component->GetParameter(index));
        const core::Ref<host::AudioFilterParameterInfo> info = component->GetParameterInfo(index);
        infos_.push_back(info ? Describe(index, {}, info->GetUnit(), info->CanBeAutomated())
                              : Describe(index, {}, host::kUnitNumber, false));
    }
    SetUseChannelMap(component->GetUseChannelMap());
    SetChannelMap(component->GetChannelMap(Direction::kInput), Direction::kInput);
    SetChannelMap(component->GetChannelMap(Direction::kOutput), Direction::kOutput);
    core::UString presetName;
    bool dirty = false;
    component->GetPresetNameAndDirtyState(presetName, dirty);
    SetPresetNameAndDirtyState(std::move(presetName), dirty);
}

core::Ref<GenericParameterInfo> AudioComponentZombie::Describe(int index, core::UString name,
                                                               host::AudioFilterParameterInfoUnit unit,
                                                               bool automatable)
{
    return core::MakeRef<GenericParameterInfo>(std::move(name), u"", unit, index, 0.0f, 1.0f, automatable);
}

float AudioComponentZombie::GetParameter(int index)
{
    if (index < 0 || index >= GetParameterCount())
        return 0.0f;
    return values_[static_cast<std::size_t>(index)];
}

void AudioComponentZombie::SetParameter(int index, float normalized)
{
    if (index >= 0 && index < GetParameterCount())
        values_[static_cast<std::size_t>(index)] = normalized;
    AudioFilter::SetParameter(index, normalized);
}

core::Ref<host::AudioFilterParameterInfo> AudioComponentZombie::GetParameterInfo(int index)
{
    if (index < 0 || index >= static_cast<int>(infos_.size()))
        return nullptr;
    return infos_[static_cast<std::size_t>(index)];
}

void AudioComponentZombie::SetParameterDisplayName(int index, core::UString name)
{
    if (index >= 0 && index < static_cast<int>(infos_.size()))
        infos_[static_cast<std::size_t>(index)]->SetName(std::move(name));
}

void AudioComponentZombie::SetParameterUnit(int index, host::AudioFilterParameterInfoUnit unit, bool automatable)
{
    if (index < 0 || index >= static_cast<int>(infos_.size()))
        return;
    core::Ref<GenericParameterInfo>& info = infos_[static_cast<std::size_t>(index)];
    info = Describe(index, info->GetName(), unit, automatable);
}

bool AudioComponentZombie::LoadSettings(const host::PresetData& preset)
{
    settings_.SetDataFromExistingPreset(preset);
    return true;
}

bool AudioComponentZombie::SaveSettings(host::PresetData& preset)
{
    preset.SetDataFromExistingPreset(settings_);
    return true;
}

core::Ref<host::AudioFilter> AudioComponentZombie::CreateComponentFromZombieState()
{
    core::Ref<host::AudioFilter> component = host::utility::CreateAudioFilter(GetComponentID());
    if (!component)
        return nullptr;
    host::ChannelLayoutList inputs;
    host::ChannelLayoutList outputs;
    for (const host::AudioFilterBusDescription& bus : GetInputBuses())
        inputs.push_back(bus.GetLayout());
    for (const host::AudioFilterBusDescription& bus : GetOutputBuses())
        outputs.push_back(bus.GetLayout());
    component->RequestIOConfiguration(inputs, outputs);
    // The rate goes first: settings in real units (times, frequencies) are
    // taken in at the rate the component will run at.
    component->SetSampleRate(GetSampleRate());
    component->SetBlockSize(GetBlockSize());
    component->LoadSettings(settings_);
    component->SetUseChannelMap(GetUseChannelMap());
    component->SetChannelMap(GetChannelMap(Direction::kInput), Direction::kInput);
    component->SetChannelMap(GetChannelMap(Direction::kOutput), Direction::kOutput);
    core::UString presetName;
    bool dirty = false;
    GetPresetNameAndDirtyState(presetName, dirty);
    component->SetPresetNameAndDirtyState(std::move(presetName), dirty);
    return component;
}

} // namespace zoc::components

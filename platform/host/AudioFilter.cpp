// The host's default behaviour for every filter operation a component does
// not override.

#include "contracts/host/AudioFilter.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "contracts/host/AudioFilterRegistrar.h"
#include "platform/core/Localizer.h"

namespace zoc::host {

core::UString AudioFilterParameterInfo::GetParameterString(float normalized) const
{
    return core::NumberToString(FromNormalized(normalized), 1, 2);
}

AudioFilter::AudioFilter(std::string componentID, core::UString displayName)
    : componentID_(std::move(componentID)), displayName_(std::move(displayName))
{
}

AudioFilter::~AudioFilter() = default;

void AudioFilter::SetAudioFilterHost(IAudioFilterHost* host) { filterHost_ = host; }
void AudioFilter::SetSampleRate(float rate) { sampleRate_ = rate; }
void AudioFilter::SetBlockSize(int frames) { blockSize_ = std::max(1, frames); }
int AudioFilter::GetMaxProcessingBlockSize() { return 0; }
void AudioFilter::SetCurrentOffset(std::int64_t frame) { currentOffset_ = frame; }

void AudioFilter::Process(float** inputs, float** outputs, int frames)
{
    // A filter that does not process passes its input through.
    const std::size_t channels = std::min(GetNumberOfInputChannels(), GetNumberOfOutputChannels());
    for (std::size_t channel = 0; channel < channels; ++channel) {
        if (outputs[channel] != inputs[channel])
            std::memmove(outputs[channel], inputs[channel], sizeof(float) * static_cast<std::size_t>(frames));
    }
}

void AudioFilter::ProcessWithMapping(float** inputs, float** outputs, int frames)
{
    if (!useChannelMap_ || (inputMap_.empty() && outputMap_.empty())) {
        Process(inputs, outputs, frames);
        return;
    }
    // Reorder the host's channels into the component's order and back, in
    // fixed arrays so the audio thread never allocates.
    constexpr std::size_t kMaxMappedChannels = 64;
    std::array<float*, kMaxMappedChannels> mappedIn{};
    std::array<float*, kMaxMappedChannels> mappedOut{};
    const std::size_t inputCount = std::min(GetNumberOfInputChannels(), kMaxMappedChannels);
    const std::size_t outputCount = std::min(GetNumberOfOutputChannels(), kMaxMappedChannels);
    for (std::size_t i = 0; i < inputCount; ++i)
        mappedIn[i] = inputs[i < inputMap_.size() ? static_cast<std::size_t>(inputMap_[i]) : i];
    // Side-chain channels follow the main ones unmapped.
    const std::size_t sideChain = std::min(GetSideChainTargetBusChannelCount(), kMaxMappedChannels - inputCount);
    for (std::size_t i = inputCount; i < inputCount + sideChain; ++i)
        mappedIn[i] = inputs[i];
    for (std::size_t i = 0; i < outputCount; ++i)
        mappedOut[i] = outputs[i < outputMap_.size() ? static_cast<std::size_t>(outputMap_[i]) : i];
    Process(mappedIn.data(), mappedOut.data(), frames);
}

bool AudioFilter::IsOfflineProcess() { return false; }
bool AudioFilter::CanChangeDuration() { return false; }
bool AudioFilter::IsGenerator() { return false; }
void AudioFilter::SetSelectionLeft(double seconds) { selectionLeft_ = seconds; }
double AudioFilter::GetSelectionLeft() { return selectionLeft_; }
void AudioFilter::SetCurrentDuration(double seconds) { currentDuration_ = seconds; }
double AudioFilter::GetCurrentDuration() { return currentDuration_; }
double AudioFilter::GetProcessedDuration() { return currentDuration_; }
double AudioFilter::GetProcessedPosition(double originalSeconds) { return originalSeconds; }
double AudioFilter::GetOriginalPosition(double processedSeconds) { return processedSeconds; }
double AudioFilter::GetProcessedScale() { return 1.0; }
int AudioFilter::GetMaxOutputBlockSize(int inputFrames) { return inputFrames; }
double AudioFilter::GetTail() { return 0.0; }
int AudioFilter::OfflineProcess(float**, float**, int, int, int) { return 0; }
bool AudioFilter::OfflineProcessFinished() { return true; }
void AudioFilter::Suspend() { suspended_ = true; }
void AudioFilter::Resume() { suspended_ = false; }
void AudioFilter::SetDoSpectral(bool) {}
void AudioFilter::SetPreviewMode(bool) {}
int AudioFilter::GetParameterCount() { return 0; }
void AudioFilter::SetParameterAutomated(int index, float normalized) { SetParameter(index, normalized); }

void AudioFilter::SetParameter(int, float)
{
    // The host marks the current preset as edited unless a load is running.
    if (!IsLoadingSettings())
        presetDirty_ = true;
}

float AudioFilter::GetParameter(int) { return 0.0f; }
core::Ref<AudioFilterParameterInfo> AudioFilter::GetParameterInfo(int) { return nullptr; }
core::UString AudioFilter::GetParameterString(int) { return {}; }
bool AudioFilter::GetCurveData(int, std::size_t, std::vector<float>&) { return false; }
float AudioFilter::GetCurrentPresetVersion() { return 1.0f; }
bool AudioFilter::DoPresetsUseChunkData() { return false; }

void AudioFilter::GetFactoryDefaultPresets(PresetList& presets)
{
    // Each factory preset as saved settings: apply it, save, restore.
    PresetData current;
    SaveSettings(current);
    presets.clear();
    for (int index = 0; index < GetNumFactoryPresets(); ++index) {
        SetFactoryPreset(index);
        PresetData preset;
        SaveSettings(preset);
        preset.SetFactoryPresetName(GetFactoryPresetName(index));
        presets.push_back(std::move(preset));
    }
    LoadSettings(current);
}

int AudioFilter::GetNumFactoryPresets() { return 0; }
core::UString AudioFilter::GetFactoryPresetName(int) { return {}; }
void AudioFilter::SetFactoryPreset(int) {}

bool AudioFilter::LoadSettings(const PresetData& preset)
{
    StartLoadingSettings();
    bool ok = LoadParams(preset);
    if (ok && preset.GetCustomDataSection())
        ok = LoadCustomData(preset);
    std::vector<std::uint8_t> chunk;
    if (ok && DoPresetsUseChunkData() && preset.GetChunkData(chunk))
        ok = LoadChunkData(chunk);
    FinishLoadingSettings(ok);
    return ok;
}

bool AudioFilter::SaveSettings(PresetData& preset)
{
    std::vector<float> params;
    SaveParams(params);
    preset.SetParamList(std::move(params));
    preset.SetVersion(GetCurrentPresetVersion());
    if (DoPresetsUseChunkData()) {
        std::vector<std::uint8_t> chunk;
        if (SaveChunkData(chunk)) {
            preset.SetChunkData(chunk.data(), chunk.size());
            preset.SetPresetType(PresetType::kChunk);
        }
    }
    return true;
}

bool AudioFilter::LoadChunkData(const std::vector<std::uint8_t>&) { return false; }
bool AudioFilter::SaveChunkData(std::vector<std::uint8_t>&) { return false; }
bool AudioFilter::LoadCustomData(const PresetData&) { return true; }
bool AudioFilter::ArePresetsSafeForPlayback() { return true; }
int AudioFilter::GetInitialDelay() { return 0; }

bool AudioFilter::RequestIOConfiguration(const ChannelLayoutList& inputs, const ChannelLayoutList& outputs)
{
    // By default a filter takes exactly what it is offered: one bus each way.
    if (inputs.size() != 1 || outputs.size() != 1)
        return false;
    ClearBusConfiguration();
    AddInputBus(AudioFilterBusDescription(u"Input", inputs[0]));
    AddOutputBus(AudioFilterBusDescription(u"Output", outputs[0]));
    return true;
}

bool AudioFilter::CanUseSideChaining() { return false; }
bool AudioFilter::HasCustomEditor() { return false; }
void* AudioFilter::CreateCustomEditor() { return nullptr; }

core::Ref<AudioFilter> AudioFilter::Clone()
{
    // A new instance from the registry carrying the same parameters, layout and rate.
    core::Ref<AudioFilter> copy = utility::CreateAudioFilter(componentID_);
    if (!copy)
        return nullptr;
    ChannelLayoutList inputs;
    ChannelLayoutList outputs;
    for (const auto& bus : buses_.inputs)
        inputs.push_back(bus.GetLayout());
    for (const auto& bus : buses_.outputs)
        outputs.push_back(bus.GetLayout());
    copy->RequestIOConfiguration(inputs, outputs);
    copy->SetSampleRate(sampleRate_);
    PresetData settings;
    SaveSettings(settings);
    copy->LoadSettings(settings);
    copy->presetName_ = presetName_;
    copy->presetDirty_ = presetDirty_;
    return copy;
}

bool AudioFilter::IsZombie() { return false; }
void AudioFilter::BeginEditing(int) {}
void AudioFilter::EndEditing(int) {}
void AudioFilter::StartLoadingSettings() { ++loadingSettings_; }
void AudioFilter::FinishLoadingSettings(bool) { loadingSettings_ = std::max(0, loadingSettings_ - 1); }

core::Ref<AudioFilterDescriptor> AudioFilter::CreateFilterDescriptor(const PluginLocator&, bool)
{
    for (const AudioFilterRegistrar* registrar : GetRegisteredFilters()) {
        core::Ref<AudioFilterDescriptor> descriptor = registrar->CreateDescriptor();
        if (descriptor && descriptor->GetComponentID() == componentID_)
            return descriptor;
    }
    return nullptr;
}

bool AudioFilter::LoadParams(const PresetData& preset)
{
    if (!ValidatePresetVersion(preset.GetVersion()))
        return false;
    const std::vector<float>& params = preset.GetParamList();
    if (!ValidateParamCount(static_cast<int>(params.size())))
        return false;
    for (std::size_t index = 0; index < params.size(); ++index)
        SetParameter(static_cast<int>(index), params[index]);
    return true;
}

void AudioFilter::SaveParams(std::vector<float>& params)
{
    params.clear();
    for (int index = 0; index < GetParameterCount(); ++index)
        params.push_back(GetParameter(index));
}

bool AudioFilter::ValidatePresetVersion(float version) { return version <= GetCurrentPresetVersion(); }
bool AudioFilter::ValidateParamCount(int count) { return count == GetParameterCount(); }

std::size_t AudioFilter::GetNumberOfOutputChannels() const
{
    for (const auto& bus : buses_.outputs) {
        if (bus.GetType() == AudioFilterBusDescription::kMain)
            return bus.GetChannelCount();
    }
    return 0;
}

std::size_t AudioFilter::GetNumberOfInputChannels() const
{
    for (const auto& bus : buses_.inputs) {
        if (bus.GetType() == AudioFilterBusDescription::kMain)
            return bus.GetChannelCount();
    }
    return 0;
}

std::size_t AudioFilter::GetSideChainTargetBusChannelCount() const
{
    for (const auto& bus : buses_.inputs) {
        if (bus.GetType() == AudioFilterBusDescription::kSideChain)
            return std::min(bus.GetChannelCount(), sideChainConnected_);
    }
    return 0;
}

const ChannelMap& AudioFilter::GetChannelMap(Direction direction) const
{
    return direction == Direction::kInput ? inputMap_ : outputMap_;
}

void AudioFilter::SetChannelMap(ChannelMap map, Direction direction)
{
    (direction == Direction::kInput ? inputMap_ : outputMap_) = std::move(map);
}

void AudioFilter::GetPresetNameAndDirtyState(core::UString& name, bool& dirty) const
{
    name = presetName_;
    dirty = presetDirty_;
}

void AudioFilter::SetPresetNameAndDirtyState(core::UString name, bool dirty)
{
    presetName_ = std::move(name);
    presetDirty_ = dirty;
}

void AudioFilter::ClearBusConfiguration() { buses_ = {}; }
void AudioFilter::AddInputBus(AudioFilterBusDescription bus) { buses_.inputs.push_back(std::move(bus)); }
void AudioFilter::AddOutputBus(AudioFilterBusDescription bus) { buses_.outputs.push_back(std::move(bus)); }

void AudioFilter::AddInputBuses(const AudioFilterBusList& buses)
{
    buses_.inputs.insert(buses_.inputs.end(), buses.begin(), buses.end());
}

void AudioFilter::AddOutputBuses(const AudioFilterBusList& buses)
{
    buses_.outputs.insert(buses_.outputs.end(), buses.begin(), buses.end());
}

} // namespace zoc::host

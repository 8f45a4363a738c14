// Offline component bases: do-nothing offline operations and bus negotiation.

#include "framework/AudioOfflineComponent.h"

#include "framework/BusNames.h"
#include "platform/core/Localizer.h"

namespace zoc {

using host::AudioFilterBusDescription;

AudioOfflineComponent::AudioOfflineComponent(std::string componentID, core::UString title)
    : AudioFilter(std::move(componentID), std::move(title))
{
}

void AudioOfflineComponent::SetOfflineReader(core::Ref<OfflineIInterface>) {}
void AudioOfflineComponent::SetOfflineWriter(core::Ref<OfflineOInterface>) {}
void AudioOfflineComponent::GetCompletionText(core::UString& text) { text.clear(); }
bool AudioOfflineComponent::OfflineRun(std::int64_t, std::int64_t) { return true; }
void AudioOfflineComponent::SetProgressHandler(volatile float*) {}

namespace components {

MultiChannelOfflineComponent::MultiChannelOfflineComponent(std::string componentID, core::UString title,
                                                           int maxChannels)
    : AudioOfflineComponent(std::move(componentID), std::move(title)), maxChannels_(maxChannels)
{
    AddInputBus(AudioFilterBusDescription::CreateStereo(core::Localize(BusNamesFor(2).input)));
    AddOutputBus(AudioFilterBusDescription::CreateStereo(core::Localize(BusNamesFor(2).output)));
}

bool MultiChannelOfflineComponent::RequestIOConfiguration(const host::ChannelLayoutList& inputs,
                                                          const host::ChannelLayoutList& outputs)
{
    const std::optional<ChannelProposal> proposal = ReadChannelProposal(inputs, outputs, maxChannels_);
    if (!proposal)
        return false;
    const std::size_t channels = proposal->channels;
    const BusNames names = BusNamesFor(channels);
    ClearBusConfiguration();
    AddInputBus(AudioFilterBusDescription(core::Localize(names.input), inputs[0]));
    AddOutputBus(AudioFilterBusDescription(core::Localize(names.output), outputs[0]));
    OnNumberOfChannelsChanged(channels);
    return proposal->accepted;
}

} // namespace components
} // namespace zoc

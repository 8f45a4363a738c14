// Offline component bases: do-nothing offline operations and bus negotiation.

#include "framework/AudioOfflineComponent.h"

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
    AddInputBus(AudioFilterBusDescription::CreateStereo(core::UString(u"Stereo In")));
    AddOutputBus(AudioFilterBusDescription::CreateStereo(core::UString(u"Stereo Out")));
}

bool MultiChannelOfflineComponent::RequestIOConfiguration(const host::ChannelLayoutList& inputs,
                                                          const host::ChannelLayoutList& outputs)
{
    if (inputs.size() != 1 || outputs.size() != 1)
        return false;
    std::size_t channels = inputs[0].size();
    if (channels != outputs[0].size() || channels == 0)
        return false;
    const bool accepted = channels <= static_cast<std::size_t>(maxChannels_);
    if (!accepted)
        channels = 1;
    const char16_t* inName = u"Multichannel In";
    const char16_t* outName = u"Multichannel Out";
    if (channels == 1) {
        inName = u"Mono In";
        outName = u"Mono Out";
    } else if (channels == 2) {
        inName = u"Stereo In";
        outName = u"Stereo Out";
    } else if (channels == 6) {
        inName = u"Surround 5.1 In";
        outName = u"Surround 5.1 Out";
    }
    ClearBusConfiguration();
    AddInputBus(AudioFilterBusDescription(core::UString(inName), inputs[0]));
    AddOutputBus(AudioFilterBusDescription(core::UString(outName), outputs[0]));
    OnNumberOfChannelsChanged(channels);
    return accepted;
}

} // namespace components
} // namespace zoc

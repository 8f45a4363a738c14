// Bus negotiation and parameter descriptions shared by multi-channel components.

#include "framework/MultiChannelComponentBase.h"

#include <algorithm>
#include <cmath>

#include "framework/BusNames.h"
#include "framework/SampleRates.h"
#include "platform/core/Localizer.h"

namespace zoc {

using host::AudioFilterBusDescription;

MultiChannelComponentBase::MultiChannelComponentBase(std::string componentID, core::UString title,
                                                     int maxChannels, FactoryPresetTable presets)
    : AudioFilter(std::move(componentID), std::move(title)), maxChannels_(maxChannels),
      presets_(std::move(presets))
{
    AddInputBus(AudioFilterBusDescription::CreateStereo(core::Localize("$$$/Effects/StereoIn=Stereo In")));
    AddOutputBus(AudioFilterBusDescription::CreateStereo(core::Localize("$$$/Effects/StereoOut=Stereo Out")));
}

bool MultiChannelComponentBase::RequestIOConfiguration(const host::ChannelLayoutList& inputs,
                                                       const host::ChannelLayoutList& outputs)
{
    if (inputs.size() != 1 || outputs.size() != 1)
        return false;
    const auto& current = GetBusConfiguration();
    if (current.inputs.size() == 1 && current.outputs.size() == 1 &&
        current.inputs[0].GetLayout() == inputs[0] && current.outputs[0].GetLayout() == outputs[0])
        return inputs[0].size() <= static_cast<std::size_t>(maxChannels_);
    const std::optional<ChannelProposal> proposal = ReadChannelProposal(inputs, outputs, maxChannels_);
    if (!proposal)
        return false;
    const std::size_t channels = proposal->channels;
    const BusNames names = BusNamesFor(channels);
    ClearBusConfiguration();
    AddInputBus(AudioFilterBusDescription(core::Localize(names.input), inputs[0]));
    AddOutputBus(AudioFilterBusDescription(core::Localize(names.output), inputs[0]));
    OnNumberOfChannelsChanged(channels);
    return proposal->accepted;
}

core::Ref<host::AudioFilterParameterInfo> MultiChannelComponentBase::GetParameterInfo(int index)
{
    if (index < 0)
        return nullptr;
    auto found = infos_.find(static_cast<std::size_t>(index));
    return found == infos_.end() ? nullptr : found->second;
}

void MultiChannelComponentBase::SetSampleRate(float rate)
{
    if (const std::optional<float> accepted = AcceptedSampleRate(rate))
        host::AudioFilter::SetSampleRate(*accepted);
}

core::UString MultiChannelComponentBase::GetParameterString(int index)
{
    core::Ref<host::AudioFilterParameterInfo> info = GetParameterInfo(index);
    if (!info)
        return {};
    return core::NumberToString(info->FromNormalized(GetParameter(index)), 1, 2);
}

bool MultiChannelComponentBase::GetKeyFrameParameter(unsigned long id, float& value)
{
    return paramInterface_ != nullptr && paramInterface_->GetKeyFrameParameter(id, value);
}

void MultiChannelComponentBase::AddParameterInfo(std::size_t index, core::Ref<host::AudioFilterParameterInfo> info)
{
    infos_[index] = std::move(info);
}

std::optional<float> MultiChannelComponentBase::RealFromNormalized(int index, float normalized) const
{
    if (index < 0)
        return std::nullopt;
    auto found = infos_.find(static_cast<std::size_t>(index));
    const std::optional<float> sane = SanitizeNormalized(normalized);
    if (found == infos_.end() || !sane)
        return std::nullopt;
    return found->second->FromNormalized(*sane);
}

} // namespace zoc

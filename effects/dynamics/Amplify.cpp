// Amplify: per-channel gain with linked sliders and click-free ramps.

#include "effects/dynamics/Amplify.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dsp/Denormals.h"
#include "framework/Registration.h"
#include "platform/core/Localizer.h"
#include "primitives/VectorOps.h"

namespace zoc::components {

const std::string kAmplifyComponentID = ComponentGuid(1).AsString();

namespace {

constexpr core::Guid kDescriptorGuid = DescriptorGuid(1);
constexpr const char* kTitleKey = "$$$/AudioComponents/AmplifyTitle=Amplify";

const ComponentRegistration<Amplify> kRegistration{"Amplify", kTitleKey, 0, kAmplifyComponentID,
                                                    kDescriptorGuid,
    "Changes each channel's gain in dB, optionally linked",
    "+6dB Boost"};

// Presets store 2/32 channels, the link on and one gain for all 32 channels.
constexpr PresetRow<Amplify::kParameterCount> GainRow(const char* key, float normalizedGain)
{
    PresetRow<Amplify::kParameterCount> row{key, {}};
    row.values[Amplify::kChannelCountParameter] = 0.0625f;
    row.values[Amplify::kLinkParameter] = 1.0f;
    for (int channel = 0; channel < Amplify::kMaxChannels; ++channel)
        row.values[static_cast<std::size_t>(Amplify::kFirstGainParameter + channel)] = normalizedGain;
    return row;
}

constexpr std::array kPresets = {
    GainRow(kDefaultPresetKey, 0.666667f),
    GainRow("$$$/AudioComponents/AmplifyPresets/10dBBoost=+10dB Boost", 0.736111f),
    GainRow("$$$/AudioComponents/AmplifyPresets/1dBBoost=+1dB Boost", 0.673611f),
    GainRow("$$$/AudioComponents/AmplifyPresets/3dBBoost=+3dB Boost", 0.6875f),
    GainRow("$$$/AudioComponents/AmplifyPresets/6dBBoost=+6dB Boost", 0.708333f),
    GainRow("$$$/AudioComponents/AmplifyPresets/10dBCut=-10dB Cut", 0.597222f),
    GainRow("$$$/AudioComponents/AmplifyPresets/1dBCut=-1dB Cut", 0.659722f),
    GainRow("$$$/AudioComponents/AmplifyPresets/3dBCut=-3dB Cut", 0.645833f),
    GainRow("$$$/AudioComponents/AmplifyPresets/6dBCut=-6dB Cut", 0.625f),
};

} // namespace

Amplify::Amplify()
    : MultiChannelComponentBase(kAmplifyComponentID, core::Localize(kTitleKey), kMaxChannels, kPresets),
      channelCount_(static_cast<unsigned>(std::min<std::size_t>(GetNumberOfOutputChannels(), kMaxChannels)))
{
    BuildParameterInfos();
    rampLength_ = std::max(1, static_cast<int>(kRampSeconds * GetSampleRate() + 0.5));
}

void Amplify::BuildParameterInfos()
{
    infos_.clear();
    const float channels = static_cast<float>(channelCount_);
    infos_.push_back(core::MakeRef<GenericParameterInfo>(
        core::Localize("$$$/Effects/Amplify/ChannelCount=Channel Count"), u"", host::kUnitNumber,
        kChannelCountParameter, 1.0f, channels, false));
    infos_.push_back(core::MakeRef<GenericParameterInfo>(
        core::Localize("$$$/Effects/Amplify/LinkSliders=Link Sliders"), u"", host::kUnitSwitch, kLinkParameter, 0.0f,
        1.0f, false));

    const media::AudioChannelLayout layout =
        GetInputBuses().empty() ? media::AudioChannelLayout{} : GetInputBuses()[0].GetLayout();
    for (unsigned channel = 0; channel < channelCount_; ++channel) {
        core::UString name;
        if (channelCount_ == 1) {
            name = core::Localize("$$$/Effects/Amplify/Gain=Gain");
        } else if (channel < layout.size()) {
            const media::AudioChannelLabel label = layout[channel].label;
            name = label == media::kChannelUnlabeled ? core::FromUtf8(std::to_string(channel + 1))
                                                     : core::Localize(media::AudioChannelLabelDescription(label));
        }
        infos_.push_back(core::MakeRef<GenericParameterInfo>(
            std::move(name), u"dB", host::kUnitDecibels, kFirstGainParameter + static_cast<int>(channel), kMinGainDb,
            kMaxGainDb, true, false, 1, 2));
    }
}

void Amplify::SetParameter(int index, float normalized)
{
    const std::optional<float> sane = SanitizeNormalized(normalized);
    const int channel = index - kFirstGainParameter;
    if (sane && channel >= 0 && channel < static_cast<int>(channelCount_)) {
        const float decibels = infos_[static_cast<std::size_t>(index)]->FromNormalized(*sane);
        if (decibels != gainsDb_[static_cast<std::size_t>(channel)]) {
            // Only a slider being dragged moves its linked partners; automation
            // and loaded settings address one channel each.
            if (linked_ && editing_[static_cast<std::size_t>(index)] != 0.0f && !IsLoadingSettings())
                gainsDb_.fill(decibels);
            else
                gainsDb_[static_cast<std::size_t>(channel)] = decibels;
            changed_ = true;
        }
    } else if (sane && index == kLinkParameter) {
        linked_ = *sane >= 0.5f;
    }
    MultiChannelComponentBase::SetParameter(index, normalized);
}

float Amplify::GetParameter(int index)
{
    if (index == kChannelCountParameter)
        return static_cast<float>(channelCount_) * 0.03125f;
    if (index == kLinkParameter)
        return linked_ ? 1.0f : 0.0f;
    const int channel = index - kFirstGainParameter;
    if (channel < 0 || channel >= kMaxChannels)
        return 0.0f;
    if (channel < static_cast<int>(channelCount_))
        return infos_[static_cast<std::size_t>(index)]->ToNormalized(gainsDb_[static_cast<std::size_t>(channel)]);
    // Channels the layout does not have read as linked to the stored gain, or 0 dB.
    const GenericParameterInfo& firstGain = *infos_[kFirstGainParameter];
    return firstGain.ToNormalized(linked_ ? gainsDb_[static_cast<std::size_t>(channel)] : 0.0f);
}

core::Ref<host::AudioFilterParameterInfo> Amplify::GetParameterInfo(int index)
{
    if (index < 0 || index >= static_cast<int>(infos_.size()))
        return nullptr;
    return infos_[static_cast<std::size_t>(index)];
}

void Amplify::BeginEditing(int index)
{
    if (index >= 0 && index < kParameterCount)
        editing_[static_cast<std::size_t>(index)] = 1.0f;
    MultiChannelComponentBase::BeginEditing(index);
}

void Amplify::EndEditing(int index)
{
    if (index >= 0 && index < kParameterCount)
        editing_[static_cast<std::size_t>(index)] = 0.0f;
    MultiChannelComponentBase::EndEditing(index);
}

void Amplify::SetSampleRate(float rate)
{
    if (rate == GetSampleRate())
        return;
    MultiChannelComponentBase::SetSampleRate(rate);
    rampLength_ = std::max(1, static_cast<int>(kRampSeconds * GetSampleRate() + 0.5));
    changed_ = true;
}

void Amplify::Resume()
{
    MultiChannelComponentBase::Resume();
    for (int channel = 0; channel < kMaxChannels; ++channel)
        ramps_[static_cast<std::size_t>(channel)] = {TargetGain(gainsDb_[static_cast<std::size_t>(channel)]), 0.0f};
    rampRemaining_ = 0;
    changed_ = false;
}

void Amplify::OnNumberOfChannelsChanged(std::size_t count)
{
    channelCount_ = static_cast<unsigned>(std::min<std::size_t>(count, kMaxChannels));
    changed_ = true;
    BuildParameterInfos();
}

float Amplify::TargetGain(float decibels) { return std::pow(10.0f, decibels / 20.0f); }

void Amplify::SetUpRamps()
{
    bool anyRamp = false;
    for (int channel = 0; channel < kMaxChannels; ++channel) {
        Ramp& ramp = ramps_[static_cast<std::size_t>(channel)];
        const float target = TargetGain(gainsDb_[static_cast<std::size_t>(channel)]);
        ramp.increment = 0.0f;
        if (ramp.gain != target) {
            ramp.increment = (target - ramp.gain) / static_cast<float>(rampLength_);
            anyRamp = true;
        }
    }
    changed_ = false;
    if (anyRamp)
        rampRemaining_ = rampLength_;
}

void Amplify::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    if (changed_)
        SetUpRamps();
    if (frames > 0 && channelCount_ > 0) {
        const std::size_t count = static_cast<std::size_t>(frames);
        for (unsigned channel = 0; channel < channelCount_; ++channel) {
            Ramp& ramp = ramps_[channel];
            const float* in = inputs[channel];
            float* out = outputs[channel];
            int remaining = rampRemaining_;
            if (remaining == 0) {
                primitives::Scale(in, ramp.gain, out, count);
                continue;
            }
            for (std::size_t i = 0; i < count; ++i) {
                out[i] = in[i] * ramp.gain;
                if (remaining > 0) {
                    ramp.gain += ramp.increment;
                    if (--remaining == 0)
                        ramp.gain = TargetGain(gainsDb_[channel]); // land exactly on the target
                }
            }
        }
    }
    rampRemaining_ = std::max(0, rampRemaining_ - std::max(0, frames));
}

} // namespace zoc::components

// VolumeEnvelope: the common mechanics of the drawn gain and fade envelopes.

#include "effects/dynamics/VolumeEnvelope.h"

#include <algorithm>
#include <cmath>

#include "dsp/Denormals.h"
#include "framework/ParameterInfo.h"
#include "platform/core/Localizer.h"

namespace zoc::components {

namespace {

/// Keys of the custom settings section.
constexpr const char* kDefaultValueKey = "DefaultValue";
constexpr const char* kSplinesKey = "Splines";
constexpr const char* kLogicalKeyframesKey = "LogicalKeyframes";
/// Gains are shown in dB down to this amplitude (-300 dB); at or below
/// kInfinityDecibels the editor shows minus infinity.
constexpr float kSmallestAmplitude = 1e-15f;
constexpr float kInfinityDecibels = -299.0f;
/// Keyframe positions stay far inside 64 bits whatever the relative position.
constexpr double kPositionLimit = 4.0e18;

bool IsFinite(const LogicalKeyframe& keyframe)
{
    return std::isfinite(keyframe.position) && std::isfinite(keyframe.amplification);
}

} // namespace

VolumeEnvelope::VolumeEnvelope(std::string componentID, const char* titleKey, float defaultValue,
                               std::span<const EnvelopePreset> presets)
    : MultiChannelComponentBase(std::move(componentID), core::Localize(titleKey), kMaxChannels),
      channelCount_(std::min<std::size_t>(GetNumberOfOutputChannels(), kMaxChannels)),
      container_(core::MakeRef<KeyframeContainer>()), envelopeDefault_(defaultValue), presets_(presets)
{
    container_->SetDefaultValue(defaultValue);
    // A factory preset is applied without allocating.
    logical_.reserve(EnvelopePreset::kMaxKeyframes);
    collided_.reserve(EnvelopePreset::kMaxKeyframes);
    AddParameterInfo(kSplinesParameter,
                     core::MakeRef<BoolParameterInfo>(core::Localize("$$$/Effects/VolumeEnvelope/Splines=Splines"),
                                                      u"", core::Localize("$$$/Effects/VolumeEnvelope/On=On"),
                                                      core::Localize("$$$/Effects/VolumeEnvelope/Off=Off"), true));
}

// ---------------------------------------------------------------------------
// Host operations

void VolumeEnvelope::SetCurrentOffset(std::int64_t position)
{
    MultiChannelComponentBase::SetCurrentOffset(position);
    currentOffset_ = position;
}

void VolumeEnvelope::SetSelectionLeft(double samples)
{
    MultiChannelComponentBase::SetSelectionLeft(samples);
    UpdateAbsoluteKeyframes();
}

void VolumeEnvelope::SetCurrentDuration(double samples)
{
    MultiChannelComponentBase::SetCurrentDuration(samples);
    UpdateAbsoluteKeyframes();
}

void VolumeEnvelope::SetSampleRate(float rate)
{
    if (rate != GetSampleRate())
        MultiChannelComponentBase::SetSampleRate(rate);
}

void VolumeEnvelope::OnNumberOfChannelsChanged(std::size_t count)
{
    channelCount_ = std::min<std::size_t>(count, kMaxChannels);
}

void VolumeEnvelope::Resume()
{
    MultiChannelComponentBase::Resume();
    ReserveBuffer(GetBlockSize());
    container_->CanShowSplines(); // build a stale spline cache here, not on the audio thread
}

void VolumeEnvelope::ReserveBuffer(int frames)
{
    if (bufferCapacity_ < frames) {
        buffer_.reset();
        bufferCapacity_ = 0;
    }
    if (!buffer_ && frames > 0) {
        buffer_ = std::make_unique<float[]>(static_cast<std::size_t>(frames));
        bufferCapacity_ = frames;
    }
}

void VolumeEnvelope::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    if (frames <= 0)
        return;
    ReserveBuffer(frames);
    float* gains = buffer_.get();
    container_->GetValues(currentOffset_, frames, gains);
    for (int i = 0; i < frames; ++i)
        gains[i] = GetAmplificationFactorFromNormalizedValue(gains[i]);
    for (std::size_t channel = 0; channel < channelCount_; ++channel) {
        const float* in = inputs[channel];
        float* out = outputs[channel];
        for (int i = 0; i < frames; ++i)
            out[i] = gains[i] * in[i];
    }
}

void VolumeEnvelope::SetParameter(int index, float normalized)
{
    if (index == kSplinesParameter) {
        if (const std::optional<float> real = RealFromNormalized(index, normalized)) {
            splines_ = *real >= 0.5f;
            container_->EnableSplines(splines_);
            container_->CanShowSplines();
        }
    }
    MultiChannelComponentBase::SetParameter(index, normalized);
}

float VolumeEnvelope::GetParameter(int index)
{
    if (index != kSplinesParameter)
        return 0.0f;
    return GetParameterInfos().at(kSplinesParameter)->ToNormalized(splines_ ? 1.0f : 0.0f);
}

// ---------------------------------------------------------------------------
// Keyframes

void VolumeEnvelope::UpdateAbsoluteKeyframes()
{
    const double left = GetSelectionLeft();
    const double width = GetCurrentDuration();
    const auto toPosition = [](double samples) {
        return static_cast<std::int64_t>(std::clamp(std::isfinite(samples) ? samples : 0.0, -kPositionLimit,
                                                    kPositionLimit));
    };
    container_->SetSampleRange(toPosition(left), toPosition(width));
    container_->Clear();
    container_->SetModified();

    // Two keyframes rounding to one sample would lose one of them: the later
    // one moves a sample on, unless that sample is taken as well.
    collided_.clear();
    for (const LogicalKeyframe& logical : logical_) {
        const std::int64_t position =
            toPosition(std::floor(static_cast<double>(logical.position) * width + 0.5) + left);
        const float value = GetNormalizedValueFromAmplificationFactor(logical.amplification);
        if (!container_->HasKeyframeAt(position))
            container_->InsertKeyframe(position, value, false, false);
        else
            collided_.push_back({value, position + 1, false, false});
    }
    for (const KeyframeContainer::Keyframe& keyframe : collided_) {
        if (!container_->HasKeyframeAt(keyframe.position))
            container_->InsertKeyframe(keyframe);
    }
    container_->CanShowSplines(); // build the spline cache on this thread
}

void VolumeEnvelope::SetLogicalKeyframes(const std::vector<LogicalKeyframe>& keyframes)
{
    logical_.clear();
    std::copy_if(keyframes.begin(), keyframes.end(), std::back_inserter(logical_), IsFinite);
    collided_.reserve(logical_.size());
    UpdateAbsoluteKeyframes();
}

void VolumeEnvelope::GetLogicalKeyframes(std::vector<LogicalKeyframe>& keyframes) { keyframes = logical_; }

void VolumeEnvelope::SetKeyframes(const KeyframeSet& keyframes)
{
    container_->SetKeyframes(keyframes, true);
    const double width = GetCurrentDuration();
    if (!(width > 0.0))
        return;
    const double left = GetSelectionLeft();
    logical_.clear();
    for (const KeyframeContainer::Keyframe& keyframe : keyframes) {
        logical_.push_back({static_cast<float>((static_cast<double>(keyframe.position) - left) / width),
                            GetAmplificationFactorFromNormalizedValue(keyframe.value)});
    }
}

void VolumeEnvelope::GetKeyframes(KeyframeSet& keyframes) const { container_->GetKeyframes(keyframes); }

float VolumeEnvelope::GetDefaultValue() const { return container_->GetDefaultValue(); }

void VolumeEnvelope::SetDefaultValue(float value)
{
    container_->Clear();
    container_->SetModified();
    logical_.clear();
    container_->SetDefaultValue(value);
}

void VolumeEnvelope::ResetKeyframes()
{
    logical_.clear();
    UpdateAbsoluteKeyframes();
}

core::UString VolumeEnvelope::GetTooltipString(float value) const
{
    const double decibels = 20.0 * std::log10(std::max(value, kSmallestAmplitude));
    core::UString text = u"@0% (@1 dB)";
    core::ReplaceInString(text, u"@0", core::NumberToString(value * 100.0, 1, 1));
    core::ReplaceInString(text, u"@1",
                          decibels <= kInfinityDecibels ? u"-\u221E" : core::NumberToString(decibels, 1, 1));
    return text;
}

// ---------------------------------------------------------------------------
// Presets and settings

core::UString VolumeEnvelope::GetFactoryPresetName(int index)
{
    if (index < 0 || index >= GetNumFactoryPresets())
        return {};
    return core::Localize(presets_[static_cast<std::size_t>(index)].key);
}

void VolumeEnvelope::SetFactoryPreset(int index)
{
    if (index < 0 || index >= GetNumFactoryPresets())
        return;
    const EnvelopePreset& preset = presets_[static_cast<std::size_t>(index)];
    splines_ = preset.splines;
    logical_.assign(preset.keyframes.begin(), preset.keyframes.begin() + static_cast<std::ptrdiff_t>(preset.count));
    container_->EnableSplines(splines_);
    container_->SetDefaultValue(envelopeDefault_);
    UpdateAbsoluteKeyframes();
}

bool VolumeEnvelope::SaveSettings(host::PresetData& preset)
{
    preset.Clear();
    preset.SetVersion(GetPresetVersion());
    preset.SetPresetType(host::PresetType::kCustom);
    auto section = core::MakeRef<core::PropList>();
    section->Set(kDefaultValueKey, container_->GetDefaultValue());
    section->Set(kSplinesKey, splines_);
    core::FloatPairList pairs;
    for (const LogicalKeyframe& keyframe : logical_)
        pairs.emplace_back(keyframe.position, keyframe.amplification);
    section->Set(kLogicalKeyframesKey, std::move(pairs));
    preset.SetCustomDataSection(section);
    return true;
}

bool VolumeEnvelope::LoadSettings(const host::PresetData& preset)
{
    if (preset.GetVersion() != GetPresetVersion())
        return false;
    if (preset.GetPresetType() == host::PresetType::kFactory) {
        for (int index = 0; index < GetNumFactoryPresets(); ++index) {
            if (GetFactoryPresetName(index) == preset.GetFactoryPresetName()) {
                SetFactoryPreset(index);
                return true;
            }
        }
        return false;
    }
    if (preset.GetPresetType() != host::PresetType::kCustom)
        return false;

    StartLoadingSettings();
    if (const core::Ref<core::PropList> section = preset.GetCustomDataSection()) {
        if (const auto pairs = section->Get<core::FloatPairList>(kLogicalKeyframesKey)) {
            std::vector<LogicalKeyframe> keyframes;
            for (const auto& [position, amplification] : *pairs)
                keyframes.push_back({position, amplification});
            SetLogicalKeyframes(keyframes);
        }
        if (const auto splines = section->Get<bool>(kSplinesKey)) {
            splines_ = *splines;
            container_->EnableSplines(splines_);
        }
        if (const auto value = section->Get<float>(kDefaultValueKey); value && std::isfinite(*value))
            container_->SetDefaultValue(*value);
    }
    SetParameterAutomated(kSplinesParameter, GetParameter(kSplinesParameter));
    FinishLoadingSettings(true);
    return true;
}

core::Ref<host::AudioFilter> VolumeEnvelope::Clone()
{
    core::Ref<host::AudioFilter> copy = MultiChannelComponentBase::Clone();
    if (auto* envelope = dynamic_cast<VolumeEnvelope*>(copy.get())) {
        envelope->host::AudioFilter::SetSelectionLeft(GetSelectionLeft());
        envelope->host::AudioFilter::SetCurrentDuration(GetCurrentDuration());
        envelope->currentOffset_ = currentOffset_;
        envelope->splines_ = splines_;
        envelope->container_->EnableSplines(splines_);
        envelope->container_->SetDefaultValue(container_->GetDefaultValue());
        envelope->SetLogicalKeyframes(logical_);
    }
    return copy;
}

} // namespace zoc::components

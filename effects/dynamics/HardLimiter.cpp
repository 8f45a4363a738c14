// Hard Limiter: parameter surface and presets over one HardLimit kernel,
// fed frame by frame.

#include "effects/dynamics/HardLimiter.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "dsp/Denormals.h"
#include "framework/ParameterInfo.h"
#include "framework/Registration.h"
#include "platform/core/Localizer.h"

namespace zoc::components {

const std::string kHardLimiterComponentID =
    core::Guid{0x57C2006B, 0xD675, 0x40BC, {0xA1, 0xAA, 0xF7, 0x76, 0x4E, 0xF7, 0x99, 0x59}}.AsString();

namespace {

using enum host::AudioFilterParameterInfoUnit;

constexpr core::Guid kDescriptorGuid{0x12F6BE59, 0xFB15, 0x4C11, {0x8C, 0x1C, 0x0E, 0xDC, 0x22, 0xA6, 0xE8, 0x08}};
constexpr const char* kTitleKey = "$$$/AudioComponents/HardLimiterTitle=Hard Limiter";

const ComponentRegistration<HardLimiter> kRegistration{"HardLimiter", kTitleKey, 0, kHardLimiterComponentID,
                                                       kDescriptorGuid,
    "Keeps peaks below a ceiling with look-ahead limiting and makes up the gain",
    "Heavy"};

struct Row {
    const char* key;
    const char* unit;
    host::AudioFilterParameterInfoUnit unitKind;
};

// Indexes are the kernel's; the ranges of all but the link come from it.
constexpr std::array<Row, HardLimiter::kParameterCount> kRows{{
    {"$$$/Effects/HardLimiter/MaximumAmplitude=Maximum Amplitude", "dB", kUnitDecibels},
    {"$$$/Effects/HardLimiter/InputBoost=Input Boost", "dB", kUnitDecibels},
    {"$$$/Effects/HardLimiter/LookAheadTime=Look-Ahead Time", "ms", kUnitTime},
    {"$$$/Effects/HardLimiter/ReleaseTime=Release Time", "ms", kUnitTime},
    {"$$$/Effects/HardLimiter/LinkChannels=Link Channels", "", kUnitNumber},
}};

#define ZOC_LIMITER_PRESET(name, text) "$$$/AudioComponents/HardLimiterPresets/" name "=" text

// Ceiling on -100..0 dB, boost on -40..+20 dB, look-ahead on 0..15 ms,
// release on 0..400 ms, link.
constexpr std::array<PresetRow<HardLimiter::kParameterCount>, 9> kPresets{{
    {kDefaultPresetKey, {0.999f, 0.666667f, 0.133333f, 0.375f, 1.0f}},
    {ZOC_LIMITER_PRESET("Distorted", "Distorted"), {0.99f, 0.866667f, 0.0f, 0.0f, 1.0f}},
    {ZOC_LIMITER_PRESET("Heavy", "Heavy"), {0.99f, 0.766667f, 0.133333f, 0.375f, 1.0f}},
    {ZOC_LIMITER_PRESET("Light", "Light"), {0.97f, 0.686667f, 0.133333f, 0.375f, 1.0f}},
    {ZOC_LIMITER_PRESET("LimitTo-.1dB", "Limit to -.1dB"), {0.999f, 0.706667f, 0.133333f, 0.375f, 1.0f}},
    {ZOC_LIMITER_PRESET("LimitTo-3dB", "Limit to -3dB"), {0.97f, 0.706667f, 0.133333f, 0.375f, 1.0f}},
    {ZOC_LIMITER_PRESET("LimitTo-6dB", "Limit to -6dB"), {0.94f, 0.686667f, 0.133333f, 0.375f, 1.0f}},
    {ZOC_LIMITER_PRESET("Medium", "Medium"), {0.98f, 0.706667f, 0.133333f, 0.375f, 1.0f}},
    {ZOC_LIMITER_PRESET("DeadHorse", "That's one DEAD horse"), {0.99f, 1.0f, 0.333333f, 0.0f, 1.0f}},
}};

#undef ZOC_LIMITER_PRESET

/// The kernel's integer rate: the host's rate truncated, kept in a range an
/// int holds (NaN counts as the lowest).
int KernelRate(float rate) { return static_cast<int>(std::fmin(std::fmax(rate, 1.0f), 1.0e6f)); }

} // namespace

HardLimiter::HardLimiter()
    : MultiChannelComponentBase(kHardLimiterComponentID, core::Localize(kTitleKey), kMaxChannels, kPresets),
      channelCount_(static_cast<int>(std::clamp<std::size_t>(GetNumberOfOutputChannels(), 1, kMaxChannels)))
{
    limiter_.SetSampleRate(KernelRate(GetSampleRate()));
    limiter_.SetChannels(channelCount_);
    BuildParameterInfos();
}

void HardLimiter::BuildParameterInfos()
{
    infos_.clear();
    for (int index = 0; index < kParameterCount; ++index) {
        const Row& row = kRows[static_cast<std::size_t>(index)];
        float lo = 0.0f, hi = 1.0f;
        if (index != dsp::HardLimit::kLinkChannels)
            limiter_.GetBounds(index, lo, hi);
        infos_.push_back(core::MakeRef<GenericParameterInfo>(core::Localize(row.key), core::FromUtf8(row.unit),
                                                             row.unitKind, index, lo, hi, true, false, 1, 2));
    }
}

void HardLimiter::SetParameter(int index, float normalized)
{
    if (index < 0 || index >= kParameterCount)
        return;
    if (const std::optional<float> sane = SanitizeNormalized(normalized))
        limiter_.SetParameter(index, infos_[static_cast<std::size_t>(index)]->FromNormalized(*sane));
    MultiChannelComponentBase::SetParameter(index, normalized);
}

float HardLimiter::GetParameter(int index)
{
    if (index < 0 || index >= kParameterCount)
        return 0.0f;
    return infos_[static_cast<std::size_t>(index)]->ToNormalized(limiter_.GetParameter(index));
}

core::Ref<host::AudioFilterParameterInfo> HardLimiter::GetParameterInfo(int index)
{
    if (index < 0 || index >= kParameterCount)
        return nullptr;
    return infos_[static_cast<std::size_t>(index)];
}

void HardLimiter::SetSampleRate(float rate)
{
    if (rate == GetSampleRate())
        return;
    MultiChannelComponentBase::SetSampleRate(rate);
    limiter_.SetSampleRate(KernelRate(rate));
}

void HardLimiter::Resume()
{
    MultiChannelComponentBase::Resume();
    limiter_.Resume();
}

void HardLimiter::Suspend()
{
    MultiChannelComponentBase::Suspend();
    limiter_.Suspend();
}

void HardLimiter::OnNumberOfChannelsChanged(std::size_t count)
{
    channelCount_ = static_cast<int>(std::clamp<std::size_t>(count, 1, kMaxChannels));
    limiter_.SetChannels(channelCount_);
}

void HardLimiter::Process(float** inputs, float** outputs, int frames)
{
    if (frames < 1)
        return;
    dsp::ScopedFlushDenormals flushDenormals;
    float inFrame[kMaxChannels];
    float outFrame[kMaxChannels];
    for (int frame = 0; frame < frames; ++frame) {
        const auto channels = static_cast<std::size_t>(channelCount_);
        for (std::size_t channel = 0; channel < channels; ++channel)
            inFrame[channel] = inputs[channel][frame];
        limiter_.ProcessOneSample(inFrame, outFrame);
        for (std::size_t channel = 0; channel < channels; ++channel)
            outputs[channel][frame] = outFrame[channel];
    }
}

} // namespace zoc::components

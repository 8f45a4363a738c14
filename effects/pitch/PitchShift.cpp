// Pitch Shifter: parameter surface and presets over one Stretch kernel,
// fed whole blocks of all channels.

#include "effects/pitch/PitchShift.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "dsp/Denormals.h"
#include "framework/ParameterInfo.h"
#include "framework/Registration.h"
#include "platform/core/Localizer.h"

namespace zoc::components {

const std::string kPitchShiftComponentID =
    core::Guid{0x3B8E52D1, 0x64A7, 0x4F0C, {0x9E, 0x21, 0x5C, 0xD0, 0x7A, 0x13, 0xB6, 0x48}}.AsString();

namespace {

using enum host::AudioFilterParameterInfoUnit;

constexpr core::Guid kDescriptorGuid{0xA9C04E7F, 0x2D18, 0x4B63, {0x87, 0x5A, 0x0F, 0x3E, 0xC1, 0x96, 0x24, 0xDB}};
constexpr const char* kTitleKey = "$$$/AudioComponents/PitchShiftTitle=Pitch Shifter";

const ComponentRegistration<PitchShift> kRegistration{"PitchShift", kTitleKey, 0, kPitchShiftComponentID,
                                                      kDescriptorGuid,
    "Shifts the pitch in semitones and cents without changing the length",
    "Angry Gerbil"};

struct Row {
    const char* key;
    const char* unit;
    host::AudioFilterParameterInfoUnit unitKind;
    bool automatable;
};

// Indexes and ranges are the kernel's.
constexpr std::array<Row, PitchShift::kParameterCount> kRows{{
    {"$$$/Effects/PitchShift/TransposeRatio=Transpose Ratio", "", kUnitNumber, true},
    {"$$$/Effects/PitchShift/Precision=Precision", "", kUnitNumber, false},
    {"$$$/Effects/PitchShift/Frequency=Frequency", "Hz", kUnitFrequency, false},
    {"$$$/Effects/PitchShift/Overlapping=Overlapping", "", kUnitNumber, false},
    {"$$$/Effects/PitchShift/UseDefaultSetting=Use Default Setting", "", kUnitNumber, false},
}};

#define ZOC_PITCH_PRESET(name, text) "$$$/Effects/PitchShift/" name "=" text

// Ratio on 0.5..2 (0.333333: unity, 0: an octave down, 1: an octave up),
// precision step on 0..2, splice frequency on 10..1000 Hz, fade share,
// default setting.
constexpr std::array<PresetRow<PitchShift::kParameterCount>, 5> kPresets{{
    {kDefaultPresetKey, {0.333333f, 0.0f, 0.030303f, 0.2f, 0.0f}},
    {ZOC_PITCH_PRESET("AngryGerbil", "Angry Gerbil"), {1.0f, 0.0f, 0.113535f, 0.612f, 1.0f}},
    {ZOC_PITCH_PRESET("DeathlyIll", "Deathly Ill"), {0.295933f, 0.0f, 0.040404f, 0.8f, 0.0f}},
    {ZOC_PITCH_PRESET("Stretch", "Stretch"), {0.0723333f, 0.0f, 1.0f, 1.0f, 0.0f}},
    {ZOC_PITCH_PRESET("TheDarkLord", "The Dark Lord"), {0.0f, 0.0f, 1.0f, 1.0f, 0.0f}},
}};

#undef ZOC_PITCH_PRESET

/// The kernel's integer rate: the host's rate truncated, kept in a range an
/// int holds (NaN counts as the lowest).
int KernelRate(float rate) { return static_cast<int>(std::fmin(std::fmax(rate, 1.0f), 1.0e6f)); }

} // namespace

PitchShift::PitchShift()
    : MultiChannelComponentBase(kPitchShiftComponentID, core::Localize(kTitleKey), kMaxChannels, kPresets),
      channelCount_(static_cast<int>(std::clamp<std::size_t>(GetNumberOfOutputChannels(), 1, kMaxChannels)))
{
    shifter_.SetSampleRate(KernelRate(GetSampleRate()));
    shifter_.SetChannels(channelCount_);
    for (int index = 0; index < kParameterCount; ++index) {
        const Row& row = kRows[static_cast<std::size_t>(index)];
        float lo = 0.0f, hi = 1.0f;
        shifter_.GetBounds(index, lo, hi);
        infos_.push_back(core::MakeRef<GenericParameterInfo>(core::Localize(row.key), core::FromUtf8(row.unit),
                                                             row.unitKind, index, lo, hi, row.automatable, false,
                                                             1, 2));
    }
}

void PitchShift::SetParameter(int index, float normalized)
{
    if (index < 0 || index >= kParameterCount)
        return;
    if (const std::optional<float> sane = SanitizeNormalized(normalized))
        shifter_.SetParameter(index, infos_[static_cast<std::size_t>(index)]->FromNormalized(*sane));
    MultiChannelComponentBase::SetParameter(index, normalized);
}

float PitchShift::GetParameter(int index)
{
    if (index < 0 || index >= kParameterCount)
        return 0.0f;
    return infos_[static_cast<std::size_t>(index)]->ToNormalized(shifter_.GetParameter(index));
}

core::Ref<host::AudioFilterParameterInfo> PitchShift::GetParameterInfo(int index)
{
    if (index < 0 || index >= kParameterCount)
        return nullptr;
    return infos_[static_cast<std::size_t>(index)];
}

void PitchShift::SetFactoryPreset(int index)
{
    if (index < 0 || index >= GetNumFactoryPresets())
        return;
    MultiChannelComponentBase::SetFactoryPreset(index);
    BumpParameterDirtyCount();
}

bool PitchShift::LoadParams(const host::PresetData& preset)
{
    const bool loaded = MultiChannelComponentBase::LoadParams(preset);
    BumpParameterDirtyCount();
    return loaded;
}

void PitchShift::SetSampleRate(float rate)
{
    if (rate == GetSampleRate())
        return;
    MultiChannelComponentBase::SetSampleRate(rate);
    shifter_.SetSampleRate(KernelRate(GetSampleRate()));
}

void PitchShift::Resume()
{
    MultiChannelComponentBase::Resume();
    const double duration = GetCurrentDuration();
    shifter_.SetDuration(std::isfinite(duration) && duration > 0.0 && duration < 9.0e18
                             ? static_cast<std::int64_t>(duration)
                             : 0);
    shifter_.Initialize();
    shifter_.Resume();
}

void PitchShift::Suspend()
{
    MultiChannelComponentBase::Suspend();
    shifter_.Suspend();
}

void PitchShift::OnNumberOfChannelsChanged(std::size_t count)
{
    channelCount_ = static_cast<int>(std::clamp<std::size_t>(count, 1, kMaxChannels));
    shifter_.SetChannels(channelCount_);
}

void PitchShift::Process(float** inputs, float** outputs, int frames)
{
    if (frames < 1)
        return;
    dsp::ScopedFlushDenormals flushDenormals;
    shifter_.Process(inputs, outputs, frames);
}

} // namespace zoc::components

// Channel Mixer: a full gain matrix over up to eight channels.

#include "effects/dynamics/ChannelMixer.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <numbers>

#include "dsp/Denormals.h"
#include "framework/ParameterInfo.h"
#include "framework/Registration.h"
#include "platform/core/Localizer.h"
#include "primitives/VectorOps.h"

namespace zoc::components {

const std::string kChannelMixerComponentID =
    core::Guid{0x368483FF, 0x386B, 0x435E, {0xBE, 0x29, 0x36, 0x34, 0x9B, 0x80, 0xBC, 0xEF}}.AsString();

namespace {

constexpr core::Guid kDescriptorGuid{0x8F0F9304, 0x6E03, 0x4D78, {0xAF, 0x74, 0xB2, 0xAD, 0x4F, 0x2C, 0x36, 0x87}};
constexpr const char* kTitleKey = "$$$/AudioComponents/ChannelMixerTitle=Channel Mixer";

const ComponentRegistration<ChannelMixer> kRegistration{"ChannelMixer", kTitleKey, 0, kChannelMixerComponentID,
                                                        kDescriptorGuid,
    "Remixes up to eight channels through a full gain matrix",
    "Swap Left & Right"};

/// One matrix entry of a preset: output and input counted from 1, in percent.
struct Entry {
    int output;
    int input;
    float percent;
};

// The downmix and mid/side presets sum two channels at -3 dB; the exact
// 1/sqrt(2) makes "Stereo to Mid/Side" its own inverse. The Ambisonic decode
// uses a half and a quarter of it.
constexpr float kMinus3dB = 100.0f * std::numbers::sqrt2_v<float> / 2.0f;
constexpr float kMinus9dB = kMinus3dB / 2.0f;
constexpr float kMinus15dB = kMinus3dB / 4.0f;

constexpr float NormalizedPercent(float percent)
{
    return (percent - ChannelMixer::kMinPercent) / (ChannelMixer::kMaxPercent - ChannelMixer::kMinPercent);
}

/// A preset row: the stored channel count (which has no effect), then every
/// entry at 0 % except those listed.
constexpr PresetRow<ChannelMixer::kParameterCount> Matrix(const char* key, float channelCount,
                                                          std::initializer_list<Entry> entries)
{
    PresetRow<ChannelMixer::kParameterCount> row{key, {}};
    row.values.fill(NormalizedPercent(0.0f));
    row.values[ChannelMixer::kChannelCountParameter] = channelCount;
    for (const Entry& entry : entries)
        row.values[static_cast<std::size_t>(ChannelMixer::EntryParameter(entry.output - 1, entry.input - 1))] =
            NormalizedPercent(entry.percent);
    return row;
}

// Surround presets use the 5.1 order L, R, C, LFE, Ls, Rs; channels 7 and 8
// pass through unless a preset uses them.
constexpr std::array kPresets = {
    Matrix(kDefaultPresetKey, 0.0f,
           {{1, 1, 100}, {2, 2, 100}, {3, 3, 100}, {4, 4, 100}, {5, 5, 100}, {6, 6, 100}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/AllChannels50=All Channels 50%", 1.0f,
           {{1, 1, 50}, {1, 2, 50}, {1, 3, 50}, {1, 4, 50}, {1, 5, 50}, {1, 6, 50}, {1, 7, 50}, {1, 8, 50},
            {2, 1, 50}, {2, 2, 50}, {2, 3, 50}, {2, 4, 50}, {2, 5, 50}, {2, 6, 50}, {2, 7, 50}, {2, 8, 50},
            {3, 1, 50}, {3, 2, 50}, {3, 3, 50}, {3, 4, 50}, {3, 5, 50}, {3, 6, 50}, {3, 7, 50}, {3, 8, 50},
            {4, 1, 50}, {4, 2, 50}, {4, 3, 50}, {4, 4, 50}, {4, 5, 50}, {4, 6, 50}, {4, 7, 50}, {4, 8, 50},
            {5, 1, 50}, {5, 2, 50}, {5, 3, 50}, {5, 4, 50}, {5, 5, 50}, {5, 6, 50}, {5, 7, 50}, {5, 8, 50},
            {6, 1, 50}, {6, 2, 50}, {6, 3, 50}, {6, 4, 50}, {6, 5, 50}, {6, 6, 50}, {6, 7, 50}, {6, 8, 50},
            {7, 1, 50}, {7, 2, 50}, {7, 3, 50}, {7, 4, 50}, {7, 5, 50}, {7, 6, 50}, {7, 7, 50}, {7, 8, 50},
            {8, 1, 50}, {8, 2, 50}, {8, 3, 50}, {8, 4, 50}, {8, 5, 50}, {8, 6, 50}, {8, 7, 50}, {8, 8, 50}}),
    // B-format W, X, Y in channels 1 to 3.
    Matrix("$$$/AudioComponents/ChannelMixerPresets/AmbisonicTo51=Ambisonic B-Format to ITU 5.1", 0.75f,
           {{1, 1, 16.9f}, {1, 2, 7.97f}, {1, 3, -8.91f}, {2, 1, 16.9f}, {2, 2, 7.97f}, {2, 3, 8.91f},
            {3, 1, 16.35f}, {3, 2, 9.23f}, {5, 1, 45.63f}, {5, 2, -12.59f}, {5, 3, -15.43f}, {6, 1, 45.63f},
            {6, 2, -12.59f}, {6, 3, 15.43f}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/AmbisonicToL_R_Ls_Rs=Ambisonic B-Format to [L R Ls Rs]", 0.75f,
           {{1, 1, kMinus9dB}, {1, 2, kMinus15dB}, {1, 3, -kMinus15dB}, {2, 1, kMinus9dB}, {2, 2, kMinus15dB},
            {2, 3, kMinus15dB}, {3, 1, kMinus9dB}, {3, 2, -kMinus15dB}, {3, 3, -kMinus15dB}, {4, 1, kMinus9dB},
            {4, 2, -kMinus15dB}, {4, 3, kMinus15dB}, {5, 5, 100}, {6, 6, 100}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/DownmixToMono=Downmix to 1/0 (Mono)", 1.0f,
           {{1, 1, kMinus3dB}, {1, 2, kMinus3dB}, {1, 3, 100}, {1, 5, 50}, {1, 6, 50}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/DownmixToStereo=Downmix to 2/0 (Stereo)", 1.0f,
           {{1, 1, 100}, {1, 3, kMinus3dB}, {1, 5, kMinus3dB}, {2, 2, 100}, {2, 3, kMinus3dB}, {2, 6, kMinus3dB}, {7, 7, 100},
            {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/DownmixToL_R_Cs=Downmix to 2/1 [L R Cs]", 1.0f,
           {{1, 1, 100}, {1, 3, kMinus3dB}, {2, 2, 100}, {2, 3, kMinus3dB}, {3, 5, kMinus3dB}, {3, 6, kMinus3dB}, {7, 7, 100},
            {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/DownmixToL_R_Ls_Rs=Downmix to 2/2 [L R Ls Rs]", 1.0f,
           {{1, 1, 100}, {1, 3, kMinus3dB}, {2, 2, 100}, {2, 3, kMinus3dB}, {3, 5, 100}, {4, 6, 100}, {7, 7, 100},
            {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/DownmixToL_R_C=Downmix to 3/0 [L R C]", 1.0f,
           {{1, 1, 100}, {1, 5, kMinus3dB}, {2, 2, 100}, {2, 6, kMinus3dB}, {3, 3, 100}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/DownmixToL_R_C_Cs=Downmix to 3/1 [L R C Cs]", 1.0f,
           {{1, 1, 100}, {1, 3, kMinus3dB}, {2, 2, 100}, {2, 3, kMinus3dB}, {3, 3, 100}, {4, 5, kMinus3dB}, {4, 6, kMinus3dB},
            {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/DownmixToMatrixedStereo=Downmix to Matrixed Stereo [Lt Rt]",
           1.0f,
           {{1, 1, 100}, {1, 3, kMinus3dB}, {1, 5, -kMinus3dB}, {1, 6, -kMinus3dB}, {2, 2, 100}, {2, 3, kMinus3dB}, {2, 5, kMinus3dB},
            {2, 6, kMinus3dB}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/FillLeft=Fill Right with Left", 1.0f,
           {{1, 1, 100}, {2, 1, 100}, {3, 1, 100}, {4, 1, 100}, {5, 1, 100}, {6, 1, 100}, {7, 1, 100}, {8, 1, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/FillRight=Fill Left with Right", 1.0f,
           {{1, 2, 100}, {2, 2, 100}, {3, 2, 100}, {4, 2, 100}, {5, 2, 100}, {6, 2, 100}, {7, 2, 100}, {8, 2, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/ITU51To51_Lt_Rt=ITU 5.1 to 5.1 + [Lt Rt]", 1.0f,
           {{1, 1, 100}, {2, 2, 100}, {3, 3, 100}, {4, 4, 100}, {5, 5, 100}, {6, 6, 100}, {7, 1, 100},
            {7, 3, kMinus3dB}, {7, 5, -kMinus3dB}, {7, 6, -kMinus3dB}, {8, 2, 100}, {8, 3, kMinus3dB}, {8, 5, kMinus3dB}, {8, 6, kMinus3dB}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/ITU51ToC_L_R_Ls_Rs_LFE=ITU 5.1 to [C L R Ls Rs LFE]", 1.0f,
           {{1, 3, 100}, {2, 1, 100}, {3, 2, 100}, {4, 5, 100}, {5, 6, 100}, {6, 4, 100}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/ITU51ToL_C_R_Ls_Rs_LFE=ITU 5.1 to [L C R Ls Rs LFE]", 1.0f,
           {{1, 1, 100}, {2, 3, 100}, {3, 2, 100}, {4, 5, 100}, {5, 6, 100}, {6, 4, 100}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/ITU51ToL_R_Ls_Rs_C_LFE=ITU 5.1 to [L R Ls Rs C LFE]", 1.0f,
           {{1, 1, 100}, {2, 2, 100}, {3, 5, 100}, {4, 6, 100}, {5, 3, 100}, {6, 4, 100}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/MatrixedStereoToITU51=Matrixed Stereo [Lt Rt] to ITU 5.1", 1.0f,
           {{1, 1, 100}, {2, 2, 100}, {3, 1, kMinus3dB}, {3, 2, kMinus3dB}, {5, 1, kMinus3dB}, {5, 2, -kMinus3dB}, {6, 1, -kMinus3dB},
            {6, 2, kMinus3dB}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/MidSideToStereo=Mid/Side to Stereo", 1.0f,
           {{1, 1, kMinus3dB}, {1, 2, kMinus3dB}, {2, 1, kMinus3dB}, {2, 2, -kMinus3dB}, {3, 3, 100}, {4, 4, 100}, {5, 5, 100},
            {6, 6, 100}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/StereoToMidSide=Stereo to Mid/Side", 1.0f,
           {{1, 1, kMinus3dB}, {1, 2, kMinus3dB}, {2, 1, kMinus3dB}, {2, 2, -kMinus3dB}, {3, 3, 100}, {4, 4, 100}, {5, 5, 100},
            {6, 6, 100}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/SwapLeftRight=Swap Left & Right", 0.25f,
           {{1, 2, 100}, {2, 1, 100}, {3, 3, 100}, {4, 4, 100}, {5, 5, 100}, {6, 6, 100}, {7, 7, 100}, {8, 8, 100}}),
    // The four capsules of a tetrahedral microphone into W, X, Y, Z.
    Matrix("$$$/AudioComponents/ChannelMixerPresets/TypeIAFormatToAmbisonicBFormat="
           "Type I A-Format to Ambisonic B-Format",
           0.75f,
           {{1, 1, 100}, {1, 2, 100}, {1, 3, 100}, {1, 4, 100}, {2, 1, 100}, {2, 2, 100}, {2, 3, -100}, {2, 4, 100},
            {3, 1, 100}, {3, 2, -100}, {3, 3, 100}, {3, 4, -100}, {4, 1, 100}, {4, 2, -100}, {4, 3, -100},
            {4, 4, 100}, {5, 5, 100}, {6, 6, 100}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/C_L_R_Ls_Rs_LFE_ToITU51=[C L R Ls Rs LFE] to ITU 5.1", 1.0f,
           {{1, 2, 100}, {2, 3, 100}, {3, 1, 100}, {4, 6, 100}, {5, 4, 100}, {6, 5, 100}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/L_C_R_Ls_Rs_LFE_ToITU51=[L C R Ls Rs LFE] to ITU 5.1", 1.0f,
           {{1, 1, 100}, {2, 3, 100}, {3, 2, 100}, {4, 6, 100}, {5, 4, 100}, {6, 5, 100}, {7, 7, 100}, {8, 8, 100}}),
    Matrix("$$$/AudioComponents/ChannelMixerPresets/L_R_Ls_Rs_C_LFE_ToITU51=[L R Ls Rs C LFE] to ITU 5.1", 1.0f,
           {{1, 1, 100}, {2, 2, 100}, {3, 5, 100}, {4, 6, 100}, {5, 3, 100}, {6, 4, 100}, {7, 7, 100}, {8, 8, 100}}),
};
static_assert(kPresets.size() == 25);

/// The abbreviation of a channel's label, or its number from 1 when the
/// layout does not name it.
core::UString ChannelName(const media::AudioChannelLayout& layout, int channel)
{
    if (static_cast<std::size_t>(channel) < layout.size()) {
        const std::string_view label = media::AudioChannelLabelAbbreviation(layout[static_cast<std::size_t>(channel)].label);
        if (!label.empty())
            return core::FromUtf8(std::string(label));
    }
    return core::FromUtf8(std::to_string(channel + 1));
}

core::UString EntryName(const core::UString& from, const core::UString& to, const core::UString& into)
{
    core::UString name = from;
    name.append(1, u' ').append(to).append(1, u' ').append(into);
    return name;
}

bool Overlaps(const float* a, const float* b, std::size_t count)
{
    const auto first = reinterpret_cast<std::uintptr_t>(a);
    const auto second = reinterpret_cast<std::uintptr_t>(b);
    const std::uintptr_t bytes = count * sizeof(float);
    return first < second + bytes && second < first + bytes;
}

} // namespace

ChannelMixer::ChannelMixer()
    : MultiChannelComponentBase(kChannelMixerComponentID, core::Localize(kTitleKey), kMaxChannels, kPresets),
      pendingChannels_(std::clamp(static_cast<int>(GetNumberOfOutputChannels()), 1, kMaxChannels)),
      channels_(pendingChannels_.load())
{
    for (std::atomic<float>& target : targets_)
        target.store(0.0f, std::memory_order_relaxed);
    BuildParameterInfos();
    SetFactoryPreset(0);
    work_.TakeUpdate();
    TakeTargets(false);
}

void ChannelMixer::BuildParameterInfos()
{
    ClearParameterInfos();
    AddParameterInfo(kChannelCountParameter,
                     core::MakeRef<GenericParameterInfo>(
                         core::Localize("$$$/Effects/ChannelMixer/ChannelCount=Channel Count"), u"",
                         host::kUnitNumber, kChannelCountParameter, 1.0f, static_cast<float>(kMaxChannels), false));
    // "L to R" is the gain from the left input into the right output.
    const media::AudioChannelLayout layout =
        GetInputBuses().empty() ? media::AudioChannelLayout{} : GetInputBuses()[0].GetLayout();
    const core::UString to = core::Localize("$$$/Effects/ChannelMixer/to=to");
    for (int output = 0; output < kMaxChannels; ++output) {
        for (int input = 0; input < kMaxChannels; ++input) {
            const int index = EntryParameter(output, input);
            AddParameterInfo(static_cast<std::size_t>(index),
                             core::MakeRef<GenericParameterInfo>(
                                 EntryName(ChannelName(layout, input), to, ChannelName(layout, output)), u"",
                                 host::kUnitNumber, index, kMinPercent, kMaxPercent, true));
        }
    }
}

void ChannelMixer::SetParameter(int index, float normalized)
{
    // The channel count follows the layout; it is never set from outside.
    if (index <= kChannelCountParameter || index >= kParameterCount)
        return;
    if (const std::optional<float> percent = RealFromNormalized(index, normalized)) {
        const std::size_t entry = static_cast<std::size_t>(index - 1);
        // Kept as given, so saved settings reload to the very same gain.
        normalized_[entry] = *SanitizeNormalized(normalized);
        const float gain = *percent / 100.0f;
        if (gain != targets_[entry].load(std::memory_order_relaxed)) {
            targets_[entry].store(gain, std::memory_order_relaxed);
            work_.RequestUpdate();
        }
    }
    MultiChannelComponentBase::SetParameter(index, normalized);
}

float ChannelMixer::GetParameter(int index)
{
    if (index == kChannelCountParameter)
        return GetParameterInfo(index)->ToNormalized(static_cast<float>(pendingChannels_.load()));
    if (index < 0 || index >= kParameterCount)
        return 0.0f;
    return normalized_[static_cast<std::size_t>(index - 1)];
}

bool ChannelMixer::RequestIOConfiguration(const host::ChannelLayoutList& inputs, const host::ChannelLayoutList& outputs)
{
    // Unlike the base, more channels than the matrix has are refused rather
    // than run as mono: a mixer that silently drops channels would surprise.
    if (inputs.size() != 1 || outputs.size() != 1 || inputs[0].size() > static_cast<std::size_t>(kMaxChannels) ||
        outputs[0].size() > static_cast<std::size_t>(kMaxChannels))
        return false;
    return MultiChannelComponentBase::RequestIOConfiguration(inputs, outputs);
}

void ChannelMixer::OnNumberOfChannelsChanged(std::size_t count)
{
    pendingChannels_.store(std::clamp(static_cast<int>(count), 1, kMaxChannels));
    BuildParameterInfos();
    work_.RequestUpdate();
}

void ChannelMixer::Resume()
{
    MultiChannelComponentBase::Resume();
    rampLength_ = std::max(1, static_cast<int>(kRampSeconds * GetSampleRate() + 0.5));
    work_.TakeUpdate();
    TakeTargets(false);
}

void ChannelMixer::TakeTargets(bool glide)
{
    channels_ = pendingChannels_.load(std::memory_order_relaxed);
    bool moving = false;
    for (std::size_t entry = 0; entry < gains_.size(); ++entry) {
        const float target = targets_[entry].load(std::memory_order_relaxed);
        rampTargets_[entry] = target;
        increments_[entry] = 0.0f;
        if (target != gains_[entry]) {
            if (glide) {
                increments_[entry] = (target - gains_[entry]) / static_cast<float>(rampLength_);
                moving = true;
            } else {
                gains_[entry] = target;
            }
        }
    }
    rampRemaining_ = moving ? rampLength_ : 0;
    if (!moving)
        BuildRows();
}

void ChannelMixer::BuildRows()
{
    for (int output = 0; output < kMaxChannels; ++output) {
        Row& row = rows_[static_cast<std::size_t>(output)];
        row.count = 0;
        for (int input = 0; input < channels_; ++input) {
            const float gain = gains_[static_cast<std::size_t>(output * kMaxChannels + input)];
            if (gain != 0.0f)
                row.terms[static_cast<std::size_t>(row.count++)] = {input, gain};
        }
    }
}

void ChannelMixer::MixRamp(float* const* inputs, float* const* outputs, int frames)
{
    // The entries in use that are not silent throughout, in output-major
    // order, with their gains held locally for the run. Entries that stay
    // silent ignore their input, as in the steady mix.
    struct Moving {
        int output;
        int input;
        float gain;
        float increment;
    };
    std::array<Moving, kMatrixSize> moving{};
    int count = 0;
    for (int output = 0; output < channels_; ++output) {
        for (int input = 0; input < channels_; ++input) {
            const std::size_t entry = static_cast<std::size_t>(output * kMaxChannels + input);
            if (gains_[entry] != 0.0f || increments_[entry] != 0.0f)
                moving[static_cast<std::size_t>(count++)] = {output, input, gains_[entry], increments_[entry]};
        }
    }
    for (int frame = 0; frame < frames; ++frame) {
        // All inputs of a frame are read before any output is written, so
        // shared buffers are safe.
        std::array<float, kMaxChannels> mixed{};
        for (int term = 0; term < count; ++term) {
            const Moving& entry = moving[static_cast<std::size_t>(term)];
            mixed[static_cast<std::size_t>(entry.output)] += inputs[entry.input][frame] * entry.gain;
        }
        for (int output = 0; output < channels_; ++output)
            outputs[output][frame] = mixed[static_cast<std::size_t>(output)];
        for (int term = 0; term < count; ++term)
            moving[static_cast<std::size_t>(term)].gain += moving[static_cast<std::size_t>(term)].increment;
    }
    rampRemaining_ -= frames;
    if (rampRemaining_ > 0) {
        for (int term = 0; term < count; ++term) {
            const Moving& entry = moving[static_cast<std::size_t>(term)];
            gains_[static_cast<std::size_t>(entry.output * kMaxChannels + entry.input)] = entry.gain;
        }
        return;
    }
    rampRemaining_ = 0;
    gains_ = rampTargets_; // land exactly on the target
    increments_.fill(0.0f);
    BuildRows();
}

void ChannelMixer::MixRows(float* const* inputs, float* const* outputs, std::size_t frames) const
{
    // One vector pass per non-zero entry; zero entries cost nothing.
    for (int output = 0; output < channels_; ++output) {
        const Row& row = rows_[static_cast<std::size_t>(output)];
        float* out = outputs[output];
        if (row.count == 0) {
            primitives::Fill(0.0f, out, frames);
            continue;
        }
        const Term& first = row.terms[0];
        if (first.gain == 1.0f)
            primitives::Copy(inputs[first.input], out, frames);
        else
            primitives::Scale(inputs[first.input], first.gain, out, frames);
        for (int term = 1; term < row.count; ++term) {
            const Term& next = row.terms[static_cast<std::size_t>(term)];
            primitives::ScaleAccumulate(inputs[next.input], next.gain, out, frames);
        }
    }
}

void ChannelMixer::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    if (work_.TakeUpdate())
        TakeTargets(true);
    if (frames <= 0)
        return;

    const std::size_t channels = static_cast<std::size_t>(channels_);
    std::array<float*, kMaxChannels> in{};
    std::array<float*, kMaxChannels> out{};
    std::copy_n(inputs, channels, in.begin());
    std::copy_n(outputs, channels, out.begin());
    std::size_t remaining = static_cast<std::size_t>(frames);
    if (rampRemaining_ > 0) {
        const int ramped = std::min(frames, rampRemaining_);
        MixRamp(in.data(), out.data(), ramped);
        remaining -= static_cast<std::size_t>(ramped);
        for (std::size_t channel = 0; channel < channels; ++channel) {
            in[channel] += ramped;
            out[channel] += ramped;
        }
    }
    if (remaining == 0)
        return;

    bool shared = false;
    for (std::size_t output = 0; output < channels && !shared; ++output)
        for (std::size_t input = 0; input < channels && !shared; ++input)
            shared = Overlaps(out[output], in[input], remaining);
    if (!shared) {
        MixRows(in.data(), out.data(), remaining);
        return;
    }
    // Outputs overwrite inputs that later outputs still read: mix a run into
    // scratch space, then copy it out.
    std::array<float*, kMaxChannels> scratch{};
    for (std::size_t channel = 0; channel < channels; ++channel)
        scratch[channel] = scratch_.data() + channel * kScratchFrames;
    for (std::size_t done = 0; done < remaining; done += kScratchFrames) {
        const std::size_t run = std::min(kScratchFrames, remaining - done);
        std::array<float*, kMaxChannels> runIn{};
        for (std::size_t channel = 0; channel < channels; ++channel)
            runIn[channel] = in[channel] + done;
        MixRows(runIn.data(), scratch.data(), run);
        for (std::size_t channel = 0; channel < channels; ++channel)
            primitives::Copy(scratch[channel], out[channel] + done, run);
    }
}

} // namespace zoc::components

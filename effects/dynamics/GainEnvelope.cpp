// Gain Envelope: the selection multiplied by a drawn envelope of fader
// positions, read through a decibel fader law (unity at 0.65, +15 dB at the top).

#include <algorithm>
#include <cmath>

#include "effects/dynamics/VolumeEnvelope.h"
#include "framework/FactoryPresets.h"
#include "framework/Registration.h"

namespace zoc::components {

const std::string kGainEnvelopeComponentID =
    core::Guid{0x3CFFF7BF, 0x798C, 0x4CA2, {0x8B, 0x54, 0x24, 0xC8, 0x40, 0x3D, 0x76, 0xED}}.AsString();

namespace {

constexpr core::Guid kDescriptorGuid{0xC70A7594, 0x6B2E, 0x4B64, {0x96, 0x21, 0xCA, 0x5B, 0x2A, 0xD0, 0x6B, 0x90}};
constexpr const char* kTitleKey = "$$$/AudioComponents/GainEnvelopeTitle=Gain Envelope";

const ComponentRegistration<GainEnvelope> kRegistration{"GainEnvelope", kTitleKey, 0, kGainEnvelopeComponentID,
                                                        kDescriptorGuid,
    "Rides the gain over the whole file along a drawn fader envelope",
    "Tremors"};

/// Gains are converted to dB down to this amplitude (-300 dB, the fader's bottom).
constexpr float kSmallestAmplitude = 1e-15f;
/// At or below this the tooltip shows minus infinity.
constexpr float kInfinityDecibels = -299.0f;

#define ZOC_GAIN_KEY(name, text) "$$$/AudioComponents/GainEnvelopePresets/" name "=" text

// (relative position, linear gain) keyframes of each factory envelope.
constexpr std::array kPresets = {
    MakeEnvelopePreset(kDefaultPresetKey, false, {}),
    MakeEnvelopePreset(ZOC_GAIN_KEY("SmoothEnds", "Smooth Ends"), false, {{0, 0}, {0.01f, 1}, {0.99f, 1}, {1, 0}}),
    MakeEnvelopePreset(ZOC_GAIN_KEY("KeepAttackOnly", "Keep Attack Only"), false,
                       {{0.08f, 1}, {0.125f, 0.45f}, {0.25f, 0.18f}, {0.675f, 0}}),
    MakeEnvelopePreset(ZOC_GAIN_KEY("RemoveAttack", "Remove Attack"), false,
                       {{0, 0}, {0.04f, 0.5f}, {0.14f, 0.82f}, {0.15f, 1}}),
    MakeEnvelopePreset(ZOC_GAIN_KEY("0dbPulse", "0dB Pulse"), true, {{0, 0}, {0.5f, 4.7526875f}, {1, 0}}),
    MakeAlternatingPreset(ZOC_GAIN_KEY("Tremors", "Tremors"), true, 11, 0.1f, 1, 0),
    MakeAlternatingPreset(ZOC_GAIN_KEY("ZigZagGain", "Zig Zag Gain"), false, 9, 0.125f, 2, 0),
    MakeEnvelopePreset(ZOC_GAIN_KEY("3dbHardBump", "+3dB Hard Bump"), true,
                       {{0, 1}, {0.1f, 1.4658359f}, {0.5f, 1.4626273f}, {0.9f, 1.4658359f}, {1, 1}}),
    MakeEnvelopePreset(ZOC_GAIN_KEY("3dbSoftBump", "+3dB Soft Bump"), true, {{0.1f, 1}, {0.5f, 1.71893f}, {0.9f, 1}}),
    MakeEnvelopePreset(ZOC_GAIN_KEY("BoostAttack", "Boost Attack"), true, {{0, 1.4163883f}, {0.15f, 1}}),
    MakeEnvelopePreset(ZOC_GAIN_KEY("SoftenAttack", "Soften Attack"), true, {{0, 0.7025185f}, {0.15f, 1}}),
};

#undef ZOC_GAIN_KEY

float ToDecibels(float amplification) { return 20.0f * std::log10(std::max(amplification, kSmallestAmplitude)); }

} // namespace

GainEnvelope::GainEnvelope() : VolumeEnvelope(kGainEnvelopeComponentID, kTitleKey, kUnityPosition, kPresets) {}

float GainEnvelope::GetAmplificationFactorFromNormalizedValue(float value) const
{
    // The fader's floor stands for minus infinity: the bottom mutes exactly.
    const float decibels = fader_.GetDecibelValue(value);
    return decibels <= core::FaderTranslator<float>::kSilenceDecibels ? 0.0f : std::pow(10.0f, decibels / 20.0f);
}

float GainEnvelope::GetNormalizedValueFromAmplificationFactor(float amplification) const
{
    return fader_.GetNormalizedValue(ToDecibels(amplification));
}

void GainEnvelope::GetLogicalKeyframes(std::vector<LogicalKeyframe>& keyframes)
{
    VolumeEnvelope::GetLogicalKeyframes(keyframes);
    for (LogicalKeyframe& keyframe : keyframes)
        keyframe.amplification = GetNormalizedValueFromAmplificationFactor(keyframe.amplification);
}

core::UString GainEnvelope::GetTooltipString(float value) const
{
    const float decibels = fader_.GetDecibelValue(value);
    core::UString text = u"@0 dB (@1%)";
    core::ReplaceInString(text, u"@0",
                          decibels <= kInfinityDecibels ? u"-\u221E" : core::NumberToString(decibels, 1, 1));
    core::ReplaceInString(text, u"@1", core::NumberToString(std::pow(10.0, decibels / 20.0) * 100.0, 1, 1));
    return text;
}

} // namespace zoc::components

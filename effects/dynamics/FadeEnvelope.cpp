// Fade Envelope: the selection multiplied by a drawn linear-gain envelope.

#include "effects/dynamics/VolumeEnvelope.h"
#include "framework/FactoryPresets.h"
#include "framework/Registration.h"

namespace zoc::components {

const std::string kFadeEnvelopeComponentID =
    core::Guid{0xCDB75DA0, 0x14F9, 0x428B, {0x8F, 0x32, 0xEE, 0xC8, 0x3F, 0x23, 0x04, 0xF2}}.AsString();

namespace {

constexpr core::Guid kDescriptorGuid{0xB6631F1B, 0x74F6, 0x4DE2, {0xAC, 0x01, 0x47, 0x19, 0x69, 0x95, 0x22, 0x9C}};
constexpr const char* kTitleKey = "$$$/AudioComponents/FadeEnvelopeTitle=Fade Envelope";

const ComponentRegistration<FadeEnvelope> kRegistration{"FadeEnvelope", kTitleKey, 0, kFadeEnvelopeComponentID,
                                                        kDescriptorGuid,
    "Fades in, out or anything between along a drawn linear-gain envelope over the whole file",
    "Pulse"};

/// With no keyframes the fade passes the signal unchanged.
constexpr float kUnityGain = 1.0f;

#define ZOC_FADE_KEY(name, text) "$$$/AudioComponents/VolumeEnvelopePresets/" name "=" text

// (relative position, linear gain) keyframes of each factory fade.
constexpr std::array kPresets = {
    MakeEnvelopePreset(kDefaultPresetKey, false, {}),
    MakeEnvelopePreset(ZOC_FADE_KEY("LinearFadeIn", "Linear Fade In"), false, {{0, 0}, {1, 1}}),
    MakeEnvelopePreset(ZOC_FADE_KEY("LinearFadeOut", "Linear Fade Out"), false, {{0, 1}, {1, 0}}),
    MakeEnvelopePreset(ZOC_FADE_KEY("SmoothFadeIn", "Smooth Fade In"), true, {{0.25f, 0}, {0.75f, 1}}),
    MakeEnvelopePreset(ZOC_FADE_KEY("SmoothFadeOut", "Smooth Fade Out"), true, {{0.25f, 1}, {0.75f, 0}}),
    MakeEnvelopePreset(ZOC_FADE_KEY("SmoothAttack", "Smooth Attack"), true, {{0, 0}, {0.025f, 1}}),
    MakeEnvelopePreset(ZOC_FADE_KEY("SmoothRelease", "Smooth Release"), true, {{0.975f, 1}, {1, 0}}),
    MakeEnvelopePreset(ZOC_FADE_KEY("SmoothEnds", "Smooth Ends"), false, {{0, 0}, {0.01f, 1}, {0.99f, 1}, {1, 0}}),
    MakeEnvelopePreset(ZOC_FADE_KEY("KeepAttackOnly", "Keep Attack Only"), false,
                       {{0.08f, 1}, {0.125f, 0.45f}, {0.25f, 0.18f}, {0.675f, 0}}),
    MakeEnvelopePreset(ZOC_FADE_KEY("RemoveAttack", "Remove Attack"), false,
                       {{0, 0}, {0.04f, 0.5f}, {0.14f, 0.82f}, {0.15f, 1}}),
    MakeEnvelopePreset(ZOC_FADE_KEY("BellCurve", "Bell Curve"), true, {{0.25f, 1}, {0.5f, 0}}),
    MakeEnvelopePreset(ZOC_FADE_KEY("Pulse", "Pulse"), true, {{0, 0}, {0.5f, 1}, {1, 0}}),
    MakeAlternatingPreset(ZOC_FADE_KEY("Tremors", "Tremors"), true, 11, 0.1f, 1, 0),
    MakeAlternatingPreset(ZOC_FADE_KEY("ZigZagCut", "Zig Zag Cut"), false, 9, 0.125f, 1, 0),
};

#undef ZOC_FADE_KEY

} // namespace

FadeEnvelope::FadeEnvelope() : VolumeEnvelope(kFadeEnvelopeComponentID, kTitleKey, kUnityGain, kPresets) {}

} // namespace zoc::components

// Generate Tones: its parameter table and presets, frequency bounds that
// follow the sample rate, and settings applied after a load with the
// original sample rate last.

#include "effects/generators/Tones.h"

#include <array>
#include <cmath>

#include "framework/Registration.h"
#include "platform/core/Localizer.h"

namespace zoc::components {

const std::string kTonesComponentID =
    core::Guid{0x6B2F4E1D, 0x3A87, 0x4C59, {0xB1, 0x0E, 0x72, 0xD4, 0x95, 0xC3, 0x18, 0xA6}}.AsString();

namespace {

using dsp::tones::TonesDSP;

constexpr core::Guid kDescriptorGuid{0x9E04C7B2, 0x51D3, 0x4F6A, {0x8C, 0x27, 0x3B, 0xE1, 0x60, 0x9F, 0xD4, 0x5C}};
constexpr const char* kTitleKey = "$$$/AudioComponents/GenerateTonesTitle=Generate Tones";

const ComponentRegistration<Tones> kRegistration{"Tones", kTitleKey, 0, kTonesComponentID, kDescriptorGuid,
    "Generates a tone with overtones, optionally swept and modulated from start to end",
    "Major Chord"};

using host::kUnitDecibels;
using host::kUnitFrequency;
using host::kUnitNumber;
using host::kUnitSwitch;

constexpr std::array<GeneratorParameter, Tones::kParameterCount> kParameters{{
    {"$$$/Effects/Tones/Flavor=Flavor", u"", kUnitNumber},
    {"$$$/Effects/Tones/Frequency=Frequency", u"Hz", kUnitFrequency},
    {"$$$/Effects/Tones/FinalFrequency=Final Frequency", u"", kUnitFrequency},
    {"$$$/Effects/Tones/ModulateBy=ModulateBy", u"Hz", kUnitFrequency},
    {"$$$/Effects/Tones/FinalModulateBy=Final ModulateBy", u"Hz", kUnitFrequency},
    {"$$$/Effects/Tones/ModulateFreq=ModulateFreq", u"Hz", kUnitFrequency},
    {"$$$/Effects/Tones/FinalModulateFreq=Final ModulateFreq", u"Hz", kUnitFrequency},
    {"$$$/Effects/Tones/SubFlavor=SubFlavor", u"", kUnitNumber},
    {"$$$/Effects/Tones/FinalSubFlavor=FinalSubFlavor", u"", kUnitNumber},
    {"$$$/Effects/Tones/Overtones0=Overtones 0", u"", kUnitNumber},
    {"$$$/Effects/Tones/Overtones1=Overtones 1", u"", kUnitNumber, true, TonesDSP::kOvertones0},
    {"$$$/Effects/Tones/Overtones2=Overtones 2", u"", kUnitNumber, true, TonesDSP::kOvertones0},
    {"$$$/Effects/Tones/Overtones3=Overtones 3", u"", kUnitNumber, true, TonesDSP::kOvertones0},
    {"$$$/Effects/Tones/Overtones4=Overtones 4", u"", kUnitNumber, true, TonesDSP::kOvertones0},
    {"$$$/Effects/Tones/FinalOvertones0=FinalOvertones 0", u"", kUnitNumber},
    {"$$$/Effects/Tones/FinalOvertones1=FinalOvertones 1", u"", kUnitNumber, true, TonesDSP::kFinalOvertones0},
    {"$$$/Effects/Tones/FinalOvertones2=FinalOvertones 2", u"", kUnitNumber, true, TonesDSP::kFinalOvertones0},
    {"$$$/Effects/Tones/FinalOvertones3=FinalOvertones 3", u"", kUnitNumber, true, TonesDSP::kFinalOvertones0},
    {"$$$/Effects/Tones/FinalOvertones4=FinalOvertones 4", u"", kUnitNumber, true, TonesDSP::kFinalOvertones0},
    {"$$$/Effects/Tones/Locked=Locked", u"", kUnitSwitch},
    {"$$$/Effects/Tones/NoiseDuration=NoiseDuration", u"", kUnitNumber},
    {"$$$/Effects/Tones/Volume=Gain", u"dB", kUnitDecibels},
    {"$$$/Effects/Tones/StartPhase=Start Phase", u"", kUnitNumber},
    {"$$$/Effects/Tones/PhaseDiff=Phase Diff", u"", kUnitNumber},
    {"$$$/Effects/Tones/PhaseDeltaQ=PhaseDeltaQ", u"", kUnitNumber},
    {"$$$/Effects/Tones/InteractionMode=Interaction Mode", u"", kUnitNumber},
    {"$$$/Effects/Tones/F1=F1", u"dB", kUnitDecibels},
    {"$$$/Effects/Tones/F2=F2", u"dB", kUnitDecibels},
    {"$$$/Effects/Tones/F3=F3", u"dB", kUnitDecibels},
    {"$$$/Effects/Tones/F4=F4", u"dB", kUnitDecibels},
    {"$$$/Effects/Tones/F5=F5", u"dB", kUnitDecibels},
    {"$$$/Effects/Tones/Fi1=Fi1", u"dB", kUnitDecibels},
    {"$$$/Effects/Tones/Fi2=Fi2", u"dB", kUnitDecibels},
    {"$$$/Effects/Tones/Fi3=Fi3", u"dB", kUnitDecibels},
    {"$$$/Effects/Tones/Fi4=Fi4", u"dB", kUnitDecibels},
    {"$$$/Effects/Tones/Fi5=Fi5", u"dB", kUnitDecibels},
    {"$$$/Effects/Tones/C1Enable=C1 Enable", u"", kUnitSwitch},
    {"$$$/Effects/Tones/C2Enable=C2 Enable", u"", kUnitSwitch},
    {"$$$/Effects/Tones/C3Enable=C3 Enable", u"", kUnitSwitch},
    {"$$$/Effects/Tones/C4Enable=C4 Enable", u"", kUnitSwitch},
    {"$$$/Effects/Tones/C5Enable=C5 Enable", u"", kUnitSwitch},
    {"$$$/Effects/Tones/DCOffset=DCOffset", u"", kUnitSwitch},
    {"$$$/Effects/Tones/LogSweeping=LogSweeping", u"", kUnitSwitch},
    {"$$$/Effects/Tones/OriginalSampleRate=Original Sample Rate", u"", kUnitSwitch, false},
    {"$$$/Effects/Tones/Preview=Preview", u"", kUnitSwitch, false},
}};

/// Parameters whose high bound is the Nyquist frequency.
bool FollowsRate(int index)
{
    return (index >= TonesDSP::kFrequency && index <= TonesDSP::kFinalModulateFreq) ||
           index == TonesDSP::kPhaseDeltaQ;
}

using Row = PresetRow<TonesDSP::kParameterCount>;

// Frequencies are stored as fractions of the Nyquist frequency of the rate in
// parameter 43 (a fraction of 192 kHz): 44.1 kHz for all but the default.
constexpr std::array kPresets = {
    Row{kDefaultPresetKey,
        {0.0f, 0.018332925f, 0.018332925f, 0.0f, 0.0f, 0.00041666668f, 0.00041666668f, 0.01f, 0.01f, 0.849485f, 0.0f, 0.0f, 0.0f, 0.0f, 0.849485f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.8333333f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.75f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.25f, 0.2296875f}},
    Row{"$$$/AudioComponents/GenerateTonesPresets/1SecondPulses=1 Second Pulses",
        {0.6666667f, 4.489798e-05f, 0.019954205f, 0.0f, 0.0f, 0.0f, 0.00045351475f, 0.5f, 0.5f, 0.95f, 0.0f, 0.0f, 0.0f, 0.0f, 0.849485f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.8333333f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.75f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.2296875f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateTonesPresets/Bell=Bell",
        {0.0f, 0.009976875f, 0.019954205f, 9.0702946e-05f, 0.0f, 6.802721e-05f, 0.00045351475f, 0.01f, 0.01f, 0.95f, 0.75f, 0.71315265f, 0.76124233f, 0.8802163f, 0.849485f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.8333333f, 1.0f, 0.0f, 0.041666668f, 0.0f, 0.0f, 0.00083333335f, 0.00085f, 0.0008166667f, 0.0033333334f, 0.005833333f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.5f, 0.0f, 0.2296875f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateTonesPresets/Chord=Chord",
        {0.0f, 0.009976875f, 0.019954205f, 0.0f, 0.0f, 4.5351473e-05f, 0.00045351475f, 0.01f, 0.01f, 0.93333334f, 0.75f, 0.8333333f, 0.8666667f, 0.9f, 0.849485f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.8333333f, 1.0f, 0.0f, 0.09166667f, 4.5351473e-05f, 0.0f, 0.00083333335f, 0.0010416666f, 0.0012416667f, 0.0016666667f, 0.0021f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.5f, 0.0f, 0.2296875f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateTonesPresets/ChurchOrgan=Church Organ",
        {1.0f, 0.014965539f, 0.019954205f, 0.0f, 0.0f, 0.00045351475f, 0.00045351475f, 0.01f, 0.01f, 0.9f, 0.9f, 0.9f, 0.9f, 0.0f, 0.849485f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.8333333f, 1.0f, 0.0f, 0.25f, 4.5351473e-05f, 0.0f, 0.00083333335f, 0.0010492424f, 0.0012484848f, 0.0016666667f, 0.0041666664f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.75f, 1.0f, 1.0f, 1.0f, 0.0f, 0.5f, 0.0f, 0.2296875f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateTonesPresets/LinearSweep=Linear Sweep (20 Hz-20 kHz)",
        {0.0f, 0.00090657634f, 0.90702945f, 0.0f, 0.0f, 0.00045351475f, 0.00045351475f, 0.01f, 0.01f, 0.9483334f, 0.0f, 0.0f, 0.0f, 0.0f, 0.95f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.8333333f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.75f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.2296875f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateTonesPresets/LogSweep=Log Sweep (20 Hz-20 kHz)",
        {0.0f, 0.00090657634f, 0.90702945f, 0.0f, 0.0f, 0.00045351475f, 0.00045351475f, 0.01f, 0.01f, 0.9483334f, 0.0f, 0.0f, 0.0f, 0.0f, 0.95f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.8333333f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.75f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 1.0f, 0.2296875f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateTonesPresets/MajorChord=Major Chord",
        {0.0f, 0.009976875f, 0.019954205f, 0.0f, 0.0f, 0.00045351475f, 0.00045351475f, 0.01f, 0.01f, 0.9f, 0.9f, 0.9f, 0.9f, 0.0f, 0.849485f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.8333333f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.00083333335f, 0.0010492424f, 0.0012484848f, 0.0016666667f, 0.0041666664f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.75f, 1.0f, 1.0f, 1.0f, 0.0f, 0.5f, 0.0f, 0.2296875f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateTonesPresets/MinorChord=Minor Chord",
        {0.0f, 0.009976875f, 0.019954205f, 0.0f, 0.0f, 0.00045351475f, 0.00045351475f, 0.01f, 0.01f, 0.9f, 0.9f, 0.9f, 0.9f, 0.0f, 0.849485f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.8333333f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.00083333335f, 0.0009908334f, 0.0012484848f, 0.0016666667f, 0.0041666664f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.75f, 1.0f, 1.0f, 1.0f, 0.0f, 0.5f, 0.0f, 0.2296875f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateTonesPresets/MinorToMajor=Minor to Major",
        {0.6666667f, 0.009976875f, 0.009976875f, 0.0f, 0.0f, 0.00045351475f, 0.00045351475f, 0.06f, 0.5f, 0.9f, 0.9f, 0.9f, 0.9f, 0.58693784f, 0.9f, 0.9f, 0.9f, 0.9f, 0.8011386f, 0.0f, 0.8333333f, 0.975f, 0.0f, 0.055555556f, 0.0f, 0.0f, 0.00083333335f, 0.0009908334f, 0.0012484848f, 0.0016666667f, 0.0018241666f, 0.00083333335f, 0.0010492424f, 0.0012484848f, 0.0016666667f, 0.0018825001f, 0.75f, 1.0f, 1.0f, 1.0f, 1.0f, 0.5f, 1.0f, 0.2296875f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateTonesPresets/ModulateExistingAudio=Modulate Existing Audio",
        {0.0f, 9.024947e-05f, 0.019954205f, 0.0f, 0.0f, 0.0f, 0.00045351475f, 0.01f, 0.01f, 0.98333335f, 0.0f, 0.0f, 0.0f, 0.0f, 0.849485f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.8333333f, 1.0f, 0.0f, 0.0f, 0.0f, 0.33333334f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.75f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.2296875f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateTonesPresets/NoteDeep=Note Deep",
        {0.0f, 0.0054417257f, 0.0054417257f, 0.0f, 0.0f, 0.00045351475f, 0.00045351475f, 0.01f, 0.01f, 0.9f, 0.8666667f, 0.8333333f, 0.8333333f, 0.8333333f, 0.9f, 0.8666667f, 0.8333333f, 0.8333333f, 0.9f, 0.0f, 0.8333333f, 1.0f, 0.0f, 0.25f, 0.00013605443f, 0.0f, 0.00083333335f, 0.0008341667f, 0.0008358333f, 0.00083750003f, 0.00083499996f, 0.00083333335f, 0.00125f, 0.0019441666f, 0.0020833332f, 0.002775f, 0.75f, 1.0f, 1.0f, 1.0f, 1.0f, 0.5f, 1.0f, 0.2296875f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateTonesPresets/OutOfControl=Out Of Control",
        {0.0f, 0.019954205f, 0.019954205f, 4.5351473e-05f, 0.0045351475f, 4.5351473e-05f, 0.00045351475f, 0.01f, 0.01f, 0.9741667f, 0.2f, 0.2f, 0.2f, 0.2f, 0.9741667f, 0.8f, 0.8f, 0.8f, 0.8f, 0.0f, 0.8333333f, 1.0f, 0.0f, 0.18055555f, 9.0702946e-05f, 0.0f, 0.00083333335f, 0.00083333335f, 0.00083333335f, 0.00083333335f, 0.00083333335f, 0.00083333335f, 0.0008583333f, 0.006666667f, 0.008333333f, 0.001f, 0.75f, 1.0f, 1.0f, 1.0f, 1.0f, 0.5f, 0.0f, 0.2296875f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateTonesPresets/Tremolo=Tremolo",
        {0.0f, 0.00040770991f, 0.019954205f, 0.0f, 0.0f, 0.0f, 0.00045351475f, 0.01f, 0.01f, 0.98333335f, 0.0f, 0.0f, 0.0f, 0.0f, 0.849485f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.8333333f, 1.0f, 0.0f, 0.0f, 0.0f, 0.33333334f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.00083333335f, 0.0016666667f, 0.0025f, 0.0033333334f, 0.0041666664f, 0.75f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.0f, 0.2296875f, 0.0f}},
};

} // namespace

Tones::Tones() : OfflineGenerator(kTonesComponentID, kTitleKey, kParameters, kPresets)
{
    SetInitialValues(GetPresets().Values(0));
}

void Tones::UpdateFrequencyBounds()
{
    float lo = 0.0f;
    float hi = 1.0f;
    GetKernel().GetBounds(TonesDSP::kFrequency, lo, hi);
    for (int index = 0; index < kParameterCount; ++index)
        if (FollowsRate(index))
            GetInfo(index).SetHiBound(hi);
}

void Tones::SetSampleRate(float rate)
{
    if (!(rate > 0.0f) || rate == GetSampleRate())
        return;
    // The kernel keeps each frequency's fraction of the Nyquist frequency,
    // and so do the normalized values.
    OfflineGenerator::SetSampleRate(rate);
    UpdateFrequencyBounds();
}

void Tones::SetPreviewMode(bool preview) { SetParameter(kPreviewParameter, preview ? 1.0f : 0.0f); }

void Tones::FinishLoadingSettings(bool loading)
{
    MultiChannelOfflineComponent::FinishLoadingSettings(loading);
    const std::array<float, kParameterCount> stored = GetStoredValues();
    for (int index = 0; index < kParameterCount; ++index)
        if (index != kOriginalSampleRateParameter)
            SetParameter(index, stored[static_cast<std::size_t>(index)]);
    // Frequencies mean hertz at the rate they were saved at; settings that
    // were not loaded from a file are taken to belong to the current rate.
    const float rate = loading ? stored[kOriginalSampleRateParameter]
                               : static_cast<float>(std::trunc(GetSampleRate()) / kRateScale);
    SetParameter(kOriginalSampleRateParameter, rate);
    BumpParameterDirtyCount();
}

} // namespace zoc::components

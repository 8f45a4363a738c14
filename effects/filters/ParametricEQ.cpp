// Parametric Equalizer: parameter surface, presets and settings loads over
// one Parametric kernel per channel.

#include "effects/filters/ParametricEQ.h"

#include <algorithm>
#include <cmath>

#include "framework/ParameterInfo.h"
#include "framework/Registration.h"
#include "framework/ResponseCurve.h"
#include "platform/core/Localizer.h"

namespace zoc::components {

const std::string kParametricEQComponentID = ComponentGuid(4).AsString();

namespace {

using dsp::Parametric;
using enum host::AudioFilterParameterInfoUnit;

constexpr core::Guid kDescriptorGuid = DescriptorGuid(4);
constexpr const char* kTitleKey = "$$$/AudioComponents/ParametricEQTitle=Parametric Equalizer";

const ComponentRegistration<ParametricEQ> kRegistration{"ParametricEQ", kTitleKey, 0, kParametricEQComponentID,
                                                        kDescriptorGuid,
    "Shapes the tone with five peak bands, low and high shelves, and high- and low-pass filters",
    "Old Time Radio"};

constexpr const char* kPrefix = "$$$/Effects/ParametricEQ/";

enum class Kind {
    kRange,  ///< numeric, range from the kernel
    kUnit,   ///< numeric, 0 to 1 (the value passed is the real value)
    kSwitch, ///< On / Off
    kOrder,  ///< Second Order / First Order
};

struct Row {
    const char* key;
    const char* unit;
    host::AudioFilterParameterInfoUnit unitKind;
    Kind kind;
    bool automatable;
};

constexpr Row Frequency(const char* key, bool automatable = true)
{
    return {key, "Hz", kUnitFrequency, Kind::kRange, automatable};
}
constexpr Row Gain(const char* key) { return {key, "dB", kUnitDecibels, Kind::kRange, true}; }
constexpr Row Number(const char* key) { return {key, "", kUnitNumber, Kind::kRange, true}; }
constexpr Row Switch(const char* key, bool automatable = true)
{
    return {key, "", kUnitSwitch, Kind::kSwitch, automatable};
}

// Indexes are the kernel's.
constexpr std::array<Row, ParametricEQ::kParameterCount> kRows{{
    Frequency("LowShelfFrequency=Low Shelf Frequency"),
    Gain("LowShelfAmp=Low Shelf Gain"),
    Frequency("HighShelfCutoff=High Shelf Frequency"),
    Gain("HighShelfAmp=High Shelf Gain"),
    Frequency("Band1Freq=EQ Band 1 Center Frequency"),
    Number("Band1Q=EQ Band 1 Q"),
    Gain("Band1Gain=EQ Band 1 Gain"),
    Switch("Band1Enable=EQ Band 1 Enable"),
    Frequency("Band2Freq=EQ Band 2 Center Frequency"),
    Number("Band2Q=EQ Band 2 Q"),
    Gain("Band2Gain=EQ Band 2 Gain"),
    Switch("Band2Enable=EQ Band 2 Enable"),
    Frequency("Band3Freq=EQ Band 3 Center Frequency"),
    Number("Band3Q=EQ Band 3 Q"),
    Gain("Band3Gain=EQ Band 3 Gain"),
    Switch("Band3Enable=EQ Band 3 Enable"),
    Frequency("Band4Freq=EQ Band 4 Center Frequency"),
    Number("Band4Q=EQ Band 4 Q"),
    Gain("Band4Gain=EQ Band 4 Gain"),
    Switch("Band4Enable=EQ Band 4 Enable"),
    Frequency("Band5Freq=EQ Band 5 Center Frequency"),
    Number("Band5Q=EQ Band 5 Q"),
    Gain("Band5Gain=EQ Band 5 Gain"),
    Switch("Band5Enable=EQ Band 5 Enable"),
    Gain("MasterGain=Master Gain"),
    {"ConstantQ=ConstantQ", "", kUnitNumber, Kind::kUnit, false},
    {"LowShelfOrder=Low Shelf Filter Order", "", kUnitSwitch, Kind::kOrder, true},
    {"HighShelfOrder=High Shelf Filter Order", "", kUnitSwitch, Kind::kOrder, true},
    Switch("UltraQuiet=Ultra-Quiet Mode"),
    Switch("LowShelfEnable=Low Shelf Enable"),
    Switch("HighShelfEnable=High Shelf Enable"),
    {"OriginalSampleRate=Original Sample Rate", "Hz", kUnitFrequency, Kind::kRange, false},
    Frequency("Band1Bandwidth=EQ Band 1 Bandwidth"),
    Frequency("Band2Bandwidth=EQ Band 2 Bandwidth"),
    Frequency("Band3Bandwidth=EQ Band 3 Bandwidth"),
    Frequency("Band4Bandwidth=EQ Band 4 Bandwidth"),
    Frequency("Band5Bandwidth=EQ Band 5 Bandwidth"),
    Switch("HighPassEnable=High-Pass Filter Enable", false),
    Frequency("HiPassFreq=High-Pass Cutoff Frequency", false),
    {"HiPassSlope=High-Pass Slope", "", kUnitNumber, Kind::kUnit, false},
    Switch("LoPassEnable=Low-Pass Filter Enable", false),
    Frequency("LoPassFreq=Low-Pass Cutoff Frequency", false),
    {"LoPassSlope=Low-Pass Slope", "", kUnitNumber, Kind::kUnit, false},
    Switch("Bypass=Bypass"),
    Switch("LowGraphRange=LowGraphRange", false),
}};

/// The frequency descriptions, whose ranges follow the sample rate.
constexpr std::array kFrequencyIndexes{0, 2, 4, 8, 12, 16, 20, 38, 41};

bool IsQ(int index) { return index >= Parametric::kBand1Q && index < Parametric::kMasterGain && (index - 1) % 4 == 0; }
bool IsBandwidth(int index)
{
    return index >= Parametric::kBand1Bandwidth && index < Parametric::kBand1Bandwidth + Parametric::kBands;
}
/// Slopes are passed as plain numbers (4 = 24 dB/oct) through a 0-to-1 range.
bool IsSlope(int index) { return index == Parametric::kHighPassSlope || index == Parametric::kLowPassSlope; }

/// The slope (Butterworth order) a value sets: presets pass the order itself,
/// anything from 0 to 1 is a fraction of the steepest order, the form the
/// slope is reported and saved in so that saved settings load back.
int SlopeFromValue(float value)
{
    const float order = value > 1.0f ? value : value * static_cast<float>(Parametric::kMaxSlope);
    return static_cast<int>(std::lround(
        std::clamp(order, static_cast<float>(Parametric::kMinSlope), static_cast<float>(Parametric::kMaxSlope))));
}
float SlopeFraction(int slope) { return static_cast<float>(slope) / static_cast<float>(Parametric::kMaxSlope); }

// Factory presets, written in hertz and decibels and stored as fractions of
// the kernel's ranges at the rate they were made for (48 kHz, recorded in
// the original-sample-rate parameter so that they give the same hertz at any
// rate). Every preset controls its bands by bandwidth and uses 24 dB/oct
// filters.
constexpr double kPresetRate = 48000.0;

struct Band {
    float hertz;
    float decibels;
    float bandwidth; ///< Hz between the half-gain edges
};

struct Settings {
    const char* key;
    std::array<Band, Parametric::kBands> bands{
        {{100, 0, 50}, {400, 0, 200}, {1600, 0, 800}, {6400, 0, 3200}, {16000, 0, 12800}}};
    float lowShelfHz = 100, lowShelfDb = 0; ///< shelves are on when their gain is not 0
    float highShelfHz = 10000, highShelfDb = 0;
    float highPassHz = 0; ///< 0: off
    float lowPassHz = 0;  ///< 0: off
    float masterDb = 0;
};

constexpr float FrequencyFraction(double hertz)
{
    return static_cast<float>((hertz - Parametric::kMinFrequency) /
                              (Parametric::kMaxFrequencyFraction * kPresetRate - Parametric::kMinFrequency));
}
constexpr float GainFraction(double decibels)
{
    return static_cast<float>((decibels + Parametric::kMaxGainDb) / (2.0 * Parametric::kMaxGainDb));
}
constexpr float BandwidthFraction(double hertz) { return static_cast<float>(hertz / Parametric::kMaxBandwidth); }
constexpr float QFraction(double q)
{
    return static_cast<float>((q - Parametric::kMinQ) / (Parametric::kMaxQ - Parametric::kMinQ));
}

constexpr PresetRow<ParametricEQ::kParameterCount> MakePreset(const Settings& s)
{
    PresetRow<ParametricEQ::kParameterCount> row{s.key, {}};
    auto set = [&row](int index, float value) { row.values[static_cast<std::size_t>(index)] = value; };
    set(Parametric::kLowShelfFrequency, FrequencyFraction(s.lowShelfHz));
    set(Parametric::kLowShelfGain, GainFraction(s.lowShelfDb));
    set(Parametric::kLowShelfEnable, s.lowShelfDb != 0 ? 1.0f : 0.0f);
    set(Parametric::kLowShelfOrder, 1.0f);
    set(Parametric::kHighShelfFrequency, FrequencyFraction(s.highShelfHz));
    set(Parametric::kHighShelfGain, GainFraction(s.highShelfDb));
    set(Parametric::kHighShelfEnable, s.highShelfDb != 0 ? 1.0f : 0.0f);
    set(Parametric::kHighShelfOrder, 1.0f);
    for (int band = 0; band < Parametric::kBands; ++band) {
        const Band& b = s.bands[static_cast<std::size_t>(band)];
        const int base = Parametric::kBand1Frequency + 4 * band;
        set(base, FrequencyFraction(b.hertz));
        set(base + 1, QFraction(2.0)); // in reserve: these presets use bandwidths
        set(base + 2, GainFraction(b.decibels));
        set(base + 3, 1.0f);
        set(Parametric::kBand1Bandwidth + band, BandwidthFraction(b.bandwidth));
    }
    set(Parametric::kMasterGain, GainFraction(s.masterDb));
    set(Parametric::kConstantQ, 0.0f);
    set(Parametric::kUltraQuiet, 0.0f);
    set(Parametric::kOriginalSampleRate, static_cast<float>(kPresetRate / Parametric::kMaxOriginalRate));
    set(Parametric::kHighPassEnable, s.highPassHz > 0 ? 1.0f : 0.0f);
    set(Parametric::kHighPassFrequency, FrequencyFraction(s.highPassHz > 0 ? s.highPassHz : 100.0));
    set(Parametric::kHighPassSlope, 4.0f);
    set(Parametric::kLowPassEnable, s.lowPassHz > 0 ? 1.0f : 0.0f);
    set(Parametric::kLowPassFrequency, FrequencyFraction(s.lowPassHz > 0 ? s.lowPassHz : 10000.0));
    set(Parametric::kLowPassSlope, 4.0f);
    set(Parametric::kBypass, 0.0f);
    set(Parametric::kLowGraphRange, 0.0f);
    return row;
}

#define ZOC_PARAMETRIC_PRESET(key) "$$$/AudioComponents/ParametricEQPresets/" key

// The default: five bands at 0 dB with bandwidths of 0.25 %, 1 %, 4 %, 16 %
// and 64 % of the range, each band a Q of about 2 (the top one wider).
const std::array<PresetRow<ParametricEQ::kParameterCount>, 12> kPresets{{
    MakePreset({.key = kDefaultPresetKey}),
    // Less boom and box, more string detail and air.
    MakePreset({.key = ZOC_PARAMETRIC_PRESET("AcousticGuitar=Acoustic Guitar"),
                .bands = {{{120, -2, 80}, {250, -3, 150}, {800, -1.5f, 400}, {3000, 2.5f, 2000}, {12000, 2, 6000}}},
                .highShelfDb = 2,
                .highPassHz = 80}),
    // Body at 200 Hz, less ring, crack and snare wires up.
    MakePreset({.key = ZOC_PARAMETRIC_PRESET("BeefySnare=Beefy Snare"),
                .bands = {{{200, 5, 120}, {450, -3, 250}, {1200, 0, 800}, {2500, 3, 1500}, {6000, 3, 3000}}},
                .highPassHz = 60}),
    MakePreset({.key = ZOC_PARAMETRIC_PRESET("FullReset=Full Reset")}),
    MakePreset({.key = ZOC_PARAMETRIC_PRESET("GenericHiPass=Generic Hi-Pass"), .highPassHz = 100}),
    MakePreset({.key = ZOC_PARAMETRIC_PRESET("GenericLowPass=Generic Low-Pass"), .lowPassHz = 8000}),
    // Tight low end, scooped mud, forward bite, fizz rolled off.
    MakePreset({.key = ZOC_PARAMETRIC_PRESET("HeavyGuitar=Heavy Guitar"),
                .bands = {{{120, 2, 80}, {400, -4, 300}, {1500, 2, 800}, {3500, 3, 1500}, {8000, -2, 4000}}},
                .highPassHz = 80,
                .lowPassHz = 12000}),
    // Thump at 60 Hz, cardboard out, beater click in.
    MakePreset({.key = ZOC_PARAMETRIC_PRESET("Kick=Kick"),
                .bands = {{{60, 5, 40}, {350, -6, 250}, {1600, 0, 800}, {4000, 4, 2000}, {10000, -3, 6000}}},
                .highPassHz = 30}),
    // Lows and highs up, a little mid scoop, master down to keep headroom.
    MakePreset({.key = ZOC_PARAMETRIC_PRESET("LoudnessMaximizer=Loudness Maximizer"),
                .bands = {{{100, 0, 50}, {400, 0, 200}, {1000, -2, 1200}, {6400, 0, 3200}, {16000, 0, 12800}}},
                .lowShelfHz = 120,
                .lowShelfDb = 5,
                .highShelfHz = 6000,
                .highShelfDb = 4,
                .masterDb = -3}),
    // A small speaker: 300 Hz to 3 kHz with a nasal bump at 1 kHz.
    MakePreset({.key = ZOC_PARAMETRIC_PRESET("OldTimeRadio=Old Time Radio"),
                .bands = {{{100, 0, 50}, {400, 0, 200}, {1000, 6, 800}, {2000, 3, 1000}, {16000, 0, 12800}}},
                .highPassHz = 300,
                .lowPassHz = 3000}),
    // Less mud, presence up, sibilance tamed, air on top.
    MakePreset({.key = ZOC_PARAMETRIC_PRESET("RapVocals=Rap Vocals"),
                .bands = {{{200, -2, 150}, {800, -1, 500}, {3000, 3, 2000}, {7000, -2, 2000}, {16000, 0, 12800}}},
                .highShelfHz = 12000,
                .highShelfDb = 3,
                .highPassHz = 80}),
    // Clarity: mud out, presence and air up.
    MakePreset({.key = ZOC_PARAMETRIC_PRESET("VocalEnhancer=Vocal Enhancer"),
                .bands = {{{100, 0, 50}, {250, -3, 200}, {1600, 0, 800}, {4000, 4, 2500}, {12000, 3, 6000}}},
                .highPassHz = 100}),
}};

#undef ZOC_PARAMETRIC_PRESET

} // namespace

ParametricEQ::ParametricEQ()
    : MultithreadedComponentBase(kParametricEQComponentID, core::Localize(kTitleKey), kMaxChannels, kPresets)
{
    BuildParameterInfos();
    values_ = kPresets[0].values;
    values_[Parametric::kOriginalSampleRate] = std::trunc(GetSampleRate()) / Parametric::kMaxOriginalRate;
    // Every value to every kernel, Q and bandwidth alike.
    for (int index = 0; index < kParameterCount; ++index) {
        const float real = GetParameterInfo(index)->FromNormalized(values_[static_cast<std::size_t>(index)]);
        ForEachKernel([&](Parametric& kernel) { kernel.SetParameter(index, real); });
    }
    for (const int slope : {Parametric::kHighPassSlope, Parametric::kLowPassSlope}) {
        float& value = values_[static_cast<std::size_t>(slope)];
        value = SlopeFraction(SlopeFromValue(value));
    }
    raw_ = values_;
}

void ParametricEQ::BuildParameterInfos()
{
    const std::string prefix(kPrefix);
    const Parametric bounds;
    for (int index = 0; index < kParameterCount; ++index) {
        const Row& row = kRows[static_cast<std::size_t>(index)];
        const core::UString name = core::Localize(prefix + row.key);
        core::Ref<host::AudioFilterParameterInfo> info;
        if (row.kind == Kind::kSwitch || row.kind == Kind::kOrder) {
            const bool order = row.kind == Kind::kOrder;
            info = core::MakeRef<BoolParameterInfo>(
                name, core::UString(), core::Localize(prefix + (order ? "SecondOrder=Second Order" : "On=On")),
                core::Localize(prefix + (order ? "FirstOrder=First Order" : "Off=Off")), row.automatable);
        } else {
            float lo = 0.0f;
            float hi = 1.0f;
            if (row.kind == Kind::kRange)
                bounds.GetBounds(index, lo, hi);
            info = core::MakeRef<GenericParameterInfo>(name, core::FromUtf8(row.unit), row.unitKind, index, lo, hi,
                                                       row.automatable);
            // Shown even where the host may not automate it; the original
            // sample rate is bookkeeping and stays hidden.
            info->SetExposed(index != Parametric::kOriginalSampleRate);
        }
        AddParameterInfo(static_cast<std::size_t>(index), info);
    }
}

void ParametricEQ::RefreshFrequencyBounds()
{
    Parametric probe;
    probe.SetSampleRate(static_cast<int>(GetSampleRate()));
    for (int index : kFrequencyIndexes) {
        float lo = 0.0f;
        float hi = 0.0f;
        probe.GetBounds(index, lo, hi);
        if (auto* generic = dynamic_cast<GenericParameterInfo*>(GetParameterInfo(index).get())) {
            generic->SetLoBound(lo);
            generic->SetHiBound(hi);
        }
    }
}

void ParametricEQ::SetParameter(int index, float normalized)
{
    if (index < 0 || index >= kParameterCount) {
        MultithreadedComponentBase::SetParameter(index, normalized);
        return;
    }
    if (IsLoadingSettings()) {
        raw_[static_cast<std::size_t>(index)] = normalized;
        return;
    }
    const bool constantQ = GetParameter(Parametric::kConstantQ) >= 0.5f;
    if ((IsQ(index) && !constantQ) || (IsBandwidth(index) && constantQ))
        return;
    const core::Ref<host::AudioFilterParameterInfo> info = GetParameterInfo(index);
    if (!info) {
        MultithreadedComponentBase::SetParameter(index, normalized);
        return;
    }
    if (std::isnan(normalized))
        return;
    float real = 0.0f;
    if (IsSlope(index)) {
        const int slope = SlopeFromValue(normalized);
        normalized = SlopeFraction(slope);
        real = static_cast<float>(slope);
    } else {
        normalized = *SanitizeNormalized(normalized);
        real = info->FromNormalized(normalized);
    }
    values_[static_cast<std::size_t>(index)] = normalized;
    ForEachKernel([&](Parametric& kernel) { kernel.SetParameter(index, real); });
    if (index == Parametric::kOriginalSampleRate)
        ResyncFrequencies();
    MultithreadedComponentBase::SetParameter(index, normalized);
}

void ParametricEQ::ResyncFrequencies()
{
    if (GetChannelCount() > 0) {
        for (int index : kFrequencyIndexes)
            values_[static_cast<std::size_t>(index)] =
                GetParameterInfo(index)->ToNormalized(GetKernel(0).GetParameter(index));
    }
    values_[Parametric::kOriginalSampleRate] = std::trunc(GetSampleRate()) / Parametric::kMaxOriginalRate;
}

float ParametricEQ::GetParameter(int index)
{
    if (index < 0 || index >= kParameterCount)
        return 0.0f;
    return values_[static_cast<std::size_t>(index)];
}

void ParametricEQ::SetSampleRate(float rate)
{
    if (rate == GetSampleRate())
        return;
    MultithreadedComponentBase::SetSampleRate(rate);
    RefreshFrequencyBounds();
    ResyncFrequencies();
}

void ParametricEQ::SetFactoryPreset(int index)
{
    const std::span<const float> stored = GetPresetTable().Values(index);
    if (stored.size() != static_cast<std::size_t>(kParameterCount))
        return;
    // The original sample rate (31) maps the frequencies sent before it to
    // what they meant at that rate. The high- and low-pass cutoffs come after
    // it, so they are re-expressed as fractions of the current range first:
    // a preset plays the same hertz at every rate.
    const float originalRate = GetParameterInfo(Parametric::kOriginalSampleRate)
                                   ->FromNormalized(stored[Parametric::kOriginalSampleRate]);
    for (int parameter = 0; parameter < kParameterCount; ++parameter) {
        float value = stored[static_cast<std::size_t>(parameter)];
        if (parameter == Parametric::kHighPassFrequency || parameter == Parametric::kLowPassFrequency)
            value = FractionAtCurrentRate(value, originalRate);
        SetParameterAutomated(parameter, value);
    }
}

float ParametricEQ::FractionAtCurrentRate(float fraction, float originalRate)
{
    const auto* range = dynamic_cast<const GenericParameterInfo*>(
        GetParameterInfo(Parametric::kHighPassFrequency).get());
    if (range == nullptr || originalRate < Parametric::kMinOriginalRate)
        return fraction;
    const double lo = range->GetLoBound();
    const double hi = range->GetHiBound();
    const double originalHi = Parametric::kMaxFrequencyFraction * originalRate;
    const double hertz = lo + fraction * (originalHi - lo);
    return static_cast<float>(std::clamp((hertz - lo) / (hi - lo), 0.0, 1.0));
}

bool ParametricEQ::LoadSettings(const host::PresetData& preset)
{
    StartLoadingSettings();
    const bool loaded = MultithreadedComponentBase::LoadSettings(preset);
    FinishLoadingSettings(true);
    SetParameterAutomated(Parametric::kBypass, 0.0f);
    return loaded;
}

void ParametricEQ::StartLoadingSettings()
{
    // Values a load does not bring keep what is in force.
    if (!IsLoadingSettings())
        raw_ = values_;
    MultithreadedComponentBase::StartLoadingSettings();
}

void ParametricEQ::FinishLoadingSettings(bool fromPreset)
{
    MultithreadedComponentBase::FinishLoadingSettings(fromPreset);
    SetParameter(Parametric::kConstantQ, raw_[Parametric::kConstantQ]);
    for (int index = 0; index < kParameterCount; ++index) {
        if (index != Parametric::kConstantQ && index != Parametric::kOriginalSampleRate)
            SetParameter(index, raw_[static_cast<std::size_t>(index)]);
    }
    SetParameter(Parametric::kOriginalSampleRate, fromPreset
                                                      ? raw_[Parametric::kOriginalSampleRate]
                                                      : std::trunc(GetSampleRate()) / Parametric::kMaxOriginalRate);
}

void ParametricEQ::OnNumberOfChannelsChanged(std::size_t count)
{
    StartLoadingSettings();
    MultithreadedComponentBase::OnNumberOfChannelsChanged(count);
    ForEachKernel([](Parametric& kernel) { kernel.SetChannels(1); });
    const int rate = static_cast<int>(GetSampleRate());
    if (rate < 1) {
        host::AudioFilter::FinishLoadingSettings(false);
    } else {
        FinishLoadingSettings(false);
        ForEachKernel([rate](Parametric& kernel) { kernel.SetSampleRate(rate); });
    }
    SetParameterAutomated(Parametric::kBypass, 0.0f);
}

bool ParametricEQ::GetCurveData(int index, std::size_t points, std::vector<float>& curve)
{
    curve.clear();
    if (index != 0 || GetChannelCount() == 0)
        return false;
    const Parametric& kernel = GetKernel(0);
    return DrawResponseCurve(points, GetSampleRate(), [&](double f) { return kernel.ComputeFilterResponse(f); },
                             curve);
}

} // namespace zoc::components

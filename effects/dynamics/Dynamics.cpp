// Dynamics Processing: transfer-curve compressor, expander, limiter and gate.

#include "effects/dynamics/Dynamics.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numbers>

#include "dsp/Denormals.h"
#include "framework/ParameterInfo.h"
#include "framework/Registration.h"
#include "platform/core/Localizer.h"
#include "primitives/VectorOps.h"

namespace zoc::components {

const std::string kDynamicsComponentID =
    core::Guid{0xF76DAD9C, 0x77DA, 0x477A, {0x99, 0x39, 0xEE, 0xFE, 0xFC, 0x5C, 0x23, 0xBD}}.AsString();

namespace {

constexpr core::Guid kDescriptorGuid{0xE1708E49, 0x6FF6, 0x459B, {0x98, 0x2A, 0xCC, 0x89, 0x01, 0xEF, 0x00, 0x44}};
constexpr const char* kTitleKey = "$$$/AudioComponents/DynamicsProcessingTitle=Dynamics Processing";

const ComponentRegistration<Dynamics> kRegistration{"Dynamics", kTitleKey, 0, kDynamicsComponentID,
                                                    kDescriptorGuid,
    "Compresses, expands, limits or gates through a drawn input-to-output level curve",
    "Voice Over"};

constexpr const char* kPrefix = "$$$/Effects/Dynamics/";
/// The rate assumed before the host sets one.
constexpr float kDefaultRate = 44100.0f;

/// The gain table covers levels from 0 down to -100 dB.
constexpr float kTableEntriesPerDecibel = Dynamics::kGainTableSize / 100.0f;
/// The smoothed level never falls below this, so silence recovers quickly.
constexpr float kLevelFloor = -200.0f;
/// Added before the logarithm so silence has a finite level.
constexpr float kLogGuard = 1e-10f;
/// The detector works on samples scaled to 16-bit full scale.
constexpr float kDetectorScale = 32768.0f;
/// The detector holds its input at +120 dBFS (a million times full scale):
/// louder means nothing more, and the square of a sample near the float
/// limit would otherwise be infinite and leave an infinite level behind.
constexpr float kDetectorCeiling = 1e6f * kDetectorScale;
/// RMS level of the 16-bit scaled square: 10 log10(x^2) - 89.08 dB.
constexpr float kRmsOffset = -89.08f;
/// Peak level: 20 log10(|x| / 32768).
const float kPeakOffset = static_cast<float>(-20.0 * std::log10(32768.0));
/// Detector smoothing per sample: light for peak, about 12 samples for RMS.
constexpr float kPeakSmoothing = 0.05f;
constexpr float kRmsSmoothing = 0.92f;
/// Band edges below 20.0001 Hz and above 0.49 of the rate leave the band
/// filter off: the whole spectrum is processed.
constexpr float kLowestCutoff = 20.0001f;
constexpr float kHighestCutoffFraction = 0.49f;
/// The band filter's half-length spans 1.5 periods of the lower band edge,
/// 160 frames when both edges are below 40 Hz, never more than 256.
constexpr int kDefaultHalfLength = 160;
constexpr int kMaxHalfLength = 256;
constexpr float kMaxLookaheadMs = 500.0f;
constexpr double kHalfLengthPeriods = 1.5;
constexpr double kHalfLengthMinEdge = 40.0;
/// After a rebuild of the lines the output is silent while the detector
/// settles: rate / 100 frames (10 ms), or the level release time without
/// lookahead.
constexpr double kStartupMuteDivisor = 100.0;
/// The lookahead smoother is a sixth-order low-pass at 1 / lookahead time.
constexpr int kLookaheadSmootherOrder = 6;
constexpr std::int32_t kLowPass = 1;

using enum host::AudioFilterParameterInfoUnit;
using enum ParameterKind;

constexpr ParameterRow Row(const char* key, const char* unit, host::AudioFilterParameterInfoUnit kind, float lo,
                           float hi, float initial, bool automatable, ParameterKind parameterKind = kNumber)
{
    return {key, key, unit, kind, lo, hi, initial, automatable, automatable, parameterKind};
}
constexpr ParameterRow PointRow(const char* name, float initial)
{
    return Row(name, "", kUnitNumber, -100.0f, 0.0f, initial, false);
}

// Keys under $$$/Effects/Dynamics/ (the point names are not localized). The
// cutoffs' upper bound is half the sample rate, set at construction and on
// every rate change. Initial curve: (-100, -100), (-20, -20), (0, 0).
constexpr std::array<ParameterRow, Dynamics::kParameterCount> kRows{{
    Row("LeveAttackTime=Level Detector - Attack Time", "ms", kUnitTime, 0.0f, 500.0f, 24.0f, true),
    Row("LevelReleaseTime=Level Detector - Release Time", "ms", kUnitTime, 0.0f, 2000.0f, 100.0f, true),
    Row("GainAttackTime=Gain Processor - Attack Time", "ms", kUnitTime, 0.0f, 500.0f, 0.5f, true),
    Row("GainReleaseTime=Gain Processor - Release Time", "ms", kUnitTime, 0.0f, 2000.0f, 300.0f, true),
    Row("LookaheadTime=Lookahead Time", "ms", kUnitTime, 0.0f, kMaxLookaheadMs, 3.0f, false),
    Row("InputGain=Input Gain", "dB", kUnitDecibels, -48.0f, 48.0f, 0.0f, true),
    Row("OutputGain=Output Gain", "dB", kUnitDecibels, -48.0f, 48.0f, 0.0f, true),
    Row("LowCutoff=Low Cutoff", "Hz", kUnitFrequency, 20.0f, kDefaultRate / 2, 20.0f, false),
    Row("HighCutoff=High Cutoff", "Hz", kUnitFrequency, 20.0f, kDefaultRate / 2, kDefaultRate / 2, false),
    Row("LockFilter=Lock Filter", "", kUnitNumber, 0.0f, 1.0f, 0.0f, false),
    Row("XYCount=Number of X/Y Pairs", "", kUnitNumber, 0.0f, 7.0f, 3.0f, false),
    Row("LinkChannels=Link Channels", "", kUnitSwitch, 0.0f, 1.0f, 0.0f, true, kSwitch),
    Row("PeakRMS=Peak/RMS", "", kUnitSwitch, 0.0f, 1.0f, 1.0f, true, kSwitch),
    Row("EnvelopeOnly=Envelope Only", "", kUnitNumber, 0.0f, 1.0f, 0.0f, false),
    Row("SplineCurves=Spline Curves", "", kUnitSwitch, 0.0f, 1.0f, 0.0f, true, kSwitch),
    Row("NoiseGatingIf=Noise Gating (if expanding more than 50:1)", "", kUnitNumber, 0.0f, 1.0f, 0.0f, false),
    Row("CurrentTab=Current Tab", "", kUnitNumber, 0.0f, 1.0f, 0.0f, false),
    PointRow("Location1", -100.0f),
    PointRow("Value1", -100.0f),
    PointRow("Location2", -20.0f),
    PointRow("Value2", -20.0f),
    PointRow("Location3", 0.0f),
    PointRow("Value3", 0.0f),
    PointRow("Location4", 0.0f),
    PointRow("Value4", 0.0f),
    PointRow("Location5", 0.0f),
    PointRow("Value5", 0.0f),
    PointRow("Location6", 0.0f),
    PointRow("Value6", 0.0f),
    PointRow("Location7", 0.0f),
    PointRow("Value7", 0.0f),
    Row("MakeupGain=Make-Up Gain", "dB", kUnitDecibels, 0.0f, 100.0f, 0.0f, true),
}};

bool IsPointParameter(int index) { return index >= Dynamics::kLocation1 && index < Dynamics::kMakeupGain; }
/// Parameters stored as 0 or 1.
bool IsSnapped(int index)
{
    return index == Dynamics::kLockFilter || (index >= Dynamics::kLinkChannels && index <= Dynamics::kNoiseGatingIf);
}

// Factory presets: normalized rows, each the default row with changes.
struct Change {
    int first;
    int last;
    double value;
    constexpr Change(int index, double normalized) : first(index), last(index), value(normalized) {}
    constexpr Change(int from, int to, double normalized) : first(from), last(to), value(normalized) {}
};

using DynamicsPreset = PresetRow<Dynamics::kParameterCount>;

constexpr DynamicsPreset WithChanges(DynamicsPreset row, std::initializer_list<Change> changes)
{
    for (const Change& change : changes)
        for (int index = change.first; index <= change.last; ++index)
            row.values[static_cast<std::size_t>(index)] = static_cast<float>(change.value);
    return row;
}

// Every preset: 1 ms level attack, 0 dB input gain, RMS detection, gating,
// envelope-only and the filter lock off. The default draws the identity
// (-100, -100), (-20, -20), (0, 0) with 3 ms lookahead and no band limit.
constexpr DynamicsPreset kDefaultRow = WithChanges(
    {kDefaultPresetKey, {}},
    {{0, 0.002}, {1, 0.05}, {2, 0.048}, {3, 0.05}, {4, 0.006}, {5, 0.5}, {6, 0.5}, {7, 0}, {8, 1},
     {9, 0}, {10, 0.428571}, {11, 0}, {12, 1}, {13, 0}, {14, 0}, {15, 0}, {16, 1}, {17, 0}, {18, 0},
     {19, 0.8}, {20, 0.8}, {21, 1}, {22, 1}, {23, 30, 0.5}, {31, 0}});

constexpr DynamicsPreset Preset(const char* key, std::initializer_list<Change> changes)
{
    DynamicsPreset row = kDefaultRow;
    row.key = key;
    return WithChanges(row, changes);
}

#define ZOC_DYNAMICS_PRESET(key) "$$$/AudioComponents/DynamicsPresets/" key

constexpr std::array<DynamicsPreset, 33> kPresets{{
    kDefaultRow,
    Preset(ZOC_DYNAMICS_PRESET("31Expander=3:1, Expander < 10dB"),
           {{1, 0.15}, {2, 0.001}, {3, 0.25}, {10, 0.714286}, {19, 0.061}, {20, 0}, {21, 0.612}, {22, 0.036},
            {23, 0.9}, {24, 0.9}, {25, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("BoomyKick=Boomy Kick"),
           {{1, 0.15}, {2, 0.04}, {3, 0.1}, {16, 0}, {18, 0.05}, {19, 0.75}, {22, 0.85}, {23, 30, 1}, {31, 0.05}}),
    Preset(ZOC_DYNAMICS_PRESET("BroadcastLimiter=Broadcast Limiter"),
           {{1, 0.15}, {2, 0.1}, {3, 0.0005}, {19, 0.7}, {20, 0.7}, {22, 0.715}, {23, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("CardboardKickDrum=Cardboard Kick Drum"),
           {{1, 0.15}, {2, 0}, {3, 0.25}, {16, 0}, {18, 0.15}, {19, 0.7}, {20, 0.85}, {22, 0.88}, {23, 30, 1},
            {31, 0.15}}),
    Preset(ZOC_DYNAMICS_PRESET("CardboardSnare=Cardboard Snare"),
           {{1, 0.15}, {2, 0.08}, {3, 0.25}, {18, 0.1}, {19, 0.55}, {20, 0.65}, {22, 0.74}, {23, 30, 1},
            {31, 0.1}}),
    Preset(ZOC_DYNAMICS_PRESET("ClassicSoftKnee=Classic Soft Knee"),
           {{1, 0.15}, {2, 0.02}, {3, 0.125}, {10, 0.714286}, {11, 1}, {19, 0.6}, {20, 0.717}, {21, 0.76},
            {22, 0.824}, {23, 0.9}, {24, 0.88}, {25, 1}, {26, 0.9}, {27, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("Compander=Compander"),
           {{1, 0.15}, {2, 0}, {3, 0.02}, {10, 0.714286}, {19, 0.284}, {20, 0}, {21, 0.6}, {22, 0.631},
            {23, 0.91}, {24, 0.913}, {25, 1}, {26, 0.937}, {27, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("DeEsserHard=DeEsser Hard"),
           {{1, 0.15}, {2, 0.002}, {3, 0.2}, {4, 0.004}, {7, 0.180651}, {8, 0.543786}, {19, 0.65}, {20, 0.65},
            {22, 0.737}, {23, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("DeEsserLight=DeEsser Light"),
           {{1, 0.15}, {2, 0.002}, {3, 0.2}, {4, 0.004}, {7, 0.180651}, {8, 0.543786}, {16, 0}, {19, 0.76},
            {20, 0.76}, {22, 0.92}, {23, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("DeEsserMedium=DeEsser Medium"),
           {{1, 0.15}, {2, 0.002}, {3, 0.2}, {4, 0.004}, {7, 0.180651}, {8, 0.543786}, {16, 0}, {19, 0.7},
            {20, 0.7}, {22, 0.85}, {23, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("DrumMachineLimiter=Drum Machine Limiter"),
           {{1, 0.15}, {2, 0.02}, {3, 0.125}, {18, 0.14}, {19, 0.82}, {20, 0.96}, {22, 0.993}, {23, 30, 1},
            {31, 0.14}}),
    Preset(ZOC_DYNAMICS_PRESET("EGuitarGate=E. Guitar Gate"),
           {{1, 0.15}, {2, 0.002}, {3, 0.125}, {10, 0.714286}, {16, 0}, {19, 0.507}, {20, 0}, {21, 0.543},
            {22, 0.533}, {23, 0.76}, {24, 0.88}, {25, 1}, {26, 0.924}, {27, 30, 1}, {31, 0.12}}),
    Preset(ZOC_DYNAMICS_PRESET("FastDrums=Fast Drums"),
           {{1, 0.15}, {2, 0.04}, {3, 0.025}, {6, 0.520833}, {18, 0.06}, {20, 0.86}, {22, 0.94}, {23, 30, 1},
            {31, 0.06}}),
    Preset(ZOC_DYNAMICS_PRESET("FatBass=Fat Bass"),
           {{1, 0.15}, {2, 0.1}, {3, 0.02}, {18, 0.12}, {19, 0.7}, {20, 0.82}, {22, 0.87}, {23, 30, 1},
            {31, 0.12}}),
    Preset(ZOC_DYNAMICS_PRESET("FatSnare=Fat Snare"),
           {{1, 0.15}, {2, 0.2}, {3, 0.1}, {16, 0}, {19, 0.75}, {20, 0.75}, {22, 0.812}, {23, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("MaximumPumping=Maximum Pumping"),
           {{10, 0.571429}, {19, 0.2403}, {20, 0.7233}, {21, 0.724}, {22, 0.9245}, {23, 1}, {24, 0.9371},
            {25, 30, 1}, {31, 0.2}}),
    Preset(ZOC_DYNAMICS_PRESET("NastyGuitar=Nasty Guitar"),
           {{1, 0.15}, {2, 0.004}, {3, 0.375}, {4, 0.014}, {6, 0.479167}, {10, 0.714286}, {16, 0}, {19, 0.653},
            {20, 0}, {21, 0.71}, {22, 0.796}, {23, 0.8}, {24, 0.94}, {25, 1}, {26, 0.977}, {27, 30, 1},
            {31, 0.14}}),
    Preset(ZOC_DYNAMICS_PRESET("NoiseGate10dB=Noise Gate @ 10dB"),
           {{1, 0.15}, {2, 0.002}, {3, 0.25}, {10, 0.571429}, {16, 0}, {18, 0.00300003}, {19, 0.804}, {20, 0.046},
            {21, 0.9}, {22, 0.9}, {23, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("NoiseGate20dB=Noise Gate @ 20dB"),
           {{1, 0.15}, {2, 0.002}, {3, 0.25}, {10, 0.714286}, {19, 0.063}, {20, 0}, {21, 0.692}, {22, 0.033},
            {23, 0.8}, {24, 0.8}, {25, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("PickBass=Pick Bass"),
           {{1, 0.15}, {2, 0.03}, {3, 0.027}, {6, 0.520833}, {18, 0.537}, {19, 0.82}, {20, 0.81}, {22, 0.99},
            {23, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("RapPresence=Rap Presence"),
           {{1, 0.15}, {2, 0}, {10, 0.571429}, {19, 0.267}, {20, 0}, {21, 0.8}, {22, 0.8}, {23, 1}, {24, 0.867},
            {25, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("RockVocal=Rock Vocal"),
           {{1, 0.15}, {2, 0}, {16, 0}, {18, 0.02}, {19, 0.76}, {20, 0.78}, {22, 0.849}, {23, 30, 1}, {31, 0.02}}),
    Preset(ZOC_DYNAMICS_PRESET("SlapBass=Slap Bass"), {{1, 0.15}, {19, 0.86}, {20, 0.86}, {22, 0.93}, {23, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("SlowDrums=Slow Drums"),
           {{1, 0.15}, {2, 0}, {3, 0.06}, {19, 0.78}, {20, 0.78}, {22, 0.868}, {23, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("SmoothVocal=Smooth Vocal"), {{1, 0.15}, {2, 0.002}, {3, 0.075}, {22, 0.9}, {23, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("SnareShellRing=Snare Shell Ring"),
           {{1, 0.15}, {2, 0.01}, {3, 0.02}, {16, 0}, {18, 0.2}, {19, 0.6}, {22, 0.9}, {23, 30, 1}, {31, 0.2}}),
    Preset(ZOC_DYNAMICS_PRESET("SoftLimit12dB=Soft Limit -12dB"),
           {{1, 0.15}, {2, 0.01}, {3, 0.0075}, {6, 0.583333}, {11, 1}, {19, 0.88}, {20, 0.88}, {22, 0.881},
            {23, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("SoftLimit24dB=Soft Limit -24dB"),
           {{1, 0.15}, {2, 0.01}, {3, 0.0075}, {6, 0.666667}, {11, 1}, {14, 1}, {16, 0}, {19, 0.76}, {20, 0.76},
            {22, 0.762}, {23, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("StereoRockMix=Stereo Rock Mix"),
           {{1, 0.15}, {2, 0.02}, {3, 0}, {11, 1}, {16, 0}, {18, 0.02}, {19, 0.9}, {20, 0.92}, {22, 0.97},
            {23, 30, 1}, {31, 0.02}}),
    Preset(ZOC_DYNAMICS_PRESET("ThunderDrums=Thunder Drums"),
           {{1, 0.15}, {2, 0.06}, {3, 0.0075}, {6, 0.625}, {11, 1}, {16, 0}, {19, 0.6006}, {20, 0.7987},
            {22, 0.822}, {23, 30, 1}, {31, 0.2}}),
    Preset(ZOC_DYNAMICS_PRESET("VocalLimiter=Vocal Limiter"),
           {{1, 0.15}, {2, 0}, {3, 0.1}, {19, 0.92}, {20, 0.92}, {22, 0.933}, {23, 30, 1}}),
    Preset(ZOC_DYNAMICS_PRESET("VoiceOver=Voice Over"),
           {{1, 0.15}, {2, 0}, {3, 0.075}, {18, 0.425}, {19, 0.85}, {20, 0.85}, {22, 0.91}, {23, 30, 1}}),
}};

#undef ZOC_DYNAMICS_PRESET

/// One-pole coefficient under which a step decays to 1 % in `milliseconds`;
/// 0 (no smoothing) for a time of zero.
float TimeCoefficient(float milliseconds, float rate)
{
    const double samples = static_cast<double>(milliseconds) / 1000.0 * rate;
    return samples > 0.0 ? static_cast<float>(std::pow(0.01, 1.0 / samples)) : 0.0f;
}

double FromDecibels(double decibels) { return std::pow(10.0, decibels / 20.0); }

/// Calls visit(linePosition, chunkOffset, count) for the runs of `count`
/// frames from `position` on a circular line of `length`, split at the wrap.
template <class Visit>
void ForEachRun(int position, int count, int length, Visit visit)
{
    position %= length;
    int done = 0;
    while (done < count) {
        const int run = std::min(count - done, length - position);
        visit(position, done, run);
        done += run;
        position = 0;
    }
}

} // namespace

Dynamics::Dynamics()
    : MultiChannelComponentBase(kDynamicsComponentID, core::Localize(kTitleKey), kMaxChannels, kPresets),
      values_(std::span<const ParameterRow, kDynamicsParameterCount>(kRows)),
      mainChannels_(GetNumberOfOutputChannels())
{
    BuildParameterInfos();
    values_.Store(kHighCutoff, Rate() / 2);
    spline_.Reserve(kMaxPoints);
    displaySpline_.Reserve(kMaxPoints);
    for (Channel& channel : channels_) {
        channel.lookaheadSmoother.reset(CreateIIRFilter());
        channel.band.Reserve(2 * kMaxHalfLength);
        channel.detection.reserve(kMaxChunk);
        channel.level.reserve(kMaxChunk);
        channel.gains.reserve(kMaxChunk);
    }
    AddInputBus(host::AudioFilterBusDescription::CreateStereo(
        core::Localize("$$$/Effects/Dynamics/SideChainIn=Side-Chain In"), host::AudioFilterBusDescription::kSideChain));
}

void Dynamics::BuildParameterInfos()
{
    const std::string prefix(kPrefix);
    const float nyquist = Rate() / 2;
    for (int index = 0; index < kParameterCount; ++index) {
        const ParameterRow& row = kRows[static_cast<std::size_t>(index)];
        const core::UString name =
            IsPointParameter(index) ? core::FromUtf8(row.key) : core::Localize(prefix + row.key);
        core::Ref<host::AudioFilterParameterInfo> info;
        if (row.kind == kSwitch) {
            info = core::MakeRef<BoolParameterInfo>(name, core::UString(), core::Localize(prefix + "On=On"),
                                                    core::Localize(prefix + "Off=Off"), row.automatable);
        } else {
            const core::UString unit = index == kXYCount ? core::Localize(prefix + "pairs=pairs")
                                                         : core::FromUtf8(row.unitLabel);
            const bool cutoff = index == kLowCutoff || index == kHighCutoff;
            info = core::MakeRef<GenericParameterInfo>(name, unit, row.unit, index, row.lo,
                                                       cutoff ? nyquist : row.hi, row.automatable);
        }
        // What the host may not automate it does not show either.
        info->SetExposed(row.automatable);
        AddParameterInfo(static_cast<std::size_t>(index), info);
    }
}

float Dynamics::Rate() const { return GetSampleRate() > 0.0f ? GetSampleRate() : kDefaultRate; }

void Dynamics::SetParameter(int index, float normalized)
{
    const core::Ref<host::AudioFilterParameterInfo> info =
        index < kParameterCount ? GetParameterInfo(index) : nullptr;
    if (!info) {
        MultiChannelComponentBase::SetParameter(index, normalized);
        return;
    }
    // A host that sends garbage gets the middle of the range; values in
    // -1..0 are converted as they stand.
    if (std::isnan(normalized) || normalized < -1.0f || normalized > 1.0f)
        normalized = 0.5f;

    float real = info->FromNormalized(normalized);
    // What is stored stays inside the range: below it a time would make the
    // smoothers grow instead of decay, and a level would leave the curve.
    if (const auto* generic = dynamic_cast<const GenericParameterInfo*>(info.get()))
        real = std::clamp(real, generic->GetMinValue(), generic->GetMaxValue());
    if (IsSnapped(index))
        real = real >= 0.5f ? 1.0f : 0.0f;
    if (index == kXYCount) {
        const int count = std::clamp(static_cast<int>(std::trunc(real + 0.49999f)), 0, kMaxPoints);
        real = static_cast<float>(count);
        pointCount_.store(count, std::memory_order_relaxed);
    }
    if (values_.Store(static_cast<std::size_t>(index), real)) {
        if (index == kXYCount || IsPointParameter(index))
            displayStale_.store(true, std::memory_order_relaxed);
        if (index == kLookaheadTime || index == kLowCutoff || index == kHighCutoff)
            work_.RequestReset();
        work_.RequestUpdate();
    }
    MultiChannelComponentBase::SetParameter(index, normalized);
}

float Dynamics::GetParameter(int index)
{
    const core::Ref<host::AudioFilterParameterInfo> info =
        index < kParameterCount ? GetParameterInfo(index) : nullptr;
    return info ? info->ToNormalized(values_[static_cast<std::size_t>(index)]) : 0.0f;
}

void Dynamics::SetSampleRate(float rate)
{
    if (rate == GetSampleRate())
        return;
    MultiChannelComponentBase::SetSampleRate(rate);
    const float nyquist = Rate() / 2;
    for (int index : {kLowCutoff, kHighCutoff}) {
        if (auto* generic = dynamic_cast<GenericParameterInfo*>(GetParameterInfo(index).get()))
            generic->SetHiBound(nyquist);
    }
    values_.Store(kHighCutoff, nyquist);
    work_.RequestReset();
    work_.RequestUpdate();
}

bool Dynamics::RequestIOConfiguration(const host::ChannelLayoutList& inputs, const host::ChannelLayoutList& outputs)
{
    const host::AudioFilterBusConfiguration before = GetBusConfiguration();
    const bool accepted = MultiChannelComponentBase::RequestIOConfiguration(inputs, outputs);
    const host::AudioFilterBusConfiguration& after = GetBusConfiguration();
    if (before.inputs == after.inputs && before.outputs == after.outputs)
        return accepted;
    requestedSideChain_ = 0;
    if (!inputs.empty()) {
        using Bus = host::AudioFilterBusDescription;
        const core::UString name = core::Localize("$$$/Effects/Dynamics/SideChainIn=Side-Chain In");
        const bool stereo = inputs[0].size() == 2;
        AddInputBus(stereo ? Bus::CreateStereo(name, Bus::kSideChain) : Bus::CreateMono(name, Bus::kSideChain));
        requestedSideChain_ = stereo ? 2 : 1;
    }
    return accepted;
}

void Dynamics::OnNumberOfChannelsChanged(std::size_t count)
{
    mainChannels_.store(count, std::memory_order_relaxed);
    work_.RequestReset();
}

void Dynamics::Resume()
{
    MultiChannelComponentBase::Resume();
    sideChainChannels_ = std::min(requestedSideChain_, GetSideChainTargetBusChannelCount());
    work_.TakeReset();
    work_.TakeUpdate();
    Reconfigure();
    // A new lookahead or band rebuilds the lines on the audio thread: make
    // room for the longest the settings allow at this rate.
    Geometry longest;
    longest.lookahead = static_cast<int>(static_cast<double>(kMaxLookaheadMs) / 1000.0 * Rate());
    longest.halfLength = kMaxHalfLength;
    mainLines_.Reserve(channelCount_, longest.LineLength());
    detectionLines_.Reserve(channelCount_, longest.LineLength());
    UpdateCoefficients();
    muteLeft_ = 0;
}

int Dynamics::GetInitialDelay() { return GeometryFor(Rate()).LineLength(); }

Dynamics::Geometry Dynamics::GeometryFor(float rate) const
{
    Geometry geometry;
    geometry.lookahead =
        std::max(0, static_cast<int>(static_cast<double>(values_[kLookaheadTime]) / 1000.0 * rate));
    const double nyquist = rate / 2.0;
    double low = std::min(values_[kLowCutoff], values_[kHighCutoff]);
    double high = std::max(values_[kLowCutoff], values_[kHighCutoff]);
    if ((low < 2.0 && high < 2.0) || (low >= nyquist && high >= nyquist)) {
        low = 0.0;
        high = nyquist;
    }
    int half = kDefaultHalfLength;
    if (low >= kHalfLengthMinEdge)
        half = static_cast<int>(rate / low * kHalfLengthPeriods);
    else if (high >= kHalfLengthMinEdge)
        half = static_cast<int>(rate / high * kHalfLengthPeriods);
    geometry.halfLength = std::min(half, kMaxHalfLength);
    geometry.low = low;
    geometry.high = high;
    return geometry;
}

Dynamics::Points Dynamics::PointsFromParameters() const
{
    Points points;
    for (std::size_t k = 0; k < points.size(); ++k)
        points[k] = {values_[kLocation1 + 2 * k], values_[kValue1 + 2 * k]};
    return points;
}

double Dynamics::CurveLevel(const Points& points, int count, bool spline, const dsp::CBezier& bezier, double x)
{
    if (count <= 0)
        return x;
    if (spline)
        return static_cast<float>(x < points[0].x ? points[0].y : bezier.GetBezier(x));
    // The segment ending at the first point at or right of x; right of every
    // point, the last point alone.
    Point left = points[static_cast<std::size_t>(count - 1)];
    Point right = left;
    for (std::size_t i = 1; i < static_cast<std::size_t>(count); ++i) {
        if (points[i].x >= x) {
            right = points[i];
            left = points[i - 1];
            break;
        }
    }
    if (left.x == 0.0 && right.x == 0.0)
        return 0.0;
    if (left.x == right.x)
        return static_cast<float>((left.y + right.y) / 2.0);
    const double clamped = std::fmin(std::fmax(x, std::fmin(left.x, right.x)), std::fmax(left.x, right.x));
    return static_cast<float>(left.y + (clamped - left.x) * (right.y - left.y) / (right.x - left.x));
}

bool Dynamics::GetCurveData(int index, std::size_t points, std::vector<float>& curve)
{
    const int count = PointCount();
    if (index != 0 || points == 0 || count == 0)
        return false;
    if (displayStale_.exchange(false, std::memory_order_relaxed)) {
        displayPoints_ = PointsFromParameters();
        std::array<double, 2 * kMaxPoints> flat{};
        for (std::size_t k = 0; k < displayPoints_.size(); ++k) {
            flat[2 * k] = displayPoints_[k].x;
            flat[2 * k + 1] = displayPoints_[k].y;
        }
        displaySpline_.SetPoints(count, flat.data());
    }
    const bool spline = values_[kSplineCurves] >= 0.5f;
    curve.resize(points);
    // Input levels from -100 to 0 dB; a single value shows the left end.
    for (std::size_t k = 0; k < points; ++k) {
        const double x = points == 1 ? -100.0 : static_cast<double>(k) / static_cast<double>(points - 1) * 100.0 - 100.0;
        curve[k] = static_cast<float>(CurveLevel(displayPoints_, count, spline, displaySpline_, x));
    }
    return true;
}

void Dynamics::Reconfigure()
{
    geometry_ = GeometryFor(Rate());
    channelCount_ = std::min<std::size_t>(mainChannels_.load(std::memory_order_relaxed), kMaxChannels) +
                    sideChainChannels_;
    const int length = geometry_.LineLength();
    mainLines_.Allocate(channelCount_, length);
    detectionLines_.Allocate(channelCount_, length);
    writePosition_ = 0;
    const auto chunk = static_cast<std::size_t>(geometry_.halfLength + 33);
    for (std::size_t index = 0; index < channelCount_; ++index) {
        Channel& channel = channels_[index];
        channel.detector = 0.5f;
        channel.smoothedLevel = -96.0f;
        channel.gain = 1.0f;
        channel.detection.assign(chunk, 0.0f);
        channel.level.assign(chunk, -96.0f);
        channel.gains.assign(chunk, 1.0f);
        channel.band.Clear();
        channel.lookaheadSmoother->ClearHistory();
    }
}

void Dynamics::UpdateCoefficients()
{
    const float rate = Rate();
    const bool spline = values_[kSplineCurves] >= 0.5f;
    const int count = PointCount();
    const Points points = PointsFromParameters();
    if (count != pointsInTable_ || spline != splineInTable_ || points != points_)
        BuildGainTable(points, count, spline);

    levelAttack_ = TimeCoefficient(values_[kLevelAttackTime], rate);
    levelRelease_ = TimeCoefficient(values_[kLevelReleaseTime], rate);
    gainAttack_ = TimeCoefficient(values_[kGainAttackTime], rate);
    gainRelease_ = TimeCoefficient(values_[kGainReleaseTime], rate);
    // Gating swaps the gain smoother's times: a slow attack and a fast
    // release let the gate close smoothly and open at once.
    const bool gating = values_[kNoiseGatingIf] >= 0.5f;
    if (gating)
        std::swap(levelAttack_, levelRelease_);

    const double input = FromDecibels(values_[kInputGain]);
    inputFactor_ = static_cast<float>(input);
    combinedFactor_ = static_cast<float>(FromDecibels(values_[kOutputGain]) * input);
    makeupFactor_ = static_cast<float>(FromDecibels(values_[kMakeupGain]));

    // While gating with lookahead, the level is smoothed over the lookahead
    // time so the gate opens ahead of a transient instead of on it.
    const float lookahead = values_[kLookaheadTime];
    const double cutoff = lookahead > 0.0f && gating ? 1000.0 / lookahead / rate : -1.0;
    if (cutoff != smootherCutoff_) {
        for (Channel& channel : channels_) {
            if (cutoff > 0.0)
                channel.lookaheadSmoother->Design(cutoff, cutoff, kLowPass, kLookaheadSmootherOrder);
            else
                channel.lookaheadSmoother->Disable();
        }
        smootherCutoff_ = cutoff;
    }

    const float low = values_[kLowCutoff];
    const float high = values_[kHighCutoff];
    bandFilterOn_ = !(low < kLowestCutoff && high / rate > kHighestCutoffFraction);
    if (bandFilterOn_) {
        const double lowFraction = low < kLowestCutoff ? 0.0 : low / rate;
        const double highFraction = high / rate;
        const int order = geometry_.FirLength() - 1;
        const bool redesign = lowFraction != designedLow_ || highFraction != designedHigh_ || order != designedOrder_;
        for (Channel& channel : channels_) {
            if (redesign)
                channel.band.GenerateFIRCoeffs(lowFraction, highFraction, order);
            channel.band.Enable();
        }
        designedLow_ = lowFraction;
        designedHigh_ = highFraction;
        designedOrder_ = order;
    } else {
        for (Channel& channel : channels_)
            channel.band.Disable();
    }

    rms_ = values_[kPeakRMS] >= 0.5f;
    detectorCoefficient_ = rms_ ? kRmsSmoothing : kPeakSmoothing;
    levelOffset_ = rms_ ? kRmsOffset : kPeakOffset;
    linked_ = values_[kLinkChannels] >= 0.5f;
    envelopeOnly_ = values_[kEnvelopeOnly] >= 0.5f;
}

void Dynamics::BuildGainTable(const Points& points, int count, bool spline)
{
    points_ = points;
    pointsInTable_ = count;
    splineInTable_ = spline;
    if (count == 0) {
        // No curve: output level = input level, unity gain everywhere.
        gainTable_.fill(1.0f);
        aboveZeroSlope_ = 0.0;
        aboveZeroOffset_ = 0.0;
        return;
    }
    std::array<double, 2 * kMaxPoints> flat{};
    for (std::size_t k = 0; k < points.size(); ++k) {
        flat[2 * k] = points[k].x;
        flat[2 * k + 1] = points[k].y;
    }
    spline_.SetPoints(count, flat.data());

    // Entry i is the gain at level -100 i / 8192 dB; the curve's input axis
    // is stretched so its first and last points span those 100 dB.
    const double first = points[0].x;
    const double last = points[static_cast<std::size_t>(count - 1)].x;
    const double span = last - first;
    for (int i = 0; i < kGainTableSize; ++i) {
        const double fraction = static_cast<double>(i) / kGainTableSize;
        const double x = last - fraction * span;
        gainTable_[static_cast<std::size_t>(i)] =
            static_cast<float>(FromDecibels(CurveLevel(points, count, spline, spline_, x) + 100.0 * fraction));
    }
    // Above 0 dBFS the curve goes on as a straight line through its outputs
    // at -1 dB (b) and 0 dB (a): output = a + (a - b) L, so the gain in dB is
    // (a - b) L + a - L. An identity curve stays identity, a curve flat near
    // 0 dB keeps limiting, and the gain meets the table's at 0 dB.
    const double a = CurveLevel(points, count, spline, spline_, 0.0);
    const double b = CurveLevel(points, count, spline, spline_, -1.0);
    aboveZeroSlope_ = a - b - 1.0;
    aboveZeroOffset_ = a;
}

void Dynamics::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    if (work_.TakeReset()) {
        Reconfigure();
        const double rate = Rate();
        muteLeft_ = geometry_.lookahead == 0
                        ? static_cast<int>(static_cast<double>(values_[kLevelReleaseTime]) / 1000.0 * rate)
                        : static_cast<int>(rate / kStartupMuteDivisor);
    }
    if (work_.TakeUpdate())
        UpdateCoefficients();
    if (channelCount_ == 0)
        return;
    // The detector reads half-length + 33 frames ahead of the writes; a chunk
    // never reaches past that.
    const int maxChunk = geometry_.halfLength + 33;
    for (int offset = 0; offset < frames;) {
        const int chunk = std::min(frames - offset, maxChunk);
        ProcessChunk(inputs, outputs, offset, chunk);
        offset += chunk;
    }
}

void Dynamics::DetectLevel(Channel& channel, std::size_t index, int chunk)
{
    const int length = detectionLines_.Length();
    const float* line = detectionLines_.Channel(index);
    float* detection = channel.detection.data();
    const auto count = static_cast<std::size_t>(chunk);
    ForEachRun(writePosition_ + geometry_.halfLength + geometry_.lookahead, chunk, length,
               [&](int position, int at, int run) {
                   primitives::Copy(line + position, detection + at, static_cast<std::size_t>(run));
               });
    primitives::ScaleInPlace(detection, kDetectorScale, count);
    if (rms_)
        primitives::Square(detection, detection, count);
    else
        primitives::Abs(detection, detection, count);
    const float c = detectorCoefficient_;
    const float ceiling = rms_ ? kDetectorCeiling * kDetectorCeiling : kDetectorCeiling;
    float y = channel.detector;
    for (std::size_t k = 0; k < count; ++k) {
        y = c * y + (1.0f - c) * std::min(detection[k], ceiling);
        detection[k] = y + kLogGuard;
    }
    channel.detector = y;
    // dB without the offset, which ComputeGain adds: 10 or 20 log10.
    primitives::Ln(detection, detection, count);
    primitives::ScaleInPlace(detection, static_cast<float>((rms_ ? 10.0 : 20.0) / std::numbers::ln10), count);
}

void Dynamics::ComputeGain(Channel& channel, int chunk)
{
    IIRFilter& smoother = *channel.lookaheadSmoother;
    float level = channel.smoothedLevel;
    float gain = channel.gain;
    bool smootherFinite = true;
    for (std::size_t k = 0; k < static_cast<std::size_t>(chunk); ++k) {
        // Level smoothing runs on the gain-processor times ...
        const float detected = channel.detection[k] + levelOffset_;
        const float c = detected > level ? gainAttack_ : gainRelease_;
        const float smoothed = level + (1.0f - c) * (detected - level);
        const double filtered = smoother.ProcessSample(smoothed);
        smootherFinite = smootherFinite && std::isfinite(filtered);
        level = std::fmax(static_cast<float>(filtered), kLevelFloor);
        channel.level[k] = level;

        float target;
        const float position = level * -kTableEntriesPerDecibel;
        const float whole = std::trunc(position);
        if (whole >= 0.0f) {
            const auto i = static_cast<std::size_t>(std::min(whole, static_cast<float>(kGainTableSize - 2)));
            const float fraction = position - whole;
            target = (1.0f - fraction) * gainTable_[i] + fraction * gainTable_[i + 1];
        } else {
            target = static_cast<float>(FromDecibels(aboveZeroSlope_ * level + aboveZeroOffset_));
        }
        // ... and gain smoothing on the level-detector times.
        const float g = gain > target ? levelAttack_ : levelRelease_;
        gain = gain + (1.0f - g) * (target - gain);
        channel.gains[k] = gain;
    }
    channel.smoothedLevel = level;
    channel.gain = gain;
    // A non-finite input sample may reach this chunk's gains, but none of
    // the recursions may keep it: they start again as after a rebuild.
    if (!smootherFinite || !std::isfinite(channel.detector) || !std::isfinite(level) || !std::isfinite(gain)) {
        channel.detector = 0.5f;
        channel.smoothedLevel = -96.0f;
        channel.gain = 1.0f;
        smoother.ClearHistory();
    }
}

void Dynamics::ProcessChunk(float** inputs, float** outputs, int offset, int chunk)
{
    const std::size_t mains = channelCount_ - sideChainChannels_;
    const auto count = static_cast<std::size_t>(chunk);
    for (std::size_t index = 0; index < channelCount_; ++index)
        DetectLevel(channels_[index], index, chunk);
    if (linked_ && mains > 1) {
        float* loudest = channels_[0].detection.data();
        for (std::size_t index = 1; index < mains; ++index) {
            const float* other = channels_[index].detection.data();
            for (std::size_t k = 0; k < count; ++k)
                loudest[k] = std::fmax(loudest[k], other[k]);
        }
    }
    for (std::size_t index = 0; index < channelCount_; ++index)
        ComputeGain(channels_[index], chunk);

    // Muted frames after a rebuild are neither heard nor written to the lines.
    int start = 0;
    if (muteLeft_ > 0) {
        start = std::min(muteLeft_, chunk);
        for (std::size_t index = 0; index < mains; ++index)
            primitives::Fill(0.0f, outputs[index] + offset, static_cast<std::size_t>(start));
        muteLeft_ -= start;
    }
    const int run = chunk - start;
    const auto runCount = static_cast<std::size_t>(run);
    const int length = mainLines_.Length();
    const int position = writePosition_ + start;

    for (std::size_t index = 0; index < channelCount_; ++index) {
        const bool main = index < mains;
        float* mainLine = mainLines_.Channel(index);
        float* detectionLine = detectionLines_.Channel(index);
        // The lines are read before this channel's input goes in, so the host
        // may hand the same buffer as input and output.
        if (main && !envelopeOnly_) {
            ForEachRun(position, run, length, [&](int at, int done, int n) {
                primitives::Copy(mainLine + at, mainScratch_.data() + done, static_cast<std::size_t>(n));
            });
            if (bandFilterOn_) {
                ForEachRun(position + geometry_.halfLength, run, length, [&](int at, int done, int n) {
                    primitives::Copy(detectionLine + at, bandScratch_.data() + done, static_cast<std::size_t>(n));
                });
            }
        }
        // Feed: the input (times the input gain on main channels) into the
        // main line, and a band-filtered copy into the detection line.
        const float factor = main ? inputFactor_ : 1.0f;
        const float* input = inputs[index] + offset + start;
        ForEachRun(position, run, length, [&](int at, int done, int n) {
            const auto frames = static_cast<std::size_t>(n);
            primitives::Scale(input + done, factor, mainLine + at, frames);
            primitives::Copy(mainLine + at, detectionLine + at, frames);
            channels_[index].band.Process(detectionLine + at, n);
        });
        if (!main)
            continue;

        // A side-chain drives every main channel from its first channel;
        // linked channels follow channel 0, which holds the loudest level.
        const std::size_t source = sideChainChannels_ > 0 ? mains : (linked_ && mains > 1 ? 0 : index);
        const float* gains = channels_[source].gains.data() + start;
        float* out = outputs[index] + offset + start;
        if (envelopeOnly_) {
            const float* level = channels_[source].level.data() + start;
            for (std::size_t k = 0; k < runCount; ++k)
                out[k] = static_cast<float>(FromDecibels(level[k])) * gains[k] * combinedFactor_;
        } else if (bandFilterOn_) {
            // The band takes the gain; the rest of the spectrum (the input
            // less the band) passes unchanged.
            primitives::Subtract(mainScratch_.data(), bandScratch_.data(), out, runCount);
            primitives::Multiply(bandScratch_.data(), gains, bandScratch_.data(), runCount);
            primitives::ScaleInPlace(bandScratch_.data(), combinedFactor_, runCount);
            primitives::AddInPlace(bandScratch_.data(), out, runCount);
            primitives::ScaleInPlace(out, makeupFactor_, runCount);
        } else {
            primitives::Multiply(mainScratch_.data(), gains, out, runCount);
            primitives::ScaleInPlace(out, makeupFactor_ * combinedFactor_, runCount);
        }
    }
    writePosition_ = (writePosition_ + chunk) % length;
}

} // namespace zoc::components

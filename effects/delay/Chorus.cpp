// Chorus: voices read from a shared stereo line under filtered-noise delay
// and gain modulation; the voice tables are recomputed on a worker thread.

#include "effects/delay/Chorus.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "dsp/Denormals.h"
#include "dsp/IIRDesign.h"
#include "dsp/TargetClones.h"
#include "framework/Library.h"
#include "framework/Registration.h"
#include "platform/core/Gate.h"
#include "platform/core/Localizer.h"

namespace zoc::components {

const std::string kChorusComponentID = ComponentGuid(17).AsString();

namespace {

constexpr core::Guid kDescriptorGuid = DescriptorGuid(17);
constexpr const char* kTitleKey = "$$$/AudioComponents/ChorusTitle=Chorus";

const ComponentRegistration<Chorus> kRegistration{"Chorus", kTitleKey, 0, kChorusComponentID, kDescriptorGuid,
    "Thickens a sound into several voices with slowly wandering delays",
    "Rich Chorus"};

/// The line holds 0.3 s plus room for the widest interpolation.
constexpr double kLineSeconds = 0.3;
constexpr int kLineExtraFrames = 32;
/// The line is stored with copies of its ends beyond both ends, so that a
/// 32-tap read near the wrap point still reads contiguous samples.
constexpr int kMirrorBefore = 16;
constexpr int kMirrorAfter = 18;
/// Fractional reads at the highest quality: 4000 phases per frame.
constexpr int kSincPhases = 4000;
/// Input fades in over 12 ms after the line is built, so the first frames
/// do not click into the voices.
constexpr double kFadeInSeconds = 0.012;
/// The dry level glides from unity to its setting over 70 ms after every
/// full recomputation, covering the jump of the new voice layout.
constexpr double kDryRampSeconds = 0.07;
/// The audio thread hands work to the worker, and takes it back, this often.
constexpr int kHandOverFrames = 10000;
/// The worker waits this long for a request before looking at its stop flag.
constexpr auto kWorkerPoll = std::chrono::milliseconds(50);
/// Gain table: -30 dB to +30 dB in 0.001 dB steps.
constexpr int kGainSteps = 30000;
constexpr double kMaxModulationDecibels = 30.0;
/// Each filter section hands on at most this magnitude, which keeps a noise
/// burst from throwing a voice's delay far past its range.
constexpr double kSectionLimit = 3.0;
/// Delay noise: order 4 with 0.01 dB ripple; gain noise: order 2 with 16 dB.
constexpr int kDelayNoiseOrder = 4;
constexpr double kDelayNoiseRippleDecibels = 0.01;
constexpr int kAmplitudeNoiseOrder = 2;
constexpr double kAmplitudeNoiseRippleDecibels = 16.0;
/// Voices draw their offsets at most this many times each before giving up
/// on the minimum distance between them.
constexpr int kDrawsPerVoice = 10;
/// Pan law: cos and sin of the pan angle times sqrt(2) (equal power, unity
/// in the centre); binaural cues keep 0.17 of each voice in the far ear.
constexpr double kPanScale = 1.4142135624;
constexpr double kBinauralBleed = 0.17;
/// Head model of the interaural delay: ears 1 unit apart, sources 5 units
/// away, one unit of path per millisecond.
constexpr double kEarOffset = 0.5;
constexpr double kSourceDistance = 5.0;

using enum host::AudioFilterParameterInfoUnit;
using enum ParameterKind;

constexpr ParameterRow Row(const char* key, const char* unitLabel, host::AudioFilterParameterInfoUnit unit, float lo,
                           float hi, float defaultValue, bool automatable = true, ParameterKind kind = kNumber)
{
    return {key, key, unitLabel, unit, lo, hi, defaultValue, automatable, automatable, kind};
}
constexpr ParameterRow Switch(const char* key)
{
    return {key, key, "", kUnitSwitch, 0.0f, 1.0f, 0.0f, true, true, kSwitch};
}

constexpr std::array<ParameterRow, Chorus::kParameterCount> kRows{{
    Row("DelayTime=Delay Time", "ms", kUnitTime, 0.1f, 50.0f, 31.4f),
    Row("DelayRate=Delay Rate", "ms", kUnitTime, 0.1f, 12.0f, 0.1f),
    Row("Feedback=Feedback", "%", kUnitProportion, 0.0f, 50.0f, 0.0f),
    Row("DryOutputLevel=Dry Output Level", "%", kUnitProportion, 0.0f, 200.0f, 70.0f),
    Row("WetOutputLevel=Wet Output Level", "%", kUnitProportion, 0.0f, 200.0f, 30.0f),
    Row("Spread=Spread", "ms", kUnitTime, 0.0f, 200.0f, 30.0f),
    Row("StereoField=Stereo Field", "%", kUnitProportion, 0.0f, 100.0f, 100.0f),
    Row("ModulationRate=Modulation Rate", "Hz", kUnitFrequency, 0.1f, 30.0f, 0.1f),
    Row("ModulationDepth=Modulation Depth", "dB", kUnitDecibels, 0.0f, 15.0f, 0.0f),
    // The count crosses the interface as itself (presets pass 2.0 for two).
    Row("Voices=Voices", "", kUnitNumber, 1.0f, static_cast<float>(Chorus::kMaxVoices), 2.0f, false, kCount),
    Switch("AverageInputs=Average Left & Right channel input"),
    Switch("AddoBinauralCues=Add Binaural Cues"),
    Switch("HighestQuality=Highest Quality"),
}};

constexpr ParameterTable kTable{"$$$/Effects/Chorus/", "$$$/Effects/Chorus/", kRows};

/// One preset in real values; the voice count is passed as it is.
constexpr PresetRow<Chorus::kParameterCount> Preset(const char* key, float delay, float rate, float feedback,
                                                    float dry, float wet, float spread, float field,
                                                    float modulationRate, float depth, float voices, bool average,
                                                    bool binaural, bool quality)
{
    const auto onOff = [](bool on) { return on ? kPresetSwitchOn : kPresetSwitchOff; };
    return {key,
            {Fraction(kRows[0], delay), Fraction(kRows[1], rate), Fraction(kRows[2], feedback),
             Fraction(kRows[3], dry), Fraction(kRows[4], wet), Fraction(kRows[5], spread),
             Fraction(kRows[6], field), Fraction(kRows[7], modulationRate), Fraction(kRows[8], depth), voices,
             onOff(average), onOff(binaural), onOff(quality)}};
}

#define CHORUS_PRESET(key, text) "$$$/AudioComponents/ChorusPresets/" key "=" text

constexpr std::array kPresets = {
    Preset(kDefaultPresetKey, 31.4f, 0.1f, 0, 70, 30, 30, 100, 0.1f, 0, 2, false, false, false),
    Preset(CHORUS_PRESET("10Voices", "10 Voices"), 25, 0.1f, 2, 20, 80, 80, 100, 0.1f, 2, 10, false, false, false),
    Preset(CHORUS_PRESET("5Voices", "5 Voices"), 20, 0.5f, 10, 40, 60, 25, 80, 19.86f, 1, 5, false, false, false),
    Preset(CHORUS_PRESET("AcousticDuet", "Acoustic Duet"), 10, 0.1f, 0, 50, 50, 10, 40, 0.1f, 0, 2, false, false,
           true),
    Preset(CHORUS_PRESET("BassChorus", "Bass Chorus"), 20, 0.1f, 0, 60, 40, 10, 75, 9.73f, 4, 4, false, false,
           false),
    Preset(CHORUS_PRESET("BrokenStereo", "Broken Stereo"), 0.1f, 12, 22.2f, 0, 30, 79, 100, 30, 15, 1, false, true,
           false),
    Preset(CHORUS_PRESET("ChaosPits", "Chaos Pits"), 41.6f, 12, 10, 0, 100, 177, 20, 12.9f, 6.2f, 4, false, false,
           false),
    Preset(CHORUS_PRESET("Fluttery", "Fluttery"), 0.1f, 0.5f, 0, 30, 50, 10, 80, 14.8f, 15, 3, false, false, false),
    Preset(CHORUS_PRESET("ProjectNightmare", "Project Nightmare"), 20, 0.1f, 10, 70, 30, 200, 100, 1.5f, 5, 12,
           false, false, false),
    Preset(CHORUS_PRESET("Quartet", "Quartet"), 31.43f, 0.1f, 0, 50, 50, 30, 100, 0.1f, 5, 4, false, false, false),
    Preset(CHORUS_PRESET("RichChorus", "Rich Chorus"), 5, 0.1f, 0, 50, 50, 100, 100, 9.73f, 5, 4, false, false,
           true),
    Preset(CHORUS_PRESET("RoboticBeeAttack", "Robotic Bee Attack"), 5, 4.7f, 22, 0, 1, 120, 100, 3.65f, 12, 6,
           false, true, true),
    Preset(CHORUS_PRESET("SubtleVocalChorus", "Subtle Vocal Chorus"), 5, 1, 0, 80, 20, 120, 100, 0.1f, 0, 2, false,
           false, false),
    Preset(CHORUS_PRESET("TinyPebble", "Tiny Pebble"), 5, 1, 20, 70, 30, 80, 100, 9.73f, 6, 2, false, false, false),
    Preset(CHORUS_PRESET("WaverySingAlong", "Wavery Sing-Along"), 10, 6, 20, 70, 30, 80, 100, 20, 3, 4, false,
           false, false),
};

#undef CHORUS_PRESET

/// 10^(dB / 20) for -30..+30 dB in 0.001 dB steps, shared by every chorus.
const std::vector<double>& GainTable()
{
    static const std::vector<double> table = [] {
        std::vector<double> gains(2 * kGainSteps + 1);
        for (int k = -kGainSteps; k <= kGainSteps; ++k)
            gains[static_cast<std::size_t>(k + kGainSteps)] = std::pow(10.0, k / 1000.0 / 20.0);
        return gains;
    }();
    return table;
}

/// Line values stay within -1..1 so feedback saturates instead of growing.
float Clip(double value) { return static_cast<float>(std::clamp(value, -1.0, 1.0)); }

/// Input that is not a finite number enters as silence.
float CleanInput(float value) { return std::isfinite(value) ? value : 0.0f; }

/// Where an input frame's fade-in and the dry gain's glide stand; both
/// render paths step it once per frame, so they stay equal to the bit.
struct InputRamps {
    int fadeRemaining;
    int fadeLength;
    int dryRampRemaining;
    int dryRampLength;
    double dryGain;
    double dryTarget;

    /// Conditions one input frame for the line (silence for non-finite
    /// samples, the fade-in, the average of the sides when asked) and
    /// advances the dry gain.
    template <bool kAverage>
    void Take(float inLeft, float inRight, double& left, double& right)
    {
        left = CleanInput(inLeft);
        right = CleanInput(inRight);
        if (fadeRemaining > 0) {
            const double scale = static_cast<double>(fadeLength - fadeRemaining) / fadeLength;
            left = std::clamp(left * scale, -1.1, 1.1);
            right = std::clamp(right * scale, -1.1, 1.1);
            --fadeRemaining;
        }
        if (dryRampRemaining > 0) {
            dryGain = (1.0 - dryTarget) * dryRampRemaining / dryRampLength + dryTarget;
            --dryRampRemaining;
        } else if (fadeRemaining == 0) {
            dryGain = dryTarget;
        }
        if constexpr (kAverage)
            left = right = (left + right) * 0.5;
    }
};

} // namespace

// ---------------------------------------------------------------------------
// Noise

const std::array<double, 10000> ChorusNoise::kUnitValues = [] {
    std::array<double, 10000> values{};
    for (std::size_t x = 0; x < values.size(); ++x)
        values[x] = (static_cast<int>(x) - 5000) / 5000.0;
    return values;
}();

void ChorusNoise::Seed(std::int64_t seed)
{
    constexpr std::int64_t kSeedModulus = 412123;
    std::int64_t state = ((seed % kSeedModulus) + kSeedModulus) % kSeedModulus;
    for (int& entry : table_) {
        state = (state * 524309 + 1) % kLcgModulus;
        entry = static_cast<int>(state * 10000 / kLcgModulus);
    }
    state_ = static_cast<std::uint32_t>(state);
    last_ = table_[static_cast<std::size_t>(index_)];
}

namespace {

/// The recurrence x[n] = x[n-1] + x[n-32] (mod 10000) as polynomials in the
/// shift x: coefficients 0..9999 of 1, x, ..., x^31, taken modulo
/// x^32 - x^31 - 1, whose root turns x^32 into x^31 + 1.
constexpr int kLag = 32;
constexpr std::uint64_t kNoiseModulus = 10000;
using ShiftPolynomial = std::array<std::uint64_t, kLag>;

ShiftPolynomial TimesShift(const ShiftPolynomial& p)
{
    ShiftPolynomial product{};
    const std::uint64_t top = p[kLag - 1];
    for (int i = kLag - 1; i > 0; --i)
        product[static_cast<std::size_t>(i)] = p[static_cast<std::size_t>(i - 1)];
    product[kLag - 1] = (product[kLag - 1] + top) % kNoiseModulus;
    product[0] = top;
    return product;
}

ShiftPolynomial Product(const ShiftPolynomial& a, const ShiftPolynomial& b)
{
    // 32 products below 10^8 each stay far inside 64 bits.
    std::array<std::uint64_t, 2 * kLag - 1> full{};
    for (std::size_t i = 0; i < kLag; ++i)
        for (std::size_t j = 0; j < kLag; ++j)
            full[i + j] += a[i] * b[j];
    // Fold from the top: x^d = x^(d-1) + x^(d-32).
    for (std::size_t d = full.size() - 1; d >= kLag; --d) {
        const std::uint64_t c = full[d] % kNoiseModulus;
        full[d - 1] += c;
        full[d - kLag] += c;
    }
    ShiftPolynomial reduced;
    for (std::size_t i = 0; i < kLag; ++i)
        reduced[i] = full[i] % kNoiseModulus;
    return reduced;
}

/// x^power modulo the characteristic polynomial.
ShiftPolynomial ShiftPower(std::int64_t power)
{
    ShiftPolynomial result{};
    result[0] = 1;
    ShiftPolynomial square{};
    square[1] = 1;
    for (; power > 0; power >>= 1) {
        if (power & 1)
            result = Product(result, square);
        square = Product(square, square);
    }
    return result;
}

} // namespace

void ChorusNoise::Skip(std::int64_t count)
{
    // Below a few table lengths stepping is as quick as jumping.
    constexpr std::int64_t kJumpFrom = 4 * kTableSize;
    if (count < kJumpFrom) {
        Run(count, [](int) {});
        return;
    }
    const auto at = [this](std::int64_t back) {
        // The value `back` steps before the newest one.
        return static_cast<std::size_t>(((index_ - back) % kTableSize + kTableSize) % kTableSize);
    };
    // Later values depend only on the newest 32: s[j] is the value 31 - j
    // steps back, and the value t steps after s[0] is the sum of s[j] times
    // the coefficient of x^j in x^t.
    std::array<std::uint64_t, kLag> recent{};
    for (std::size_t j = 0; j < kLag; ++j)
        recent[j] = static_cast<std::uint64_t>(table_[at(kLag - 1 - static_cast<std::int64_t>(j))]);
    // The new table holds the 55 values ending `count` steps on, the first
    // of them count - 54 steps on, which is count - 23 after s[0].
    ShiftPolynomial weights = ShiftPower(count - (kTableSize - kLag));
    std::array<int, kTableSize> values{};
    for (int& value : values) {
        std::uint64_t sum = 0;
        for (std::size_t j = 0; j < kLag; ++j)
            sum += weights[j] * recent[j];
        value = static_cast<int>(sum % kNoiseModulus);
        weights = TimesShift(weights);
    }
    index_ = static_cast<int>((index_ + count) % kTableSize);
    for (std::size_t k = 0; k < values.size(); ++k)
        table_[at(kTableSize - 1 - static_cast<std::int64_t>(k))] = values[k];
    last_ = table_[static_cast<std::size_t>(index_)];
}

namespace {

/// Modulators filtered side by side: their filters are independent, so
/// interleaving them keeps the processor busy while each one waits on its
/// own feedback.
constexpr std::size_t kLanes = 4;
using NoiseBlocks = std::array<std::array<double, Chorus::kNoiseBlock>, kLanes>;

/// Runs one block of noise per lane through that lane's two sections (direct
/// form I), each section handing on its output limited to ±kSectionLimit
/// while keeping the unlimited value as its own past output.

ZOC_TARGET_CLONES void FilterLanes(const std::array<Chorus::LPNOISE*, kLanes>& lanes, const NoiseBlocks& noise)
{
    // One vector holds a value of every lane; each lane's arithmetic is the
    // same on every instruction set.
    using Lanes = double __attribute__((vector_size(kLanes * sizeof(double))));
    struct Section {
        Lanes b0, b1, b2, a1, a2, in1, in2, out1, out2;
    };
    std::array<Section, 2> sections;
    for (std::size_t s = 0; s < 2; ++s) {
        Section& section = sections[s];
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            const Chorus::LPNOISE& m = *lanes[lane];
            section.b0[lane] = m.b[s][0];
            section.b1[lane] = m.b[s][1];
            section.b2[lane] = m.b[s][2];
            section.a1[lane] = m.a[s][0];
            section.a2[lane] = m.a[s][1];
            section.in1[lane] = m.pastIn[s][0];
            section.in2[lane] = m.pastIn[s][1];
            section.out1[lane] = m.pastOut[s][0];
            section.out2[lane] = m.pastOut[s][1];
        }
    }
    const Lanes upper = {kSectionLimit, kSectionLimit, kSectionLimit, kSectionLimit};
    const Lanes lower = -upper;
    for (std::size_t t = 0; t < Chorus::kNoiseBlock; ++t) {
        Lanes value = {noise[0][t], noise[1][t], noise[2][t], noise[3][t]};
        for (Section& section : sections) {
            // The last output enters last: the shortest path from one
            // sample's feedback to the next.
            const Lanes y = section.b0 * value + section.b1 * section.in1 + section.b2 * section.in2 -
                            section.a2 * section.out2 - section.a1 * section.out1;
            section.in2 = section.in1;
            section.in1 = value;
            section.out2 = section.out1;
            section.out1 = y; // the section keeps its own output unlimited
            value = y < lower ? lower : (y > upper ? upper : y);
        }
        for (std::size_t lane = 0; lane < kLanes; ++lane)
            lanes[lane]->block[t] = value[lane];
    }
    for (std::size_t s = 0; s < 2; ++s) {
        const Section& section = sections[s];
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            Chorus::LPNOISE& m = *lanes[lane];
            m.pastIn[s] = {section.in1[lane], section.in2[lane]};
            m.pastOut[s] = {section.out1[lane], section.out2[lane]};
            m.position = 0;
        }
    }
}

} // namespace

void Chorus::RefillDue(VoiceTables& tables)
{
    // The order in which reading them would have refilled them: voices from
    // the last to the first, each its delay modulator, then its gain one.
    std::array<LPNOISE*, kLanes> lanes{};
    std::array<double, kLanes> laneGain{};
    std::size_t count = 0;
    LPNOISE spare;
    NoiseBlocks noise;
    const auto flush = [&] {
        for (std::size_t lane = 0; lane < count; ++lane)
            tables.noise.Fill(noise[lane].data(), kNoiseBlock, laneGain[lane]);
        for (std::size_t lane = count; lane < kLanes; ++lane)
            lanes[lane] = &spare;
        FilterLanes(lanes, noise);
        count = 0;
    };
    for (int v = tables.voices - 1; v >= 0; --v) {
        for (const auto& [index, gain] : {std::pair{static_cast<std::size_t>(v), tables.delayGain},
                                          std::pair{static_cast<std::size_t>(v + kMaxVoices), tables.amplitudeGain}}) {
            if (!tables.modulators[index].Due())
                continue;
            lanes[count] = &tables.modulators[index];
            laneGain[count] = gain;
            if (++count == kLanes)
                flush();
        }
    }
    if (count > 0)
        flush();
}

// ---------------------------------------------------------------------------
// Worker link: what the posted task shares with the component. The task
// holds it by shared pointer, so a task that never got to run (the component
// gave up on it) touches nothing else.

struct Chorus::WorkerLink {
    enum State : int { kPosted, kRunning, kCancelled };
    core::Gate requested;
    core::Gate exited;
    std::atomic<bool> stop{false};
    std::atomic<bool> busy{false};
    std::atomic<int> state{kPosted};
};

struct Chorus::Settings {
    double rate;
    int voices;
    std::array<double, kChorusParameterCount> values;
};

Chorus::Chorus()
    : TableComponentBase(kChorusComponentID, core::Localize(kTitleKey), kMaxChannels, kPresets, kTable),
      interpolator_(kSincPhases), live_(std::make_unique<VoiceTables>()), spare_(std::make_unique<VoiceTables>())
{
    GainTable();
    rate_.store(GetSampleRate(), std::memory_order_relaxed);
    baseDelay_.store(values_[kDelayTime] / 1000.0 * GetSampleRate(), std::memory_order_relaxed);
}

Chorus::~Chorus()
{
    if (!IsSuspended())
        MultiChannelComponentBase::Suspend();
    StopWorker();
}

bool Chorus::RequestIOConfiguration(const host::ChannelLayoutList& inputs, const host::ChannelLayoutList& outputs)
{
    if (inputs.size() != 1 || outputs.size() != 1 || inputs[0].size() != outputs[0].size() ||
        inputs[0].empty() || inputs[0].size() > static_cast<std::size_t>(kMaxChannels))
        return false;
    return TableComponentBase::RequestIOConfiguration(inputs, outputs);
}

void Chorus::SetParameter(int index, float normalized)
{
    if (index == kVoices) {
        // The count itself, not a fraction of the description's range.
        if (std::isfinite(normalized)) {
            const int count = static_cast<int>(std::clamp(normalized, 1.0f, static_cast<float>(kMaxVoices)) + 0.5f);
            if (voices_.exchange(count, std::memory_order_relaxed) != count)
                pending_.fetch_or(kWorkEverything, std::memory_order_release);
        }
    } else if (const std::optional<float> real = RealFromNormalized(index, normalized)) {
        const auto parameter = static_cast<std::size_t>(index);
        const float value = StoredValue(kRows[parameter].kind, *real);
        const bool changed = values_.Store(parameter, value);
        if (index == kAverageInputs) {
            if (value != 1.0f)
                pending_.fetch_or(kWorkPlacement, std::memory_order_release);
            else
                pending_.fetch_and(~unsigned{kWorkPlacement}, std::memory_order_release);
        } else if (changed) {
            switch (index) {
            case kDelayTime:
                baseDelay_.store(value / 1000.0 * rate_.load(std::memory_order_relaxed), std::memory_order_relaxed);
                pending_.fetch_or(kWorkDelayNoise, std::memory_order_release);
                break;
            case kDelayRate: pending_.fetch_or(kWorkDelayNoise, std::memory_order_release); break;
            case kSpread: pending_.fetch_or(kWorkOffsets, std::memory_order_release); break;
            case kStereoField: pending_.fetch_or(kWorkPlacement, std::memory_order_release); break;
            case kModulationRate:
            case kModulationDepth: pending_.fetch_or(kWorkAmplitudeNoise, std::memory_order_release); break;
            default: break; // read by the audio thread at every block
            }
        }
    }
    MultiChannelComponentBase::SetParameter(index, normalized);
}

float Chorus::GetParameter(int index)
{
    if (index == kVoices)
        return static_cast<float>(voices_.load(std::memory_order_relaxed));
    return TableComponentBase::GetParameter(index);
}

void Chorus::Reset()
{
    const double rate = GetSampleRate();
    rate_.store(rate, std::memory_order_relaxed);
    baseDelay_.store(values_[kDelayTime] / 1000.0 * rate, std::memory_order_relaxed);
    if (rate == builtRate_ && !line_.Empty())
        return;
    builtRate_ = rate;
    lineFrames_ = static_cast<int>(kLineSeconds * rate + kLineExtraFrames);
    line_.Allocate(2, kMirrorBefore + lineFrames_ + kMirrorAfter);
    write_ = 0;
    fadeLength_ = std::max(static_cast<int>(kFadeInSeconds * rate), 1);
    fadeRemaining_ = fadeLength_;
    write_ = 0;
    dryRampLength_ = std::max(static_cast<int>(kDryRampSeconds * rate), 1);
    pending_.fetch_or(kWorkEverything, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// Voice tables

Chorus::Settings Chorus::TakeSettings() const
{
    Settings settings{};
    settings.rate = rate_.load(std::memory_order_relaxed);
    settings.voices = voices_.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < kChorusParameterCount; ++i)
        settings.values[i] = values_[i];
    return settings;
}

namespace {

using Settings = std::array<double, kChorusParameterCount>;

/// The seed of the voice layout: each setting that shapes it, rounded to four
/// decimals and scaled by its own large constant, all combined by
/// exclusive-or with the voice count.
std::int64_t LayoutSeed(const Settings& values, int voices)
{
    const std::array<double, 7> inputs{values[Chorus::kDelayTime],       values[Chorus::kDelayRate],
                                       values[Chorus::kFeedback] / 100.0, values[Chorus::kSpread],
                                       values[Chorus::kStereoField] / 100.0, values[Chorus::kModulationRate],
                                       values[Chorus::kModulationDepth]};
    constexpr std::array<double, 7> kScales{1879048192.0, 1895825408.0, 1912602624.0, 1929379840.0,
                                            1946157056.0, 1962934272.0, 1979711488.0};
    std::int64_t seed = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const double rounded = std::round(inputs[i] * 10000.0) / 10000.0;
        seed ^= static_cast<std::int64_t>(std::trunc(rounded * kScales[i]));
    }
    return seed ^ voices;
}

} // namespace

bool Chorus::Recompute(unsigned bits, VoiceTables& tables, const std::atomic<bool>* stop) const
{
    const auto stopped = [stop] { return stop != nullptr && stop->load(std::memory_order_relaxed); };
    const Settings all = TakeSettings();
    const double rate = all.rate;
    const auto& values = all.values;
    const int voices = all.voices;
    auto& modulators = tables.modulators;

    if (bits & kWorkEverything) {
        bits = kWorkOffsets | kWorkPlacement | kWorkDelayNoise | kWorkAmplitudeNoise;
        tables.voices = voices;
        tables.noise.Seed(LayoutSeed(values, voices));
    }

    if (bits & kWorkOffsets) {
        // Offsets within the spread, kept a minimum distance apart where the
        // draws allow, so that voices do not bunch up.
        const std::int64_t spread = std::max(static_cast<std::int64_t>(values[kSpread] / 1000.0 * rate),
                                             std::int64_t{1});
        for (LPNOISE& modulator : modulators)
            modulator.offset = 0;
        const int count = tables.voices;
        if (count > 1) {
            const auto distance = static_cast<std::int64_t>(static_cast<double>(spread) / count * 0.65);
            int draws = 0;
            bool placed = true;
            for (int v = 0; v < count && placed; ++v) {
                for (;;) {
                    if (draws == kDrawsPerVoice * count) {
                        placed = false;
                        break;
                    }
                    ++draws;
                    const std::int64_t candidate =
                        distance + tables.noise.NextState() * (spread - distance) / ChorusNoise::kLcgModulus;
                    bool apart = true;
                    for (int u = 0; u < v && apart; ++u)
                        apart = std::llabs(candidate - modulators[static_cast<std::size_t>(u)].offset) >= distance;
                    if (apart) {
                        modulators[static_cast<std::size_t>(v)].offset = static_cast<int>(candidate);
                        break;
                    }
                }
            }
            if (!placed) {
                for (LPNOISE& modulator : modulators)
                    modulator.offset =
                        static_cast<int>(tables.noise.NextState() * spread / ChorusNoise::kLcgModulus);
            }
        }
    }

    // Filtered noise: a Chebyshev low-pass at the rate, its gain rising as
    // the rate falls so the slower wander keeps its depth, settled by running
    // about two thirds of a period of noise through it. Each modulator
    // settles on its own stretch of the noise sequence, one after another in
    // index order; only the playing voices' modulators are ever read, so the
    // others are designed but their stretches merely skipped (the voice
    // count changes only through a full recomputation, which settles anew).
    struct SettleJob {
        LPNOISE* modulator;
        ChorusNoise source;
        int blocks;
        double gain;
    };
    std::array<SettleJob, 2 * kMaxVoices> jobs;
    std::size_t jobCount = 0;
    const auto designNoise = [&](std::size_t first, double cutoff, int order, double ripple, double gainSlope,
                                 double& gain) {
        gain = std::pow(10.0, ((std::log2(rate * 0.5 / cutoff) - 2.94) * gainSlope + 3.0) / 20.0);
        const dsp::IIRSections design =
            dsp::DesignChebyshev1(dsp::FilterType::LowPass, order, ripple, cutoff / rate);
        const int settleBlocks = static_cast<int>(static_cast<std::int64_t>(rate / cutoff / 1.5) / kNoiseBlock);
        const std::int64_t settleValues = std::int64_t{settleBlocks} * kNoiseBlock;
        for (std::size_t m = first; m < first + kMaxVoices; ++m) {
            LPNOISE& modulator = modulators[m];
            for (std::size_t section = 0; section < 2; ++section) {
                if (static_cast<int>(section) < design.count) {
                    modulator.b[section] = {design.b[section][0], design.b[section][1], design.b[section][2]};
                    modulator.a[section] = {design.a[section][0], design.a[section][1]};
                } else {
                    modulator.b[section] = {1.0, 0.0, 0.0}; // passes its input through exactly
                    modulator.a[section] = {0.0, 0.0};
                }
                modulator.pastIn[section] = {};
                modulator.pastOut[section] = {};
            }
            modulator.position = kNoiseBlock;
            if (m - first < static_cast<std::size_t>(tables.voices) && settleBlocks > 0)
                jobs[jobCount++] = {&modulator, tables.noise, settleBlocks, gain};
            tables.noise.Skip(settleValues);
        }
    };
    if (bits & kWorkDelayNoise)
        designNoise(0, values[kDelayRate], kDelayNoiseOrder, kDelayNoiseRippleDecibels, 3.0, tables.delayGain);
    if (bits & kWorkAmplitudeNoise)
        designNoise(kMaxVoices, values[kModulationRate], kAmplitudeNoiseOrder, kAmplitudeNoiseRippleDecibels, 4.2,
                    tables.amplitudeGain);
    // The filters are independent: settle them side by side, a lane that
    // has run its stretch idling on a spare filter.
    LPNOISE spare;
    for (std::size_t group = 0; group < jobCount; group += kLanes) {
        const std::size_t count = std::min(kLanes, jobCount - group);
        int blocks = 0;
        for (std::size_t lane = 0; lane < count; ++lane)
            blocks = std::max(blocks, jobs[group + lane].blocks);
        std::array<LPNOISE*, kLanes> lanes{};
        NoiseBlocks noise{};
        for (int block = 0; block < blocks; ++block) {
            if ((block & 255) == 0 && stopped())
                return false;
            for (std::size_t lane = 0; lane < kLanes; ++lane) {
                SettleJob* job = lane < count ? &jobs[group + lane] : nullptr;
                if (job != nullptr && block < job->blocks) {
                    job->source.Fill(noise[lane].data(), kNoiseBlock, job->gain);
                    lanes[lane] = job->modulator;
                } else {
                    lanes[lane] = &spare;
                }
            }
            FilterLanes(lanes, noise);
        }
        for (std::size_t lane = 0; lane < count; ++lane)
            jobs[group + lane].modulator->position = kNoiseBlock;
    }

    if (bits & kWorkPlacement) {
        const int count = tables.voices;
        const double bleed = values[kAddoBinauralCues] != 0.0 ? kBinauralBleed : 0.0;
        const bool binaural = values[kAddoBinauralCues] != 0.0;
        const double field = values[kStereoField] / 100.0;
        for (int v = 0; v < kMaxVoices; ++v) {
            LPNOISE& voice = modulators[static_cast<std::size_t>(v)];
            voice.panLeft = voice.panRight = 1.0;
            voice.interauralFrames = voice.extraLeft = voice.extraRight = 0;
            if (count == 1 || v >= count)
                continue;
            // Voices spread evenly from one side to the other; the field
            // bends their angles towards the centre (0 %) or the sides.
            const double x = std::fabs((v * 200.0 / (count - 1) - 100.0) / 150.0);
            double azimuth = std::numbers::pi / 2.0;
            double pan = std::numbers::pi / 4.0;
            if (x != 0.0) {
                const double exponent = std::log(x) / std::log(0.5);
                const double p = std::pow(field, exponent);
                azimuth = std::numbers::pi / 2.0 - p * std::numbers::pi / 2.0;
                pan = std::numbers::pi / 4.0 - p * std::numbers::pi / 4.0;
            }
            const double near = std::cos(pan) * (kPanScale - bleed) + bleed;
            const double far = std::sin(pan) * (kPanScale - bleed) + bleed;
            const bool leftHalf = v < count / 2.0;
            voice.panLeft = leftHalf ? near : far;
            voice.panRight = leftHalf ? far : near;
            const double across = kSourceDistance * std::cos(azimuth);
            const double ahead = kSourceDistance * std::sin(azimuth);
            const double toLeft = std::sqrt((across - kEarOffset) * (across - kEarOffset) + ahead * ahead);
            const double toRight = std::sqrt((across + kEarOffset) * (across + kEarOffset) + ahead * ahead);
            voice.interauralFrames = static_cast<int>((toLeft - toRight) * rate / 1000.0);
            if (binaural) {
                voice.extraRight = std::max(-voice.interauralFrames, 0);
                voice.extraLeft = std::max(voice.interauralFrames, 0);
            }
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Life cycle and worker

void Chorus::Resume()
{
    MultiChannelComponentBase::Resume();
    StopWorker();
    RunDeferredWork();
    // Every run starts from silence, fading the input in, so the same input
    // and settings give the same output whatever ran before.
    for (std::size_t side = 0; side < 2 && !line_.Empty(); ++side)
        std::fill_n(line_.Channel(side), line_.Length(), 0.0f);
    fadeRemaining_ = fadeLength_;
    pending_.store(0, std::memory_order_relaxed);
    live_->noise.Rewind();
    Recompute(kWorkEverything, *live_, nullptr);
    dryGain_ = values_[kDryOutputLevel] / 100.0;
    dryRampRemaining_ = dryRampLength_;
    stage_.store(kIdle, std::memory_order_relaxed);
    framesToHandOver_ = kHandOverFrames;

    auto link = std::make_shared<WorkerLink>();
    const bool posted = PostBackgroundTask([this, link] {
        int expected = WorkerLink::kPosted;
        if (!link->state.compare_exchange_strong(expected, WorkerLink::kRunning))
            return; // given up on before it started
        WorkerLoop(*link);
        link->exited.Open();
    });
    if (posted)
        worker_ = std::move(link);
}

void Chorus::Suspend()
{
    if (!IsSuspended())
        MultiChannelComponentBase::Suspend();
    StopWorker();
}

void Chorus::StopWorker()
{
    if (!worker_)
        return;
    worker_->stop.store(true, std::memory_order_relaxed);
    worker_->requested.Open();
    int expected = WorkerLink::kPosted;
    if (!worker_->state.compare_exchange_strong(expected, WorkerLink::kCancelled))
        worker_->exited.Wait();
    worker_.reset();
    // A request the worker never took stays pending for the next Resume.
    stage_.store(kIdle, std::memory_order_relaxed);
}

void Chorus::WorkerLoop(WorkerLink& link)
{
    while (!link.stop.load(std::memory_order_relaxed)) {
        link.requested.Wait(kWorkerPoll);
        if (link.stop.load(std::memory_order_relaxed))
            break;
        link.requested.Close();
        if (stage_.load(std::memory_order_acquire) != kRequested)
            continue;
        link.busy.store(true, std::memory_order_relaxed);
        unsigned bits = pending_.exchange(0, std::memory_order_acq_rel);
        if (bits & kWorkEverything)
            bits = kWorkEverything;
        if (Recompute(bits, *spare_, &link.stop)) {
            finishedBits_ = bits;
            stage_.store(kFinished, std::memory_order_release);
        } else {
            pending_.fetch_or(bits, std::memory_order_release);
            stage_.store(kIdle, std::memory_order_release);
        }
        link.busy.store(false, std::memory_order_relaxed);
    }
}

void Chorus::TakeFinishedWork()
{
    if (stage_.load(std::memory_order_acquire) != kFinished)
        return;
    const unsigned bits = finishedBits_;
    VoiceTables& fresh = *spare_;
    VoiceTables& tables = *live_;
    if (bits & kWorkEverything) {
        std::swap(live_, spare_);
        dryRampRemaining_ = dryRampLength_;
    } else {
        // The spare is the live tables as they were at the request, with the
        // finished parts redone: only those parts come over.
        if (bits & (kWorkDelayNoise | kWorkAmplitudeNoise))
            tables.noise = fresh.noise;
        else if (bits & kWorkOffsets)
            tables.noise.SetState(fresh.noise.State());
        if (bits & kWorkDelayNoise) {
            std::copy_n(fresh.modulators.begin(), kMaxVoices, tables.modulators.begin());
            tables.delayGain = fresh.delayGain;
        }
        if (bits & kWorkAmplitudeNoise) {
            std::copy_n(fresh.modulators.begin() + kMaxVoices, kMaxVoices, tables.modulators.begin() + kMaxVoices);
            tables.amplitudeGain = fresh.amplitudeGain;
        }
        for (std::size_t m = 0; m < tables.modulators.size(); ++m) {
            LPNOISE& voice = tables.modulators[m];
            const LPNOISE& redone = fresh.modulators[m];
            if (bits & kWorkOffsets)
                voice.offset = redone.offset;
            if (bits & kWorkPlacement) {
                voice.panLeft = redone.panLeft;
                voice.panRight = redone.panRight;
                voice.interauralFrames = redone.interauralFrames;
                voice.extraLeft = redone.extraLeft;
                voice.extraRight = redone.extraRight;
            }
        }
    }
    stage_.store(kIdle, std::memory_order_release);
}

void Chorus::HandOver()
{
    TakeFinishedWork();
    if (pending_.load(std::memory_order_acquire) == 0 || stage_.load(std::memory_order_acquire) != kIdle)
        return;
    // A file render recomputes here too, so the change lands at this fixed
    // boundary whatever the worker's timing would have been.
    if (worker_ && !IsRenderingOffline()) {
        *spare_ = *live_;
        stage_.store(kRequested, std::memory_order_release);
        worker_->requested.Open();
    } else {
        // No executor to post to, or a render: the work runs here.
        unsigned bits = pending_.exchange(0, std::memory_order_acq_rel);
        if (bits & kWorkEverything)
            bits = kWorkEverything;
        Recompute(bits, *live_, nullptr);
        if (bits & kWorkEverything)
            dryRampRemaining_ = dryRampLength_;
    }
}

// ---------------------------------------------------------------------------
// Processing

namespace {

/// Stores a frame of a line that keeps copies of its ends beyond both ends.
inline void WriteMirrored(float* line, int length, int frame, float value)
{
    line[kMirrorBefore + frame] = value;
    if (frame < kMirrorAfter)
        line[kMirrorBefore + length + frame] = value;
    if (frame >= length - kMirrorBefore)
        line[kMirrorBefore + frame - length] = value;
}

/// Cubic Hermite interpolation between x[0] and x[1], with the slopes at
/// both taken from their neighbours ((x[n+1] - x[n-1]) / 2), as four
/// weights for x[-1] .. x[2]. Both sides of the line read at the same
/// fraction, so the weights serve both.
/// The weights are computed alike for one read (`float`) and for four side
/// by side (`Float4`), so both give the same bits.
template <typename T>
struct BasicHermiteWeights {
    T before, here, next, after;

    explicit BasicHermiteWeights(T t)
    {
        const T t2 = t * t;
        const T t3 = t2 * t;
        before = 0.5f * (-t3 + 2.0f * t2 - t);
        here = 0.5f * (3.0f * t3 - 5.0f * t2) + 1.0f;
        next = 0.5f * (-3.0f * t3 + 4.0f * t2 + t);
        after = 0.5f * (t3 - t2);
    }
    /// x[-1] .. x[2] given as four values.
    T Mix(T xBefore, T x, T xNext, T xAfter) const
    {
        return before * xBefore + here * x + next * xNext + after * xAfter;
    }
};

struct HermiteWeights : BasicHermiteWeights<float> {
    explicit HermiteWeights(double offset) : BasicHermiteWeights(static_cast<float>(offset)) {}
    float Read(const float* x) const { return Mix(x[-1], x[0], x[1], x[2]); }
};

using Float4 = float __attribute__((vector_size(4 * sizeof(float))));
using Double4 = double __attribute__((vector_size(4 * sizeof(double))));
using Int4 = int __attribute__((vector_size(4 * sizeof(int))));

} // namespace

template <bool kSinc, bool kAverage, bool kMono>
void Chorus::Render(float** inputs, float** outputs, int offset, int frames)
{
    VoiceTables& tables = *live_;
    const std::vector<double>& gains = GainTable();
    const double baseDelay = baseDelay_.load(std::memory_order_relaxed);
    const double maxDelay = lineFrames_ - 3;
    const double depth = values_[kModulationDepth];
    const double wet = values_[kWetOutputLevel] / 100.0;
    const double feedback = values_[kFeedback] / 100.0;
    const double dryTarget = values_[kDryOutputLevel] / 100.0;
    const int voices = tables.voices;
    const int length = lineFrames_;
    const auto wrap = [length](int frame) {
        while (frame < 0)
            frame += length;
        return frame;
    };
    const std::array<float*, 2> lines{line_.Channel(0), line_.Channel(1)};
    LPNOISE* const modulators = tables.modulators.data();
    // Frames until the first playing modulator runs out of values.
    const auto framesLeft = [&] {
        int least = kNoiseBlock;
        for (int v = 0; v < voices; ++v)
            least = std::min({least, kNoiseBlock - modulators[v].position,
                              kNoiseBlock - modulators[v + kMaxVoices].position});
        return least;
    };
    int framesUntilDue = framesLeft();
    // Working copies: the compiler need not reload them after every store.
    int write = write_;
    InputRamps ramps{fadeRemaining_, fadeLength_, dryRampRemaining_, dryRampLength_, dryGain_, dryTarget};

    const float* inLeft = inputs[0] + offset;
    const float* inRight = inputs[kMono ? 0 : 1] + offset;
    float* outLeft = outputs[0] + offset;
    float* outRight = kMono ? nullptr : outputs[1] + offset;
    for (int n = 0; n < frames; ++n) {
        double left;
        double right;
        ramps.Take<kAverage>(inLeft[n], inRight[n], left, right);
        const double dryGain = ramps.dryGain;
        WriteMirrored(lines[0], length, write, static_cast<float>(left));
        WriteMirrored(lines[1], length, write, static_cast<float>(right));

        if (framesUntilDue == 0) {
            RefillDue(tables);
            framesUntilDue = framesLeft();
        }
        --framesUntilDue;
        double sumLeft = 0.0;
        double sumRight = 0.0;
        for (int v = voices - 1; v >= 0; --v) {
            LPNOISE& voice = modulators[v];
            const double wander = voice.Next();
            const double level = modulators[v + kMaxVoices].Next();
            const double delay = std::clamp((wander + 1.0) * baseDelay * 0.5 + voice.offset, 1.0, maxDelay);
            const int whole = static_cast<int>(delay);
            const double at = 1.0 - (delay - whole);
            const double decibels = std::clamp(level * depth, -kMaxModulationDecibels, kMaxModulationDecibels);
            // Nearest 0.001 dB step (the index is positive, so truncation rounds).
            const double gain =
                depth == 0.0 ? 1.0 : gains[static_cast<std::size_t>(decibels * 1000.0 + (kGainSteps + 0.5))];
            // Both sides read at the same fraction of a frame.
            const auto where = [&] {
                if constexpr (kSinc)
                    return interpolator_.Locate(at);
                else
                    return HermiteWeights(at);
            }();
            const auto read = [&](std::size_t side, int frame) {
                const float* position = lines[side] + kMirrorBefore + frame;
                if constexpr (kSinc)
                    return interpolator_.Read(position, where);
                else
                    return where.Read(position);
            };
            const float readLeft = read(0, wrap(write - whole - voice.extraLeft));
            float readRight;
            if (kAverage && voice.extraLeft == voice.extraRight)
                readRight = readLeft;
            else
                readRight = read(1, wrap(write - whole - voice.extraRight));
            sumLeft += readLeft * gain * voice.panLeft;
            sumRight += readRight * gain * voice.panRight;
        }

        const double outL = wet * sumLeft + dryGain * left;
        const double outR = wet * sumRight + dryGain * right;
        WriteMirrored(lines[0], length, write, Clip(left - feedback * sumLeft));
        WriteMirrored(lines[1], length, write, Clip(right - feedback * sumRight));
        write = write + 1 == length ? 0 : write + 1;
        if constexpr (kMono) {
            outLeft[n] = static_cast<float>((outL + outR) * 0.5);
        } else {
            outLeft[n] = static_cast<float>(outL);
            outRight[n] = static_cast<float>(outR);
        }
    }
    write_ = write;
    fadeRemaining_ = ramps.fadeRemaining;
    dryRampRemaining_ = ramps.dryRampRemaining;
    dryGain_ = ramps.dryGain;
}

template <bool kSinc, bool kAverage, bool kMono>
void Chorus::RenderWithoutFeedback(float** inputs, float** outputs, int offset, int frames)
{
    VoiceTables& tables = *live_;
    const LPNOISE* const modulators = tables.modulators.data();
    for (int done = 0; done < frames;) {
        int least = kNoiseBlock;
        for (int v = 0; v < tables.voices; ++v)
            least = std::min({least, kNoiseBlock - modulators[v].position,
                              kNoiseBlock - modulators[v + kMaxVoices].position});
        if (least == 0) {
            RefillDue(tables);
            continue;
        }
        const int run = std::min(frames - done, least);
        if (!RenderRun<kSinc, kAverage, kMono>(inputs, outputs, offset + done, run))
            Render<kSinc, kAverage, kMono>(inputs, outputs, offset + done, run);
        done += run;
    }
}

template <bool kSinc, bool kAverage, bool kMono>
ZOC_TARGET_CLONES bool Chorus::RenderRun(float** inputs, float** outputs, int offset, int frames)
{
    VoiceTables& tables = *live_;
    const std::vector<double>& gains = GainTable();
    const double baseDelay = baseDelay_.load(std::memory_order_relaxed);
    const double maxDelay = lineFrames_ - 3;
    const double depth = values_[kModulationDepth];
    const double wet = values_[kWetOutputLevel] / 100.0;
    const double dryTarget = values_[kDryOutputLevel] / 100.0;
    const int voices = tables.voices;
    const int length = lineFrames_;
    LPNOISE* const modulators = tables.modulators.data();
    const auto delayOf = [&](double wander, int offsetFrames) {
        return std::clamp((wander + 1.0) * baseDelay * 0.5 + offsetFrames, 1.0, maxDelay);
    };

    // Frames the reads of a voice at a delay reach before and after it.
    constexpr int kReachBack = kSinc ? dsp::SincInterpolator::kReachBefore + 1 : 1;
    constexpr int kReachAhead = kSinc ? dsp::SincInterpolator::kReachAfter + 1 : 2;
    // The whole run's input goes into the line first, as it stands once its
    // frame is done; that is what every read finds if none reaches a frame
    // of the run from its own frame on (the one being written holds the
    // input before the feedback clip, the later ones older frames). The
    // delay grows with the wander, so its extremes bound the reads.
    for (int v = 0; v < voices; ++v) {
        const LPNOISE& voice = modulators[v];
        const auto values = voice.block.begin() + voice.position;
        const auto [low, high] = std::minmax_element(values, values + frames);
        const int nearest =
            static_cast<int>(delayOf(*low, voice.offset)) + std::min(voice.extraLeft, voice.extraRight);
        const int farthest =
            static_cast<int>(delayOf(*high, voice.offset)) + std::max(voice.extraLeft, voice.extraRight);
        if (nearest - kReachAhead < 1 || farthest + kReachBack > length - frames)
            return false;
    }

    std::array<double, kNoiseBlock> left;
    std::array<double, kNoiseBlock> right;
    std::array<double, kNoiseBlock> dry;
    const std::array<float*, 2> lines{line_.Channel(0), line_.Channel(1)};
    const float* inLeft = inputs[0] + offset;
    const float* inRight = inputs[kMono ? 0 : 1] + offset;
    int write = write_;
    InputRamps ramps{fadeRemaining_, fadeLength_, dryRampRemaining_, dryRampLength_, dryGain_, dryTarget};
    for (std::size_t n = 0; n < static_cast<std::size_t>(frames); ++n) {
        double l;
        double r;
        ramps.Take<kAverage>(inLeft[n], inRight[n], l, r);
        left[n] = l;
        right[n] = r;
        dry[n] = ramps.dryGain;
        WriteMirrored(lines[0], length, write, Clip(l));
        WriteMirrored(lines[1], length, write, Clip(r));
        write = write + 1 == length ? 0 : write + 1;
    }
    fadeRemaining_ = ramps.fadeRemaining;
    dryRampRemaining_ = ramps.dryRampRemaining;
    dryGain_ = ramps.dryGain;

    // The voices in the order the frames add them up, each over the run.
    std::array<double, kNoiseBlock> sumLeft{};
    std::array<double, kNoiseBlock> sumRight{};
    for (int v = voices - 1; v >= 0; --v) {
        LPNOISE& voice = modulators[v];
        LPNOISE& level = modulators[v + kMaxVoices];
        const double* wanders = voice.block.data() + voice.position;
        const double* levels = level.block.data() + level.position;
        voice.position += frames;
        level.position += frames;
        const double panLeft = voice.panLeft;
        const double panRight = voice.panRight;
        const bool shared = kAverage && voice.extraLeft == voice.extraRight;
        // Read positions, kept within the line: a read never reaches back
        // a whole line, so one wrap is enough.
        int readLeft = write_ - voice.extraLeft;
        int readRight = write_ - voice.extraRight;
        std::size_t n = 0;
        if constexpr (!kSinc) {
            // Four frames at a time: the same operations, lane by lane.
            const auto count = static_cast<std::size_t>(frames);
            const Double4 offsetFrames = Double4{} + static_cast<double>(voice.offset);
            const auto nextFrame = [length](int& frame) {
                const int now = frame;
                frame = frame + 1 == length ? 0 : frame + 1;
                return now;
            };
            for (; n + 4 <= count; n += 4) {
                Double4 wander;
                std::memcpy(&wander, wanders + n, sizeof wander);
                Double4 delay = (wander + 1.0) * baseDelay * 0.5 + offsetFrames;
                delay = delay < 1.0 ? Double4{} + 1.0 : (maxDelay < delay ? Double4{} + maxDelay : delay);
                const Int4 whole = __builtin_convertvector(delay, Int4);
                const Double4 at = 1.0 - (delay - __builtin_convertvector(whole, Double4));
                Double4 gain = Double4{} + 1.0;
                if (depth != 0.0) {
                    for (std::size_t k = 0; k < 4; ++k) {
                        const double decibels =
                            std::clamp(levels[n + k] * depth, -kMaxModulationDecibels, kMaxModulationDecibels);
                        gain[k] = gains[static_cast<std::size_t>(decibels * 1000.0 + (kGainSteps + 0.5))];
                    }
                }
                const BasicHermiteWeights<Float4> where(__builtin_convertvector(at, Float4));
                // Each lane's four neighbours, turned into four vectors of one neighbour each.
                const auto read = [&](std::size_t side, int& frame) {
                    std::array<Float4, 4> rows;
                    for (std::size_t k = 0; k < 4; ++k) {
                        int slot = nextFrame(frame) - whole[k];
                        slot += slot < 0 ? length : 0;
                        std::memcpy(&rows[k], lines[side] + kMirrorBefore + slot - 1, sizeof(Float4));
                    }
                    const Float4 low01 = __builtin_shufflevector(rows[0], rows[1], 0, 4, 1, 5);
                    const Float4 low23 = __builtin_shufflevector(rows[2], rows[3], 0, 4, 1, 5);
                    const Float4 high01 = __builtin_shufflevector(rows[0], rows[1], 2, 6, 3, 7);
                    const Float4 high23 = __builtin_shufflevector(rows[2], rows[3], 2, 6, 3, 7);
                    return where.Mix(__builtin_shufflevector(low01, low23, 0, 1, 4, 5),
                                     __builtin_shufflevector(low01, low23, 2, 3, 6, 7),
                                     __builtin_shufflevector(high01, high23, 0, 1, 4, 5),
                                     __builtin_shufflevector(high01, high23, 2, 3, 6, 7));
                };
                const Float4 valueLeft = read(0, readLeft);
                Float4 valueRight;
                if (shared) {
                    valueRight = valueLeft;
                    readRight = readLeft;
                } else {
                    valueRight = read(1, readRight);
                }
                Double4 sum;
                std::memcpy(&sum, sumLeft.data() + n, sizeof sum);
                sum += __builtin_convertvector(valueLeft, Double4) * gain * panLeft;
                std::memcpy(sumLeft.data() + n, &sum, sizeof sum);
                std::memcpy(&sum, sumRight.data() + n, sizeof sum);
                sum += __builtin_convertvector(valueRight, Double4) * gain * panRight;
                std::memcpy(sumRight.data() + n, &sum, sizeof sum);
            }
        }
        for (; n < static_cast<std::size_t>(frames); ++n) {
            const double delay = delayOf(wanders[n], voice.offset);
            const int whole = static_cast<int>(delay);
            const double at = 1.0 - (delay - whole);
            const double decibels = std::clamp(levels[n] * depth, -kMaxModulationDecibels, kMaxModulationDecibels);
            const double gain =
                depth == 0.0 ? 1.0 : gains[static_cast<std::size_t>(decibels * 1000.0 + (kGainSteps + 0.5))];
            const auto where = [&] {
                if constexpr (kSinc)
                    return interpolator_.Locate(at);
                else
                    return HermiteWeights(at);
            }();
            const auto read = [&](std::size_t side, int frame) {
                frame += frame < 0 ? length : 0;
                const float* position = lines[side] + kMirrorBefore + frame;
                if constexpr (kSinc)
                    return interpolator_.Read(position, where);
                else
                    return where.Read(position);
            };
            const float valueLeft = read(0, readLeft - whole);
            const float valueRight = shared ? valueLeft : read(1, readRight - whole);
            sumLeft[n] += valueLeft * gain * panLeft;
            sumRight[n] += valueRight * gain * panRight;
            readLeft = readLeft + 1 == length ? 0 : readLeft + 1;
            readRight = readRight + 1 == length ? 0 : readRight + 1;
        }
    }
    write_ = write;

    float* outLeft = outputs[0] + offset;
    float* outRight = kMono ? nullptr : outputs[1] + offset;
    for (std::size_t n = 0; n < static_cast<std::size_t>(frames); ++n) {
        const double outL = wet * sumLeft[n] + dry[n] * left[n];
        const double outR = wet * sumRight[n] + dry[n] * right[n];
        if constexpr (kMono) {
            outLeft[n] = static_cast<float>((outL + outR) * 0.5);
        } else {
            outLeft[n] = static_cast<float>(outL);
            outRight[n] = static_cast<float>(outR);
        }
    }
    return true;
}

void Chorus::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    RunDeferredWork();
    const std::size_t channels = ChannelCount();
    if (channels < 1 || channels > 2 || line_.Empty() || frames <= 0)
        return;
    TakeFinishedWork();

    const bool sinc = values_[kHighestQuality] != 0.0f;
    const bool average = values_[kAverageInputs] != 0.0f;
    const bool mono = channels == 1;
    const bool feedback = values_[kFeedback] != 0.0f;
    for (int done = 0; done < frames;) {
        const int run = std::min(frames - done, framesToHandOver_);
        const int mode = (sinc ? 4 : 0) + (average ? 2 : 0) + (mono ? 1 : 0);
        if (feedback) {
            switch (mode) {
            case 0: Render<false, false, false>(inputs, outputs, done, run); break;
            case 1: Render<false, false, true>(inputs, outputs, done, run); break;
            case 2: Render<false, true, false>(inputs, outputs, done, run); break;
            case 3: Render<false, true, true>(inputs, outputs, done, run); break;
            case 4: Render<true, false, false>(inputs, outputs, done, run); break;
            case 5: Render<true, false, true>(inputs, outputs, done, run); break;
            case 6: Render<true, true, false>(inputs, outputs, done, run); break;
            default: Render<true, true, true>(inputs, outputs, done, run); break;
            }
        } else {
            switch (mode) {
            case 0: RenderWithoutFeedback<false, false, false>(inputs, outputs, done, run); break;
            case 1: RenderWithoutFeedback<false, false, true>(inputs, outputs, done, run); break;
            case 2: RenderWithoutFeedback<false, true, false>(inputs, outputs, done, run); break;
            case 3: RenderWithoutFeedback<false, true, true>(inputs, outputs, done, run); break;
            case 4: RenderWithoutFeedback<true, false, false>(inputs, outputs, done, run); break;
            case 5: RenderWithoutFeedback<true, false, true>(inputs, outputs, done, run); break;
            case 6: RenderWithoutFeedback<true, true, false>(inputs, outputs, done, run); break;
            default: RenderWithoutFeedback<true, true, true>(inputs, outputs, done, run); break;
            }
        }
        done += run;
        framesToHandOver_ -= run;
        if (framesToHandOver_ == 0) {
            framesToHandOver_ = kHandOverFrames;
            HandOver();
        }
    }
}

} // namespace zoc::components

// Flanger: swept copies behind and ahead of a delayed output, with feedback.

#include "effects/delay/Flanger.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/Denormals.h"
#include "dsp/TargetClones.h"
#include "framework/Registration.h"
#include "platform/core/Localizer.h"

namespace zoc::components {

const std::string kFlangerComponentID = ComponentGuid(16).AsString();

namespace {

constexpr core::Guid kDescriptorGuid = DescriptorGuid(16);
constexpr const char* kTitleKey = "$$$/AudioComponents/FlangerTitle=Flanger";

const ComponentRegistration<Flanger> kRegistration{"Flanger", kTitleKey, 0, kFlangerComponentID,
                                                   kDescriptorGuid,
    "Sweeps a short modulated delay against the signal for jet-like comb filtering",
    "Heavy Flange"};

// The lines are plain arrays, not rings, so a 32-tap read never wraps: the
// writer moves up through them and, once past kCompactAt, the recent part is
// moved back down by kCompactShift frames after the block. Between the two
// thresholds there is room for one block of up to kCompactShift frames.
constexpr int kCompactShift = 200000;
constexpr int kCompactAt = 210082;
constexpr int kLineFrames = kCompactAt + kCompactShift;
/// The output frame is written this far behind the writer, into the line
/// itself; the copies are centred kLatency frames behind it.
constexpr int kOutputLag = 10082;
/// The longest delay either sweep reaches, in frames: with the widest read
/// it stays clear of the writer.
constexpr double kMaxDelayFrames = 4990.0;
/// The shortest delay of the sine sweep: the copy behind never reads ahead
/// of the centre.
constexpr double kMinSineDelayFrames = 1.0;
/// Frames kept below the start of each line, so that a read of the longest
/// delay right after a reset or a compaction finds frames there (silence
/// after a reset, the frames that were there before a compaction).
constexpr int kLineMargin = 16;
/// The sine sweep's running sine is taken afresh this often, in frames.
constexpr int kSineAnchorFrames = 256;
/// Fractional reads: 240 phases per frame.
constexpr int kInterpolationPhases = 240;
/// A beat is half a second: a rate of f Hz is 2 / f beats.
constexpr double kSecondsPerBeat = 0.5;
constexpr float kMinRateHz = 0.001f;
constexpr float kMaxRateHz = 60.0f;

using enum host::AudioFilterParameterInfoUnit;
using enum ParameterKind;

constexpr ParameterRow Row(const char* key, const char* unitLabel, host::AudioFilterParameterInfoUnit unit, float lo,
                           float hi, float defaultValue, bool automatable = true)
{
    return {key, key, unitLabel, unit, lo, hi, defaultValue, automatable, automatable, kNumber};
}
constexpr ParameterRow Switch(const char* key)
{
    return {key, key, "", kUnitSwitch, 0.0f, 1.0f, 0.0f, true, true, kSwitch};
}

// Key, unit label, unit, range, default, automatable. One naming serves every layout.
constexpr std::array<ParameterRow, Flanger::kParameterCount> kRows{{
    Row("InitialDelayTime=Initial Delay Time", "ms", kUnitTime, 0.0f, 20.0f, 0.0f),
    Row("FinalDelayTime=Final Delay Time", "ms", kUnitTime, 0.0f, 20.0f, 4.16f),
    Row("StereoPhasing=Stereo Phasing", "\u00B0", kUnitNumber, 0.0f, 360.0f, 28.0f),
    Row("ModRateFreq=Modulation Rate (Frequency)", "Hz", kUnitFrequency, kMinRateHz, kMaxRateHz, 0.232f),
    Row("Mix=Mix", "%", kUnitProportion, 0.0f, 100.0f, 40.0f),
    Row("Feedback=Feedback", "%", kUnitProportion, 0.0f, 100.0f, 60.0f),
    Switch("Inverted=Inverted Mode"),
    Switch("SpecialFX=Special Effects Mode"),
    Switch("Sinusoidal=Sinusoidal Mode"),
    Row("ModRateBeats=Modulation Rate (Beats)", "beats", kUnitNumber, 0.03333f, 2000.0f, 8.62069f, false),
}};

constexpr ParameterTable kTable{"$$$/Effects/Flanger/", "$$$/Effects/Flanger/", kRows};

/// One preset in real values: delays in ms, phasing in degrees, rate in Hz,
/// mix and feedback in %; `effects` turns on both the special effects mode
/// and the switch named "Sinusoidal Mode" (one tap, triangular sweep).
constexpr PresetRow<Flanger::kParameterCount> Preset(const char* key, float initial, float final, float phasing,
                                                     float rate, float mix, float feedback, bool effects)
{
    const float effectsSwitch = effects ? kPresetSwitchOn : kPresetSwitchOff;
    return {key,
            {Fraction(kRows[Flanger::kInitialDelayTime], initial), Fraction(kRows[Flanger::kFinalDelayTime], final),
             Fraction(kRows[Flanger::kStereoPhasing], phasing), Fraction(kRows[Flanger::kModRateFreq], rate),
             Fraction(kRows[Flanger::kMix], mix), Fraction(kRows[Flanger::kFeedback], feedback), kPresetSwitchOff,
             effectsSwitch, effectsSwitch,
             Fraction(kRows[Flanger::kModRateBeats], static_cast<float>(1.0 / kSecondsPerBeat / rate))}};
}

#define FLANGER_PRESET(key, text) "$$$/AudioComponents/FlangerPresets/" key "=" text

constexpr std::array kPresets = {
    Preset(kDefaultPresetKey, 0.0f, 4.16f, 28.0f, 0.232f, 40.0f, 60.0f, false),
    Preset(FLANGER_PRESET("Aural", "Aural"), 0.0f, 4.16f, 28.0f, 0.232f, 40.0f, 60.0f, true),
    Preset(FLANGER_PRESET("Buzzed", "Buzzed"), 12.0f, 15.0f, 180.0f, 3.0f, 45.0f, 100.0f, true),
    Preset(FLANGER_PRESET("CrazyClock", "Crazy Clock of Doom"), 20.0f, 19.0f, 30.0f, 1.0f, 100.0f, 100.0f, true),
    Preset(FLANGER_PRESET("QuillonsGuitar", "Quillon's Guitar"), 15.59f, 18.96f, 339.0f, 9.564f, 40.0f, 94.04f,
           true),
    Preset(FLANGER_PRESET("FlangeVerb", "FlangeVerb"), 7.9f, 3.0f, 0.0f, 10.8f, 40.0f, 80.0f, false),
    Preset(FLANGER_PRESET("GuitarFlange", "Guitar Flange"), 0.0f, 4.16f, 90.0f, 1.5f, 50.0f, 80.0f, false),
    Preset(FLANGER_PRESET("HaightAshbury", "Haight-Ashbury"), 0.0f, 4.0f, 28.0f, 0.1f, 80.0f, 35.0f, false),
    Preset(FLANGER_PRESET("HeavyFlange", "Heavy Flange"), 0.0f, 4.16f, 28.0f, 0.23f, 40.0f, 60.0f, true),
    Preset(FLANGER_PRESET("HellsChorus", "Hell's Chorus"), 0.0f, 6.22f, 180.0f, 7.0f, 45.0f, 0.0f, true),
    Preset(FLANGER_PRESET("Tavish", "Tavish"), 0.2f, 3.0f, 155.0f, 0.8f, 40.0f, 80.0f, true),
    Preset(FLANGER_PRESET("LightFlange", "Light Flange"), 0.0f, 4.16f, 28.0f, 0.232f, 25.0f, 60.0f, true),
    Preset(FLANGER_PRESET("Robotic", "Robotic"), 20.0f, 20.0f, 360.0f, 20.0f, 100.0f, 50.0f, true),
    Preset(FLANGER_PRESET("YoYo", "Synthetic YO-YO"), 0.0f, 0.5f, 97.0f, 1.0f, 65.0f, 100.0f, true),
    Preset(FLANGER_PRESET("Teleport", "Teleport"), 4.0f, 1.0f, 30.0f, 8.0f, 100.0f, 100.0f, true),
    Preset(FLANGER_PRESET("TonalSadness", "Tonal Sadness"), 6.0f, 6.0f, 97.0f, 2.0f, 65.0f, 80.0f, true),
    Preset(FLANGER_PRESET("TooManyPills", "Too Many Pills"), 3.7f, 2.0f, 84.0f, 29.8f, 100.0f, 68.0f, true),
    Preset(FLANGER_PRESET("VocalFlange", "Vocal Flange"), 0.0f, 4.16f, 28.0f, 0.232f, 20.0f, 60.0f, true),
};

#undef FLANGER_PRESET

/// Every value written into a line stays within -1..1, so full feedback
/// saturates instead of growing. Comparisons rather than fmin/fmax: NaN
/// gives -1, and the lines never hold a non-finite value.
template <typename T>
float Clip(T value)
{
    const T floored = value > T(-1) ? value : T(-1);
    return static_cast<float>(floored < T(1) ? floored : T(1));
}

/// Input enters the lines clipped, and as silence when it is not a number.
float CleanInput(float value) { return value == value ? Clip(value) : 0.0f; }

/// The delay a sweep may use: within 0..kMaxDelayFrames whatever the
/// settings or the rate did to it, NaN included.
double SafeDelay(double delay)
{
    const double floored = delay > 0.0 ? delay : 0.0;
    return floored < kMaxDelayFrames ? floored : kMaxDelayFrames;
}

/// `phase` brought into -pi..pi once it passes pi; the remainder is exact.
double WrapPhase(double phase)
{
    return phase > std::numbers::pi ? std::remainder(phase, 2.0 * std::numbers::pi) : phase;
}

} // namespace

Flanger::Flanger()
    : TableComponentBase(kFlangerComponentID, core::Localize(kTitleKey), kMaxChannels, kPresets, kTable),
      interpolator_(kInterpolationPhases)
{
}

bool Flanger::RequestIOConfiguration(const host::ChannelLayoutList& inputs, const host::ChannelLayoutList& outputs)
{
    if (inputs.size() != 1 || outputs.size() != 1 || inputs[0].size() != outputs[0].size() ||
        inputs[0].empty() || inputs[0].size() > static_cast<std::size_t>(kMaxChannels))
        return false;
    return TableComponentBase::RequestIOConfiguration(inputs, outputs);
}

void Flanger::OnValueStored(std::size_t index, float value)
{
    // The coupled rate is held to a value its own description names, so that
    // loading saved settings (frequency first, then beats) finds the beats
    // unchanged and leaves the frequency as it was saved.
    if (index == kModRateBeats) {
        const double hertz = std::clamp(1.0 / kSecondsPerBeat / value, double{kMinRateHz}, double{kMaxRateHz});
        values_.Store(kModRateFreq, NearestNamedValue(kModRateFreq, static_cast<float>(hertz)));
    } else if (index == kModRateFreq) {
        const double beats = 1.0 / kSecondsPerBeat / value;
        values_.Store(kModRateBeats, NearestNamedValue(kModRateBeats, static_cast<float>(beats)));
    }
    // A new rate alone keeps the sweep running where it is.
    if (index != kModRateFreq)
        fullUpdate_.store(true, std::memory_order_relaxed);
}

float* Flanger::Line(std::size_t side) { return lines_.Channel(side) + kLineMargin; }

void Flanger::Reset()
{
    lines_.Allocate(2, kLineMargin + kLineFrames);
    write_ = kOutputLag;
    sinePhase_[0] = -std::numbers::pi / 2.0; // the sine sweep starts at its shortest delay
    triangleStep_ = {0.0, 0.0};              // positive zero: the triangle starts upward
    fullUpdate_.store(true, std::memory_order_relaxed);
}

void Flanger::Update()
{
    if (fullUpdate_.exchange(false, std::memory_order_relaxed))
        FullUpdate();
    else
        RateUpdate();
}

void Flanger::FullUpdate()
{
    const double rate = GetSampleRate();
    const double initialFrames = rate * values_[kInitialDelayTime] / 1000.0;
    const double finalFrames = rate * values_[kFinalDelayTime] / 1000.0;

    minimumDelay_ = std::clamp(initialFrames, kMinSineDelayFrames, kMaxDelayFrames);
    depth_ = std::clamp(finalFrames, kMinSineDelayFrames, kMaxDelayFrames) - minimumDelay_;

    const double sign = values_[kInverted] != 0.0f ? -1.0 : 1.0;
    const bool oneTap = values_[kSpecialFX] != 0.0f;
    const double mix = values_[kMix] / 100.0;
    dryGain_ = 1.0 - mix;
    feedback_ = static_cast<float>(sign * values_[kFeedback] / 100.0);
    // Two taps share the mix; one tap takes all of it.
    wetBehind_ = oneTap ? sign * mix : mix / 2.0;
    wetAhead_ = sign * wetBehind_;

    // The triangle runs between the two delays as set, without the sine's
    // one-frame floor. The left side starts at the initial delay; the right
    // one where a sine at the phasing offset would be.
    triangleLower_ = std::min(initialFrames, kMaxDelayFrames);
    triangleUpper_ = std::min(finalFrames, kMaxDelayFrames);
    RateUpdate();
    trianglePosition_[0] = triangleLower_;
    const double phasing = values_[kStereoPhasing];
    const double halfSpan = (triangleUpper_ - triangleLower_) / 2.0;
    double right = std::sin((phasing - 90.0) / 180.0 * std::numbers::pi) * halfSpan + triangleLower_ + halfSpan;
    if (right > triangleUpper_) {
        right = 2.0 * triangleUpper_ - right;
        triangleStep_[1] = -triangleStep_[1];
    }
    trianglePosition_[1] = right;
    if (triangleLower_ > triangleUpper_)
        std::swap(triangleLower_, triangleUpper_);

    mode_ = (oneTap ? 1 : 0) + (values_[kSinusoidal] != 0.0f ? 2 : 0);
}

void Flanger::RateUpdate()
{
    const double rate = GetSampleRate();
    const double hertz = values_[kModRateFreq];
    sinePhase_[1] = WrapPhase(sinePhase_[0] + values_[kStereoPhasing] / 180.0 * std::numbers::pi);
    phaseIncrement_ = 2.0 * std::numbers::pi * hertz / rate;
    rotationCos_ = std::cos(phaseIncrement_);
    rotationSin_ = std::sin(phaseIncrement_);
    AnchorSine();
    // One period goes up and down the span once.
    const double step = std::fabs(2.0 * (triangleUpper_ - triangleLower_) * hertz / rate);
    for (double& sideStep : triangleStep_)
        sideStep = std::copysign(step, sideStep);
}

void Flanger::AnchorSine()
{
    for (std::size_t side = 0; side < 2; ++side) {
        sine_[side] = std::sin(sinePhase_[side]);
        cosine_[side] = std::cos(sinePhase_[side]);
    }
    framesToAnchor_ = kSineAnchorFrames;
}

void Flanger::SweepSine(int frames, SweepDelays& delays)
{
    for (int frame = 0; frame < frames; ++frame) {
        for (std::size_t side = 0; side < 2; ++side) {
            const double sine = sine_[side];
            const double cosine = cosine_[side];
            delays[side][static_cast<std::size_t>(frame)] =
                SafeDelay((sine + 1.0) * depth_ * 0.5 + minimumDelay_);
            sine_[side] = sine * rotationCos_ + cosine * rotationSin_;
            cosine_[side] = cosine * rotationCos_ - sine * rotationSin_;
            sinePhase_[side] = WrapPhase(sinePhase_[side] + phaseIncrement_);
        }
        if (--framesToAnchor_ == 0)
            AnchorSine();
    }
}

void Flanger::SweepTriangle(int frames, SweepDelays& delays)
{
    for (int frame = 0; frame < frames; ++frame) {
        for (std::size_t side = 0; side < 2; ++side) {
            double& position = trianglePosition_[side];
            double& step = triangleStep_[side];
            position += step;
            if (position > triangleUpper_) {
                step = -step;
                position = triangleUpper_ - (position - triangleUpper_);
            } else if (position < triangleLower_) {
                step = -step;
                position = triangleLower_ + (triangleLower_ - position);
            }
            delays[side][static_cast<std::size_t>(frame)] = SafeDelay(position);
        }
    }
}


template <bool kTriangle, bool kOneTap>
ZOC_TARGET_CLONES void Flanger::Render(int frames)
{
    using Point = dsp::SincInterpolator::Point;
    const std::array<float*, 2> lines{Line(0), Line(1)};
    SweepDelays delays;
    // Per side and frame: the frames from the centre to each read and where
    // in the kernel it falls, worked out ahead of the reads.
    std::array<std::array<int, kSweepRun>, 2> behindOffset, aheadOffset;
    std::array<std::array<Point, kSweepRun>, 2> behindPoint, aheadPoint;
    for (int start = 0; start < frames; start += kSweepRun) {
        const int count = std::min(kSweepRun, frames - start);
        if constexpr (kTriangle)
            SweepTriangle(count, delays);
        else
            SweepSine(count, delays);
        for (std::size_t side = 0; side < 2; ++side) {
            for (std::size_t frame = 0; frame < static_cast<std::size_t>(count); ++frame) {
                const double delay = delays[side][frame];
                const int whole = static_cast<int>(delay);
                const double fraction = delay - whole;
                behindOffset[side][frame] = -whole;
                behindPoint[side][frame] = interpolator_.Locate(1.0 - fraction);
                aheadOffset[side][frame] = whole;
                aheadPoint[side][frame] = interpolator_.Locate(fraction);
            }
        }
        for (int frame = 0; frame < count; ++frame) {
            const auto index = static_cast<std::size_t>(frame);
            const int write = write_ + start + frame;
            const int centre = write - kLatency;
            const int output = write - kOutputLag;
            for (std::size_t side = 0; side < 2; ++side) {
                float* line = lines[side];
                const float dry = line[centre];
                const float behind =
                    interpolator_.Read(line + centre + behindOffset[side][index], behindPoint[side][index]);
                if constexpr (kOneTap) {
                    line[output] = Clip(dry * dryGain_ + behind * wetBehind_);
                    line[centre] = Clip(dry + behind * feedback_);
                } else {
                    const float ahead =
                        interpolator_.Read(line + centre + aheadOffset[side][index], aheadPoint[side][index]);
                    line[output] = Clip(dry * dryGain_ - behind * wetBehind_ - ahead * wetAhead_);
                    line[centre] = Clip(dry - behind * feedback_);
                }
            }
        }
    }
}


void Flanger::Compact()
{
    // The frames below kCompactShift that the longest read may still reach
    // move along into the margin.
    for (std::size_t side = 0; side < 2; ++side) {
        float* line = Line(side);
        std::memmove(line - kLineMargin, line + kCompactShift - kLineMargin,
                     static_cast<std::size_t>(write_ - kCompactShift + kLineMargin) * sizeof(float));
    }
    write_ -= kCompactShift;
}

void Flanger::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    RunDeferredWork();
    const std::size_t channels = ChannelCount();
    if (channels < 1 || channels > 2 || lines_.Empty())
        return;

    for (int done = 0; done < frames;) {
        const int run = std::min(frames - done, kLineFrames - write_);
        // All input of the run goes in first: no read reaches past the
        // frame's own write position, and the outputs may share memory with
        // the inputs. In mono both lines take the one input.
        for (std::size_t side = 0; side < 2; ++side) {
            const float* input = inputs[std::min(side, channels - 1)] + done;
            float* line = Line(side) + write_;
            for (int k = 0; k < run; ++k)
                line[k] = CleanInput(input[k]);
        }
        switch (mode_) {
        case 0: Render<false, false>(run); break;
        case 1: Render<false, true>(run); break;
        case 2: Render<true, false>(run); break;
        default: Render<true, true>(run); break;
        }
        const float* left = Line(0) + write_ - kOutputLag;
        const float* right = Line(1) + write_ - kOutputLag;
        if (channels == 2) {
            std::copy_n(left, run, outputs[0] + done);
            std::copy_n(right, run, outputs[1] + done);
        } else {
            float* output = outputs[0] + done;
            for (int k = 0; k < run; ++k)
                output[k] = (left[k] + right[k]) * 0.5f;
        }
        write_ += run;
        if (write_ >= kCompactAt)
            Compact();
        done += run;
    }
}

} // namespace zoc::components

// The tone synthesiser: phase accumulators over band-limited tables, settings
// refreshed every 64 frames and interpolated in between.

#include "dsp/tones/TonesDSP.h"

#include <algorithm>
#include <cmath>

namespace zoc::dsp::tones {
namespace {

/// Sum of the mix never passes this (-0.26 dBFS).
constexpr double kCeiling = 0.97;
/// Harmonics stay below 0.47 of the sample rate (22.56 kHz at 48 kHz),
/// safely under the Nyquist frequency and above hearing.
constexpr double kCutoff = 0.47;
/// Levels at the bottom of their range mute a component.
constexpr double kSilentDb = -60.0;
constexpr double kMinDuty = 0.01;

struct Bounds {
    float lo;
    float hi;
};

bool IsFrequency(int index)
{
    return (index >= TonesDSP::kFrequency && index <= TonesDSP::kFinalModulateFreq) ||
           index == TonesDSP::kPhaseDeltaQ;
}

Bounds BoundsOf(int index, int rate)
{
    if (IsFrequency(index))
        return {0.0f, static_cast<float>(rate) * 0.5f};
    if (index == TonesDSP::kFlavor || index == TonesDSP::kInteractionMode)
        return {0.0f, 3.0f};
    if (index >= TonesDSP::kOvertones0 && index < TonesDSP::kLocked)
        return {static_cast<float>(kSilentDb), 0.0f};
    if (index == TonesDSP::kNoiseDuration)
        return {0.0f, 12.0f};
    if (index == TonesDSP::kVolume)
        return {static_cast<float>(kSilentDb), 0.0f};
    if (index == TonesDSP::kStartPhase || index == TonesDSP::kPhaseDiff)
        return {0.0f, 360.0f};
    if (index >= TonesDSP::kRatio0 && index < TonesDSP::kEnable0)
        return {0.0f, 1200.0f};
    if (index == TonesDSP::kOriginalSampleRate)
        return {0.0f, 192000.0f};
    return {0.0f, 1.0f};
}

double Amplitude(double decibels) { return decibels <= kSilentDb ? 0.0 : std::pow(10.0, decibels / 20.0); }

float Sanitize(float sample) { return std::isfinite(sample) ? sample : 0.0f; }

/// Brings a phase (cycles) into 0..1. Phases rarely leave that range by more
/// than a step, so the branch spares the floor nearly always.
double Wrap(double phase)
{
    if (phase >= 1.0 || phase < 0.0)
        phase -= std::floor(phase);
    return phase;
}

} // namespace

TonesDSP::TonesDSP() : tables_(BandLimitedTables::Get())
{
    // 440 Hz sine at -9 dB, fading in and out over 10 ms.
    settings_[kFrequency] = settings_[kFinalFrequency] = 440.0f;
    settings_[kModulateFreq] = settings_[kFinalModulateFreq] = 10.0f;
    settings_[kSubFlavor] = settings_[kFinalSubFlavor] = 0.5f;
    for (int i = 0; i < kComponentCount; ++i) {
        settings_[static_cast<std::size_t>(kOvertones0 + i)] = i == 0 ? -9.0f : -60.0f;
        settings_[static_cast<std::size_t>(kFinalOvertones0 + i)] = i == 0 ? -9.0f : -60.0f;
        settings_[static_cast<std::size_t>(kRatio0 + i)] = static_cast<float>(i + 1);
        settings_[static_cast<std::size_t>(kFinalRatio0 + i)] = static_cast<float>(i + 1);
    }
    settings_[kEnable0] = 1.0f;
    settings_[kLocked] = 1.0f;
    settings_[kNoiseDuration] = 10.0f;
    settings_[kDCOffset] = 0.5f;
    SetChannels(channels_);
    Prepare();
}

void TonesDSP::SetSampleRate(int rate)
{
    rate = std::max(rate, 1);
    if (rate == rate_)
        return;
    const float scale = static_cast<float>(rate) / static_cast<float>(rate_);
    for (int index = 0; index < kParameterCount; ++index)
        if (IsFrequency(index))
            settings_[static_cast<std::size_t>(index)] *= scale;
    rate_ = rate;
}

void TonesDSP::SetChannels(int channels)
{
    channels_ = std::clamp(channels, 1, kMaxChannels);
    tone_.assign(static_cast<std::size_t>(channels_) * kStep, 0.0f);
}

void TonesDSP::SetParameter(int index, float value)
{
    if (index < 0 || index >= kParameterCount || std::isnan(value))
        return;
    const Bounds bounds = BoundsOf(index, rate_);
    settings_[static_cast<std::size_t>(index)] = std::clamp(value, bounds.lo, bounds.hi);
}

float TonesDSP::GetParameter(int index) const
{
    if (index < 0 || index >= kParameterCount)
        return 0.0f;
    return settings_[static_cast<std::size_t>(index)];
}

void TonesDSP::GetBounds(int index, float& lo, float& hi) const
{
    const Bounds bounds = BoundsOf(index, rate_);
    lo = bounds.lo;
    hi = bounds.hi;
}

void TonesDSP::SetDuration(long long frames) { duration_ = std::max(frames, 0ll); }

void TonesDSP::Resume()
{
    Prepare();
    position_ = 0;
    phase_.fill(0.0);
    vibratoPhase_ = 0.0;
}

void TonesDSP::Prepare()
{
    const auto value = [this](int index) { return static_cast<double>(settings_[static_cast<std::size_t>(index)]); };
    const double rate = rate_;
    const double original = value(kOriginalSampleRate) > 0.0 ? value(kOriginalSampleRate) : rate;
    // Hertz set at the original rate, as cycles per frame at this rate.
    const double toCycles = original / (rate * rate);

    flavor_ = static_cast<int>(std::lround(std::clamp(value(kFlavor), 0.0, 3.0)));
    mode_ = static_cast<int>(std::lround(std::clamp(value(kInteractionMode), 0.0, 3.0)));
    gliding_ = value(kLocked) < 0.5;
    const auto glide = [this, &value](int first, int final, double scale) {
        return Glide{value(first) * scale, (gliding_ ? value(final) : value(first)) * scale};
    };
    frequency_ = glide(kFrequency, kFinalFrequency, toCycles);
    modulateBy_ = glide(kModulateBy, kFinalModulateBy, toCycles);
    modulateFreq_ = glide(kModulateFreq, kFinalModulateFreq, toCycles);
    duty_ = glide(kSubFlavor, kFinalSubFlavor, 1.0);
    duty_.start = std::clamp(duty_.start, kMinDuty, 1.0 - kMinDuty);
    duty_.end = std::clamp(duty_.end, kMinDuty, 1.0 - kMinDuty);
    logSweep_ = value(kLogSweeping) >= 0.5 && frequency_.start > 0.0 && frequency_.end > 0.0;

    double sumStart = 0.0;
    double sumEnd = 0.0;
    for (int i = 0; i < kComponentCount; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        levelDb_[slot] = glide(kOvertones0 + i, kFinalOvertones0 + i, 1.0);
        ratio_[slot] = glide(kRatio0 + i, kFinalRatio0 + i, 1.0);
        enabled_[slot] = value(kEnable0 + i) >= 0.5 &&
                         (Amplitude(levelDb_[slot].start) > 0.0 || Amplitude(levelDb_[slot].end) > 0.0);
        if (enabled_[slot]) {
            sumStart += Amplitude(levelDb_[slot].start);
            sumEnd += Amplitude(levelDb_[slot].end);
        }
    }
    // Levels add up as amplitudes; each waveform peaks at 1 at most. The
    // generated mix keeps room for the DC offset; a modulating tone stays
    // within -1..1.
    const bool generating = mode_ == kGenerate || mode_ == kAdd;
    dcOffset_ = generating ? 2.0 * (value(kDCOffset) - 0.5) : 0.0;
    const double budget = generating ? std::max(0.0, kCeiling - std::fabs(dcOffset_)) : 1.0;
    const double sum = std::max(sumStart, sumEnd);
    mixScale_ = sum > budget ? budget / sum : 1.0;
    gain_ = std::pow(10.0, value(kVolume) / 20.0);

    startPhase_ = value(kStartPhase) / 360.0;
    phaseDiff_ = value(kPhaseDiff) / 360.0;
    phaseTurn_ = value(kPhaseDeltaQ) * toCycles;
    perChannel_ = channels_ > 1 && (phaseDiff_ != 0.0 || phaseTurn_ != 0.0);
    runDuration_ = duration_;
    fadeFrames_ = std::min(std::llround(value(kNoiseDuration) * rate / 1000.0), runDuration_ / 2);
}

double TonesDSP::Fraction(long long position) const
{
    if (runDuration_ <= 1)
        return 0.0;
    return std::min(static_cast<double>(position) / static_cast<double>(runDuration_ - 1), 1.0);
}

float TonesDSP::FadeAt(long long position) const
{
    if (position >= runDuration_ || position < 0)
        return 0.0f;
    if (fadeFrames_ <= 0)
        return 1.0f;
    const double fade = static_cast<double>(fadeFrames_);
    double edge = 1.0;
    if (position < fadeFrames_)
        edge = static_cast<double>(position) / fade;
    else if (position > runDuration_ - 1 - fadeFrames_)
        edge = static_cast<double>(runDuration_ - 1 - position) / fade;
    else
        return 1.0f;
    return static_cast<float>(0.5 - 0.5 * std::cos(3.14159265358979323846 * edge));
}

void TonesDSP::Process(float** inputs, float** outputs, int frames)
{
    if (outputs == nullptr)
        return;
    for (int offset = 0; offset < frames; offset += kStep)
        Step(inputs, outputs, offset, std::min(kStep, frames - offset));
}

void TonesDSP::Step(float** inputs, float** outputs, int offset, int frames)
{
    const long long first = position_;
    position_ += frames;
    const auto inputAt = [inputs, offset](int channel, int k) {
        return inputs != nullptr && inputs[channel] != nullptr ? Sanitize(inputs[channel][offset + k]) : 0.0f;
    };
    if (first >= runDuration_) {
        for (int channel = 0; channel < channels_; ++channel)
            for (int k = 0; k < frames; ++k)
                outputs[channel][offset + k] = mode_ == kGenerate ? 0.0f : inputAt(channel, k);
        return;
    }

    // Fundamental per frame (cycles per frame), with vibrato.
    const double t0 = Fraction(first);
    const double t1 = Fraction(first + frames);
    const auto frequencyAt = [this](double t) {
        if (logSweep_)
            return std::exp(std::log(frequency_.start) + t * (std::log(frequency_.end) - std::log(frequency_.start)));
        return frequency_.At(t);
    };
    const double fA = frequencyAt(t0);
    const double fB = frequencyAt(t1);
    const double step = 1.0 / frames;
    for (int k = 0; k < frames; ++k)
        baseFrequency_[static_cast<std::size_t>(k)] = fA + (fB - fA) * (k * step);
    const double depthA = modulateBy_.At(t0);
    const double depthB = modulateBy_.At(t1);
    if (depthA != 0.0 || depthB != 0.0) {
        const double rateA = modulateFreq_.At(t0);
        const double rateB = modulateFreq_.At(t1);
        const auto& sine = tables_.Sine();
        for (int k = 0; k < frames; ++k) {
            const double u = k * step;
            baseFrequency_[static_cast<std::size_t>(k)] +=
                (depthA + (depthB - depthA) * u) * BandLimitedTables::Lookup(sine, vibratoPhase_);
            vibratoPhase_ = Wrap(vibratoPhase_ + rateA + (rateB - rateA) * u);
        }
    }
    double highest = 0.0;
    for (int k = 0; k < frames; ++k)
        highest = std::max(highest, std::fabs(baseFrequency_[static_cast<std::size_t>(k)]));

    const int toneChannels = perChannel_ ? channels_ : 1;
    std::fill_n(tone_.begin(), static_cast<std::size_t>(toneChannels) * kStep, 0.0f);
    std::fill(levelSum_.begin(), levelSum_.end(), 0.0f);
    const double dutyA = duty_.At(t0);
    const double dutyB = duty_.At(t1);

    for (int i = 0; i < kComponentCount; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        if (!enabled_[slot])
            continue;
        const double ratioA = ratio_[slot].At(t0);
        const double ratioB = ratio_[slot].At(t1);
        double phase = phase_[slot];
        for (int k = 0; k < frames; ++k) {
            phases_[static_cast<std::size_t>(k)] = phase;
            phase = Wrap(phase + (ratioA + (ratioB - ratioA) * (k * step)) * baseFrequency_[static_cast<std::size_t>(k)]);
        }
        phase_[slot] = phase;
        const double ampA = Amplitude(levelDb_[slot].At(t0));
        const double ampB = gliding_ ? Amplitude(levelDb_[slot].At(t1)) : ampA;
        const double fastest = highest * std::max(std::fabs(ratioA), std::fabs(ratioB));
        // A component at or above the Nyquist frequency has no band-limited
        // form: it falls silent (its phase keeps running).
        if ((ampA == 0.0 && ampB == 0.0) || fastest >= 0.5)
            continue;
        for (int k = 0; k < frames; ++k)
            levelSum_[static_cast<std::size_t>(k)] += static_cast<float>(ampA + (ampB - ampA) * (k * step));

        const int table = BandLimitedTables::TableFor(fastest, kCutoff);
        const BandLimitedTables::Table& sine = tables_.Sine();
        const BandLimitedTables::Table& saw = tables_.Sawtooth(table);
        const BandLimitedTables::Table& triangle = tables_.Triangle(table);
        for (int channel = 0; channel < toneChannels; ++channel) {
            float* tone = tone_.data() + static_cast<std::size_t>(channel) * kStep;
            // Channel c leads channel 0 by c times the (turning) difference.
            const double offsetA = Wrap(startPhase_ + channel * (phaseDiff_ + phaseTurn_ * static_cast<double>(first)));
            const double offsetStep = channel * phaseTurn_;
            const auto accumulate = [&](auto wave) {
                for (int k = 0; k < frames; ++k) {
                    const double x = Wrap(phases_[static_cast<std::size_t>(k)] + offsetA + offsetStep * k);
                    const double u = k * step;
                    tone[k] += static_cast<float>(ampA + (ampB - ampA) * u) * wave(x, u);
                }
            };
            switch (flavor_) {
            case kSine:
                accumulate([&sine](double x, double) { return BandLimitedTables::Lookup(sine, x); });
                break;
            case kTriangle:
                accumulate([&triangle](double x, double) { return BandLimitedTables::Lookup(triangle, x); });
                break;
            case kSawtooth:
                accumulate([&saw](double x, double) { return BandLimitedTables::Lookup(saw, x); });
                break;
            default: {
                // A pulse high for `duty` of the cycle: the difference of two
                // sawtooths a duty apart, scaled so its larger side is 1.
                accumulate([&saw, dutyA, dutyB](double x, double u) {
                    const double duty = dutyA + (dutyB - dutyA) * u;
                    const double late = Wrap(x - duty + 0.5);
                    const double early = Wrap(x + 0.5);
                    const double scale = 0.5 / std::max(duty, 1.0 - duty);
                    return static_cast<float>(
                        (BandLimitedTables::Lookup(saw, late) - BandLimitedTables::Lookup(saw, early)) * scale);
                });
                break;
            }
            }
        }
    }

    // Meet the input.
    const bool steady = first >= fadeFrames_ && first + frames <= runDuration_ - fadeFrames_;
    std::array<float, kStep> fade;
    for (int k = 0; k < frames; ++k)
        fade[static_cast<std::size_t>(k)] = steady ? 1.0f : FadeAt(first + k);
    const auto mix = static_cast<float>(mixScale_);
    const auto gain = static_cast<float>(gain_);
    const auto dc = static_cast<float>(dcOffset_);
    for (int channel = 0; channel < channels_; ++channel) {
        const float* tone = tone_.data() + static_cast<std::size_t>(perChannel_ ? channel : 0) * kStep;
        float* out = outputs[channel] + offset;
        if (mode_ == kGenerate) {
            for (int k = 0; k < frames; ++k)
                out[k] = fade[static_cast<std::size_t>(k)] * (gain * (tone[k] * mix) + dc);
            continue;
        }
        for (int k = 0; k < frames; ++k) {
            const float wave = tone[k] * mix;
            const float in = inputAt(channel, k);
            const float edge = fade[static_cast<std::size_t>(k)];
            if (mode_ == kAdd) {
                out[k] = in + edge * (gain * wave + dc);
            } else if (mode_ == kModulate) {
                // The tone moved into 0..1: from 1 - level sum up to 1.
                const float lifted = 1.0f - 0.5f * (levelSum_[static_cast<std::size_t>(k)] * mix - wave);
                out[k] = in * (1.0f + edge * (gain * lifted - 1.0f));
            } else {
                out[k] = in * (1.0f + edge * (gain * wave - 1.0f));
            }
        }
    }
}

} // namespace zoc::dsp::tones

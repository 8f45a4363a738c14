// IntraClip: speech gain rider with gate, compressors and a safety limiter.

#include "dsp/intraclip/IntraClip.h"

#include <algorithm>
#include <cstddef>
#include <cmath>
#include <mutex>
#include <numbers>

namespace zoc::dsp::intraclip {

namespace {

/// Detector high-pass: below the lowest voice fundamentals, so rumble, hum
/// harmonics under it and DC do not read as loudness.
constexpr double kDetectorHighPassHz = 70.0;
/// The compressors decide a new gain every this many frames and ramp to it.
constexpr int kControlFrames = 32;
/// The compressors' fixed shape.
constexpr float kCompressorRatio = 3.0f;
constexpr float kCompressorKneeDb = 6.0f;
/// Input samples are kept within +-80 dB of full scale, so absurd values
/// cannot overflow the detector's sums.
constexpr float kLargestInput = 1.0e4f;
/// The compressor's make-up follows its loss over about four windows and
/// never exceeds 12 dB.
constexpr float kMakeupSmoothing = 0.25f;
constexpr float kMaxMakeupDb = 12.0f;
/// Level of a window of digital silence.
constexpr float kSilenceDb = -200.0f;

struct Bounds {
    float lo, hi, initial;
};
// Real-unit ranges and defaults of the nine parameters.
constexpr std::array<Bounds, IntraClip::kParameterCount> kBounds{{
    {-32.0f, -12.0f, -16.0f}, // target volume level, dB RMS
    {0.0f, 100.0f, 100.0f},   // leveling amount, %
    {0.0f, 1.0f, 0.0f},       // compressor active
    {0.0f, 16.0f, 6.0f},      // compressor threshold, dB above the target
    {0.0f, 1.0f, 0.0f},       // noise gate active
    {0.0f, 20.0f, 12.0f},     // noise offset, dB above the floor
    {0.0f, 1.0f, 0.0f},       // boost low signals
    {-40.0f, 40.0f, 0.0f},    // amplification meter, dB
    {0.0f, 40.0f, 12.0f},     // target dynamic range, dB
}};

std::mutex& GlobalMutex()
{
    static std::mutex mutex;
    return mutex;
}

IntraClipParam& GlobalRecord()
{
    static IntraClipParam record = DefaultGlobalParam();
    return record;
}

float Sane(float value, float lo, float hi, float fallback)
{
    return std::isnan(value) ? fallback : std::clamp(value, lo, hi);
}

float DbToGain(float db) { return std::pow(10.0f, db / 20.0f); }

/// One-pole coefficient that covers 1 - 1/e of a step in `ms`.
float Coefficient(float ms, int rate)
{
    const double frames = static_cast<double>(ms) * rate / 1000.0;
    return frames < 1.0 ? 1.0f : static_cast<float>(1.0 - std::exp(-1.0 / frames));
}

/// One-pole coefficient that covers 99 % of a step in `ms`: the gate opens
/// and closes in about the times it is given.
float SettlingCoefficient(float ms, int rate) { return Coefficient(ms / 4.6f, rate); }

std::uint32_t PowerOfTwoAtLeast(std::uint32_t n)
{
    std::uint32_t size = 1;
    while (size < n)
        size <<= 1;
    return size;
}

// The record's byte layout is shared with tunings saved elsewhere.
static_assert(offsetof(IntraClipParam, NumRMSBuckets) == 4);
static_assert(offsetof(IntraClipParam, RefLevel) == 12);
static_assert(offsetof(IntraClipParam, NoiseGateHoldTime) == 76);
static_assert(offsetof(IntraClipParam, DelayCompensationTime) == 88);
static_assert(offsetof(IntraClipParam, DebugDisplayMode) == 92);
static_assert(offsetof(IntraClipParam, FinCompThresh) == 104);
static_assert(offsetof(IntraClipParam, FinLimLookAhead) == 112);
static_assert(offsetof(IntraClipParam, ProcessingBlockActiveBitField) == 124);

} // namespace

IntraClipParam DefaultGlobalParam()
{
    IntraClipParam p{};
    p.RMSWindowTime = 50.0f;
    p.NumRMSBuckets = 10;
    p.SelBucketIndex = 2;
    p.RefLevel = -12.0f;
    p.MaxGain = 10.0f;
    p.MaxGainDelta = 35.0f;
    p.PeakMax = -10.0f;
    p.PeakMin = -40.0f;
    p.BodyDynamic = 15.0f;
    p.MinRMSNoise = -60.0f;
    p.MaxRMSNoise = -50.0f;
    p.CompAttackTime = 10.0f;
    p.CompReleaseTime = 500.0f;
    p.PeakSmoothAttackTime = 1000.0f;
    p.PeakSmoothReleaseTime = 8000.0f;
    p.NoiseThresholdOffset = 15.0f;
    p.NoiseGateRatio = 1.5f;
    p.NoiseGateAttack = 10.0f;
    p.NoiseGateRelease = 1000.0f;
    p.NoiseGateHoldTime = 250.0f;
    p.DelayCompensationTime = -200.0f;
    p.DebugDisplayMode = kNormalProcessing;
    p.FinCompAttack = 10.0f;
    p.FinCompRelease = 250.0f;
    p.FinCompThresh = -6.0f;
    p.FinLimLookAhead = 5.0f;
    p.FinLimRelease = 100.0f;
    p.FinLimCeil = -1.0f;
    p.ProcessingBlockActiveBitField = kIntraClipCompressor | kFinalizeCompressor | kFinalizeLimiter | kNoiseGate;
    return p;
}

void GetGlobalParam(IntraClipParam& param)
{
    std::lock_guard lock(GlobalMutex());
    param = GlobalRecord();
}

void SetGlobalParam(const IntraClipParam& param)
{
    std::lock_guard lock(GlobalMutex());
    GlobalRecord() = param;
}

// --- Compressor ---------------------------------------------------------------

void IntraClip::Compressor::Configure(float attackMs, float releaseMs, float thresholdDbFs, int rate)
{
    attack = Coefficient(attackMs, rate);
    release = Coefficient(releaseMs, rate);
    thresholdDb = thresholdDbFs;
}

void IntraClip::Compressor::Clear()
{
    power = 0.0;
    gain = 1.0f;
    step = 0.0f;
}

float IntraClip::Compressor::TargetGain() const
{
    const float levelDb = 10.0f * std::log10(static_cast<float>(power) + 1e-20f);
    const float over = levelDb - thresholdDb;
    constexpr float slope = 1.0f / kCompressorRatio - 1.0f;
    float reductionDb = 0.0f;
    if (2.0f * over >= kCompressorKneeDb)
        reductionDb = slope * over;
    else if (2.0f * over > -kCompressorKneeDb) {
        const float into = over + kCompressorKneeDb / 2.0f;
        reductionDb = slope * into * into / (2.0f * kCompressorKneeDb);
    }
    return DbToGain(reductionDb);
}

float IntraClip::Compressor::Next(float meanSquare, int phase)
{
    power += (meanSquare - power) * (meanSquare > power ? attack : release);
    if (phase == 0)
        step = (TargetGain() - gain) / kControlFrames;
    gain += step;
    return gain;
}

// --- Set-up -----------------------------------------------------------------

IntraClip::IntraClip()
{
    for (int index = 0; index < kParameterCount; ++index)
        values_[static_cast<std::size_t>(index)] = kBounds[static_cast<std::size_t>(index)].initial;
    Initialize(channels_, rate_, 0);
}

void IntraClip::SetSampleRate(int rate) { rate_ = std::clamp(rate, 1, 768000); }

void IntraClip::Initialize(int channels, int sampleRate, int maxBlockSize)
{
    channels_ = std::clamp(channels, 1, kMaxChannels);
    SetSampleRate(sampleRate);
    maxBlock_ = std::max(0, maxBlockSize);
    GetGlobalParam(tuning_);
    ApplySnapshot();
    Reset();
}

void IntraClip::ApplySnapshot()
{
    const IntraClipParam defaults = DefaultGlobalParam();
    IntraClipParam& t = tuning_;
    const auto frames = [this](float ms) {
        return static_cast<int>(std::lround(static_cast<double>(ms) * rate_ / 1000.0));
    };

    t.RMSWindowTime = Sane(t.RMSWindowTime, 5.0f, 1000.0f, defaults.RMSWindowTime);
    windowFrames_ = std::max(1, frames(t.RMSWindowTime));
    bucketCount_ = std::clamp<int>(t.NumRMSBuckets, 1, kMaxBuckets);
    selectedBucket_ = std::clamp<int>(t.SelBucketIndex, 0, bucketCount_ - 1);
    t.MaxGain = Sane(t.MaxGain, 0.0f, 60.0f, defaults.MaxGain);
    t.MaxGainDelta = Sane(t.MaxGainDelta, 0.1f, kMaxSlewDbPerSecond, defaults.MaxGainDelta);
    t.PeakMin = Sane(t.PeakMin, -120.0f, 0.0f, defaults.PeakMin);
    t.BodyDynamic = Sane(t.BodyDynamic, 0.0f, 40.0f, defaults.BodyDynamic);
    t.MinRMSNoise = Sane(t.MinRMSNoise, -120.0f, 0.0f, defaults.MinRMSNoise);
    t.MaxRMSNoise = Sane(t.MaxRMSNoise, t.MinRMSNoise, 0.0f, std::max(t.MinRMSNoise, defaults.MaxRMSNoise));
    t.NoiseThresholdOffset = Sane(t.NoiseThresholdOffset, 0.0f, 60.0f, defaults.NoiseThresholdOffset);
    t.NoiseGateRatio = Sane(t.NoiseGateRatio, 1.0f, 20.0f, defaults.NoiseGateRatio);
    constexpr float kLongest = 60000.0f;
    t.CompAttackTime = Sane(t.CompAttackTime, 0.0f, kLongest, defaults.CompAttackTime);
    t.CompReleaseTime = Sane(t.CompReleaseTime, 0.0f, kLongest, defaults.CompReleaseTime);
    t.NoiseGateAttack = Sane(t.NoiseGateAttack, 0.0f, kLongest, defaults.NoiseGateAttack);
    t.NoiseGateRelease = Sane(t.NoiseGateRelease, 0.0f, kLongest, defaults.NoiseGateRelease);
    t.NoiseGateHoldTime = Sane(t.NoiseGateHoldTime, 0.0f, kLongest, defaults.NoiseGateHoldTime);
    t.DelayCompensationTime = Sane(t.DelayCompensationTime, -kMaxLookAheadMs, 0.0f, defaults.DelayCompensationTime);
    t.FinCompAttack = Sane(t.FinCompAttack, 0.0f, kLongest, defaults.FinCompAttack);
    t.FinCompRelease = Sane(t.FinCompRelease, 0.0f, kLongest, defaults.FinCompRelease);
    t.FinCompThresh = Sane(t.FinCompThresh, -60.0f, 0.0f, defaults.FinCompThresh);
    t.FinLimLookAhead = Sane(t.FinLimLookAhead, 0.0f, HardLimit::kMaxLookAheadMs, defaults.FinLimLookAhead);
    t.FinLimRelease = Sane(t.FinLimRelease, 0.0f, HardLimit::kMaxReleaseMs, defaults.FinLimRelease);
    t.FinLimCeil = Sane(t.FinLimCeil, HardLimit::kMinCeilingDb, 0.0f, defaults.FinLimCeil);

    holdWindows_ = static_cast<int>(std::ceil(t.NoiseGateHoldTime / t.RMSWindowTime));
    gateAttack_ = SettlingCoefficient(t.NoiseGateAttack, rate_);
    gateRelease_ = SettlingCoefficient(t.NoiseGateRelease, rate_);
    debugMode_ = std::clamp<int>(t.DebugDisplayMode, kNormalProcessing, kShowNoisefloorEstimate);
    const std::int32_t bits = t.ProcessingBlockActiveBitField;
    intraCompOn_ = (bits & kIntraClipCompressor) != 0;
    finalCompOn_ = (bits & kFinalizeCompressor) != 0;
    limiterOn_ = (bits & kFinalizeLimiter) != 0;
    gateOn_ = (bits & kNoiseGate) != 0;

    // Detector high-pass: second-order Butterworth by the bilinear transform.
    const double nyquist = rate_ / 2.0;
    Biquad design;
    if (kDetectorHighPassHz < 0.45 * nyquist) {
        const double k = std::tan(std::numbers::pi * kDetectorHighPassHz / rate_);
        const double norm = 1.0 / (1.0 + std::numbers::sqrt2 * k + k * k);
        design.b0 = norm;
        design.b1 = -2.0 * norm;
        design.b2 = norm;
        design.a1 = 2.0 * (k * k - 1.0) * norm;
        design.a2 = (1.0 - std::numbers::sqrt2 * k + k * k) * norm;
    }
    highPass_.assign(static_cast<std::size_t>(channels_), design);

    lookAhead_ = frames(-t.DelayCompensationTime);
    const std::uint32_t delayFrames = PowerOfTwoAtLeast(static_cast<std::uint32_t>(lookAhead_) + 1);
    delay_.assign(static_cast<std::size_t>(delayFrames) * static_cast<std::size_t>(channels_), 0.0f);
    delayMask_ = delayFrames - 1;

    limiter_.SetSampleRate(rate_);
    limiter_.SetChannels(channels_);
    limiter_.SetParameter(HardLimit::kMaximumAmplitude, t.FinLimCeil);
    limiter_.SetParameter(HardLimit::kInputBoost, 0.0f);
    limiter_.SetParameter(HardLimit::kLookAheadTime, t.FinLimLookAhead);
    limiter_.SetParameter(HardLimit::kReleaseTime, t.FinLimRelease);
    limiter_.SetParameter(HardLimit::kLinkChannels, 1.0f);
    const int limiterDelay = limiterOn_ ? limiter_.GetLatency() : 0;
    const std::uint32_t limiterFrames = PowerOfTwoAtLeast(static_cast<std::uint32_t>(limiterDelay) + 1);
    limiterInput_.assign(limiterFrames, 0.0f);
    limiterMask_ = limiterFrames - 1;
    latency_ = lookAhead_ + limiterDelay;

    finalComp_.Configure(t.FinCompAttack, t.FinCompRelease, t.FinCompThresh, rate_);
    // The intra-clip compressor's threshold follows the target; SetParameter
    // keeps it current.
    intraComp_.Configure(t.CompAttackTime, t.CompReleaseTime,
                         values_[kTargetVolumeLevel] + values_[kCompressorThreshold], rate_);
}

void IntraClip::Reset()
{
    for (Biquad& filter : highPass_)
        filter.x1 = filter.x2 = filter.y1 = filter.y2 = 0.0;
    windowSum_ = 0.0;
    windowPosition_ = 0;
    noiseFloorDb_ = tuning_.MinRMSNoise;
    floorSeeded_ = false;
    bucketsFilled_ = 0;
    bucketNext_ = 0;
    pauseWindows_ = 0;
    gateHoldWindows_ = 0;
    lastWindowDb_ = kSilenceDb;
    riderDb_ = 0.0f;
    riderGain_ = 1.0;
    riderStep_ = 1.0;
    maxGainDb_ = 0.0f;
    gateTarget_ = 1.0f;
    gateGain_ = 1.0f;
    intraComp_.Clear();
    compressorIn_ = compressorOut_ = 0.0;
    makeupDb_ = 0.0f;
    finalComp_.Clear();
    amplificationDb_.store(0.0f, std::memory_order_relaxed);
    std::fill(delay_.begin(), delay_.end(), 0.0f);
    std::fill(limiterInput_.begin(), limiterInput_.end(), 0.0f);
    writeFrame_ = 0;
    frameCount_ = 0;
    controlPhase_ = 0;
    limiter_.Resume();
}

void IntraClip::SetParameter(int index, float value)
{
    if (index < 0 || index >= kParameterCount || index == kAmplification || std::isnan(value))
        return;
    const Bounds& bounds = kBounds[static_cast<std::size_t>(index)];
    values_[static_cast<std::size_t>(index)] = std::clamp(value, bounds.lo, bounds.hi);
    intraComp_.thresholdDb = values_[kTargetVolumeLevel] + values_[kCompressorThreshold];
}

float IntraClip::GetParameter(int index) const
{
    if (index == kAmplification)
        return amplificationDb_.load(std::memory_order_relaxed);
    if (index < 0 || index >= kParameterCount)
        return 0.0f;
    return values_[static_cast<std::size_t>(index)];
}

void IntraClip::GetBounds(int index, float& lo, float& hi) const
{
    if (index < 0 || index >= kParameterCount) {
        lo = 0.0f;
        hi = 1.0f;
        return;
    }
    lo = kBounds[static_cast<std::size_t>(index)].lo;
    hi = kBounds[static_cast<std::size_t>(index)].hi;
}

// --- Detector and rider, once per window -------------------------------------

float IntraClip::SpeechLevel() const
{
    // The power mean of the kept speech windows, with the SelBucketIndex
    // loudest counted at the level of the next one: an RMS of the voice that
    // a few clicks or shouts cannot drag up.
    std::array<float, kMaxBuckets> sorted = buckets_;
    const auto end = sorted.begin() + bucketsFilled_;
    const int capped = std::min(selectedBucket_, bucketsFilled_ - 1);
    std::nth_element(sorted.begin(), sorted.begin() + capped, end, std::greater<float>());
    const float top = sorted[static_cast<std::size_t>(capped)];
    double sum = capped;
    for (auto window = sorted.begin() + capped; window != end; ++window)
        sum += std::pow(10.0, static_cast<double>(*window - top) / 10.0);
    return top + static_cast<float>(10.0 * std::log10(sum / static_cast<double>(bucketsFilled_)));
}

void IntraClip::EndWindow()
{
    const IntraClipParam& t = tuning_;
    const double meanSquare = windowSum_ / (static_cast<double>(windowFrames_) * channels_);
    const float levelDb = std::max(kSilenceDb, static_cast<float>(10.0 * std::log10(meanSquare + 1e-30)));
    windowSum_ = 0.0;
    windowPosition_ = 0;
    lastWindowDb_ = levelDb;

    // Noise floor: down at once, up slowly, within its range.
    const float seconds = static_cast<float>(windowFrames_) / static_cast<float>(rate_);
    if (!floorSeeded_ || levelDb < noiseFloorDb_)
        noiseFloorDb_ = levelDb;
    else
        noiseFloorDb_ += kNoiseFloorRiseDbPerSecond * seconds;
    noiseFloorDb_ = std::clamp(noiseFloorDb_, t.MinRMSNoise, t.MaxRMSNoise);
    floorSeeded_ = true;

    const bool boostLow = values_[kBoostLowSignals] >= 0.5f;
    const bool speech = levelDb > noiseFloorDb_ + t.NoiseThresholdOffset && (boostLow || levelDb > t.PeakMin);
    if (speech) {
        buckets_[static_cast<std::size_t>(bucketNext_)] = levelDb;
        bucketNext_ = (bucketNext_ + 1) % bucketCount_;
        bucketsFilled_ = std::min(bucketsFilled_ + 1, bucketCount_);
        pauseWindows_ = 0;
    } else if (pauseWindows_ < (1 << 30)) {
        ++pauseWindows_;
    }
    const bool longPause = pauseWindows_ > holdWindows_;

    // Rider: the wanted gain, then the slew limit, as a ramp over the next window.
    const float boostLimit = t.MaxGain + (boostLow ? t.BodyDynamic : 0.0f);
    float wanted = riderDb_;
    if (bucketsFilled_ > 0) {
        const float amount = values_[kLevelingAmount] / 100.0f;
        float speechDb = SpeechLevel();
        if (speech)
            speechDb = std::max(speechDb, levelDb - kLouderVoiceDb);
        const bool compressing = intraCompOn_ && values_[kCompressorActive] >= 0.5f;
        wanted = amount * (values_[kTargetVolumeLevel] - speechDb) + (compressing ? makeupDb_ : 0.0f);
        wanted = std::clamp(wanted, -kMaxCutDb, boostLimit);
    }
    maxGainDb_ = longPause ? 0.0f : boostLimit;
    wanted = std::min(wanted, maxGainDb_);
    const float up = t.MaxGainDelta * seconds;
    const float down = std::min(2.0f * t.MaxGainDelta, kMaxSlewDbPerSecond) * seconds;
    const float nextDb = riderDb_ + std::clamp(wanted - riderDb_, -down, up);
    riderGain_ = DbToGain(riderDb_); // start the ramp exactly where the last one ended
    riderStep_ = std::pow(10.0, static_cast<double>(nextDb - riderDb_) / (20.0 * windowFrames_));
    riderDb_ = nextDb;

    // Gate: open above floor + offset and for the hold time after; below,
    // ratio - 1 dB of cut per dB, down to the target dynamic range.
    const float gateThreshold = noiseFloorDb_ + values_[kNoiseOffset];
    if (levelDb >= gateThreshold) {
        gateHoldWindows_ = holdWindows_;
        gateTarget_ = 1.0f;
    } else if (gateHoldWindows_ > 0) {
        --gateHoldWindows_;
        gateTarget_ = 1.0f;
    } else {
        const float cut = std::min((gateThreshold - levelDb) * (t.NoiseGateRatio - 1.0f), values_[kTargetDynamicRange]);
        gateTarget_ = DbToGain(-cut);
    }

    // Make-up for the intra-clip compressor: what it took off the RMS of
    // the last windows with speech in them, so that compressing evens out
    // syllables without pulling the voice under the target.
    const double compressedDb = 10.0 * std::log10(compressorIn_ / windowFrames_ + 1e-30);
    if (compressorIn_ > 0.0 && compressedDb > noiseFloorDb_ + t.NoiseThresholdOffset) {
        const float lossDb = static_cast<float>(10.0 * std::log10(compressorIn_ / std::max(compressorOut_, 1e-30)));
        makeupDb_ += (std::min(lossDb, kMaxMakeupDb) - makeupDb_) * kMakeupSmoothing;
    }
    compressorIn_ = compressorOut_ = 0.0;

    float amplification = riderDb_;
    if (intraCompOn_ && values_[kCompressorActive] >= 0.5f)
        amplification += 20.0f * std::log10(std::max(intraComp_.gain, 1e-6f));
    const Bounds& meter = kBounds[kAmplification];
    amplificationDb_.store(std::clamp(amplification, meter.lo, meter.hi), std::memory_order_relaxed);
}

// --- Processing ----------------------------------------------------------------

int IntraClip::Process(float** in, float** out, int channels, int frames)
{
    if (frames <= 0 || channels <= 0)
        return 0;
    const int active = std::min(channels, channels_);
    for (int channel = active; channel < channels; ++channel)
        if (out[channel] != in[channel])
            std::copy(in[channel], in[channel] + frames, out[channel]);

    const bool gate = gateOn_ && values_[kNoiseGateActive] >= 0.5f;
    const bool intraComp = intraCompOn_ && values_[kCompressorActive] >= 0.5f;
    const bool showCurve = debugMode_ != kNormalProcessing && active >= 2;
    const float inverseChannels = 1.0f / static_cast<float>(active);
    const auto stride = static_cast<std::size_t>(channels_);
    float frame[kMaxChannels];
    float limiterGain = 1.0f;

    for (int i = 0; i < frames; ++i) {
        // Detector at the head of the delay line.
        float* slot = &delay_[(writeFrame_ & delayMask_) * stride];
        double power = 0.0;
        for (int c = 0; c < active; ++c) {
            float x = in[c][i];
            if (!(std::fabs(x) <= kLargestInput))
                x = std::isnan(x) ? 0.0f : std::copysign(kLargestInput, x);
            slot[c] = x;
            const double filtered = highPass_[static_cast<std::size_t>(c)].Process(x);
            power += filtered * filtered;
        }
        windowSum_ += power;
        if (++windowPosition_ >= windowFrames_)
            EndWindow();

        // Gains for the frame leaving the delay line.
        riderGain_ *= riderStep_;
        gateGain_ += (gateTarget_ - gateGain_) * (gateTarget_ > gateGain_ ? gateAttack_ : gateRelease_);
        const float gain = static_cast<float>(riderGain_) * (gate ? gateGain_ : 1.0f);
        const float* delayed = &delay_[((writeFrame_ - static_cast<std::uint32_t>(lookAhead_)) & delayMask_) * stride];
        ++writeFrame_;

        float meanSquare = 0.0f;
        for (int c = 0; c < active; ++c) {
            frame[c] = delayed[c] * gain;
            meanSquare += frame[c] * frame[c];
        }
        meanSquare *= inverseChannels;
        if (intraComp) {
            const float g = intraComp_.Next(meanSquare, controlPhase_);
            for (int c = 0; c < active; ++c)
                frame[c] *= g;
            compressorIn_ += meanSquare;
            meanSquare *= g * g;
            compressorOut_ += meanSquare;
        }
        if (finalCompOn_) {
            const float g = finalComp_.Next(meanSquare, controlPhase_);
            for (int c = 0; c < active; ++c)
                frame[c] *= g;
        }
        controlPhase_ = (controlPhase_ + 1) % kControlFrames;

        if (limiterOn_) {
            const float entering = frame[0];
            limiter_.ProcessOneSample(frame, frame);
            if (debugMode_ == kShowFinalizeLimiterGainCurve) {
                const float leaving = limiterInput_[(frameCount_ - static_cast<std::uint32_t>(limiter_.GetLatency())) &
                                                    limiterMask_];
                if (std::fabs(leaving) > 1e-6f)
                    limiterGain = std::min(1.0f, std::fabs(frame[0] / leaving));
                limiterInput_[frameCount_ & limiterMask_] = entering;
            }
        } else {
            for (int c = 0; c < active; ++c)
                frame[c] = std::clamp(frame[c], -1.0f, 1.0f);
        }
        ++frameCount_;

        for (int c = 0; c < active; ++c)
            out[c][i] = frame[c];
        if (showCurve) {
            float curveDb = 0.0f;
            switch (debugMode_) {
            case kShowIntraClipGainCurve: curveDb = 20.0f * std::log10(static_cast<float>(riderGain_)); break;
            case kShowFinalizeCompressorGainCurve: curveDb = 20.0f * std::log10(finalComp_.gain); break;
            case kShowFinalizeLimiterGainCurve: curveDb = 20.0f * std::log10(limiterGain); break;
            case kShowMaxGainCurve: curveDb = maxGainDb_; break;
            case kShowNoiseGateGainCurve: curveDb = 20.0f * std::log10(gate ? gateGain_ : 1.0f); break;
            default: curveDb = noiseFloorDb_; break;
            }
            out[1][i] = std::isfinite(curveDb) ? std::clamp(curveDb / 100.0f, -1.0f, 1.0f) : -1.0f;
        }
    }
    return frames;
}

} // namespace zoc::dsp::intraclip

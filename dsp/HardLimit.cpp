// HardLimit: look-ahead brick-wall limiter (sliding minimum, hold, release,
// two moving averages).

#include "dsp/HardLimit.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <numbers>

#include "contracts/dsp/Kernel.h"

namespace zoc::dsp {

static_assert(MultiChannelKernel<HardLimit>);

namespace {

constexpr int kMaxRate = 768000;
/// Decibel settings are kept on this grid (0.001 dB).
constexpr float kDecibelGrid = 1000.0f;
/// The release rises as a one-pole towards 2 % above its target and stops
/// at the target, so it gets back to exactly 1 in finite time (about 3.3
/// time constants from -6 dB) instead of only approaching it.
constexpr float kReleaseOvershoot = 1.02f;

/// The true-peak interpolator: for the points a quarter, a half and three
/// quarters of the way from sample p to p + 1, the weights of the samples
/// p - kHalfTaps + 1 ... p + kHalfTaps: a Hann-windowed sinc at the original
/// Nyquist frequency, each point's weights summing to 1.
constexpr int kHalfTaps = HardLimit::kTruePeakTaps / 2;
using InterpolationTable = std::array<std::array<float, HardLimit::kTruePeakTaps>, 3>;
const InterpolationTable kInterpolation = [] {
    InterpolationTable table{};
    for (int point = 0; point < 3; ++point) {
        double sum = 0.0;
        std::array<double, HardLimit::kTruePeakTaps> weights{};
        for (int tap = 0; tap < HardLimit::kTruePeakTaps; ++tap) {
            const double distance = (kHalfTaps - 1) + (point + 1) / 4.0 - tap;
            const double x = std::numbers::pi * distance;
            const double window = 0.5 + 0.5 * std::cos(x / kHalfTaps);
            weights[static_cast<std::size_t>(tap)] = std::sin(x) / x * window;
            sum += weights[static_cast<std::size_t>(tap)];
        }
        for (int tap = 0; tap < HardLimit::kTruePeakTaps; ++tap)
            table[static_cast<std::size_t>(point)][static_cast<std::size_t>(tap)] =
                static_cast<float>(weights[static_cast<std::size_t>(tap)] / sum);
    }
    return table;
}();

float DecibelsToGain(float decibels) { return static_cast<float>(std::pow(10.0, decibels / 20.0)); }

int MillisecondsToFrames(float milliseconds, int rate)
{
    return static_cast<int>(std::lround(static_cast<double>(milliseconds) * rate / 1000.0));
}

} // namespace

HardLimit::HardLimit() { Allocate(); }

void HardLimit::SetSampleRate(int rate)
{
    rate_ = std::clamp(rate, 1, kMaxRate);
    Allocate();
}

void HardLimit::SetChannels(int channels)
{
    channels_ = std::clamp(channels, 1, kMaxChannels);
    Allocate();
}

void HardLimit::Allocate()
{
    const int maxLookAhead = MillisecondsToFrames(kMaxLookAheadMs, rate_);
    const int maxHold = MillisecondsToFrames(kMaxHoldMs, rate_);
    const std::uint32_t frames = std::bit_ceil(static_cast<std::uint32_t>(std::max(maxLookAhead + 1, kTruePeakTaps)));
    delay_.assign(static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels_), 0.0f);
    delayMask_ = frames - 1;
    previousInterpolated_.assign(static_cast<std::size_t>(channels_), 0.0f);
    history_.assign(static_cast<std::size_t>(channels_) * 2 * kTruePeakTaps, 0.0f);
    paths_.resize(static_cast<std::size_t>(channels_));
    for (GainPath& path : paths_)
        path.Allocate(maxLookAhead + 1 + maxHold, maxLookAhead + 1);
    changed_.store(true, std::memory_order_release);
    Resume();
}

void HardLimit::Resume()
{
    std::fill(delay_.begin(), delay_.end(), 0.0f);
    std::fill(previousInterpolated_.begin(), previousInterpolated_.end(), 0.0f);
    std::fill(history_.begin(), history_.end(), 0.0f);
    historyPosition_ = 0;
    now_ = 0;
    changed_.store(false, std::memory_order_relaxed);
    TakeSettings();
    for (GainPath& path : paths_)
        path.Reset(geometry_);
}

float HardLimit::ClampToBounds(int index, float value) const
{
    float lo = 0.0f, hi = 0.0f;
    GetBounds(index, lo, hi);
    value = std::clamp(value, lo, hi);
    if (index == kMaximumAmplitude || index == kInputBoost)
        value = std::round(value * kDecibelGrid) / kDecibelGrid + 0.0f; // + 0 turns -0 into 0
    return value;
}

void HardLimit::SetParameter(int index, float value)
{
    if (std::isnan(value))
        return;
    switch (index) {
    case kMaximumAmplitude: ceilingDb_.store(ClampToBounds(index, value), std::memory_order_relaxed); break;
    case kInputBoost: boostDb_.store(ClampToBounds(index, value), std::memory_order_relaxed); break;
    case kLookAheadTime: lookAheadMs_.store(ClampToBounds(index, value), std::memory_order_relaxed); break;
    case kReleaseTime: releaseMs_.store(ClampToBounds(index, value), std::memory_order_relaxed); break;
    case kLinkChannels: linked_.store(value >= 0.5f, std::memory_order_relaxed); break;
    case kTruePeak: truePeak_.store(value >= 0.5f, std::memory_order_relaxed); break;
    default: return;
    }
    changed_.store(true, std::memory_order_release);
}

float HardLimit::GetParameter(int index) const
{
    switch (index) {
    case kMaximumAmplitude: return ceilingDb_.load(std::memory_order_relaxed);
    case kInputBoost: return boostDb_.load(std::memory_order_relaxed);
    case kLookAheadTime: return lookAheadMs_.load(std::memory_order_relaxed);
    case kReleaseTime: return releaseMs_.load(std::memory_order_relaxed);
    case kLinkChannels: return linked_.load(std::memory_order_relaxed) ? 1.0f : 0.0f;
    case kTruePeak: return truePeak_.load(std::memory_order_relaxed) ? 1.0f : 0.0f;
    default: return 0.0f;
    }
}

void HardLimit::GetBounds(int index, float& lo, float& hi) const
{
    switch (index) {
    case kMaximumAmplitude: lo = kMinCeilingDb, hi = kMaxCeilingDb; break;
    case kInputBoost: lo = kMinBoostDb, hi = kMaxBoostDb; break;
    case kLookAheadTime: lo = 0.0f, hi = kMaxLookAheadMs; break;
    case kReleaseTime: lo = 0.0f, hi = kMaxReleaseMs; break;
    default: lo = 0.0f, hi = 1.0f; break;
    }
}

int HardLimit::LookAheadFrames(float milliseconds) const { return MillisecondsToFrames(milliseconds, rate_); }

int HardLimit::GetLatency() const { return LookAheadFrames(lookAheadMs_.load(std::memory_order_relaxed)); }

void HardLimit::TakeSettings()
{
    ceiling_ = DecibelsToGain(ceilingDb_.load(std::memory_order_relaxed));
    boost_ = DecibelsToGain(boostDb_.load(std::memory_order_relaxed));
    const float releaseMs = releaseMs_.load(std::memory_order_relaxed);
    const double releaseFrames = static_cast<double>(releaseMs) * rate_ / 1000.0;
    releaseCoefficient_ = releaseFrames < 1.0 ? 1.0f : static_cast<float>(1.0 - std::exp(-1.0 / releaseFrames));

    const int lookAhead = LookAheadFrames(lookAheadMs_.load(std::memory_order_relaxed));
    const bool linked = linked_.load(std::memory_order_relaxed);
    const bool truePeak = truePeak_.load(std::memory_order_relaxed) && lookAhead >= kHalfTaps;
    const bool restart = lookAhead != geometry_.lookAhead || linked != linkedNow_ || truePeak != truePeakNow_;
    geometry_.lookAhead = lookAhead;
    geometry_.detectorDelay = truePeak ? kHalfTaps : 0;
    // The gain path gets what is left of the look-ahead after the detector.
    const int ahead = lookAhead - geometry_.detectorDelay;
    const int hold = MillisecondsToFrames(std::min(releaseMs, kMaxHoldMs), rate_);
    geometry_.window = static_cast<std::uint32_t>(ahead + 1 + hold);
    geometry_.box1 = (ahead + 3) / 2;
    geometry_.box2 = ahead + 2 - geometry_.box1;
    geometry_.inverse1 = 1.0 / geometry_.box1;
    geometry_.inverse2 = 1.0 / geometry_.box2;
    linkedNow_ = linked;
    truePeakNow_ = truePeak;
    if (restart) {
        // The detector's history starts empty, like the gain path.
        std::fill(previousInterpolated_.begin(), previousInterpolated_.end(), 0.0f);
        std::fill(history_.begin(), history_.end(), 0.0f);
        for (GainPath& path : paths_)
            path.Reset(geometry_);
    }
}

float HardLimit::InterpolatedPeak(std::size_t channel) const
{
    // Eight partial sums per point, so the compiler can run them side by side.
    constexpr std::size_t kLanes = 8;
    static_assert(kTruePeakTaps % kLanes == 0);
    const float* samples = history_.data() + channel * 2 * kTruePeakTaps + historyPosition_;
    float peak = 0.0f;
    for (const auto& weights : kInterpolation) {
        float lanes[kLanes] = {};
        for (std::size_t tap = 0; tap < kTruePeakTaps; tap += kLanes)
            for (std::size_t lane = 0; lane < kLanes; ++lane)
                lanes[lane] += weights[tap + lane] * samples[tap + lane];
        float sum = 0.0f;
        for (float lane : lanes)
            sum += lane;
        peak = std::max(peak, std::abs(sum));
    }
    return peak;
}

void HardLimit::ProcessOneSample(const float* in, float* out)
{
    if (changed_.load(std::memory_order_relaxed) && changed_.exchange(false, std::memory_order_acquire))
        TakeSettings();

    const auto channels = static_cast<std::size_t>(channels_);
    float* newest = delay_.data() + static_cast<std::size_t>(now_ & delayMask_) * channels;
    const float* oldest =
        delay_.data() + static_cast<std::size_t>((now_ - static_cast<std::uint32_t>(geometry_.lookAhead)) & delayMask_) *
                            channels;
    const float ceiling = ceiling_;
    const auto neededGain = [ceiling](float peak) { return peak <= ceiling ? 1.0f : ceiling / peak; };

    // The peak of each channel at the detector: the newest sample, or with
    // true peak the sample kHalfTaps back and the wave on either side of it.
    float peaks[kMaxChannels];
    float loudest = 0.0f;
    for (std::size_t channel = 0; channel < channels; ++channel) {
        float sample = in[channel] * boost_;
        if (!(std::abs(sample) <= FLT_MAX)) // NaN or infinity: silence, so nothing downstream is poisoned
            sample = 0.0f;
        newest[channel] = sample;
        peaks[channel] = std::abs(sample);
        loudest = std::max(loudest, peaks[channel]);
    }
    if (truePeakNow_) {
        for (std::size_t channel = 0; channel < channels; ++channel) {
            float* history = history_.data() + channel * 2 * kTruePeakTaps + historyPosition_;
            history[0] = history[kTruePeakTaps] = newest[channel];
        }
        if (++historyPosition_ == kTruePeakTaps)
            historyPosition_ = 0;
        const float* detected =
            delay_.data() + static_cast<std::size_t>((now_ - static_cast<std::uint32_t>(kHalfTaps)) & delayMask_) *
                                channels;
        loudest = 0.0f;
        for (std::size_t channel = 0; channel < channels; ++channel) {
            const float between = InterpolatedPeak(channel);
            peaks[channel] = std::max({std::abs(detected[channel]), between, previousInterpolated_[channel]});
            previousInterpolated_[channel] = between;
            loudest = std::max(loudest, peaks[channel]);
        }
    }

    if (linkedNow_) {
        const float gain = paths_[0].Next(neededGain(loudest), now_, geometry_, releaseCoefficient_);
        for (std::size_t channel = 0; channel < channels; ++channel)
            out[channel] = std::clamp(oldest[channel] * gain, -ceiling, ceiling);
    } else {
        for (std::size_t channel = 0; channel < channels; ++channel) {
            const float gain = paths_[channel].Next(neededGain(peaks[channel]), now_, geometry_, releaseCoefficient_);
            out[channel] = std::clamp(oldest[channel] * gain, -ceiling, ceiling);
        }
    }
    ++now_;
}

void HardLimit::Process(float** in, float** out, int frames)
{
    float inFrame[kMaxChannels];
    float outFrame[kMaxChannels];
    const auto channels = static_cast<std::size_t>(channels_);
    for (int frame = 0; frame < frames; ++frame) {
        for (std::size_t channel = 0; channel < channels; ++channel)
            inFrame[channel] = in[channel][frame];
        ProcessOneSample(inFrame, outFrame);
        for (std::size_t channel = 0; channel < channels; ++channel)
            out[channel][frame] = outFrame[channel];
    }
}

void HardLimit::GainPath::Allocate(int maxWindow, int maxBox)
{
    const std::uint32_t capacity = std::bit_ceil(static_cast<std::uint32_t>(maxWindow + 1));
    wedge_.assign(capacity, Entry{1.0f, 0});
    wedgeMask_ = capacity - 1;
    ring1_.assign(static_cast<std::size_t>(maxBox), 1.0f);
    ring2_.assign(static_cast<std::size_t>(maxBox), 1.0f);
}

void HardLimit::GainPath::Reset(const Geometry& geometry)
{
    head_ = tail_ = 0;
    released_ = 1.0f;
    FillUnity(geometry);
}

void HardLimit::GainPath::FillUnity(const Geometry& geometry)
{
    std::fill(ring1_.begin(), ring1_.begin() + geometry.box1, 1.0f);
    std::fill(ring2_.begin(), ring2_.begin() + geometry.box2, 1.0f);
    sum1_ = geometry.box1;
    sum2_ = geometry.box2;
    position1_ = position2_ = 0;
    unityRun_ = 0;
    idle_ = true;
}

float HardLimit::GainPath::Next(float needed, std::uint32_t now, const Geometry& geometry, float releaseCoefficient)
{
    if (idle_ && needed == 1.0f && tail_ != head_) {
        // Every stage holds 1 and the wedge is the single entry 1: renew it.
        wedge_[head_ & wedgeMask_].time = now;
        return 1.0f;
    }

    // Stage 1: sliding minimum over the window, as a monotone wedge.
    while (tail_ != head_ && wedge_[(tail_ - 1) & wedgeMask_].value >= needed)
        --tail_;
    wedge_[tail_ & wedgeMask_] = {needed, now};
    ++tail_;
    while (now - wedge_[head_ & wedgeMask_].time >= geometry.window)
        ++head_;
    const float held = wedge_[head_ & wedgeMask_].value;

    // Stage 2: release.
    if (held <= released_)
        released_ = held;
    else
        released_ = std::min(held, released_ + releaseCoefficient * (held * kReleaseOvershoot - released_));

    if (released_ == 1.0f) {
        if (idle_)
            return 1.0f;
        if (++unityRun_ >= geometry.box1 + geometry.box2) {
            FillUnity(geometry); // both averages hold only ones by now: make them exact
            return 1.0f;
        }
    } else {
        unityRun_ = 0;
        idle_ = false;
    }

    // Stage 3: two moving averages.
    sum1_ += static_cast<double>(released_) - ring1_[static_cast<std::size_t>(position1_)];
    ring1_[static_cast<std::size_t>(position1_)] = released_;
    if (++position1_ == geometry.box1)
        position1_ = 0;
    const auto smoothed = static_cast<float>(sum1_ * geometry.inverse1);
    sum2_ += static_cast<double>(smoothed) - ring2_[static_cast<std::size_t>(position2_)];
    ring2_[static_cast<std::size_t>(position2_)] = smoothed;
    if (++position2_ == geometry.box2)
        position2_ = 0;
    return static_cast<float>(sum2_ * geometry.inverse2);
}

} // namespace zoc::dsp

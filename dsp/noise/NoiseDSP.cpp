// The noise synthesiser: coloured streams rendered a chunk at a time, routed
// to the channels by the style, then levelled, offset and faded.

#include "dsp/noise/NoiseDSP.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace zoc::dsp::noise {
namespace {

struct Bounds {
    float lo;
    float hi;
};

constexpr std::array<Bounds, NoiseDSP::kParameterCount> kBounds{{
    {0.0f, 3.0f},       // Color
    {0.0f, 3.0f},       // Style
    {0.0f, 38.0f},      // Intensity
    {0.0f, 1.0f},       // Distance, ms
    {0.0f, 1.0f},       // DC Offset
    {0.0f, 3600000.0f}, // Duration, ms
    {0.0f, 1.0f},       // Preview mode
    {0.0f, 1.0f},       // Operation mode
}};

constexpr double kFadeSeconds = 0.010;
constexpr double kSettleSeconds = 0.25;
constexpr std::uint64_t kSeed = 0x5EED'0F'C01005ull;

float Sanitize(float sample) { return std::isfinite(sample) ? sample : 0.0f; }

} // namespace

NoiseDSP::NoiseDSP()
{
    // Brown spatial stereo, 0.5 ms apart, at -21 dBFS RMS.
    settings_[kIntensity] = 35.0f;
    settings_[kDistance] = 0.5f;
    settings_[kDCOffset] = 0.5f;
    SetChannels(channels_);
}

void NoiseDSP::SetSampleRate(int rate) { rate_ = std::clamp(rate, 1000, 768000); }

void NoiseDSP::SetChannels(int channels) { channels_ = std::clamp(channels, 1, kMaxChannels); }

void NoiseDSP::SetParameter(int index, float value)
{
    if (index < 0 || index >= kParameterCount || std::isnan(value))
        return;
    const Bounds bounds = kBounds[static_cast<std::size_t>(index)];
    settings_[static_cast<std::size_t>(index)] = std::clamp(value, bounds.lo, bounds.hi);
}

float NoiseDSP::GetParameter(int index) const
{
    if (index < 0 || index >= kParameterCount)
        return 0.0f;
    return settings_[static_cast<std::size_t>(index)];
}

void NoiseDSP::GetBounds(int index, float& lo, float& hi) const
{
    if (index < 0 || index >= kParameterCount) {
        lo = 0.0f;
        hi = 1.0f;
        return;
    }
    lo = kBounds[static_cast<std::size_t>(index)].lo;
    hi = kBounds[static_cast<std::size_t>(index)].hi;
}

void NoiseDSP::SetDuration(long long frames) { duration_ = std::max(frames, 0ll); }

long long NoiseDSP::GetProcessedDuration() const
{
    const double milliseconds = settings_[kDuration];
    if (milliseconds > 0.0)
        return std::max(1ll, std::llround(milliseconds * 0.001 * rate_));
    return duration_;
}

void NoiseDSP::Prepare()
{
    const auto step = [this](int index) {
        return static_cast<int>(std::lround(settings_[static_cast<std::size_t>(index)]));
    };
    color_ = step(kColor);
    style_ = step(kStyle);
    add_ = settings_[kOperationMode] >= 0.5f;
    offset_ = 2.0f * (settings_[kDCOffset] - 0.5f);
    level_ = static_cast<float>(std::pow(10.0, RmsDbfs(settings_[kIntensity]) / 20.0) * (1.0 - std::abs(offset_)));

    // A delay of D frames is D - d whole frames and an allpass of d in
    // 0.5..1.5, where the first-order Thiran allpass is accurate and stable.
    const double delay = settings_[kDistance] * 0.001 * rate_;
    fractional_ = delay > 1e-6;
    delayFrames_ = 0;
    double fraction = delay;
    if (delay >= 0.5) {
        delayFrames_ = static_cast<int>(std::floor(delay - 0.5));
        fraction = delay - delayFrames_;
    }
    allpass_ = fractional_ ? static_cast<float>((1.0 - fraction) / (1.0 + fraction)) : 0.0f;
    history_ = static_cast<int>(std::ceil(kBounds[kDistance].hi * 0.001 * rate_)) + 2;

    runDuration_ = GetProcessedDuration();
    fadeFrames_ = std::min(std::llround(kFadeSeconds * rate_), runDuration_ / 2);

    const bool paired = style_ != kIndependent && style_ != kMono;
    const int streams = style_ == kMono ? 1 : paired ? (channels_ + 1) / 2 : channels_;
    if (color_ == kGrey)
        greyDesign_.Design(rate_);
    streams_.resize(static_cast<std::size_t>(streams));
    for (std::size_t k = 0; k < streams_.size(); ++k) {
        Stream& stream = streams_[k];
        stream.random.Seed(kSeed + k);
        stream.pink.Design(rate_);
        stream.pink.Reset();
        stream.brown.Design(rate_);
        stream.brown.Reset();
        if (color_ == kGrey)
            stream.grey.Prepare(greyDesign_);
        stream.line.assign(static_cast<std::size_t>(history_ + kChunk), 0.0f);
        stream.allpassOut = 0.0f;
    }
    noise_.assign(static_cast<std::size_t>(channels_) * kChunk, 0.0f);
}

void NoiseDSP::Resume()
{
    Prepare();
    // Settle the filters (and fill the delay history) before the first sample.
    for (long long settle = std::llround(kSettleSeconds * rate_); settle > 0; settle -= kChunk)
        Render(static_cast<int>(std::min<long long>(settle, kChunk)));
    position_ = 0;
}

void NoiseDSP::Render(int frames)
{
    for (Stream& stream : streams_) {
        float* out = stream.line.data() + history_;
        switch (color_) {
        case kBrown:
            for (int n = 0; n < frames; ++n)
                out[n] = stream.brown.Process(stream.random.White());
            break;
        case kPink:
            for (int n = 0; n < frames; ++n)
                out[n] = stream.pink.Process(stream.random.White());
            break;
        case kGrey:
            stream.grey.Generate(greyDesign_, stream.random, out, frames);
            break;
        default:
            for (int n = 0; n < frames; ++n)
                out[n] = stream.random.White();
            break;
        }
    }
    for (int channel = 0; channel < channels_; ++channel) {
        float* noise = noise_.data() + static_cast<std::size_t>(channel) * kChunk;
        const bool second = channel % 2 == 1;
        const std::size_t source = style_ == kMono ? 0
                                   : style_ == kIndependent
                                       ? static_cast<std::size_t>(channel)
                                       : static_cast<std::size_t>(channel / 2);
        Stream& stream = streams_[source];
        const float* in = stream.line.data() + history_;
        if (second && style_ == kInverse) {
            for (int n = 0; n < frames; ++n)
                noise[n] = -in[n];
        } else if (second && style_ == kSpatialStereo && fractional_) {
            // y[n] = a x[n] + x[n-1] - a y[n-1], x delayed by the whole frames.
            const float* x = in - delayFrames_;
            float y = stream.allpassOut;
            for (int n = 0; n < frames; ++n) {
                y = allpass_ * x[n] + x[n - 1] - allpass_ * y;
                noise[n] = y;
            }
            stream.allpassOut = y;
        } else {
            std::copy_n(in, frames, noise);
        }
    }
    for (Stream& stream : streams_)
        std::memmove(stream.line.data(), stream.line.data() + frames,
                     static_cast<std::size_t>(history_) * sizeof(float));
}

float NoiseDSP::FadeAt(long long position) const
{
    const long long fromEdge = std::min(position, runDuration_ - 1 - position);
    if (fromEdge >= fadeFrames_)
        return 1.0f;
    const double t = (static_cast<double>(fromEdge) + 0.5) / static_cast<double>(fadeFrames_);
    return static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * t));
}

void NoiseDSP::Process(float** inputs, float** outputs, int frames)
{
    if (outputs == nullptr || frames <= 0)
        return;
    for (int offset = 0; offset < frames;) {
        const int n = std::min(kChunk, frames - offset);
        const int active = static_cast<int>(std::clamp<long long>(runDuration_ - position_, 0, n));
        if (active > 0)
            Render(active);
        const bool fading = position_ < fadeFrames_ || position_ + active > runDuration_ - fadeFrames_;
        for (int channel = 0; channel < channels_; ++channel) {
            const float* in = inputs != nullptr && inputs[channel] != nullptr ? inputs[channel] + offset : nullptr;
            float* out = outputs[channel] + offset;
            const float* noise = noise_.data() + static_cast<std::size_t>(channel) * kChunk;
            for (int i = 0; i < n; ++i) {
                const float dry = add_ && in != nullptr ? Sanitize(in[i]) : 0.0f;
                if (i >= active) {
                    out[i] = dry;
                    continue;
                }
                float wet = offset_ + level_ * noise[i];
                if (fading)
                    wet *= FadeAt(position_ + i);
                out[i] = add_ ? dry + wet : std::clamp(wet, -1.0f, 1.0f);
            }
        }
        position_ += active;
        offset += n;
    }
}

} // namespace zoc::dsp::noise

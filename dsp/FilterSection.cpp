// Gliding cookbook equalizer section.

#include "dsp/FilterSection.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "dsp/CookbookBiquad.h"

namespace zoc::dsp {

namespace {

constexpr double kLowestFrequency = 1.0;
constexpr double kHighestFrequencyFraction = 0.49;
constexpr double kSmallestShape = 0.01;

} // namespace

void FilterSection::Setup(float rate, float frequency, float gainDb, float shape, float, float)
{
    if (!(rate > 0.0f) || !std::isfinite(rate) || !std::isfinite(frequency) || !std::isfinite(gainDb) ||
        !std::isfinite(shape))
        return;
    const double hertz = std::clamp(static_cast<double>(frequency), kLowestFrequency, kHighestFrequencyFraction * rate);
    const double w0 = 2.0 * std::numbers::pi * hertz / rate;
    const double q = std::max(static_cast<double>(shape), kSmallestShape);
    const double alpha = std::sin(w0) / (2.0 * q);
    BiquadCoefficients design;
    switch (type_) {
    case fLOSHELVE:
        design = ShelvingBiquad(false, w0, gainDb, q);
        break;
    case fHISHELVE:
        design = ShelvingBiquad(true, w0, gainDb, q);
        break;
    case fPARA:
        design = PeakingBiquad(w0, gainDb, alpha);
        break;
    case fNotch:
        design = NotchBiquad(w0, alpha);
        break;
    }
    target_ = {design.b0, design.b1, design.b2, design.a1, design.a2};

    const double frames = std::round(static_cast<double>(smoothingSeconds_) * rate);
    if (!(frames >= 1.0)) {
        current_ = target_;
        glideLeft_ = 0;
        return;
    }
    glideLeft_ = static_cast<int>(std::min(frames, 1e9));
    const double share = 1.0 / glideLeft_;
    step_ = {(target_.b0 - current_.b0) * share, (target_.b1 - current_.b1) * share,
             (target_.b2 - current_.b2) * share, (target_.a1 - current_.a1) * share,
             (target_.a2 - current_.a2) * share};
}

void FilterSection::setSmoothingTime(float seconds)
{
    smoothingSeconds_ = std::isfinite(seconds) ? std::max(0.0f, seconds) : 0.0f;
}

void FilterSection::ClearCoefficients()
{
    current_ = {};
    target_ = {};
    glideLeft_ = 0;
}

void FilterSection::CopyCoefficients(const FilterSection& other)
{
    current_ = other.current_;
    target_ = other.target_;
    step_ = other.step_;
    glideLeft_ = other.glideLeft_;
}

void FilterSection::Reset()
{
    s1_ = 0.0;
    s2_ = 0.0;
}

float FilterSection::processOneSample(float input)
{
    if (glideLeft_ > 0) {
        if (--glideLeft_ == 0) {
            current_ = target_; // lands exactly, whatever the rounding on the way
        } else {
            current_.b0 += step_.b0;
            current_.b1 += step_.b1;
            current_.b2 += step_.b2;
            current_.a1 += step_.a1;
            current_.a2 += step_.a2;
        }
    }
    const double x = input;
    const double y = current_.b0 * x + s1_;
    s1_ = current_.b1 * x - current_.a1 * y + s2_;
    s2_ = current_.b2 * x - current_.a2 * y;
    return static_cast<float>(y);
}

} // namespace zoc::dsp

// The windowed-sinc table behind fractional delay reads.

#include "dsp/SincInterpolator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zoc::dsp {

namespace {

/// The sinc's argument grows by π × kSincScale / 15 per frame, which puts its
/// zeros 15 × 2.16 / 31 ≈ 1.045 frames apart.
constexpr double kSincScale = 31.0 / 2.16;
/// Raised-cosine window over 30 frames, never quite zero at its ends.
constexpr double kWindowBase = 0.5001;
constexpr double kWindowSwing = 0.4999;
/// Overall scale of the kernel.
constexpr double kGain = 1.0 / 1.08;

/// The kernel at `d` frames from tap 0 (its centre is at d = 15).
double Kernel(double d)
{
    const double x = (d - 15.0) / 15.0 * std::numbers::pi * kSincScale;
    const double sinc = x == 0.0 ? 1.0 : std::sin(x) / x;
    const double window = kWindowBase - kWindowSwing * std::cos((30.0 - d) / 15.0 * std::numbers::pi);
    return sinc * window * kGain;
}

} // namespace

SincInterpolator::SincInterpolator(int phases)
    : phases_(std::max(1, phases)), table_(static_cast<std::size_t>(phases_) * kTaps)
{
    for (int phase = 0; phase < phases_; ++phase) {
        float* row = table_.data() + static_cast<std::size_t>(phase) * kTaps;
        for (int tap = 0; tap < kTaps; ++tap)
            row[tap] = static_cast<float>(Kernel(tap - static_cast<double>(phase) / phases_));
    }
}

} // namespace zoc::dsp

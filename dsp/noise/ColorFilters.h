#pragma once
// Filters that colour unit-variance white noise, each scaled so its output
// keeps unit variance (RMS 1) at any sample rate.
//
// PinkFilter: -3.01 dB per octave (power density 1/f) from 5 Hz up. Designed
// as a cascade of first-order pole-zero sections, one pair per two octaves
// with the zero an octave above each pole: each pair takes 6.02 dB off over
// its two octaves, so the slope is exact on average and ripples by under
// 0.03 dB between the pairs (closer pairs would cost more and gain nothing
// measurable). Near the Nyquist frequency the slope eases: at 48 kHz the
// density at 10 kHz lies 0.3 dB above the ideal line. Poles and zeros sit at their analog frequencies (matched
// z-transform), so the design holds at every rate, 8 kHz to 384 kHz. Below
// 5 Hz the density levels off (no infrasonic build-up). It runs as the
// equivalent parallel bank of one-pole filters (partial fractions; the
// interlaced poles and zeros make every branch's weight positive, so the sum
// is well conditioned): the branches are independent of each other, which
// lets them run side by side instead of one after another.
//
// BrownFilter: -6.02 dB per octave (1/f^2), a leaky integrator whose leak at
// 5 Hz keeps the signal from wandering off: over a minute its mean stays
// within a few percent of its RMS.

#include <array>

namespace zoc::dsp::noise {

class PinkFilter {
public:
    static constexpr double kLowestPole = 5.0;

    void Design(int rate);
    void Reset() { state_.fill(0.0); }

    float Process(float x)
    {
        const double in = x;
        const auto branches = static_cast<std::size_t>(branches_);
        for (std::size_t k = 0; k < branches; ++k)
            state_[k] = pole_[k] * state_[k] + weight_[k] * in;
        double sum = direct_ * in;
        for (std::size_t k = 0; k < branches; ++k)
            sum += state_[k];
        return static_cast<float>(sum);
    }

    /// Magnitude of the response at `hertz` (analysis and tests).
    double Magnitude(double hertz) const;

private:
    static constexpr int kMaxBranches = 16;

    std::array<double, kMaxBranches> pole_{};
    std::array<double, kMaxBranches> weight_{};
    std::array<double, kMaxBranches> state_{};
    double direct_ = 0.0;
    int branches_ = 0;
    int rate_ = 0;
};

class BrownFilter {
public:
    static constexpr double kLeak = 5.0;

    void Design(int rate);
    void Reset() { state_ = 0.0; }

    float Process(float x)
    {
        state_ = state_ * pole_ + static_cast<double>(x) * gain_;
        return static_cast<float>(state_);
    }

    double Magnitude(double hertz) const;

private:
    int rate_ = 0;
    double pole_ = 0.0;
    double gain_ = 1.0;
    double state_ = 0.0;
};

} // namespace zoc::dsp::noise

#pragma once
// Filters that colour unit-variance white noise, each scaled so its output
// keeps unit variance (RMS 1) at any sample rate.
//
// PinkFilter: -3.01 dB per octave (power density 1/f) from 5 Hz up. A cascade
// of first-order pole-zero sections, one pair per octave, the zero half an
// octave above each pole: each pair takes 3.01 dB off over its octave, so the
// slope is exact on average and ripples by under 0.05 dB between the pairs.
// Poles and zeros sit at their analog frequencies (matched z-transform), so
// the design holds at every rate, 8 kHz to 384 kHz. Below 5 Hz the density
// levels off (no infrasonic build-up).
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
    void Reset();

    float Process(float x)
    {
        double y = static_cast<double>(x) * gain_;
        for (int k = 0; k < sections_; ++k) {
            Section& s = section_[static_cast<std::size_t>(k)];
            // The terms of the past first, so the chain from section to
            // section is a single addition.
            const double out = y + (s.pole * s.out - s.zero * s.in);
            s.in = y;
            s.out = out;
            y = out;
        }
        return static_cast<float>(y);
    }

    /// Magnitude of the response at `hertz` (analysis and tests).
    double Magnitude(double hertz) const;

private:
    struct Section {
        double pole = 0.0;
        double zero = 0.0;
        double in = 0.0;
        double out = 0.0;
    };
    static constexpr int kMaxSections = 20;

    std::array<Section, kMaxSections> section_{};
    int sections_ = 0;
    int rate_ = 0;
    double gain_ = 1.0;
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

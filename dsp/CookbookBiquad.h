#pragma once
// Second-order equalizer sections from the bilinear transform with
// pre-warping (the "audio EQ cookbook" forms): peaking band, low and high
// shelves and a notch. Designs are in double precision; callers choose how
// to run them (Parametric as state-variable sections, FilterSection in
// direct form).

namespace zoc::dsp {

/// H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2).
struct BiquadCoefficients {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
};

/// Biquad from unnormalized coefficients (a0 divides everything).
BiquadCoefficients NormalizedBiquad(double b0, double b1, double b2, double a0, double a1, double a2);

/// Peaking band at w0 (radians per sample): gain exactly `decibels` at w0,
/// unity far away; alpha = sin(w0) / (2 Q) sets the width.
BiquadCoefficients PeakingBiquad(double w0, double decibels, double alpha);

/// Second-order shelf: everything below (low) or above (high) w0 moves by
/// `decibels`, half of it in dB at w0. `slope` 1 is the steepest shelf
/// without overshoot; larger slopes overshoot, smaller ones are gentler.
BiquadCoefficients ShelvingBiquad(bool high, double w0, double decibels, double slope = 1.0);

/// First-order shelf (6 dB/octave transition), (s + wc sqrt(G)) / (s + wc / sqrt(G))
/// and its mirror, with half the gain in dB at w0.
BiquadCoefficients FirstOrderShelf(bool high, double w0, double decibels);

/// Notch at w0: zero gain there, unity far away; alpha as for the peak.
BiquadCoefficients NotchBiquad(double w0, double alpha);

} // namespace zoc::dsp

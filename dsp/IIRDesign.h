#pragma once
// Recursive filter design and the section cascade that runs it.
//
// A design starts from an analog low-pass prototype with its cutoff at
// 1 rad/s, split into first- and second-order sections. Each section is moved
// to the wanted response by a frequency transformation (low-pass, high-pass,
// band-pass, band-stop) with pre-warped edges, then to the z-plane by the
// bilinear transform. Low- and high-pass sections come out second order,
// band-pass and band-stop sections fourth order. Everything is double
// precision and stored in fixed arrays, so running a design never allocates.

#include <array>
#include <cstdint>

namespace zoc::dsp {

/// The four responses. Values other than these are taken as low-pass.
enum class FilterType : std::int32_t { LowPass = 1, HighPass = 2, BandPass = 3, BandStop = 4 };

FilterType ToFilterType(std::int32_t value);

/// Highest edge frequency, as a fraction of the sample rate: the pre-warped
/// edge tan(pi f) grows without bound towards 0.5.
inline constexpr double kMaxEdgeFrequency = 0.49;

/// Digital sections in direct form: section s computes
///   y = b[s][0] x + sum_i (b[s][i] x[t-i] - a[s][i-1] y[t-i]),  i = 1..degree.
/// A first-order prototype section leaves its top coefficients at zero.
struct IIRSections {
    static constexpr int kMaxSections = 40;
    static constexpr int kMaxDegree = 4;

    int degree = 2;
    int count = 0;
    std::array<std::array<double, kMaxDegree + 1>, kMaxSections> b{};
    std::array<std::array<double, kMaxDegree>, kMaxSections> a{};
};

/// The prototype order actually designed: at least 1, and cut to
/// 80 / (degree + 1) when (order / 2) * (degree + 1) + 1 reaches 40, which
/// keeps the cascade short enough to stay numerically sound.
int LimitOrder(FilterType type, int order);

/// Butterworth design of the given prototype order. f1 is the cutoff (low-
/// and high-pass) or lower band edge, f2 the upper band edge, both fractions
/// of the sample rate; edges above 0.49 are designed at 0.49.
IIRSections DesignButterworth(FilterType type, double f1, double f2, int order);

/// Chebyshev type I low-pass or high-pass (any other type gives a low-pass)
/// with `rippleDecibels` of equal ripple in the passband, which ends at
/// `cutoff` (fraction of the sample rate). The peaks of the ripple sit at
/// 0 dB. Sharper than a Butterworth of the same order, at the price of the
/// ripple.
IIRSections DesignChebyshev1(FilterType type, int order, double rippleDecibels, double cutoff);

/// Runs a set of sections with its own memory. Direct form I in double
/// precision: the input and output histories make coefficient changes while
/// running (glides) safe.
class SectionCascade {
public:
    /// Takes new coefficients; the history stays, so a running signal carries on.
    void SetSections(const IIRSections& sections) { sections_ = sections; }
    const IIRSections& Sections() const { return sections_; }
    IIRSections& Sections() { return sections_; }

    /// Zeroes the past inputs and outputs of every section.
    void ClearHistory();

    /// One sample through all sections. Real-time safe.
    double ProcessSample(double input);

    /// Filters `count` floats in place, every `stride`-th one (interleaved
    /// channels). Each section runs over a stretch of the block before the
    /// next; stretches are kept in double precision between sections, so the
    /// result matches ProcessSample sample by sample. Real-time safe.
    void ProcessBlock(float* samples, int count, int stride);

private:
    double RunSection(int section, double input);

    /// Double-precision stretch that carries the block between sections.
    static constexpr int kWorkLength = 625;

    IIRSections sections_;
    std::array<std::array<double, IIRSections::kMaxDegree>, IIRSections::kMaxSections> pastInputs_{};
    std::array<std::array<double, IIRSections::kMaxDegree>, IIRSections::kMaxSections> pastOutputs_{};
    std::array<double, kWorkLength> work_{};
};

} // namespace zoc::dsp

// Butterworth and Chebyshev type I design by frequency transformation and
// the bilinear transform, and the direct-form-I section cascade.

#include "dsp/IIRDesign.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zoc::dsp {
namespace {

/// Lowest edge frequency: a zero edge would put the cutoff at DC, where the
/// transformations divide by zero.
constexpr double kMinEdgeFrequency = 1e-6;
/// Narrowest band for band-pass and band-stop, as a fraction of the sample rate.
constexpr double kMinBandwidth = 1e-6;
/// Section budget: the order is cut when (order / 2) * (degree + 1) + 1 reaches this.
constexpr int kCoefficientBudget = 40;
/// Smallest passband ripple of a Chebyshev design; at zero the poles run off to infinity.
constexpr double kMinRippleDecibels = 1e-3;

/// Polynomial in s (analog) or z^-1 (digital), lowest power first.
struct Polynomial {
    std::array<double, IIRSections::kMaxDegree + 1> c{};
    int degree = 0;
};

Polynomial Multiply(const Polynomial& p, const Polynomial& q)
{
    Polynomial r;
    r.degree = p.degree + q.degree;
    for (int i = 0; i <= p.degree; ++i)
        for (int j = 0; j <= q.degree; ++j)
            r.c[i + j] += p.c[i] * q.c[j];
    return r;
}

Polynomial Power(const Polynomial& p, int exponent)
{
    Polynomial r;
    r.c[0] = 1.0;
    for (int i = 0; i < exponent; ++i)
        r = Multiply(r, p);
    return r;
}

/// One analog prototype section: numerator and denominator of the same
/// nominal degree (1 or 2), the numerator padded with zeros.
struct AnalogSection {
    Polynomial numerator;
    Polynomial denominator;
};

/// Pre-warped edges of the wanted response in the analog domain.
struct Edges {
    double w1 = 0.0;        // tan(pi f1): cutoff or lower edge
    double bandwidth = 0.0; // W2 - W1
    double centre = 0.0;    // W1 * W2, the squared centre frequency
};

/// Applies the frequency transformation to a prototype polynomial of
/// nominal degree m. The result is multiplied through by the transformation's
/// denominator to the power m, the same factor for numerator and denominator.
Polynomial Transform(const Polynomial& p, int m, FilterType type, const Edges& edges)
{
    Polynomial r;
    switch (type) {
    case FilterType::LowPass: // s -> s / W1
        r.degree = m;
        for (int i = 0; i <= m; ++i)
            r.c[i] = p.c[i] / std::pow(edges.w1, i);
        return r;
    case FilterType::HighPass: // s -> W1 / s
        r.degree = m;
        for (int i = 0; i <= m; ++i)
            r.c[m - i] = p.c[i] * std::pow(edges.w1, i);
        return r;
    case FilterType::BandPass:   // s -> (s^2 + Q0) / (s Bw)
    case FilterType::BandStop: { // s -> (s Bw) / (s^2 + Q0)
        Polynomial quadratic; // s^2 + Q0
        quadratic.degree = 2;
        quadratic.c[0] = edges.centre;
        quadratic.c[2] = 1.0;
        Polynomial scaled; // s Bw
        scaled.degree = 1;
        scaled.c[1] = edges.bandwidth;
        const bool pass = type == FilterType::BandPass;
        r.degree = 2 * m;
        for (int i = 0; i <= m; ++i) {
            const Polynomial term = pass ? Multiply(Power(quadratic, i), Power(scaled, m - i))
                                         : Multiply(Power(scaled, i), Power(quadratic, m - i));
            for (int j = 0; j <= term.degree; ++j)
                r.c[j] += p.c[i] * term.c[j];
        }
        return r;
    }
    }
    return r;
}

/// Bilinear transform s = (1 - z^-1) / (1 + z^-1) of a polynomial of nominal
/// degree d, multiplied through by (1 + z^-1)^d.
Polynomial Bilinear(const Polynomial& p)
{
    Polynomial minus; // 1 - z^-1
    minus.degree = 1;
    minus.c[0] = 1.0;
    minus.c[1] = -1.0;
    Polynomial plus = minus; // 1 + z^-1
    plus.c[1] = 1.0;
    Polynomial r;
    r.degree = p.degree;
    for (int i = 0; i <= p.degree; ++i) {
        const Polynomial term = Multiply(Power(minus, i), Power(plus, p.degree - i));
        for (int j = 0; j <= term.degree; ++j)
            r.c[j] += p.c[i] * term.c[j];
    }
    return r;
}

/// Transforms each prototype section and stores it normalized to a leading
/// denominator coefficient of 1.
IIRSections Realize(const AnalogSection* prototype, int count, FilterType type, const Edges& edges)
{
    IIRSections sections;
    sections.degree = (type == FilterType::BandPass || type == FilterType::BandStop) ? 4 : 2;
    sections.count = count;
    for (int s = 0; s < count; ++s) {
        const int m = prototype[s].denominator.degree;
        const Polynomial numerator = Bilinear(Transform(prototype[s].numerator, m, type, edges));
        const Polynomial denominator = Bilinear(Transform(prototype[s].denominator, m, type, edges));
        const double scale = 1.0 / denominator.c[0];
        for (int i = 0; i <= numerator.degree; ++i)
            sections.b[s][i] = numerator.c[i] * scale;
        for (int i = 1; i <= denominator.degree; ++i)
            sections.a[s][i - 1] = denominator.c[i] * scale;
    }
    return sections;
}

double ClampEdge(double f) { return std::clamp(f, kMinEdgeFrequency, kMaxEdgeFrequency); }

Edges WarpEdges(FilterType type, double f1, double f2)
{
    f1 = ClampEdge(f1);
    Edges edges;
    if (type == FilterType::BandPass || type == FilterType::BandStop) {
        f2 = ClampEdge(f2);
        if (f2 < f1)
            std::swap(f1, f2);
        if (f2 - f1 < kMinBandwidth) {
            f2 = std::min(f1 + kMinBandwidth, kMaxEdgeFrequency);
            f1 = f2 - kMinBandwidth;
        }
        const double w2 = std::tan(std::numbers::pi * f2);
        edges.w1 = std::tan(std::numbers::pi * f1);
        edges.bandwidth = w2 - edges.w1;
        edges.centre = edges.w1 * w2;
    } else {
        edges.w1 = std::tan(std::numbers::pi * f1);
    }
    return edges;
}

AnalogSection FirstOrder(double pole, double gain)
{
    AnalogSection section; // gain / (s + pole)
    section.numerator.degree = 1;
    section.numerator.c[0] = gain;
    section.denominator.degree = 1;
    section.denominator.c[0] = pole;
    section.denominator.c[1] = 1.0;
    return section;
}

AnalogSection SecondOrder(double damping, double squaredFrequency, double gain)
{
    AnalogSection section; // gain / (s^2 + damping s + squaredFrequency)
    section.numerator.degree = 2;
    section.numerator.c[0] = gain;
    section.denominator.degree = 2;
    section.denominator.c[0] = squaredFrequency;
    section.denominator.c[1] = damping;
    section.denominator.c[2] = 1.0;
    return section;
}

int SectionCount(int order) { return std::max(1, (order + 1) / 2); }

} // namespace

FilterType ToFilterType(std::int32_t value)
{
    return (value >= 1 && value <= 4) ? static_cast<FilterType>(value) : FilterType::LowPass;
}

int LimitOrder(FilterType type, int order)
{
    const int degree = (type == FilterType::BandPass || type == FilterType::BandStop) ? 4 : 2;
    order = std::max(order, 1);
    if ((order / 2) * (degree + 1) + 1 >= kCoefficientBudget)
        order = 2 * kCoefficientBudget / (degree + 1);
    return order;
}

IIRSections DesignButterworth(FilterType type, double f1, double f2, int order)
{
    order = LimitOrder(type, order);
    const int count = SectionCount(order);
    std::array<AnalogSection, IIRSections::kMaxSections> prototype;
    for (int k = 1; k <= count; ++k) {
        // Poles on the unit circle; an odd order has one real pole at -1.
        if (2 * k - 1 == order) {
            prototype[k - 1] = FirstOrder(1.0, 1.0);
        } else {
            const double angle = (2 * k - 1 + order) * std::numbers::pi / (2.0 * order);
            prototype[k - 1] = SecondOrder(-2.0 * std::cos(angle), 1.0, 1.0);
        }
    }
    return Realize(prototype.data(), count, type, WarpEdges(type, f1, f2));
}

IIRSections DesignChebyshev1(FilterType type, int order, double rippleDecibels, double cutoff)
{
    if (type != FilterType::HighPass)
        type = FilterType::LowPass;
    order = LimitOrder(type, order);
    const int count = SectionCount(order);
    const double ripple = std::max(rippleDecibels, kMinRippleDecibels);
    const double epsilon = std::sqrt(std::pow(10.0, ripple / 10.0) - 1.0);
    const double mu = std::asinh(1.0 / epsilon) / order;
    std::array<AnalogSection, IIRSections::kMaxSections> prototype;
    for (int k = 1; k <= count; ++k) {
        // Poles on an ellipse: -sin(x) sinh(mu) +- j cos(x) cosh(mu); each
        // section has unit gain at DC.
        const double x = (2 * k - 1) * std::numbers::pi / (2.0 * order);
        const double real = std::sin(x) * std::sinh(mu);
        if (2 * k - 1 == order) {
            prototype[k - 1] = FirstOrder(real, real);
        } else {
            const double imaginary = std::cos(x) * std::cosh(mu);
            const double squared = real * real + imaginary * imaginary;
            prototype[k - 1] = SecondOrder(2.0 * real, squared, squared);
        }
    }
    // An even order starts its ripple at the bottom: DC sits at -ripple dB.
    if (order % 2 == 0)
        prototype[0].numerator.c[0] /= std::sqrt(1.0 + epsilon * epsilon);
    return Realize(prototype.data(), count, type, WarpEdges(type, cutoff, cutoff));
}

void SectionCascade::ClearHistory()
{
    for (auto& past : pastInputs_)
        past.fill(0.0);
    for (auto& past : pastOutputs_)
        past.fill(0.0);
}

double SectionCascade::RunSection(int section, double input)
{
    const int degree = sections_.degree;
    const auto& b = sections_.b[section];
    const auto& a = sections_.a[section];
    auto& pastIn = pastInputs_[section];
    auto& pastOut = pastOutputs_[section];
    double output = b[0] * input;
    for (int i = 0; i < degree; ++i)
        output += b[i + 1] * pastIn[i] - a[i] * pastOut[i];
    for (int i = degree - 1; i > 0; --i) {
        pastIn[i] = pastIn[i - 1];
        pastOut[i] = pastOut[i - 1];
    }
    pastIn[0] = input;
    pastOut[0] = output;
    return output;
}

double SectionCascade::ProcessSample(double input)
{
    for (int s = 0; s < sections_.count; ++s)
        input = RunSection(s, input);
    return input;
}

void SectionCascade::ProcessBlock(float* samples, int count, int stride)
{
    if (samples == nullptr || count <= 0)
        return;
    stride = std::max(stride, 1);
    for (int start = 0; start < count; start += kWorkLength) {
        const int length = std::min(kWorkLength, count - start);
        float* first = samples + static_cast<std::ptrdiff_t>(start) * stride;
        for (int i = 0; i < length; ++i)
            work_[i] = first[static_cast<std::ptrdiff_t>(i) * stride];
        for (int s = 0; s < sections_.count; ++s)
            for (int i = 0; i < length; ++i)
                work_[i] = RunSection(s, work_[i]);
        for (int i = 0; i < length; ++i)
            first[static_cast<std::ptrdiff_t>(i) * stride] = static_cast<float>(work_[i]);
    }
}

} // namespace zoc::dsp

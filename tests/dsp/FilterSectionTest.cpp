#include "dsp/FilterSection.h"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Measure.h"

namespace zoc::dsp {
namespace {

using test::Db;

constexpr float kRate = 48000.0f;

/// The first `frames` samples of the section's impulse response.
std::vector<double> ImpulseResponse(FilterSection& section, std::size_t frames = 16384)
{
    std::vector<double> h(frames);
    for (std::size_t n = 0; n < frames; ++n)
        h[n] = section.processOneSample(n == 0 ? 1.0f : 0.0f);
    return h;
}

double GainDbAt(FilterSection& section, double hertz)
{
    return Db(test::MagnitudeAt(ImpulseResponse(section), hertz / kRate));
}

TEST(FilterSection, CookbookResponsesMatchTheirAnalyticGains)
{
    struct Case {
        const char* name;
        FilterSectionType type;
        float frequency, gainDb, shape;
        double probeHz;
        double expectedDb; // at the probe
    };
    const Case cases[] = {
        {"peak at its centre", fPARA, 1000, -12, 2, 1000, -12},
        {"peak boost at its centre", fPARA, 3394.6f, 6, 0.7f, 3394.6, 6},
        {"peak a third of an octave above: Q 2", fPARA, 1000, -12, 2, 1250, -6.527},
        {"low shelf deep inside", fLOSHELVE, 500, -15, 1, 20, -15},
        {"low shelf at its corner: half the gain", fLOSHELVE, 500, -15, 1, 500, -7.5},
        {"low shelf far above", fLOSHELVE, 100, 9, 1, 15000, 0},
        {"high shelf deep inside", fHISHELVE, 2000, -24, 1, 22000, -24},
        {"high shelf at its corner", fHISHELVE, 2000, -24, 1, 2000, -12},
        {"high shelf far below", fHISHELVE, 8000, 10, 1, 40, 0},
        {"notch a third of an octave above: Q 2", fNotch, 1000, 0, 2, 1250, -3.474},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FilterSection section(c.type);
        section.Setup(kRate, c.frequency, c.gainDb, c.shape, 0.1f, 0.1f);
        EXPECT_NEAR(GainDbAt(section, c.probeHz), c.expectedDb, 0.05);
    }
    // The notch removes its centre: a sine there dies out.
    FilterSection notch(fNotch);
    notch.Setup(kRate, 1000, 0, 2, 0.1f, 0.1f);
    float peak = 0.0f;
    for (int n = 0; n < 48000; ++n) {
        const float y = notch.processOneSample(std::sin(2.0f * 3.14159265f * 1000.0f * static_cast<float>(n) / kRate));
        if (n > 40000)
            peak = std::max(peak, std::fabs(y));
    }
    EXPECT_LT(peak, 1e-3f);
}

TEST(FilterSection, NewDesignsGlideOverTheSmoothingTimeAndLandExactly)
{
    // Flat, then a -20 dB peak at 1 kHz gliding in over 10 ms (480 frames).
    const auto peak = [](float smoothing) {
        FilterSection section(fPARA);
        section.setSmoothingTime(smoothing);
        section.Setup(kRate, 1000, -20, 1, 0.1f, 0.1f);
        return section;
    };
    FilterSection gliding = peak(0.01f), immediate = peak(0.0f);

    const auto input = [](int n) { return std::sin(2.0f * 3.14159265f * 1000.0f * static_cast<float>(n) / kRate); };
    double earlyDifference = 0.0;
    for (int n = 0; n < 48; ++n) {
        const float x = input(n);
        earlyDifference = std::max(earlyDifference, std::fabs(static_cast<double>(gliding.processOneSample(x)) - x));
        immediate.processOneSample(x);
    }
    // In the first millisecond the section is still nearly flat.
    EXPECT_LT(earlyDifference, 0.1);
    for (int n = 48; n < 480; ++n) {
        gliding.processOneSample(input(n));
        immediate.processOneSample(input(n));
    }
    // Once landed both have the same coefficients; their memories converge.
    double lateDifference = 0.0;
    for (int n = 480; n < 9600; ++n) {
        const double difference = gliding.processOneSample(input(n)) - immediate.processOneSample(input(n));
        if (n > 7200)
            lateDifference = std::max(lateDifference, std::fabs(difference));
    }
    EXPECT_LT(lateDifference, 1e-5);
    // Fed silence, it answers an impulse on the glide's last (480th) frame
    // exactly as the new design does.
    FilterSection silent = peak(0.01f), landed = peak(0.0f);
    for (int n = 0; n < 479; ++n)
        silent.processOneSample(0.0f);
    EXPECT_EQ(ImpulseResponse(silent, 64), ImpulseResponse(landed, 64));
}

TEST(FilterSection, ClearCopyAndBadValues)
{
    FilterSection section(fHISHELVE);
    section.Setup(kRate, 2000, -24, 1, 0.1f, 0.1f);
    // A copy of the coefficients filters like the original.
    FilterSection copy(fHISHELVE);
    copy.CopyCoefficients(section);
    EXPECT_NEAR(GainDbAt(copy, 20000), GainDbAt(section, 20000), 1e-9);

    // Non-finite values and a rate of zero leave the design alone.
    section.Reset();
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        section.Setup(kRate, bad, 6, 1, 0.1f, 0.1f);
        section.Setup(kRate, 1000, bad, 1, 0.1f, 0.1f);
        section.Setup(0.0f, 1000, 6, 1, 0.1f, 0.1f);
    }
    section.Reset();
    EXPECT_NEAR(GainDbAt(section, 20000), -24, 0.1);
    // Frequencies beyond Nyquist and shapes of zero still design a stable section.
    section.Reset();
    section.Setup(kRate, 1e6f, 6, 0, 0.1f, 0.1f);
    for (double value : ImpulseResponse(section))
        ASSERT_TRUE(std::isfinite(value));

    // Cleared coefficients pass the input through, at once.
    section.ClearCoefficients();
    section.Reset();
    for (float x : {0.25f, -1.0f, 0.5f})
        EXPECT_EQ(section.processOneSample(x), x);
}

} // namespace
} // namespace zoc::dsp

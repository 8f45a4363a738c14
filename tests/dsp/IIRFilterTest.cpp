#include "dsp/Butterworth.h"
#include "dsp/IIRDesign.h"
#include "dsp/IIRFilter.h"
#include "tests/support/AllocationGuard.h"
#include "tests/support/Measure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <type_traits>
#include <vector>

using zoc::components::ButterworthFilter;
using zoc::components::IIRFilter;
using zoc::dsp::FilterType;

namespace {

constexpr int kImpulseLength = 16384;

/// Noise exactly representable as float.
std::vector<double> Noise(int n, unsigned seed)
{
    const std::vector<float> noise = zoc::test::Noise(static_cast<std::size_t>(n), seed);
    return {noise.begin(), noise.end()};
}

template <typename Filter> std::vector<double> ImpulseResponse(Filter& filter, int length = kImpulseLength)
{
    std::vector<double> h(static_cast<std::size_t>(length));
    for (int n = 0; n < length; ++n)
        h[n] = filter.ProcessSample(n == 0 ? 1.0 : 0.0);
    return h;
}

double MagnitudeDb(const std::vector<double>& h, double f) { return zoc::test::Db(zoc::test::MagnitudeAt(h, f)); }

/// How far f lies into the stop band of the low-pass prototype, after the
/// pre-warp and the transformation for `type`.
double PrototypeFrequency(FilterType type, double f1, double f2, double f)
{
    const double w = std::tan(std::numbers::pi * f), w1 = std::tan(std::numbers::pi * f1),
                 w2 = std::tan(std::numbers::pi * f2);
    switch (type) {
    case FilterType::LowPass: return w / w1;
    case FilterType::HighPass: return w1 / w;
    case FilterType::BandPass: return std::abs((w * w - w1 * w2) / (w * (w2 - w1)));
    case FilterType::BandStop: return std::abs(w * (w2 - w1) / (w * w - w1 * w2));
    }
    return 0.0;
}

double ButterworthDb(FilterType type, double f1, double f2, int order, double f)
{
    const double x = PrototypeFrequency(type, f1, f2, f);
    return -10.0 * std::log10(1.0 + std::pow(x, 2.0 * order));
}

double ChebyshevDb(FilterType type, double cutoff, int order, double rippleDb, double f)
{
    const double x = PrototypeFrequency(type, cutoff, cutoff, f);
    const double epsilon2 = std::pow(10.0, rippleDb / 10.0) - 1.0;
    const double t = x <= 1.0 ? std::cos(order * std::acos(x)) : std::cosh(order * std::acosh(x));
    return -10.0 * std::log10(1.0 + epsilon2 * t * t);
}

/// Compares with a reference in dB down to -80 dB; below that the filter
/// only has to stay below -75 dB.
template <typename Reference>
void ExpectMatches(const std::vector<double>& h, Reference reference, const char* what)
{
    for (double f = 0.004; f < 0.5; f += 0.0045) {
        const double expected = reference(f), measured = MagnitudeDb(h, f);
        if (expected > -80.0) {
            EXPECT_NEAR(measured, expected, 0.01) << what << " f=" << f;
        } else {
            EXPECT_LT(measured, -75.0) << what << " f=" << f;
        }
    }
}

/// A filter of either class, designed unless `order` is 0.
template <typename Filter = IIRFilter>
std::unique_ptr<Filter> Make(double f1 = 0.0, double f2 = 0.0, int type = 1, int order = 0)
{
    std::unique_ptr<Filter> filter;
    if constexpr (std::is_same_v<Filter, IIRFilter>)
        filter.reset(zoc::components::CreateIIRFilter());
    else
        filter.reset(zoc::components::CreateButterworthFilter());
    if (order > 0)
        filter->Design(f1, f2, type, order);
    return filter;
}

} // namespace

TEST(IIRFilter, AllTypesAndOrdersMatchTheAnalyticButterworthResponse)
{
    const double f1 = 0.1, f2 = 0.2;
    for (int type = 1; type <= 4; ++type) {
        for (int order : {1, 2, 5, 10}) {
            const auto filterType = static_cast<FilterType>(type);
            auto iir = Make(f1, f2, type, order);
            auto plain = Make<ButterworthFilter>(f1, f2, type, order);
            const auto h = ImpulseResponse(*iir);
            EXPECT_EQ(h, ImpulseResponse(*plain)) << "the two classes differ, type " << type;
            const std::string what = "type " + std::to_string(type) + " order " + std::to_string(order);
            ExpectMatches(h, [&](double f) { return ButterworthDb(filterType, f1, f2, order, f); }, what.c_str());
            EXPECT_NEAR(MagnitudeDb(h, f1), -3.0103, 0.005) << what;
            if (type >= 3) {
                EXPECT_NEAR(MagnitudeDb(h, f2), -3.0103, 0.005) << what;
            }
        }
    }
}

TEST(IIRFilter, LongCascadesAreCutTheCutoffIsLimitedAndUnknownTypesAreLowPass)
{
    auto responseOf = [](double f1, double f2, int type, int order) {
        auto filter = Make(f1, f2, type, order);
        return ImpulseResponse(*filter, 4096);
    };
    // Band-pass order 20 needs (20 / 2) * 5 + 1 = 51 coefficients: cut to 16.
    EXPECT_EQ(responseOf(0.1, 0.2, 3, 20), responseOf(0.1, 0.2, 3, 16));
    EXPECT_NE(responseOf(0.1, 0.2, 3, 16), responseOf(0.1, 0.2, 3, 14));
    EXPECT_EQ(responseOf(0.1, 0.2, 4, 20), responseOf(0.1, 0.2, 4, 16));
    // Low-pass: (26 / 2) * 3 + 1 = 40 already reaches the limit, cut to 26.
    EXPECT_EQ(responseOf(0.1, 0.0, 1, 30), responseOf(0.1, 0.0, 1, 26));
    EXPECT_EQ(responseOf(0.1, 0.0, 1, 27), responseOf(0.1, 0.0, 1, 26));
    EXPECT_NE(responseOf(0.1, 0.0, 1, 26), responseOf(0.1, 0.0, 1, 24));

    const auto limited = responseOf(0.49, 0.0, 1, 4);
    EXPECT_EQ(responseOf(0.5, 0.0, 1, 4), limited);
    EXPECT_EQ(responseOf(0.8, 0.0, 1, 4), limited);
    EXPECT_NEAR(MagnitudeDb(limited, 0.49), -3.0103, 0.005);
    EXPECT_EQ(responseOf(0.1, 0.2, 7, 4), responseOf(0.1, 0.2, 1, 4));
}

TEST(IIRFilter, DisabledFilterPassesInputExactly)
{
    const auto noise = Noise(2000, 3);
    std::vector<float> block(noise.begin(), noise.end());
    auto filter = Make(0.05, 0.0, 1, 6);
    filter->Disable();
    filter->ProcessBlock(block.data(), 2000, 1);
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(block[i], static_cast<float>(noise[i]));
        ASSERT_EQ(filter->ProcessSample(noise[i]), noise[i]);
        ASSERT_EQ(filter->ProcessSampleGliding(noise[i]), noise[i]);
    }
    filter->Enable();
    EXPECT_NE(filter->ProcessSample(1.0), 1.0);

    auto undesigned = Make<ButterworthFilter>();
    EXPECT_EQ(undesigned->ProcessSample(0.3), 0.3);
}

TEST(IIRFilter, GlideMovesSteadilyAndLandsExactlyOnTheTarget)
{
    const int glideSamples = 1000;
    const auto noise = Noise(3 * glideSamples, 5);
    auto gliding = Make(0.02, 0.0, 1, 4);
    gliding->DesignTarget(0.2, 0.0, true, glideSamples);
    auto& impl = static_cast<zoc::components::IIRFilter_impl&>(*gliding);
    // Sample n runs on the coefficients n / glideSamples of the way there.
    const auto from = zoc::dsp::DesignButterworth(FilterType::LowPass, 0.02, 0.0, 4);
    const auto to = zoc::dsp::DesignButterworth(FilterType::LowPass, 0.2, 0.0, 4);
    zoc::dsp::SectionCascade reference;
    double peak = 0.0;
    for (int n = 0; n < glideSamples; ++n) {
        EXPECT_TRUE(impl.IsGliding()) << n;
        auto sections = from;
        const double t = static_cast<double>(n) / glideSamples;
        for (int s = 0; s < from.count; ++s) {
            for (int i = 0; i <= from.degree; ++i)
                sections.b[s][i] += t * (to.b[s][i] - from.b[s][i]);
            for (int i = 0; i < from.degree; ++i)
                sections.a[s][i] += t * (to.a[s][i] - from.a[s][i]);
        }
        reference.SetSections(sections);
        const double y = gliding->ProcessSampleGliding(noise[n]);
        ASSERT_NEAR(y, reference.ProcessSample(noise[n]), 1e-6) << n;
        peak = std::max(peak, std::abs(y));
    }
    EXPECT_FALSE(impl.IsGliding());
    EXPECT_LT(peak, 2.0) << "the glide passed through an unstable design";

    // From here on it must be the target design exactly.
    auto target = Make(0.2, 0.0, 1, 4);
    gliding->ClearHistory();
    for (int n = glideSamples; n < 3 * glideSamples; ++n)
        ASSERT_EQ(gliding->ProcessSampleGliding(noise[n]), target->ProcessSample(noise[n])) << n;

    // Without glide, and always in the plain class, the new design applies
    // at once; a new Design clears the history.
    auto jump = Make(0.02, 0.0, 1, 4);
    auto plain = Make<ButterworthFilter>(0.02, 0.0, 1, 4);
    jump->DesignTarget(0.2, 0.0, false, glideSamples);
    plain->DesignTarget(0.2, 0.0, true, glideSamples);
    target->ClearHistory();
    const auto h = ImpulseResponse(*target, 512);
    EXPECT_EQ(ImpulseResponse(*jump, 512), h);
    EXPECT_EQ(ImpulseResponse(*plain, 512), h);
    for (double x : noise)
        plain->ProcessSample(x);
    plain->Design(0.2, 0.0, 1, 4);
    EXPECT_EQ(ImpulseResponse(*plain, 512), h);
}

TEST(IIRFilter, BlocksWithStrideMatchSampleBySampleForAnySplit)
{
    const int frames = 3000; // several work stretches
    const auto left = Noise(frames, 11), right = Noise(frames, 12);
    std::vector<float> interleaved(2 * frames);
    for (int i = 0; i < frames; ++i) {
        interleaved[2 * i] = static_cast<float>(left[i]);
        interleaved[2 * i + 1] = static_cast<float>(right[i]);
    }
    for (int type = 1; type <= 4; ++type) {
        auto reference = Make(0.07, 0.21, type, 5);
        std::vector<float> expected(frames);
        for (int i = 0; i < frames; ++i)
            expected[i] = static_cast<float>(reference->ProcessSample(left[i]));

        for (int split : {frames, 1, 7, 640}) {
            auto iir = Make(0.07, 0.21, type, 5);
            auto plain = Make<ButterworthFilter>(0.07, 0.21, type, 5);
            auto a = interleaved, b = interleaved;
            {
                zoc::test::AllocationGuard guard;
                for (int start = 0; start < frames; start += split) {
                    const int count = std::min(split, frames - start);
                    iir->ProcessBlock(a.data() + 2 * start, count, 2);
                    plain->ProcessBlock(b.data() + 2 * start, count, 2);
                }
            }
            for (int i = 0; i < frames; ++i) {
                ASSERT_EQ(a[2 * i], expected[i]) << "type " << type << " split " << split << " i " << i;
                ASSERT_EQ(b[2 * i], expected[i]) << "type " << type << " split " << split << " i " << i;
                ASSERT_EQ(a[2 * i + 1], interleaved[2 * i + 1]) << "other channel touched";
            }
        }
    }
}

TEST(IIRFilter, ChebyshevMatchesItsAnalyticResponseAndRipple)
{
    const double cutoff = 0.1;
    for (auto type : {FilterType::LowPass, FilterType::HighPass}) {
        for (int order : {3, 4, 7}) {
            for (double ripple : {0.1, 1.0, 3.0}) {
                zoc::dsp::SectionCascade cascade;
                cascade.SetSections(zoc::dsp::DesignChebyshev1(type, order, ripple, cutoff));
                const auto h = ImpulseResponse(cascade);
                const std::string what = "order " + std::to_string(order) + " ripple " + std::to_string(ripple);
                ExpectMatches(h, [&](double f) { return ChebyshevDb(type, cutoff, order, ripple, f); },
                              what.c_str());
                double highest = -1e9, lowest = 1e9;
                for (int i = 0; i <= 400; ++i) {
                    const double f = type == FilterType::LowPass ? cutoff * i / 400.0
                                                                 : cutoff + (0.5 - cutoff) * i / 400.0;
                    const double db = MagnitudeDb(h, f);
                    highest = std::max(highest, db);
                    lowest = std::min(lowest, db);
                }
                EXPECT_NEAR(highest, 0.0, 0.005) << what;
                EXPECT_NEAR(lowest, -ripple, 0.005) << what;
            }
        }
    }
}

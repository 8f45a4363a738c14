#include "dsp/FIRFilter.h"
#include "tests/support/AllocationGuard.h"
#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using zoc::dsp::FIRFilter;
using zoc::test::Noise;

namespace {

/// Gain in dB at f of the filter's measured impulse response.
double GainDb(FIRFilter& filter, double f)
{
    std::vector<float> impulse(static_cast<std::size_t>(filter.GetOrder() + 1), 0.0f);
    impulse[0] = 1.0f;
    filter.Clear();
    filter.Process(impulse.data(), static_cast<int>(impulse.size()));
    return zoc::test::Db(zoc::test::MagnitudeAt(impulse, f));
}

/// `input` through a filter designed with these edges and order, in one piece.
std::vector<float> Whole(std::vector<float> input, double low, double high, int order)
{
    FIRFilter filter;
    filter.GenerateFIRCoeffs(low, high, order);
    filter.Process(input.data(), static_cast<int>(input.size()));
    return input;
}

} // namespace

TEST(FIRFilter, GainsAtDcNyquistAndInTheBand)
{
    FIRFilter lowPass, highPass, bandPass;
    lowPass.GenerateFIRCoeffs(0.0, 0.1, 128);
    highPass.GenerateFIRCoeffs(0.3, 0.5, 128);
    bandPass.GenerateFIRCoeffs(0.1, 0.3, 128);

    EXPECT_NEAR(GainDb(lowPass, 0.0), 0.0, 1e-4);
    EXPECT_NEAR(GainDb(lowPass, 0.05), 0.0, 0.01);
    EXPECT_LT(GainDb(lowPass, 0.5), -70.0);
    EXPECT_LT(GainDb(lowPass, 0.15), -70.0);
    EXPECT_NEAR(GainDb(lowPass, 0.1), -6.02, 0.1) << "the edge is the half-amplitude point";

    EXPECT_NEAR(GainDb(highPass, 0.5), 0.0, 1e-4);
    EXPECT_NEAR(GainDb(highPass, 0.4), 0.0, 0.01);
    EXPECT_LT(GainDb(highPass, 0.0), -70.0);

    EXPECT_NEAR(GainDb(bandPass, 0.2), 0.0, 1e-4);
    EXPECT_LT(GainDb(bandPass, 0.0), -70.0);
    EXPECT_LT(GainDb(bandPass, 0.5), -70.0);

    // An upper edge beyond Nyquist (a band's top above half a low rate) is
    // the high-pass, not a folded band.
    FIRFilter beyond;
    beyond.GenerateFIRCoeffs(0.3, 0.7, 128);
    EXPECT_EQ(beyond.Coefficients(), highPass.Coefficients());
}

TEST(FIRFilter, SymmetricTapsDelayEverythingByHalfTheOrder)
{
    FIRFilter filter;
    filter.GenerateFIRCoeffs(0.0, 0.2, 63); // odd orders round up
    EXPECT_EQ(filter.GetOrder(), 64);
    EXPECT_EQ(filter.GetLatency(), 32);
    const auto& taps = filter.Coefficients();
    ASSERT_EQ(taps.size(), 65u);
    for (std::size_t k = 0; k < taps.size(); ++k)
        EXPECT_EQ(taps[k], taps[taps.size() - 1 - k]) << k;
    // Every tap carries the response: a window that ends on zeros would
    // make the filter two taps shorter than the order asked for.
    EXPECT_GT(std::fabs(taps.front()), 1e-9f); // 5e-6 here; such a window leaves ~1e-18

    // A passband sine comes out as the same sine, GetLatency() samples later.
    const int frames = 1000;
    const std::vector<float> signal = zoc::test::SineSignal(1, frames, 1.0f, 0.03f, 1.0f)[0];
    auto output = signal;
    filter.Process(output.data(), frames);
    for (int n = 200; n < frames; ++n)
        ASSERT_NEAR(output[n], signal[n - filter.GetLatency()], 1e-3) << n;
}

TEST(FIRFilter, AnyBlockSplitGivesTheSameOutput)
{
    const auto input = Noise(4000, 7);
    FIRFilter pieces;
    pieces.GenerateFIRCoeffs(0.05, 0.25, 100);
    auto actual = input;
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> length(0, 150);
    {
        zoc::test::AllocationGuard guard;
        for (int start = 0; start < 4000;) {
            const int count = std::min(length(rng), 4000 - start);
            pieces.Process(actual.data() + start, count);
            start += count;
        }
    }
    EXPECT_EQ(actual, Whole(input, 0.05, 0.25, 100));
}

TEST(FIRFilter, DisabledIsExactAndEnablingResumesWithTrueHistory)
{
    const auto input = Noise(3000, 13);
    const auto reference = Whole(input, 0.0, 0.1, 80);
    FIRFilter switched;
    switched.GenerateFIRCoeffs(0.0, 0.1, 80);

    auto data = input;
    switched.Process(data.data(), 1000);
    switched.Disable();
    switched.Process(data.data() + 1000, 1000);
    switched.Enable();
    switched.Process(data.data() + 2000, 1000);
    for (int n = 1000; n < 2000; ++n)
        ASSERT_EQ(data[n], input[n]) << n;
    for (int n = 2000; n < 3000; ++n)
        ASSERT_EQ(data[n], reference[n]) << n;
}

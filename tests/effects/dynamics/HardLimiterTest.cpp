#include "effects/dynamics/HardLimiter.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include <gtest/gtest.h>

#include "platform/core/String.h"
#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using test::Signal;

struct HardLimiterFixture : ::testing::Test {
    core::Ref<HardLimiter> limiter{new HardLimiter};
    test::TestHost host{limiter};

    std::string Text(int index) { return core::ToUtf8(limiter->GetParameterString(index)); }
};

/// Noise, then drum-like hits (a decaying thump with a click), 0.25 s each,
/// about full scale, then `boostDb` louder.
Signal Program(double boostDb)
{
    constexpr std::size_t kPart = 12000;
    const std::vector<float> noise = test::Noise(2 * kPart, 11);
    const double gain = test::FromDb(boostDb);
    Signal x(2, std::vector<float>(2 * kPart));
    for (std::size_t i = 0; i < kPart; ++i) {
        const double since = std::fmod(static_cast<double>(i) / 48000.0, 0.06);
        const double hit = std::exp(-since * 50.0) * std::sin(2.0 * std::numbers::pi * 70.0 * since) +
                           0.5 * std::exp(-since * 500.0) * noise[i];
        for (std::size_t channel = 0; channel < 2; ++channel) {
            x[channel][i] = static_cast<float>(gain * 0.7 * noise[kPart + (i + channel * 777) % kPart]);
            x[channel][kPart + i] = static_cast<float>(gain * (channel == 0 ? 1.0 : 0.6) * hit);
        }
    }
    return x;
}

TEST_F(HardLimiterFixture, PresetsAndStoredValuesReadAsTheKernelKeepsThem)
{
    host.Configure(2, 48000.0f);
    // A ceiling 0.00001 dB below full scale is kept on the 0.001 dB grid: 0 dB.
    limiter->SetParameter(0, 0.9999999f);
    EXPECT_EQ(limiter->GetParameter(0), 1.0f);
    limiter->SetParameter(3, std::nanf(""));
    EXPECT_EQ(limiter->GetParameter(3), 0.375f);
    struct Preset { int index; const char *ceiling, *boost, *release; int latency; };
    for (const Preset& p : {Preset{0, "-0.10", "0.00", "150.00", 96}, Preset{1, "-1.00", "12.00", "0.00", 0},
                            Preset{5, "-3.00", "2.40", "150.00", 96}, Preset{6, "-6.00", "1.20", "150.00", 96},
                            Preset{8, "-1.00", "20.00", "0.00", 240}}) {
        limiter->SetFactoryPreset(p.index);
        EXPECT_EQ(Text(0), p.ceiling) << p.index;
        EXPECT_EQ(Text(1), p.boost) << p.index;
        EXPECT_EQ(Text(3), p.release) << p.index;
        EXPECT_EQ(limiter->GetInitialDelay(), p.latency) << p.index;
    }
}

TEST_F(HardLimiterFixture, EveryPresetKeepsEverySampleUnderItsCeiling)
{
    host.Configure(2, 48000.0f);
    for (int preset = 0; preset < 9; ++preset)
        for (float link : {1.0f, 0.0f}) {
            limiter->SetFactoryPreset(preset);
            limiter->SetParameter(4, link);
            const double ceilingDb = limiter->GetParameterInfo(0)->FromNormalized(limiter->GetParameter(0));
            const auto ceiling = static_cast<float>(test::FromDb(ceilingDb));
            for (double boost : {0.0, 10.0, 20.0})
                for (const auto& channel : host.Run(Program(boost), 480)) {
                    const float peak = test::TailPeak(channel, channel.size());
                    EXPECT_LE(peak, ceiling) << "preset " << preset << " link " << link << " +" << boost;
                    EXPECT_GT(peak, boost > 0.0 ? 0.9f * ceiling : 0.0f) << "preset " << preset << " +" << boost;
                }
        }
}

TEST_F(HardLimiterFixture, EmptyBlocksAndAnUnchangedRateLeaveTheStreamAlone)
{
    host.Configure(2, 48000.0f);
    const Signal input = Program(6.0);
    const Signal whole = host.Run(input, 1000);

    host.Resume();
    Signal pieces = input;
    host.ProcessBlock(input, pieces, 0, 1000);
    limiter->Process(nullptr, nullptr, 0);
    limiter->SetSampleRate(48000.0f); // would clear the look-ahead line if it reached the kernel
    host.ProcessBlock(input, pieces, 1000, static_cast<int>(input[0].size()) - 1000);
    EXPECT_EQ(test::MaxDifference(whole, pieces), 0.0f);
}

TEST_F(HardLimiterFixture, OddLayoutsStayUnderTheCeilingAndChannelsAreLimitedApart)
{
    EXPECT_FALSE(host.Configure(40, 48000.0f, false)); // refused: runs the first channel
    const Signal refused = host.Run(test::SineSignal(40, 2000, 48000.0f, 100.0f, 3.0f), 512);
    EXPECT_LE(test::TailPeak(refused[0], 1000), test::FromDb(-0.1));
    host.Configure(32, 48000.0f);
    Signal wild = test::SineSignal(32, 2000, 48000.0f, 100.0f, 3.0f);
    wild[0][100] = std::nanf("");
    wild[31][200] = -INFINITY;
    for (const auto& channel : host.Run(wild, 512)) {
        for (float sample : channel)
            ASSERT_TRUE(std::abs(sample) <= 0.99f);
    }

    host.Configure(2, 48000.0f);
    // Each channel is limited on its own input: a silent right stays silent.
    limiter->SetParameterAutomated(4, 0.0f);
    Signal left = test::SineSignal(2, 2000, 48000.0f, 100.0f, 3.0f);
    std::fill(left[1].begin(), left[1].end(), 0.0f);
    const Signal apart = host.Run(left, 512);
    EXPECT_GT(test::TailPeak(apart[0], 1000), 0.5f);
    EXPECT_EQ(test::TailPeak(apart[1], 1000), 0.0f);
}

} // namespace
} // namespace zoc::components

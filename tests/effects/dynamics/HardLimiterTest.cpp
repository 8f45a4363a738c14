#include "effects/dynamics/HardLimiter.h"

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

/// Noise, a sweep and drum-like hits, each 0.25 s, about full scale, then
/// `boostDb` louder.
Signal Program(double boostDb)
{
    constexpr std::size_t kPart = 12000;
    const std::vector<float> noise = test::Noise(3 * kPart, 11);
    Signal x(2, std::vector<float>(3 * kPart));
    const double gain = test::FromDb(boostDb);
    for (std::size_t i = 0; i < kPart; ++i) {
        const double t = static_cast<double>(i) / 48000.0;
        const double sweep = std::sin(2.0 * std::numbers::pi * (50.0 * t + 0.5 * 60000.0 * t * t)); // to 15 kHz
        const double since = std::fmod(t, 0.06);
        const double hit = std::exp(-since * 50.0) * std::sin(2.0 * std::numbers::pi * 70.0 * since) +
                           0.5 * std::exp(-since * 500.0) * noise[2 * kPart + i];
        for (std::size_t channel = 0; channel < 2; ++channel) {
            x[channel][i] = static_cast<float>(gain * 0.7 * noise[i + channel * kPart / 2]);
            x[channel][kPart + i] = static_cast<float>(gain * 0.9 * sweep);
            x[channel][2 * kPart + i] = static_cast<float>(gain * (channel == 0 ? 1.0 : 0.6) * hit);
        }
    }
    return x;
}

TEST_F(HardLimiterFixture, DescribesItsParametersAndPresets)
{
    host.Configure(2, 48000.0f);
    struct Row {
        const char* name;
        const char* unit;
        float lo, hi;
    };
    const Row rows[] = {{"Maximum Amplitude", "dB", -100.0f, 0.0f},
                        {"Input Boost", "dB", -40.0f, 20.0f},
                        {"Look-Ahead Time", "ms", 0.0f, 15.0f},
                        {"Release Time", "ms", 0.0f, 400.0f},
                        {"Link Channels", "", 0.0f, 1.0f}};
    ASSERT_EQ(limiter->GetParameterCount(), 5);
    for (int index = 0; index < 5; ++index) {
        auto info = limiter->GetParameterInfo(index);
        ASSERT_TRUE(info);
        EXPECT_EQ(core::ToUtf8(info->GetName()), rows[index].name);
        EXPECT_EQ(core::ToUtf8(info->GetUnitLabel()), rows[index].unit);
        EXPECT_EQ(info->FromNormalized(0.0f), rows[index].lo);
        EXPECT_EQ(info->FromNormalized(1.0f), rows[index].hi);
        EXPECT_TRUE(info->CanBeAutomated());
    }
    EXPECT_FALSE(limiter->GetParameterInfo(5));
    EXPECT_FALSE(limiter->GetParameterInfo(-1));

    // The presets' stored values read as the settings they are named for.
    struct Preset {
        int index;
        const char* name;
        const char* ceiling;
        const char* boost;
        int latency;
    };
    for (const Preset& p : {Preset{0, "(Default)", "-0.10", "0.00", 96}, Preset{1, "Distorted", "-1.00", "12.00", 0},
                            Preset{4, "Limit to -.1dB", "-0.10", "2.40", 96},
                            Preset{5, "Limit to -3dB", "-3.00", "2.40", 96},
                            Preset{6, "Limit to -6dB", "-6.00", "1.20", 96},
                            Preset{8, "That's one DEAD horse", "-1.00", "20.00", 240}}) {
        limiter->SetFactoryPreset(p.index);
        EXPECT_EQ(core::ToUtf8(limiter->GetFactoryPresetName(p.index)), p.name);
        EXPECT_EQ(Text(0), p.ceiling) << p.name;
        EXPECT_EQ(Text(1), p.boost) << p.name;
        EXPECT_EQ(limiter->GetInitialDelay(), p.latency) << p.name;
    }
    EXPECT_EQ(limiter->GetNumFactoryPresets(), 9);
    EXPECT_TRUE(limiter->GetFactoryPresetName(9).empty());
}

TEST_F(HardLimiterFixture, EveryPresetKeepsEverySampleUnderItsCeiling)
{
    host.Configure(2, 48000.0f);
    for (int preset = 0; preset < 9; ++preset) {
        limiter->SetFactoryPreset(preset);
        const double ceilingDb = limiter->GetParameterInfo(0)->FromNormalized(limiter->GetParameter(0));
        const auto ceiling = static_cast<float>(test::FromDb(ceilingDb));
        for (double boost : {0.0, 10.0, 20.0}) {
            const Signal out = host.Run(Program(boost), 480);
            for (const auto& channel : out) {
                const float peak = test::TailPeak(channel, channel.size());
                EXPECT_LE(peak, ceiling) << "preset " << preset << " +" << boost;
                EXPECT_GT(peak, 0.9f * ceiling) << "preset " << preset << " +" << boost;
            }
        }
    }
}

TEST_F(HardLimiterFixture, ReportedLatencyIsTheMeasuredDelay)
{
    for (float rate : {44100.0f, 48000.0f, 96000.0f}) {
        host.Configure(2, rate);
        for (float lookAhead : {0.0f, 0.133333f, 0.5f, 1.0f}) {
            limiter->SetParameter(2, lookAhead);
            const Signal out = host.Run(test::ImpulseSignal(2, 4000, 100), 256);
            const int delay = static_cast<int>(test::FirstAbove(out[0])) - 100;
            EXPECT_EQ(delay, limiter->GetInitialDelay()) << rate << " Hz, " << lookAhead;
            EXPECT_NEAR(out[1][static_cast<std::size_t>(100 + delay)], test::FromDb(-0.1), 1e-6);
        }
    }
}

TEST_F(HardLimiterFixture, KeepsTheValueTheKernelStores)
{
    host.Configure(2, 48000.0f);
    // A ceiling 0.00001 dB below full scale is kept on the 0.001 dB grid: 0 dB.
    limiter->SetParameter(0, 0.9999999f);
    EXPECT_EQ(limiter->GetParameter(0), 1.0f);
    limiter->SetParameter(4, 0.2f);
    EXPECT_EQ(limiter->GetParameter(4), 0.0f);
    limiter->SetParameter(3, std::nanf(""));
    EXPECT_EQ(limiter->GetParameter(3), 0.375f);
    limiter->SetParameter(3, 5.0f);
    EXPECT_EQ(limiter->GetParameter(3), 1.0f);
    limiter->SetParameter(7, 0.5f); // ignored
    EXPECT_EQ(limiter->GetParameter(7), 0.0f);
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

TEST_F(HardLimiterFixture, OddLayoutsAndRatesRunAndSteadyBlocksDoNotAllocate)
{
    for (float rate : {std::nanf(""), 0.0f, -48000.0f, 1e12f, 8000.0f}) {
        limiter->SetSampleRate(rate);
        limiter->Resume();
        EXPECT_GE(limiter->GetInitialDelay(), 0);
    }
    EXPECT_FALSE(host.Configure(40, 48000.0f, false)); // refused: runs the first channel
    const Signal refused = host.Run(test::SineSignal(40, 2000, 48000.0f, 100.0f, 3.0f), 512);
    EXPECT_LE(test::TailPeak(refused[0], 1000), test::FromDb(-0.1));
    host.Configure(32, 48000.0f);
    host.Run(test::SineSignal(32, 2000, 48000.0f, 100.0f, 3.0f), 512);

    host.Configure(2, 48000.0f);
    host.ExpectBlocksDoNotAllocate({[&] { limiter->SetParameterAutomated(1, 1.0f); },
                                    [&] { limiter->SetParameterAutomated(2, 0.5f); },
                                    [&] { limiter->SetParameterAutomated(4, 0.0f); },
                                    [&] { limiter->SetFactoryPreset(8); }, [] {}});
}

} // namespace
} // namespace zoc::components

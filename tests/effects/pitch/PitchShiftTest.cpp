#include "effects/pitch/PitchShift.h"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "framework/ParameterInfo.h"
#include "platform/core/String.h"
#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

struct PitchShiftFixture : ::testing::Test {
    core::Ref<PitchShift> shifter{new PitchShift};
    test::TestHost host{shifter};

    std::string Text(int index) { return core::ToUtf8(shifter->GetParameterString(index)); }
};

struct Preset {
    int index;
    const char* name;
    const char* ratio;
    const char* frequency;
    const char* overlap;
    double expectedRatio;
};
// The ratios the presets are meant to give: unity, an octave up, a
// semitone down, a little over eight and a half semitones down, an octave down.
constexpr Preset kPresets[] = {
    {0, "(Default)", "1.00", "40.00", "0.20", 1.0},       {1, "Angry Gerbil", "2.00", "122.40", "0.61", 2.0},
    {2, "Deathly Ill", "0.94", "50.00", "0.80", 0.9439},  {3, "Stretch", "0.61", "1000.00", "1.00", 0.6085},
    {4, "The Dark Lord", "0.50", "1000.00", "1.00", 0.5},
};

TEST_F(PitchShiftFixture, PresetsReadAsTheSettingsTheyAreNamedFor)
{
    host.Configure(2, 48000.0f);
    for (const Preset& p : kPresets) {
        const std::uint64_t before = shifter->GetParameterDirtyCount();
        shifter->SetFactoryPreset(p.index);
        EXPECT_GT(shifter->GetParameterDirtyCount(), before) << p.name;
        EXPECT_EQ(core::ToUtf8(shifter->GetFactoryPresetName(p.index)), p.name);
        EXPECT_EQ(Text(0), p.ratio) << p.name;
        EXPECT_EQ(Text(2), p.frequency) << p.name;
        EXPECT_EQ(Text(3), p.overlap) << p.name;
    }
    shifter->SetFactoryPreset(1);
    EXPECT_EQ(shifter->GetParameter(0), 1.0f);
    EXPECT_EQ(shifter->GetParameter(4), 1.0f);
    EXPECT_TRUE(shifter->GetFactoryPresetName(5).empty());
}

// The descriptions take the kernel's ranges; only the ratio is automatable.
TEST_F(PitchShiftFixture, DescriptionsFollowTheKernel)
{
    dsp::Stretch kernel;
    for (int index = 0; index < PitchShift::kParameterCount; ++index) {
        const auto info = core::Ref<GenericParameterInfo>(
            dynamic_cast<GenericParameterInfo*>(shifter->GetParameterInfo(index).get()));
        ASSERT_TRUE(info);
        float lo = 0.0f, hi = 0.0f;
        kernel.GetBounds(index, lo, hi);
        EXPECT_EQ(info->GetLoBound(), lo) << index;
        EXPECT_EQ(info->GetHiBound(), hi) << index;
        EXPECT_EQ(info->CanBeAutomated(), index == 0) << index;
    }
    shifter->SetParameter(0, 0.75f);
    EXPECT_EQ(Text(0), "1.63");
}

// Through the host, mono and stereo: every preset puts a 440 Hz sine at its
// ratio within a cent, and the default preset is the input delayed by the
// reported latency, sample for sample.
TEST_F(PitchShiftFixture, EveryPresetTransposesASineByItsRatio)
{
    constexpr float kRate = 48000.0f;
    for (std::size_t channels : {1u, 2u}) {
        host.Configure(channels, kRate);
        const test::Signal x = test::SineSignal(channels, 96000, kRate, 440.0f);
        for (const Preset& p : kPresets) {
            shifter->SetFactoryPreset(p.index);
            const test::Signal y = host.Run(x, 512);
            const std::vector<float> tail(y.back().end() - 32768, y.back().end());
            const test::ToneFit fit = test::FitTone(tail, kRate, 440.0 * p.expectedRatio);
            const double exact = 440.0 * shifter->GetParameterInfo(0)->FromNormalized(shifter->GetParameter(0));
            EXPECT_LT(std::fabs(1200.0 * std::log2(fit.frequency / exact)), 1.0) << p.name;
            EXPECT_LT(fit.residualDb, -40.0) << p.name;
        }
        shifter->SetFactoryPreset(0);
        const test::Signal y = host.Run(x, 700);
        const auto latency = static_cast<std::size_t>(shifter->GetInitialDelay());
        EXPECT_EQ(latency, 980u) << "the kernel runs at the host's rate";
        for (std::size_t c = 0; c < channels; ++c)
            for (std::size_t i = latency; i < x[c].size(); ++i)
                ASSERT_EQ(y[c][i], x[c][i - latency]) << "channel " << c << ", frame " << i;
    }
}

} // namespace
} // namespace zoc::components

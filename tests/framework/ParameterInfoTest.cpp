#include "framework/ParameterInfo.h"

#include <cmath>

#include <gtest/gtest.h>

#include "platform/core/String.h"

namespace zoc {
namespace {

std::string Text(const host::AudioFilterParameterInfo& info, float normalized)
{
    return core::ToUtf8(info.GetParameterString(normalized));
}

GenericParameterInfo Linear(float lo, float hi, bool automatable = true)
{
    return GenericParameterInfo(u"Gain", u"dB", host::kUnitDecibels, 0, lo, hi, automatable);
}

TEST(GenericParameterInfo, LinearMappingRoundTrips)
{
    const GenericParameterInfo gain = Linear(-96.0f, 48.0f);
    EXPECT_NEAR(gain.ToNormalized(0.0f), 0.666667f, 1e-6f);
    EXPECT_NEAR(gain.FromNormalized(gain.ToNormalized(0.0f)), 0.0f, 1e-5f);
    EXPECT_FLOAT_EQ(gain.FromNormalized(0.0f), -96.0f);
    EXPECT_FLOAT_EQ(gain.FromNormalized(1.0f), 48.0f);
    // Only automatable parameters are shown.
    EXPECT_TRUE(gain.IsExposed());
    EXPECT_FALSE(Linear(0, 1, false).IsExposed() || Linear(0, 1, false).CanBeAutomated());

    // Every value a normalized one names comes back exactly, so settings
    // saved as normalized values load back bit for bit. The plain quotient
    // misses a few values in a thousand on ranges like these.
    for (const GenericParameterInfo& info : {Linear(0.1f, 30.0f), Linear(0.1f, 12.0f), Linear(0.03333f, 2000.0f)}) {
        int missed = 0;
        for (int step = 0; step <= 100000; ++step) {
            const float value = info.FromNormalized(static_cast<float>(step) / 100000.0f);
            missed += info.FromNormalized(info.ToNormalized(value)) != value;
        }
        EXPECT_EQ(missed, 0) << info.GetHiBound();
    }
}

TEST(GenericParameterInfo, LogarithmicRangeEndsAtLoTimesEToTheHi)
{
    // 20 Hz to 20 kHz: hi is the exponent ln(1000).
    const float exponent = std::log(1000.0f);
    const GenericParameterInfo frequency(u"Frequency", u"Hz", host::kUnitFrequency, 0, 20.0f, exponent, true, true);
    EXPECT_NEAR(frequency.FromNormalized(1.0f), 20000.0f, 0.05f);
    EXPECT_NEAR(frequency.FromNormalized(0.5f), 632.456f, 0.01f);
    EXPECT_NEAR(frequency.ToNormalized(632.456f), 0.5f, 1e-5f);
}

TEST(GenericParameterInfo, DecimalsFollowMagnitude)
{
    // A power-of-two span keeps these values exact through the normalized form.
    const GenericParameterInfo range = Linear(-256.0f, 256.0f);
    for (const auto& [value, text] : {std::pair{150.0f, "150"}, {15.25f, "15.3"}, {1.5f, "1.50"}, {0.25f, "0.250"},
                                      {0.05f, "0.0500"}, {-15.25f, "-15.3"}, {100.0f, "100.0"}, {1.0f, "1.000"}})
        EXPECT_EQ(Text(range, range.ToNormalized(value)), text) << value;
}

TEST(BoolParameterInfo, OnOnlyAboveOneHalf)
{
    const BoolParameterInfo power(u"Power", u"", u"On", u"Off", true);
    EXPECT_EQ(Text(power, 0.51f), "On");
    EXPECT_EQ(Text(power, 0.5f), "Off");
    EXPECT_EQ(power.GetUnit(), host::kUnitSwitch);
    EXPECT_FLOAT_EQ(power.FromNormalized(0.7f), 0.7f);
}

TEST(MusicalParameterInfo, ScaleAndKeyNames)
{
    const ScaleParameterInfo scale(u"Scale", u"", host::kUnitNumber, 0, 0.0f, 1.0f, true);
    EXPECT_EQ(Text(scale, 1.0f), "Chromatic");
    const KeyParameterInfo key(u"Key", u"", host::kUnitNumber, 0, 0.0f, 1.0f, true);
    // k = 0, 1, 2 give D, C#, C; k = 3 gives B, k = 11 gives D#.
    for (const auto& [k, name] : {std::pair{0, "D"}, {1, "C#"}, {2, "C"}, {3, "B"}, {11, "D#"}})
        EXPECT_EQ(Text(key, static_cast<float>(k) / 11.0f), name) << k;
}

TEST(SanitizeNormalized, ClampsAndRejectsNaN)
{
    EXPECT_FALSE(SanitizeNormalized(std::nanf("")).has_value());
    EXPECT_EQ(*SanitizeNormalized(-3.0f), 0.0f);
    EXPECT_EQ(*SanitizeNormalized(1e30f), 1.0f);
    EXPECT_EQ(*SanitizeNormalized(0.25f), 0.25f);
}

} // namespace
} // namespace zoc

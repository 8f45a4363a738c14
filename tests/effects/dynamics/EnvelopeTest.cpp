// Fade and gain envelopes: measured gain curves against their lines, block
// independence, settings, keyframe collisions, real-time safety, tooltips.

#include <algorithm>
#include <cmath>
#include <functional>

#include <gtest/gtest.h>

#include "effects/dynamics/VolumeEnvelope.h"
#include "platform/core/String.h"
#include "tests/support/AllocationGuard.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using test::Signal;

constexpr std::size_t kFrames = 4800; // the selection: 0.1 s at 48 kHz

core::Ref<VolumeEnvelope> Make(bool gain)
{
    return gain ? core::Ref<VolumeEnvelope>(new GainEnvelope) : core::Ref<VolumeEnvelope>(new FadeEnvelope);
}

int PresetIndex(VolumeEnvelope& envelope, const char* name)
{
    for (int index = 0; index < envelope.GetNumFactoryPresets(); ++index) {
        if (core::ToUtf8(envelope.GetFactoryPresetName(index)) == name)
            return index;
    }
    ADD_FAILURE() << "no preset " << name;
    return 0;
}

/// The gain the envelope applies: a constant 1 through it, the selection
/// being the whole signal.
std::vector<float> MeasureGain(const core::Ref<VolumeEnvelope>& envelope, int block = 512)
{
    test::TestHost host{envelope};
    host.Configure(1, 48000.0f);
    envelope->SetSelectionLeft(0.0);
    envelope->SetCurrentDuration(static_cast<double>(kFrames));
    return host.Run(test::ConstantSignal(1, kFrames, 1.0f), block)[0];
}

core::Ref<VolumeEnvelope> MakePreset(bool gain, const char* preset)
{
    auto envelope = Make(gain);
    envelope->SetFactoryPreset(PresetIndex(*envelope, preset));
    return envelope;
}

TEST(EnvelopeTest, FactoryEnvelopesFollowTheirLines)
{
    constexpr double kOneStep = 1.0 / kFrames;
    const auto unity = [](double) { return 1.0; };
    // Full level from just after 1 % to 99 % of the selection; outside, only the ends are checked.
    const auto plateau = [](double t) { return t > 0.01 && t <= 0.99 ? 1.0 : NAN; };
    // Straight lines through (0.08, 1), (0.125, 0.45), (0.25, 0.18) and (0.675, 0), flat beyond.
    const auto keepAttack = [](double t) {
        constexpr double x[] = {0.08, 0.125, 0.25, 0.675}, y[] = {1.0, 0.45, 0.18, 0.0};
        if (t <= x[0])
            return y[0];
        for (int k = 0; k < 3; ++k)
            if (t <= x[k + 1])
                return y[k] + (y[k + 1] - y[k]) * (t - x[k]) / (x[k + 1] - x[k]);
        return y[3];
    };
    struct Case {
        bool gain;
        const char* preset;
        std::function<double(double)> reference; // gain at relative time t; NaN: not checked
        double tolerance;
    };
    for (const Case& c : {Case{false, "Linear Fade In", [](double t) { return t; }, kOneStep},
                          Case{false, "Linear Fade Out", [](double t) { return 1.0 - t; }, kOneStep},
                          Case{false, "(Default)", unity, 0.0}, Case{true, "(Default)", unity, 0.0},
                          Case{false, "Smooth Ends", plateau, 1e-6}, Case{true, "Smooth Ends", plateau, 1e-6},
                          Case{false, "Keep Attack Only", keepAttack, 15.0 * kOneStep},
                          // Splines: only where the curve is flat or on a keyframe.
                          Case{false, "Smooth Fade Out", [](double t) { return t < 0.25 ? 1.0 : t > 0.75 ? 0.0 : NAN; },
                               1e-6},
                          Case{true, "Soften Attack", [](double t) { return t >= 0.15 ? 1.0 : NAN; }, 1e-6},
                          Case{true, "0dB Pulse", [](double t) { return t == 0.5 ? 4.7526875 : NAN; }, 1e-4},
                          Case{false, "Tremors", [](double t) {
                              const double k = std::round(t * 10.0);
                              return std::fabs(t * 10.0 - k) < 1e-9 ? std::fmod(k + 1.0, 2.0) : NAN;
                          }, 1e-6}}) {
        const std::vector<float> gains = MeasureGain(MakePreset(c.gain, c.preset));
        for (std::size_t n = 0; n < kFrames; ++n) {
            const double expected = c.reference(static_cast<double>(n) / kFrames);
            if (!std::isnan(expected)) {
                ASSERT_NEAR(gains[n], expected, c.tolerance + 1e-6) << c.preset << " gain " << c.gain << " n " << n;
            }
        }
        if (std::string(c.preset) == "Smooth Ends") {
            EXPECT_EQ(gains.front(), 0.0f) << c.gain;
            EXPECT_LT(gains.back(), 0.05f) << c.gain;
        }
        if (std::string(c.preset) == "Tremors") {
            EXPECT_GT(gains.back(), 0.99f); // rising to full level at the end
        }
    }
}

TEST(EnvelopeTest, BlockSizeDoesNotChangeTheOutput)
{
    struct Case {
        bool gain;
        const char* preset;
        double tolerance; // linear ramps restart per block: at most one ramp step apart
    };
    for (const Case& c : {Case{true, "Tremors", 0.0}, Case{false, "Keep Attack Only", 0.003},
                          Case{true, "Remove Attack", 0.01}}) {
        const std::vector<float> reference = MeasureGain(MakePreset(c.gain, c.preset), 512);
        for (const int block : {1, 63, 4096}) {
            const std::vector<float> gains = MeasureGain(MakePreset(c.gain, c.preset), block);
            for (std::size_t n = 0; n < kFrames; ++n)
                ASSERT_NEAR(gains[n], reference[n], c.tolerance) << c.preset << " block " << block << " n " << n;
        }
    }
}

TEST(EnvelopeTest, SettingsRoundTripAndRefuseOtherVersions)
{
    auto original = Make(true);
    original->SetLogicalKeyframes({{0.0f, 0.5f}, {0.3f, 2.0f}, {0.6f, 0.1f}, {1.0f, 1.0f}});
    original->SetParameter(VolumeEnvelope::kSplinesParameter, 1.0f);
    host::PresetData saved;
    ASSERT_TRUE(original->SaveSettings(saved));

    auto restored = Make(true);
    ASSERT_TRUE(restored->LoadSettings(saved));
    EXPECT_EQ(restored->GetParameter(VolumeEnvelope::kSplinesParameter), 1.0f);
    EXPECT_EQ(core::ToUtf8(restored->GetParameterString(VolumeEnvelope::kSplinesParameter)), "1.00");
    EXPECT_EQ(MeasureGain(restored), MeasureGain(original));

    host::PresetData factory;
    factory.SetPresetType(host::PresetType::kFactory);
    factory.SetFactoryPresetName(u"Pulse");
    auto byName = Make(false);
    ASSERT_TRUE(byName->LoadSettings(factory));
    EXPECT_EQ(MeasureGain(byName), MeasureGain(MakePreset(false, "Pulse")));

    host::PresetData newer = saved;
    newer.SetVersion(2.0f);
    host::PresetData plain = saved;
    plain.SetPresetType(host::PresetType::kParameters);
    host::PresetData unknown = factory;
    unknown.SetFactoryPresetName(u"No Such Fade");
    for (const host::PresetData* refused : {&newer, &plain, &unknown})
        EXPECT_FALSE(Make(false)->LoadSettings(*refused));
}

TEST(EnvelopeTest, KeyframesOnOneSampleMoveToTheNext)
{
    struct Case {
        std::vector<LogicalKeyframe> logical;
        std::vector<std::pair<std::int64_t, float>> expected; // (sample, gain)
    };
    // A selection of 10 samples from 100: 0.04 rounds to sample 100, 0.06 to 101.
    for (const Case& c : {Case{{{0.0f, 1.0f}, {0.04f, 0.5f}}, {{100, 1.0f}, {101, 0.5f}}},
                          Case{{{0.0f, 1.0f}, {0.04f, 0.5f}, {0.06f, 0.25f}}, {{100, 1.0f}, {101, 0.25f}}},
                          Case{{{1.0f, 0.2f}, {0.5f, 0.3f}}, {{105, 0.3f}, {110, 0.2f}}}}) {
        auto envelope = Make(false);
        envelope->SetSelectionLeft(100.0);
        envelope->SetCurrentDuration(10.0);
        envelope->SetLogicalKeyframes(c.logical);
        VolumeEnvelope::KeyframeSet keyframes;
        envelope->GetKeyframes(keyframes);
        std::vector<std::pair<std::int64_t, float>> got;
        for (const auto& keyframe : keyframes)
            got.emplace_back(keyframe.position, keyframe.value);
        EXPECT_EQ(got, c.expected);
        // Absolute keyframes written back are read against the selection.
        envelope->SetKeyframes(keyframes);
        std::vector<LogicalKeyframe> logical;
        envelope->GetLogicalKeyframes(logical);
        ASSERT_EQ(logical.size(), got.size());
        for (std::size_t k = 0; k < got.size(); ++k)
            EXPECT_FLOAT_EQ(logical[k].position, static_cast<float>(got[k].first - 100) / 10.0f);
    }
}

TEST(EnvelopeTest, SteadyBlocksDoNotAllocateAndKeepEachChannel)
{
    for (const auto& [gain, preset] : {std::pair{true, "Tremors"}, std::pair{false, "Remove Attack"}}) {
        auto envelope = MakePreset(gain, preset);
        test::TestHost host{envelope};
        host.Configure(2, 48000.0f);
        envelope->SetSelectionLeft(0.0);
        envelope->SetCurrentDuration(static_cast<double>(kFrames));
        Signal input = test::ConstantSignal(2, kFrames, 0.5f);
        std::fill(input[1].begin(), input[1].end(), -0.25f);
        Signal output = input;
        host.Resume();
        {
            test::AllocationGuard guard;
            for (std::size_t offset = 0; offset + 512 <= kFrames; offset += 512) {
                envelope->SetCurrentOffset(static_cast<std::int64_t>(offset));
                host.ProcessBlock(input, output, offset, offset % 1024 ? 256 : 512);
            }
        }
        // One gain for every channel, each applied to its own signal.
        for (std::size_t n = 0; n < kFrames; ++n)
            ASSERT_EQ(output[1][n], -0.5f * output[0][n]) << preset << " frame " << n;
    }
}

TEST(EnvelopeTest, TooltipsShowLevelsAndSilence)
{
    struct Case { bool gain; float value; const char16_t* text; };
    for (const Case& c : {Case{true, 0.0f, u"-\u221E dB (0.0%)"}, Case{true, 0.65f, u"0.0 dB (100.0%)"},
                          Case{true, 1.0f, u"15.0 dB (562.3%)"}, Case{true, 0.3f, u"-15.0 dB (17.8%)"},
                          Case{false, 0.5f, u"50.0% (-6.0 dB)"}, Case{false, 0.0f, u"0.0% (-\u221E dB)"}})
        EXPECT_EQ(core::ToUtf8(Make(c.gain)->GetTooltipString(c.value)), core::ToUtf8(c.text));
}

} // namespace
} // namespace zoc::components

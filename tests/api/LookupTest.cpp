// Names and values as people type them: units after numbers, and the names a
// component uses in mono working on every channel layout.

#include <zoc/zoc.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace zoc::test {
namespace {

constexpr double kRate = 48000.0;

TEST(LookupUnits, ANumberMayCarryTheParametersUnit)
{
    const struct {
        const char* component;
        const char* parameter;
        const char* text;
        float expected;
    } cases[] = {
        {"Echo", "delay_time", "90", 90.0f},          {"Echo", "delay_time", "90ms", 90.0f},
        {"Echo", "delay_time", "90 ms", 90.0f},       {"Echo", "delay_time", "0.25s", 250.0f},
        {"Echo", "delay_time", "1.5S", 1500.0f},      {"Echo", "feedback", "40%", 40.0f},
        {"Amplify", "gain", "-6dB", -6.0f},           {"Amplify", "gain", "-6db", -6.0f},
        {"Amplify", "gain", "+3DB", 3.0f},            {"Tones", "frequency", "440Hz", 440.0f},
        {"Tones", "frequency", "1.5k", 1500.0f},      {"Tones", "frequency", "1.5kHz", 1500.0f},
        {"Delay", "delay_time", "-0.1s", -100.0f},    {"Delay", "invert_all_channels", "on", 1.0f},
        // A frequency without a unit label is in hertz.
        {"Tones", "final_frequency", "1.5k", 1500.0f},
    };
    for (const auto& c : cases) {
        Effect effect = Effect::Create(c.component, kRate, 1);
        effect.SetParameterText(c.parameter, c.text);
        EXPECT_NEAR(effect.GetParameter(c.parameter), c.expected, 1e-3f) << c.component << " " << c.text;
    }
}

TEST(LookupUnits, AUnitOfAnotherKindIsRefusedNamingTheRightOne)
{
    const struct {
        const char* component;
        const char* parameter;
        const char* text;
        const char* message;
    } cases[] = {
        {"Echo", "delay_time", "90dB", "Echo: 'Delay Time' takes ms or s, not 'dB' (range 0..2000 ms)"},
        {"Echo", "delay_time", "1.5k", "takes ms or s, not 'k'"},
        {"Echo", "delay_time", "90us", "takes ms or s, not 'us'"},
        {"Amplify", "gain", "-6ms", "'Gain' takes dB, not 'ms'"},
        {"Amplify", "gain", "50%", "'Gain' takes dB, not '%'"},
        {"Tones", "frequency", "2s", "takes Hz or kHz, not 's'"},
        {"Echo", "feedback", "0.5dB", "takes %, not 'dB'"},
        {"Echo", "lock_left_right_channels", "1dB", "takes no unit, not 'dB'"},
        // A unit does not widen the range: 3 s is still past 2000 ms.
        {"Echo", "delay_time", "3s", "value 3s for 'Delay Time' is outside 0..2000 ms"},
        {"Echo", "delay_time", "ms", "value 'ms' for 'Delay Time' is not a number"},
        {"Echo", "delay_time", "9x9ms", "is not a number"},
    };
    for (const auto& c : cases) {
        Effect effect = Effect::Create(c.component, kRate, 1);
        const float before = effect.GetNormalized(effect.FindParameter(c.parameter));
        try {
            effect.SetParameterText(c.parameter, c.text);
            ADD_FAILURE() << c.text << " was accepted";
        } catch (const Error& error) {
            EXPECT_EQ(error.GetCode(), Error::Code::InvalidValue) << c.text;
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
        EXPECT_EQ(effect.GetNormalized(effect.FindParameter(c.parameter)), before) << c.text;
    }
}

/// Keys of the parameters whose normalized value differs between two effects.
std::set<std::string> ChangedKeys(const Effect& before, const Effect& after)
{
    std::set<std::string> keys;
    for (const ParameterDescription& description : after.Parameters()) {
        if (before.GetNormalized(description.index) != after.GetNormalized(description.index))
            keys.insert(description.key);
    }
    return keys;
}

TEST(LookupLayouts, AMonoNameSetsEveryChannelItStandsFor)
{
    const struct {
        const char* component;
        int channels;
        const char* parameter;
        float value;
        std::set<std::string> changed;
    } cases[] = {
        {"Amplify", 1, "gain", -6.0f, {"gain"}},
        {"Amplify", 2, "gain", -6.0f, {"left", "right"}},
        {"Amplify", 2, "Gain", -6.0f, {"left", "right"}},
        {"Amplify", 6, "gain", -6.0f,
         {"left", "right", "center", "low_frequency_effects", "left_surround", "right_surround"}},
        {"Amplify", 2, "left", -6.0f, {"left"}},
        {"Echo", 2, "delay_time", 90.0f, {"delay_time_left_channel", "delay_time_right_channel"}},
        {"Echo", 2, "feedback", 20.0f, {"feedback_left_channel", "feedback_right_channel"}},
        {"Echo", 2, "echo_level", 20.0f, {"echo_level_left_channel", "echo_level_right_channel"}},
        {"Echo", 2, "eq_band_1", 3.0f, {"eq_band_1"}},
        {"Echo", 1, "delay_time", 90.0f, {"delay_time"}},
        {"Delay", 2, "delay_time", 90.0f, {"left_channel_delay_time", "right_channel_delay_time"}},
        {"Delay", 2, "mix", 10.0f, {"left_channel_mix", "right_channel_mix"}},
        {"Delay", 2, "invert_all_channels", 1.0f, {"invert_left_channel", "invert_right_channel"}},
        {"Delay", 2, "right_channel_mix", 10.0f, {"right_channel_mix"}},
    };
    for (const auto& c : cases) {
        const std::string label = std::string(c.component) + "/" + std::to_string(c.channels) + " " + c.parameter;
        const Effect untouched = Effect::Create(c.component, kRate, c.channels);
        Effect effect = Effect::Create(c.component, kRate, c.channels);
        effect.SetParameter(c.parameter, c.value);
        EXPECT_EQ(ChangedKeys(untouched, effect), c.changed) << label;
        for (const std::string& key : c.changed)
            EXPECT_NEAR(effect.GetParameter(key), c.value, 1e-3f) << label << " " << key;
        // The text setter and the scheduler take the same names.
        Effect typed = Effect::Create(c.component, kRate, c.channels);
        typed.SetParameterText(c.parameter, std::to_string(c.value));
        EXPECT_EQ(ChangedKeys(untouched, typed), c.changed) << label;
    }
}

TEST(LookupLayouts, AllChannelsAreCheckedBeforeAnyChanges)
{
    Effect effect = Effect::Create("Amplify", kRate, 2);
    EXPECT_THROW(effect.SetParameter("gain", 100.0f), Error);
    EXPECT_THROW(effect.SetParameterText("gain", "-6ms"), Error);
    EXPECT_EQ(effect.GetParameter("left"), 0.0f);
    EXPECT_EQ(effect.GetParameter("right"), 0.0f);
}

TEST(LookupLayouts, NamesOfNoLayoutStillFailWithSuggestions)
{
    const struct {
        const char* component;
        int channels;
        const char* parameter;
        const char* message;
    } cases[] = {
        {"Amplify", 2, "gian", "Amplify: unknown parameter 'gian'"},
        {"Echo", 2, "delay_tme", "did you mean"},
        // Stereo names do not reach back into mono.
        {"Amplify", 1, "left", "unknown parameter 'left'"},
    };
    for (const auto& c : cases) {
        Effect effect = Effect::Create(c.component, kRate, c.channels);
        try {
            effect.SetParameter(c.parameter, 0.0f);
            ADD_FAILURE() << c.parameter << " was accepted";
        } catch (const Error& error) {
            EXPECT_EQ(error.GetCode(), Error::Code::UnknownName);
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
}

} // namespace
} // namespace zoc::test

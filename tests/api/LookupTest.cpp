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

// A refused value or name says what is wrong (a unit of another kind names
// the right one; an unknown name suggests one) and changes nothing, on any
// of the channels a mono name stands for.
TEST(LookupRefusals, NameTheFaultAndChangeNothing)
{
    const Error::Code value = Error::Code::InvalidValue, name = Error::Code::UnknownName;
    const struct {
        const char* component;
        int channels;
        const char* parameter;
        const char* text; ///< null: set as the number 100
        Error::Code code;
        const char* message;
    } cases[] = {
        {"Echo", 1, "delay_time", "90dB", value, "Echo: 'Delay Time' takes ms or s, not 'dB' (range 0..2000 ms)"},
        {"Echo", 1, "delay_time", "1.5k", value, "takes ms or s, not 'k'"},
        {"Echo", 1, "delay_time", "90us", value, "takes ms or s, not 'us'"},
        {"Amplify", 1, "gain", "-6ms", value, "'Gain' takes dB, not 'ms'"},
        {"Amplify", 1, "gain", "50%", value, "'Gain' takes dB, not '%'"},
        {"Tones", 1, "frequency", "2s", value, "takes Hz or kHz, not 's'"},
        {"Echo", 1, "feedback", "0.5dB", value, "takes %, not 'dB'"},
        {"Echo", 1, "lock_left_right_channels", "1dB", value, "takes no unit, not 'dB'"},
        // A unit does not widen the range: 3 s is still past 2000 ms.
        {"Echo", 1, "delay_time", "3s", value, "value 3s for 'Delay Time' is outside 0..2000 ms"},
        {"Echo", 1, "delay_time", "ms", value, "value 'ms' for 'Delay Time' is not a number"},
        {"Echo", 1, "delay_time", "9x9ms", value, "is not a number"},
        // Every channel is checked before any changes.
        {"Amplify", 2, "gain", nullptr, value, ""},
        {"Amplify", 2, "gain", "-6ms", value, "takes dB, not 'ms'"},
        {"Amplify", 2, "gian", nullptr, name, "Amplify: unknown parameter 'gian'"},
        {"Echo", 2, "delay_tme", nullptr, name, "did you mean"},
        // Stereo names do not reach back into mono.
        {"Amplify", 1, "left", nullptr, name, "unknown parameter 'left'"},
    };
    for (const auto& c : cases) {
        const std::string label = std::string(c.component) + " " + c.parameter + " " + (c.text ? c.text : "100");
        const Effect untouched = Effect::Create(c.component, kRate, c.channels);
        Effect effect = Effect::Create(c.component, kRate, c.channels);
        try {
            if (c.text)
                effect.SetParameterText(c.parameter, c.text);
            else
                effect.SetParameter(c.parameter, 100.0f);
            ADD_FAILURE() << label << " was accepted";
        } catch (const Error& error) {
            EXPECT_EQ(error.GetCode(), c.code) << label;
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
        EXPECT_EQ(ChangedKeys(untouched, effect), std::set<std::string>()) << label;
    }
}

} // namespace
} // namespace zoc::test

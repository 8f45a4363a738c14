// zoc list, help, name lookup and demo.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "tests/tools/ZocTestSupport.h"
#include "tools/zoc/Cli.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Curve.h"

namespace zoc::test {
namespace {

using nlohmann::json;

TEST(ListTest, JsonDescribesAmplifyAndPlainTextHidesIdentifiers)
{
    const ZocResult result = RunZoc({"list", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json list = json::parse(result.out);
    ASSERT_TRUE(list.is_array());
    const auto amplify = std::find_if(list.begin(), list.end(), [](const json& c) { return c["class"] == "Amplify"; });
    ASSERT_NE(amplify, list.end());
    EXPECT_EQ((*amplify)["title_key"], "$$$/AudioComponents/AmplifyTitle=Amplify");
    EXPECT_EQ((*amplify)["offline"], false);
    EXPECT_TRUE((*amplify)["id"].get<std::string>().starts_with("{5A0C1A31"));
    EXPECT_TRUE((*amplify)["category"].is_number_integer());
    // Every component says something; one registered without a description
    // (the test probe) falls back to its title.
    for (const json& component : list) {
        EXPECT_FALSE(component["description"].get<std::string>().empty()) << component["class"];
        if (component["class"] == "DelayProbe") {
            EXPECT_EQ(component["description"], component["title"]);
        }
    }

    const ZocResult plain = RunZoc({"list"});
    const ZocResult longer = RunZoc({"list", "--long"});
    for (const ZocResult* text : {&plain, &longer}) {
        ASSERT_EQ(text->exitCode, 0) << text->err;
        EXPECT_NE(text->out.find("Changes each channel's gain"), std::string::npos) << text->out;
        const bool identified = text == &longer;
        EXPECT_EQ(text->out.find("$$$/AudioComponents/AmplifyTitle=Amplify") != std::string::npos, identified);
        EXPECT_EQ(text->out.find("{5A0C1A31") != std::string::npos, identified);
    }
}

TEST(HelpTest, EachCommandPrintsItsOwnPart)
{
    struct Case {
        std::vector<std::string> arguments;
        const char* has;
        const char* lacks;
    };
    for (const Case& c : {Case{{"--help"}, "zoc apply NAME [options] IN OUT", "no such"},
                          Case{{"-h"}, "\"format\": \"zoc-settings\"", "no such"},
                          Case{{"help", "apply"}, "--normalize DB", "generate options"},
                          Case{{"apply", "--help"}, "--save-preset NAME", "zoc curve"},
                          Case{{"apply", "Amplify", "x.wav", "--help"}, "--keyframes", "zoc list"},
                          Case{{"help", "generate"}, "--duration SECONDS", "--sidechain"},
                          Case{{"curve", "--help"}, "--duration SECONDS", "apply options"},
                          Case{{"help", "info"}, "--preset P", "--keyframes"},
                          Case{{"list", "--help"}, "--long", "Settings files"},
                          Case{{"help"}, "zoc generate", "no such"}}) {
        const ZocResult result = RunZoc(c.arguments);
        EXPECT_EQ(result.exitCode, 0) << c.arguments[0];
        EXPECT_TRUE(result.err.empty()) << result.err;
        EXPECT_TRUE(result.out.starts_with(c.arguments.size() == 1 ? "zoc - " : "Usage:")) << result.out;
        EXPECT_NE(result.out.find(c.has), std::string::npos) << c.arguments[0] << " " << c.arguments.back();
        EXPECT_EQ(result.out.find(c.lacks), std::string::npos) << c.arguments[0] << " " << c.arguments.back();
    }
    const ZocResult unknown = RunZoc({"help", "aply"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.err, "zoc: no help on 'aply'; did you mean 'apply'?\n");
}

TEST(LookupTest, CloseMatchesAndKeys)
{
    EXPECT_EQ(tool::CloseMatches("amplfy", {"Amplify", "Delay", "Reverb"}), std::vector<std::string>{"Amplify"});
    EXPECT_EQ(tool::CloseMatches("Amp", {"Amplify", "Delay"}), std::vector<std::string>{"Amplify"});
    EXPECT_TRUE(tool::CloseMatches("xyz", {"Amplify", "Delay"}).empty());
    EXPECT_EQ(tool::ParameterKey("Left Surround", 6), "left_surround");
    EXPECT_EQ(tool::ParameterKey("  Q (Hz) ", 3), "q_hz");
    EXPECT_EQ(tool::ParameterKey("--", 3), "param_3");
}

TEST(DemoTest, EveryComponentIsHeardChangingTheSignalOnThePage)
{
    ScratchDirectory dir;
    const ZocResult result = RunZoc({"demo", "--quiet", dir / "demo"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const AudioData input = ReadAudio(dir / "demo/input.wav");
    EXPECT_EQ(input.sampleRate, 48000);
    ASSERT_EQ(input.samples.size(), 2u);
    ASSERT_EQ(input.Length(), 480000u);
    const std::string page = FileContents(dir / "demo/index.html");
    EXPECT_EQ(page.find("<script"), std::string::npos);
    std::size_t curves = 0;
    for (const tool::Component& component : tool::AllComponents()) {
        const std::string name = component.info.className;
        EXPECT_NE(page.find("<section class=\"row\" id=\"" + name + "\">"), std::string::npos) << name;
        EXPECT_NE(page.find("src=\"" + name + ".wav\""), std::string::npos) << name;
        const AudioData output = ReadAudio(dir / ("demo/" + name + ".wav"));
        ASSERT_EQ(output.samples.size(), 2u) << name;
        // Test doubles registered by other tests choose no preset.
        if (component.info.demoPreset.empty())
            continue;
        if (tool::CreateComponent(component)->IsGenerator()) {
            EXPECT_EQ(output.Length(), 3u * 48000u) << name;
            continue;
        }
        // Input and a 2 s tail; the preset must be heard: no output equals
        // its input (a neutral preset would).
        ASSERT_EQ(output.Length(), 12u * 48000u) << name;
        float difference = 0.0f;
        for (std::size_t channel = 0; channel < 2; ++channel)
            for (std::size_t frame = 0; frame < input.Length(); ++frame)
                difference = std::max(difference,
                                      std::abs(output.samples[channel][frame] - input.samples[channel][frame]));
        EXPECT_GT(difference, 0.05f) << name << " sounds like its input";
        curves += tool::HasCurve(component) ? 1 : 0;
    }
    // Players for the input, and a curve beside each component that draws one.
    EXPECT_NE(page.find("src=\"input.wav\""), std::string::npos);
    std::size_t figures = 0;
    for (std::size_t at = page.find("<figure>"); at != std::string::npos; at = page.find("<figure>", at + 1))
        ++figures;
    EXPECT_EQ(figures, tool::AllComponents().size() + curves);
    EXPECT_GE(curves, 6u); // the dynamics, four equalizers and two envelopes
    // +6 dB on Amplify, within the 16-bit files' rounding.
    const AudioData amplified = ReadAudio(dir / "demo/Amplify.wav");
    for (const std::size_t frame : {24000u, 150000u, 430000u})
        EXPECT_NEAR(amplified.samples[0][frame], 1.9953f * input.samples[0][frame], 2e-4f) << frame;
    // The signal is the same every time.
    ASSERT_EQ(RunZoc({"demo", "--quiet", dir / "again"}).exitCode, 0);
    EXPECT_TRUE(FileContents(dir / "again/input.wav") == FileContents(dir / "demo/input.wav"));
}

} // namespace
} // namespace zoc::test

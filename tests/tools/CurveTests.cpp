// zoc curve: transfer curves, responses and envelopes as text, JSON and SVG.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "tests/tools/ZocTestSupport.h"

namespace zoc::test {
namespace {

TEST(CurveTest, PrintsTheTransferCurveOverInputLevel)
{
    // Compander: (-100, -100), (-71.6, -100), (-40, -36.9), (-9, -8.7), (0, -6.3).
    const ZocResult json = RunZoc({"curve", "Dynamics", "--preset", "Compander", "--points", "11", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const nlohmann::json document = nlohmann::json::parse(json.out);
    ASSERT_EQ(document["values"].size(), 11u);
    EXPECT_EQ(document["x"][0], -100.0);
    EXPECT_EQ(document["x"][10], 0.0);
    EXPECT_NEAR(document["values"][2].get<double>(), -100.0, 1e-4); // -80 dB: gated
    EXPECT_NEAR(document["values"][6].get<double>(), -36.9, 1e-4);  // -40 dB: a point
    EXPECT_NEAR(document["values"][10].get<double>(), -6.3, 1e-4);

    const ZocResult text = RunZoc({"curve", "dynamics", "--set", "Output Gain=3", "--points", "2"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("\n-100 -100\n0 0\n"), std::string::npos) << text.out;

    // The same curve as a plot: a file of its own, the curve's points inside
    // the frame, the unchanged level dashed beside it.
    ScratchDirectory dir;
    ASSERT_EQ(RunZoc({"curve", "Dynamics", "--preset", "Compander", "--points", "11", "--svg", dir / "c.svg"}).exitCode,
              0);
    const std::string svg = FileContents(dir / "c.svg");
    EXPECT_TRUE(svg.starts_with("<?xml")) << svg;
    EXPECT_NE(svg.find("xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
    EXPECT_NE(svg.find("stroke-dasharray"), std::string::npos);
    const std::size_t line = svg.rfind("points=\"");
    ASSERT_NE(line, std::string::npos);
    const std::string points = svg.substr(line + 8, svg.find('"', line + 8) - line - 8);
    EXPECT_EQ(std::count(points.begin(), points.end(), ','), 11) << points;
    EXPECT_EQ(RunZoc({"curve", "Dynamics", "--preset", "Compander", "--points", "11", "--svg", "-"}).out, svg);

    // Saved settings draw the same curve as the preset they came from.
    const std::string settings = dir / "compander.json";
    ASSERT_EQ(RunZoc({"apply", "Dynamics", "--preset", "Compander", "--save-settings", settings}).exitCode, 0);
    const ZocResult loaded = RunZoc({"curve", "--load-settings", settings, "--points", "11", "--json"});
    ASSERT_EQ(loaded.exitCode, 0) << loaded.err;
    EXPECT_EQ(loaded.out, json.out);
}

TEST(CurveTest, EqualizersPrintTheirResponseOverLogFrequency)
{
    // A +12 dB peak at 1 kHz: the points run 20 Hz * 1200^(k/N) at 48 kHz,
    // so with N = 100 point 55 lies at 1.001 kHz.
    const ZocResult result = RunZoc({"curve", "ParametricEQ", "--preset", "Full Reset", "--set",
                                     "EQ Band 3 Center Frequency=1000", "--set", "EQ Band 3 Gain=12", "--set",
                                     "EQ Band 3 Enable=on", "--points", "100", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const nlohmann::json document = nlohmann::json::parse(result.out);
    EXPECT_EQ(document["x"][0], 20.0);
    EXPECT_NEAR(document["x"][55].get<double>(), 20.0 * std::pow(1200.0, 0.55), 1e-9);
    EXPECT_NEAR(document["values"][55].get<double>(), 12.0, 0.05);
    EXPECT_NEAR(document["values"][0].get<double>(), 0.0, 0.1);
}

TEST(CurveTest, EnvelopesPrintTheirGainOverTime)
{
    // In over 2 s, out over the last 3 s of 30: one point per second.
    const ZocResult fade = RunZoc({"curve", "Fade Envelope", "--keyframes", "0:0,2s:1,-3s:1,end-0s:0", "--duration",
                                   "30", "--points", "31", "--json"});
    ASSERT_EQ(fade.exitCode, 0) << fade.err;
    const nlohmann::json document = nlohmann::json::parse(fade.out);
    ASSERT_EQ(document["values"].size(), 31u);
    struct Point {
        std::size_t second;
        double gain;
    };
    for (const Point& p : {Point{0, 0.0}, Point{1, 0.5}, Point{2, 1.0}, Point{15, 1.0}, Point{27, 1.0},
                           Point{28, 2.0 / 3.0}, Point{29, 1.0 / 3.0}, Point{30, 0.0}}) {
        EXPECT_EQ(document["x"][p.second].get<double>(), static_cast<double>(p.second));
        EXPECT_NEAR(document["values"][p.second].get<double>(), p.gain, 1e-4) << p.second << " s";
    }

    // Without a duration the axis is the position; gains may be in dB.
    const ZocResult dip = RunZoc({"curve", "Gain Envelope", "--keyframes", "0:1,0.5:-12dB,1:1", "--points", "3"});
    ASSERT_EQ(dip.exitCode, 0) << dip.err;
    EXPECT_NE(dip.out.find("position, gain\n0 1\n0.5 0.251"), std::string::npos) << dip.out;
}

} // namespace
} // namespace zoc::test

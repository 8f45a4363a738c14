// ISO 226:2003 table (exponent of loudness perception a_f, magnitude of the
// linear transfer function L_U, hearing threshold T_f) and its formula.

#include "dsp/noise/EqualLoudness.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace zoc::dsp::noise {
namespace {

constexpr std::array<double, 29> kFrequency = {20,   25,   31.5, 40,   50,   63,   80,   100,  125,  160,
                                               200,  250,  315,  400,  500,  630,  800,  1000, 1250, 1600,
                                               2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000, 12500};
constexpr std::array<double, 29> kExponent = {0.532, 0.506, 0.480, 0.455, 0.432, 0.409, 0.387, 0.367, 0.349, 0.330,
                                              0.315, 0.301, 0.288, 0.276, 0.267, 0.259, 0.253, 0.250, 0.246, 0.244,
                                              0.243, 0.243, 0.243, 0.242, 0.242, 0.245, 0.254, 0.271, 0.301};
constexpr std::array<double, 29> kTransfer = {-31.6, -27.2, -23.0, -19.1, -15.9, -13.0, -10.3, -8.1, -6.2, -4.5,
                                              -3.1,  -2.0,  -1.1,  -0.4,  0.0,   0.3,   0.5,   0.0,  -2.7, -4.1,
                                              -1.0,  1.7,   2.5,   1.2,   -2.1,  -7.1,  -11.2, -10.7, -3.1};
constexpr std::array<double, 29> kThreshold = {78.5, 68.7, 59.5, 51.1, 44.0, 37.5, 31.5, 26.5, 22.1, 17.9,
                                               14.4, 11.4, 8.6,  6.2,  4.4,  3.0,  2.2,  2.4,  3.5,  1.7,
                                               -1.3, -4.2, -6.0, -5.4, -1.5, 6.0,  12.6, 13.9, 12.3};

double LevelAt(std::size_t i, double phon)
{
    const double af = kExponent[i];
    const double transfer = kTransfer[i];
    const double a = 4.47e-3 * (std::pow(10.0, 0.025 * phon) - 1.15) +
                     std::pow(0.4 * std::pow(10.0, (kThreshold[i] + transfer) / 10.0 - 9.0), af);
    return 10.0 / af * std::log10(a) - transfer + 94.0;
}

} // namespace

double EqualLoudnessLevel(double hertz, double phon)
{
    if (!(hertz > kEqualLoudnessLowest))
        return LevelAt(0, phon);
    if (hertz >= kEqualLoudnessHighest)
        return LevelAt(kFrequency.size() - 1, phon);
    const auto upper = static_cast<std::size_t>(
        std::upper_bound(kFrequency.begin(), kFrequency.end(), hertz) - kFrequency.begin());
    const std::size_t lower = upper - 1;
    // The levels of neighbouring table points, interpolated in log frequency:
    // the contour is smooth there, and interpolating the level rather than
    // the three parameters keeps the table points exact.
    const double t = std::log(hertz / kFrequency[lower]) / std::log(kFrequency[upper] / kFrequency[lower]);
    return LevelAt(lower, phon) + (LevelAt(upper, phon) - LevelAt(lower, phon)) * t;
}

} // namespace zoc::dsp::noise

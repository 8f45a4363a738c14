#include "tests/support/Measure.h"

#include <algorithm>
#include <random>

namespace zoc::test {

std::vector<float> Noise(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> values(n);
    for (float& value : values)
        value = uniform(random);
    return values;
}

float TailPeak(const std::vector<float>& x, std::size_t frames)
{
    float peak = 0.0f;
    for (std::size_t i = x.size() - std::min(frames, x.size()); i < x.size(); ++i)
        peak = std::fmax(peak, std::fabs(x[i]));
    return peak;
}

std::size_t FirstAbove(const std::vector<float>& x, float threshold)
{
    const auto found = std::find_if(x.begin(), x.end(), [threshold](float v) { return std::fabs(v) > threshold; });
    return static_cast<std::size_t>(found - x.begin());
}

} // namespace zoc::test

// Cascaded moving-average band splitter with per-band gains.

#include "dsp/QFILT.h"

#include <cmath>
#include <cstddef>

namespace zoc::dsp {
namespace {

/// Bands within this many dB of flat count as flat.
constexpr float kFlatDecibels = 0.001f;
constexpr float kFlatOverallGain = 0.0001f;

} // namespace

QFILT::Gains QFILT::Gains::FromDecibels(const std::array<float, kBands>& decibels)
{
    Gains gains;
    bool flat = std::fabs(gains.overall - 1.0f) <= kFlatOverallGain;
    for (std::size_t band = 0; band < kBands; ++band) {
        gains.bands[band] = static_cast<float>(std::pow(10.0, static_cast<double>(decibels[band]) / 20.0));
        flat = flat && std::fabs(decibels[band]) <= kFlatDecibels;
    }
    gains.active = !flat;
    return gains;
}

void QFILT::Clear()
{
    history_.fill(0.0f);
    sums_.fill(0.0f);
    positions_.fill(0);
}

float QFILT::Process(float input)
{
    if (!gains_.active)
        return input;
    float stageInput = input;
    float output = 0.0f;
    for (int stage = 0; stage < kStages; ++stage) {
        const int length = 2 << stage;
        float* window = history_.data() + WindowStart(stage);
        int& position = positions_[stage];
        sums_[stage] += stageInput - window[position];
        window[position] = stageInput;
        if (++position == length) {
            position = 0;
            // Once per window the running sum is summed afresh, so rounding
            // cannot pile up into a DC offset that the feedback would keep.
            float exact = 0.0f;
            for (int i = 0; i < length; ++i)
                exact += window[i];
            sums_[stage] = exact;
        }
        const float average = sums_[stage] * (1.0f / static_cast<float>(length));
        // Stage s splits off the band between its input and its average: the
        // highest band first, so band s carries the gain of band 8 - s.
        output += gains_.bands[kBands - 1 - stage] * (stageInput - average);
        stageInput = average;
    }
    output += gains_.bands[0] * stageInput;
    return output * gains_.overall;
}

} // namespace zoc::dsp

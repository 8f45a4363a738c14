// Cascaded moving-average band splitter with per-band gains, four lanes wide.

#include "dsp/QFILT.h"

#include <cmath>
#include <cstddef>

namespace zoc::dsp {
namespace {

/// Bands within this many dB of flat count as flat.
constexpr float kFlatDecibels = 0.001f;
constexpr float kFlatOverallGain = 0.0001f;

using Lanes = QFILT::Lanes;

Lanes Splat(float value) { return Lanes{value, value, value, value}; }

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
    for (Lanes& sample : history_)
        sample = Lanes{};
    for (int stage = 0; stage < kStages; ++stage)
        sums_[stage] = partials_[stage] = Lanes{};
    count_ = 0;
}

void QFILT::CopyLane(int from, int to)
{
    for (Lanes& sample : history_)
        sample[to] = sample[from];
    for (int stage = 0; stage < kStages; ++stage) {
        sums_[stage][to] = sums_[stage][from];
        partials_[stage][to] = partials_[stage][from];
    }
}

namespace {

/// One stage of one frame. `input` becomes the stage's average, and `output`
/// takes the band between the two; `ends` when the frame fills the window.
[[gnu::always_inline]] inline void Stage(Lanes& input, Lanes& output, Lanes& sum, Lanes& partial, Lanes& slot,
                                         bool ends, Lanes reciprocal, Lanes gain)
{
    sum = sum + (input - slot);
    slot = input;
    partial = partial + input;
    if (ends) {
        sum = partial;
        partial = Lanes{};
    }
    const Lanes average = sum * reciprocal;
    output = output + gain * (input - average);
    input = average;
}

} // namespace

void QFILT::Process(Lanes* samples, int frames)
{
    if (!gains_.active)
        return;
    // Stage s splits off the band between its input and its average: the
    // highest band first, so stage s carries the gain of band 8 - s.
    Lanes gains[kStages];
    Lanes reciprocals[kStages];
    for (int stage = 0; stage < kStages; ++stage) {
        gains[stage] = Splat(gains_.bands[static_cast<std::size_t>(kBands - 1 - stage)]);
        reciprocals[stage] = Splat(1.0f / static_cast<float>(2 << stage));
    }
    const Lanes lowest = Splat(gains_.bands[0]);
    const Lanes overall = Splat(gains_.overall);
    // Locals, so that the sums stay in registers across frames.
    Lanes sums[kStages];
    Lanes partials[kStages];
    for (int stage = 0; stage < kStages; ++stage) {
        sums[stage] = sums_[stage];
        partials[stage] = partials_[stage];
    }
    unsigned count = count_;
    Lanes* const history = history_;

    // Frame by frame, every window position and window end worked out as it comes.
    const auto single = [&](Lanes& sample) {
        Lanes input = sample;
        Lanes output{};
#pragma GCC unroll 8
        for (int stage = 0; stage < kStages; ++stage) {
            const unsigned last = (2u << stage) - 1u;
            const unsigned position = count & last;
            Stage(input, output, sums[stage], partials[stage], history[WindowStart(stage) + static_cast<int>(position)],
                  position == last, reciprocals[stage], gains[stage]);
        }
        output = output + lowest * input;
        sample = output * overall;
        count = (count + 1u) & kCountMask;
    };

    constexpr unsigned kGroupMask = kGroup - 1;
    int frame = 0;
    while (frame < frames && (count & kGroupMask) != 0)
        single(samples[frame++]);

    // Groups of kGroup frames from a multiple of kGroup on: within a group the
    // positions of the short windows and the window ends of every stage but
    // the last frame's longer ones are fixed, so they unroll to constants.
    // Stage s of frame f needs only stage s - 1 of frame f and stage s of
    // frame f - 1; taking them along diagonals keeps several independent
    // stages in flight at once.
    for (; frame + kGroup <= frames; frame += kGroup) {
        Lanes* const group = samples + frame;
        Lanes inputs[kGroup];
        Lanes outputs[kGroup];
#pragma GCC unroll 8
        for (int f = 0; f < kGroup; ++f) {
            inputs[f] = group[f];
            outputs[f] = Lanes{};
        }
#pragma GCC unroll 16
        for (int diagonal = 0; diagonal < kGroup + kStages - 1; ++diagonal) {
#pragma GCC unroll 8
            for (int stage = 0; stage < kStages; ++stage) {
                const int f = diagonal - stage;
                if (f < 0 || f >= kGroup)
                    continue;
                const unsigned last = (2u << stage) - 1u;
                const unsigned inGroup = last & kGroupMask;
                const unsigned groupStart = count & last & ~kGroupMask;
                const bool ends = (static_cast<unsigned>(f) & inGroup) == inGroup &&
                                  (last <= kGroupMask || groupStart == (last & ~kGroupMask));
                Stage(inputs[f], outputs[f], sums[stage], partials[stage],
                      history[WindowStart(stage) + static_cast<int>(groupStart + (static_cast<unsigned>(f) & inGroup))],
                      ends, reciprocals[stage], gains[stage]);
                if (stage == kStages - 1) {
                    outputs[f] = outputs[f] + lowest * inputs[f];
                    group[f] = outputs[f] * overall;
                }
            }
        }
        count = (count + static_cast<unsigned>(kGroup)) & kCountMask;
    }

    while (frame < frames)
        single(samples[frame++]);

    for (int stage = 0; stage < kStages; ++stage) {
        sums_[stage] = sums[stage];
        partials_[stage] = partials[stage];
    }
    count_ = count;
}

} // namespace zoc::dsp

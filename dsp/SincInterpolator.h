#pragma once
// Fractional reads of a sampled signal through a 32-tap windowed sinc. The
// kernel is tabulated at a fixed number of fractional offsets ("phases") per
// frame; a read takes the two phases around its offset and mixes them
// linearly, so the delay it gives moves smoothly as the offset sweeps.
//
// The sinc's zeros are 15 × 2.16 / 31 ≈ 1.045 frames apart (a cutoff near
// 0.96 of the Nyquist frequency) under a raised-cosine window 30 frames wide,
// and the whole kernel is scaled by 1 / 1.08, which puts its gain at low
// frequencies about 0.3 dB below unity. A swept delay line reads through it
// without the dulling and zipper of linear interpolation.

#include <cstring>
#include <vector>

namespace zoc::dsp {

class SincInterpolator {
public:
    static constexpr int kTaps = 32;
    /// A read at `position` weighs frames position − 15 to position + 16;
    /// the kernel's centre is the 16th tap.
    static constexpr int kTapsBefore = 15;
    /// Frames before and after `position` that a read may touch (one more
    /// after: a read at offset 1, or between the last phase and the next
    /// frame's first, uses the window one frame later).
    static constexpr int kReachBefore = kTapsBefore;
    static constexpr int kReachAfter = kTaps - kTapsBefore;

    /// Builds the table of `phases` rows (at least 1). Allocates; control thread.
    explicit SincInterpolator(int phases);

    int Phases() const { return phases_; }
    /// The kTaps weights of a phase, 0 <= phase < Phases(): row q shifts the
    /// kernel by q / Phases() of a frame.
    const float* Row(int phase) const { return table_.data() + static_cast<std::size_t>(phase) * kTaps; }

    /// Where a read at a fractional offset lands: the whole frames it moves
    /// the position by (0, or 1 for an offset of 1), the phase row and the
    /// share of the next row.
    struct Point {
        int shift;
        int phase;
        float fraction;
    };
    /// The point of an offset 0 <= offset <= 1.
    Point Locate(double offset) const
    {
        const double scaled = offset * phases_;
        const int phase = static_cast<int>(scaled);
        const float fraction = static_cast<float>(scaled - phase);
        return phase >= phases_ ? Point{1, phase - phases_, fraction} : Point{0, phase, fraction};
    }

    /// The signal at `position` + `offset` frames, for 0 <= offset <= 1.
    /// Reads frames position − kReachBefore to position + kReachAfter. Any
    /// thread; never allocates.
    float Read(const float* position, double offset) const { return Read(position, Locate(offset)); }

    /// The signal at `position` + the offset `point` was located from.
    ///
    /// The dot products run over vectors of 16 taps and sum their lanes in a
    /// fixed tree, so the result is the same bit for bit whether the vectors
    /// are built from SSE, AVX or AVX-512 registers: callers may compile it
    /// for several instruction sets and pick one at run time.
    float Read(const float* position, Point point) const
    {
        // The phase after the last is the first phase of the next frame.
        const bool lastPhase = point.phase + 1 == phases_;
        const float* samples = position + point.shift - kTapsBefore;
        const float* nextSamples = samples + (lastPhase ? 1 : 0);
        const float* weights = Row(point.phase);
        const float* nextWeights = Row(lastPhase ? 0 : point.phase + 1);
        const float fraction = point.fraction;

        // Locals only: vectors this wide never cross a call.
        Float16 low, high, nextLow, nextHigh, weight, nextWeight;
        std::memcpy(&low, samples, sizeof low);
        std::memcpy(&high, samples + 16, sizeof high);
        std::memcpy(&nextLow, nextSamples, sizeof nextLow);
        std::memcpy(&nextHigh, nextSamples + 16, sizeof nextHigh);
        std::memcpy(&weight, weights, sizeof weight);
        std::memcpy(&nextWeight, nextWeights, sizeof nextWeight);
        Float16 here = weight * low;
        Float16 next = nextWeight * nextLow;
        std::memcpy(&weight, weights + 16, sizeof weight);
        std::memcpy(&nextWeight, nextWeights + 16, sizeof nextWeight);
        here += weight * high;
        next += nextWeight * nextHigh;

        // Mixing the partial sums before the last additions mixes the two
        // dot products, with one summing tree instead of two.
        return SumLanes(here + fraction * (next - here));
    }

private:
    using Float16 = float __attribute__((vector_size(16 * sizeof(float))));
    using Float8 = float __attribute__((vector_size(8 * sizeof(float))));
    using Float4 = float __attribute__((vector_size(4 * sizeof(float))));

    /// Halves added until one lane is left: the same tree on every instruction set.
    static float SumLanes(const Float16& lanes)
    {
        const Float8 eight = __builtin_shufflevector(lanes, lanes, 0, 1, 2, 3, 4, 5, 6, 7) +
                             __builtin_shufflevector(lanes, lanes, 8, 9, 10, 11, 12, 13, 14, 15);
        const Float4 four = __builtin_shufflevector(eight, eight, 0, 1, 2, 3) +
                            __builtin_shufflevector(eight, eight, 4, 5, 6, 7);
        return (four[0] + four[1]) + (four[2] + four[3]);
    }

    int phases_;
    std::vector<float> table_;
};

} // namespace zoc::dsp

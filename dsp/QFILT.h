#pragma once
// QFILT: an eight-band equalizer built from seven cascaded moving averages of
// 2, 4, 8, ... 128 samples. Each average is a low-pass; the differences
// between successive stages split the signal into eight octave-like bands
// that sum back to the input, so any set of band gains is cheap to apply
// and unity gains give the input back. Used in the feedback path of an echo,
// where it colours every repeat a little more than the one before.
//
// One QFILT runs four such filters side by side in the lanes of a small
// vector, in lockstep: they share the gains and the window positions, and
// each lane computes exactly what a filter of its own would.

#include <array>

namespace zoc::dsp {

class QFILT {
public:
    static constexpr int kStages = 7;
    static constexpr int kBands = 8;
    static constexpr int kLanes = 4;
    /// One sample of each of the four filters.
    using Lanes = float __attribute__((vector_size(kLanes * sizeof(float))));

    /// Linear band gains, lowest band first, worked out once for any number
    /// of filters.
    struct Gains {
        std::array<float, kBands> bands{1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
        float overall = 1.0f;
        /// Clear when every band is within 0.001 dB of 0 dB: the filter then
        /// passes its input unchanged and holds its state.
        bool active = false;

        static Gains FromDecibels(const std::array<float, kBands>& decibels);
    };

    void SetGains(const Gains& gains) { gains_ = gains; }
    /// Zeroes the averaging history of every lane; the gains stay.
    void Clear();
    bool IsActive() const { return gains_.active; }
    /// Gives lane `to` the history of lane `from`.
    void CopyLane(int from, int to);

    /// Filters `frames` samples of every lane in place, oldest first.
    void Process(Lanes* samples, int frames);

private:
    /// Stage s averages 2^(s+1) samples; its window starts here in history_.
    static constexpr int WindowStart(int stage) { return (2 << stage) - 2; }
    /// The windows of 2 + 4 + ... + 128 samples, end to end.
    static constexpr int kHistoryLength = (2 << kStages) - 2;
    /// Every window length divides the longest, so one frame count modulo
    /// the longest gives every stage's position.
    static constexpr unsigned kCountMask = (2u << (kStages - 1)) - 1u;
    /// Frames unrolled together by Process.
    static constexpr int kGroup = 8;

    Lanes history_[kHistoryLength]{};
    /// Running sum of each stage's window.
    Lanes sums_[kStages]{};
    /// The current window summed from its first sample on, in order; it
    /// replaces the running sum when the window is full, so rounding cannot
    /// pile up into a DC offset that the feedback would keep.
    Lanes partials_[kStages]{};
    unsigned count_ = 0;
    Gains gains_;
};

} // namespace zoc::dsp

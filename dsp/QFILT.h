#pragma once
// QFILT: an eight-band equalizer built from seven cascaded moving averages of
// 2, 4, 8, ... 128 samples. Each average is a low-pass; the differences
// between successive stages split the signal into eight octave-like bands
// that sum back to the input, so any set of band gains is cheap to apply
// and unity gains give the input back. Used in the feedback path of an echo,
// where it colours every repeat a little more than the one before.

#include <array>

namespace zoc::dsp {

class QFILT {
public:
    static constexpr int kStages = 7;
    static constexpr int kBands = 8;

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
    /// Zeroes the averaging history; the gains stay.
    void Clear();
    bool IsActive() const { return gains_.active; }

    /// One sample in, one sample out.
    float Process(float input);

private:
    /// Stage s averages 2^(s+1) samples; its window starts here in history_.
    static constexpr int WindowStart(int stage) { return (2 << stage) - 2; }
    /// The windows of 2 + 4 + ... + 128 samples, end to end.
    static constexpr int kHistoryLength = (2 << kStages) - 2;

    std::array<float, kHistoryLength> history_{};
    std::array<float, kStages> sums_{};
    std::array<int, kStages> positions_{};
    Gains gains_;
};

} // namespace zoc::dsp

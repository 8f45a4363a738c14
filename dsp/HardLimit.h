#pragma once
// HardLimit: a look-ahead brick-wall limiter over all channels of a frame.
//
// The input (after the input boost) runs through a delay line of the
// look-ahead length L. At the input end the limiter computes the gain each
// new frame needs to stay under the ceiling, r = min(1, ceiling / |x|), over
// the loudest channel when the channels are linked, else per channel. The
// gain applied at the output end is r taken through three stages, none of
// which can rise above what it is given:
//   1. a sliding minimum over the last L + 1 + H frames (H: hold), so the
//      gain a peak needs is in force from L frames before the peak reaches
//      the output until H frames after it has passed;
//   2. the release: a one-pole rise with the release time as time constant
//      towards just above that minimum, stopping at it, so it arrives in
//      finite time (falls are followed at once);
//   3. two moving averages of lengths B1 + B2 = L + 2, which turn each step
//      down of stage 2 into an S-shaped fade. Every average spans frames
//      whose sliding minimum already holds the peak's gain, so the faded
//      gain reaches the needed gain exactly when the peak is output: the
//      attack takes the whole look-ahead and never overshoots.
// A final clamp at the ceiling only removes rounding (a few ulps).
//
// The hold (the release time, at most kMaxHoldMs) spans more than half a
// period of any tone above about 23 Hz at the default settings, so a steady
// tone gets a constant gain: no ripple, no pumping, no added distortion.
// While no gain reduction is pending the path is exact: the output is the
// boosted input delayed by L frames, bit for bit.
//
// True peak (off by default). Samples under the ceiling can still describe a
// wave that swings above it between them, which a converter or a lossy
// encoder then clips. With kTruePeak on, the detector also looks at the wave
// between samples: three points between each pair of samples, interpolated
// by a 4x windowed-sinc filter of kTruePeakTaps taps per point. The filter
// needs kTruePeakTaps / 2 frames of the future, which it takes from the
// look-ahead: the latency stays L and the fade gets that much shorter. With
// a look-ahead shorter than that the detector stays on the samples. The
// points sit on a 4x grid, so a crest near Nyquist can still pass up to
// about 0.7 dB over; on white noise driven 10 dB into a -1 dB ceiling the
// reconstructed peak measures 0.6 dB over (5.5 dB on samples alone).
//
// Threads. SetSampleRate, SetChannels, Resume and Suspend belong to the
// control thread and must not overlap processing (they allocate or clear
// state). SetParameter may be called while the audio thread processes: the
// values are atomics, taken up at the next frame. Changing the look-ahead,
// the channel link or the detector restarts the gain computation (the clamp keeps the output
// under the ceiling while it refills). Processing never allocates, locks or
// blocks.

#include <atomic>
#include <cstdint>
#include <vector>

namespace zoc::dsp {

class HardLimit {
public:
    enum Parameter : int {
        kMaximumAmplitude = 0, ///< the ceiling, dB (0 dB = full scale)
        kInputBoost = 1,       ///< gain before limiting, dB
        kLookAheadTime = 2,    ///< ms; also the latency
        kReleaseTime = 3,      ///< ms
        kLinkChannels = 4,     ///< at least 0.5: one gain for all channels
        kTruePeak = 5,         ///< at least 0.5: limit the reconstructed wave, not only the samples
    };
    static constexpr int kParameterCount = 6;
    static constexpr int kMaxChannels = 32;

    /// Ranges in real units. Decibel values are kept on a 0.001 dB grid, so
    /// that normalized values such as 0.999 of -100..0 dB read as -0.1 dB.
    static constexpr float kMinCeilingDb = -100.0f;
    static constexpr float kMaxCeilingDb = 0.0f;
    static constexpr float kMinBoostDb = -40.0f;
    static constexpr float kMaxBoostDb = 20.0f;
    static constexpr float kMaxLookAheadMs = 15.0f;
    static constexpr float kMaxReleaseMs = 400.0f;
    /// The hold follows the release time up to 20 ms: half a period of 25 Hz.
    static constexpr float kMaxHoldMs = 20.0f;
    /// Taps of each interpolation point of the true-peak detector.
    static constexpr int kTruePeakTaps = 32;

    static constexpr float kDefaultCeilingDb = -0.1f;
    static constexpr float kDefaultBoostDb = 0.0f;
    static constexpr float kDefaultLookAheadMs = 2.0f;
    static constexpr float kDefaultReleaseMs = 150.0f;

    HardLimit();

    /// The integer sample rate (clamped to 1..768000). Control thread; allocates.
    void SetSampleRate(int rate);
    /// The channel count (clamped to 1..32). Control thread; allocates.
    void SetChannels(int channels);
    /// A value in real units, clamped to GetBounds; NaN and unknown indexes
    /// are ignored. Any thread; never blocks.
    void SetParameter(int index, float value);
    float GetParameter(int index) const;
    void GetBounds(int index, float& lo, float& hi) const;
    /// The look-ahead in frames at the current rate: the delay from input to output.
    int GetLatency() const;
    void Suspend() {}
    /// Clears the delay line and the gain state. Control thread.
    void Resume();
    /// One frame of every channel; `in` and `out` may be the same array.
    /// Non-finite input samples count as silence. Audio thread.
    void ProcessOneSample(const float* in, float* out);
    /// `frames` frames of planar channels, frame by frame. Audio thread.
    void Process(float** in, float** out, int frames);

private:
    /// Lengths in frames that follow from the settings and the rate.
    struct Geometry {
        int lookAhead = 0;        ///< the latency
        int detectorDelay = 0;    ///< frames the detector lags the input: 0, or half the true-peak taps
        std::uint32_t window = 1; ///< frames in the sliding minimum: L + 1 + hold
        int box1 = 1;             ///< moving-average lengths, box1 + box2 = L + 2
        int box2 = 1;
        double inverse1 = 1.0;
        double inverse2 = 1.0;
    };

    /// The gain computation of one detector (all channels when linked).
    class GainPath {
    public:
        void Allocate(int maxWindow, int maxBox);
        void Reset(const Geometry& geometry);
        /// The gain for the frame output now, given the gain the newest input
        /// frame needs.
        float Next(float needed, std::uint32_t now, const Geometry& geometry, float releaseCoefficient);

    private:
        struct Entry {
            float value;
            std::uint32_t time;
        };
        void FillUnity(const Geometry& geometry);

        std::vector<Entry> wedge_; ///< increasing values, oldest first; the front is the minimum
        std::uint32_t wedgeMask_ = 0;
        std::uint32_t head_ = 0;
        std::uint32_t tail_ = 0;
        float released_ = 1.0f;
        std::vector<float> ring1_, ring2_;
        double sum1_ = 1.0, sum2_ = 1.0;
        int position1_ = 0, position2_ = 0;
        int unityRun_ = 0;
        bool idle_ = true; ///< every stage holds exactly 1
    };

    void Allocate();
    void TakeSettings();
    /// The largest magnitude of `channel` over the three interpolated points
    /// between the frames kTruePeakTaps / 2 and kTruePeakTaps / 2 - 1 back.
    float InterpolatedPeak(std::size_t channel) const;
    int LookAheadFrames(float milliseconds) const;
    float ClampToBounds(int index, float value) const;

    // Settings, written by any thread.
    std::atomic<float> ceilingDb_{kDefaultCeilingDb};
    std::atomic<float> boostDb_{kDefaultBoostDb};
    std::atomic<float> lookAheadMs_{kDefaultLookAheadMs};
    std::atomic<float> releaseMs_{kDefaultReleaseMs};
    std::atomic<bool> linked_{true};
    std::atomic<bool> truePeak_{false};
    std::atomic<bool> changed_{true};

    // Control thread.
    int rate_ = 44100;
    int channels_ = 2;

    // Audio thread.
    Geometry geometry_;
    float ceiling_ = 1.0f;
    float boost_ = 1.0f;
    float releaseCoefficient_ = 1.0f;
    bool linkedNow_ = true;
    bool truePeakNow_ = false;
    /// Per channel, the interpolated peak between the previous pair of samples.
    std::vector<float> previousInterpolated_;
    /// Per channel, the last kTruePeakTaps samples written twice in a row, so
    /// that they can be read oldest first without wrapping from `historyPosition_`.
    std::vector<float> history_;
    int historyPosition_ = 0;
    std::vector<float> delay_; ///< interleaved frames, a power of two of them
    std::uint32_t delayMask_ = 0;
    std::uint32_t now_ = 0; ///< frames written
    std::vector<GainPath> paths_;
};

} // namespace zoc::dsp

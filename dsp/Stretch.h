#pragma once
// Stretch: a real-time pitch shifter over all channels, by waveform-aligned
// splicing of a resampling read head.
//
// Every channel is written into a history line. The output reads that line
// through a head that moves `ratio` input frames per output frame, so what it
// plays comes out transposed by exactly the ratio. A head moving faster or
// slower than the input drifts away from the nominal delay (the latency L), so
// at the splice frequency a new head is started where it will drift back
// across the nominal delay, and the old one is cross-faded into it over the
// Overlapping share of a splice period (a raised-cosine fade whose two gains
// sum to one).
//
// The new head does not start blindly: within a search range around its
// nominal place it starts where the signal looks most like what the old head
// is about to play (the largest normalized cross-correlation over a comparison
// window of the channels' sum, refined to a fraction of a frame by a parabola
// through the peak). When the playing head already lies in that range the best
// match is usually the head itself, so a high splice frequency costs little:
// the head jumps only when it has to. On periodic sounds the two heads are
// then in phase, the cross-fade sums two copies of the same wave, and the
// splice leaves no beat, dip or click. All channels share the heads, so the
// phase relations between channels are kept exactly.
//
// Reads between frames go through a 32-tap Kaiser-windowed sinc, tabulated at
// 512 fractional offsets and mixed linearly between them; at a whole-frame
// offset it is the frame itself. A head that reads faster than the input
// (ratio above 1) would fold the top of the input's band back below its
// Nyquist frequency; there the sinc is narrowed to Nyquist / ratio (a second
// table, of 128 offsets, rebuilt in some 50 µs when the ratio changes), so
// the folded part is filtered out: a tone 25 %
// above that frequency comes back 40 dB down or more, one within 10 % of it
// only about 12 dB down (the filter's transition band). At a ratio of exactly
// 1 the head sits on the nominal delay and never splices: the output is the
// input delayed by L, bit for bit.
//
// Latency. A head lives one period plus one fade (P + C output frames) and
// drifts |ratio - 1| frames per frame, at most one frame per frame over the
// ratio range 0.5..2; it starts half its drift ahead of the nominal delay,
// plus the search offset S. So it never leaves ±((P + C) / 2 + S) of the
// nominal delay, and L is that bound plus the interpolator's reach. L does not
// depend on the ratio, which may be automated; it follows Frequency,
// Overlapping and Precision.
//
// Precision (0, 1, 2) trades CPU and latency for alignment: a wider search
// (±5, ±8, ±12 ms: the range then holds a whole period of 100, 62, 42 Hz), a
// longer comparison window (20, 25, 30 ms) read at every 4th, 2nd or every
// frame in the coarse pass. The comparison is weighted by a Hann taper, and
// the head goes to the highest peak inside the range, so the splice lands on
// the tone's true lag to a small fraction of a frame. With Use Default Setting
// the splice period and fade come from the ratio instead of Frequency and
// Overlapping, within a fixed head life (40, 60, 80 ms by Precision): the
// further from unity, the longer the fade.
//
// Threads. SetSampleRate, SetChannels, Initialize and Resume belong to the
// control thread and must not overlap processing (they allocate or clear
// state). SetParameter may be called from any thread while the audio thread
// processes: values are atomics, taken up at the start of the next block. A
// new ratio takes effect at once (the heads change speed; the wave stays
// continuous; a splice comes early when the playing head would leave its range
// during the next fade, and a fade under way is shortened to the frames its
// heads have left, so no head ever stops at the edge of its range and plays
// the input's own pitch). A new Frequency, Overlapping or Precision changes L:
// the heads keep their place in the input, so the output does not jump, and
// the next splice brings them back to the new nominal delay. Processing never
// allocates, locks or blocks; the history is sized for the longest head life
// when the rate or the channel count is set.

#include <atomic>
#include <cstdint>
#include <vector>

namespace zoc::dsp {

class Stretch {
public:
    enum Parameter : int {
        kTransposeRatio = 0,    ///< output frequency / input frequency
        kPrecision = 1,         ///< 0, 1 or 2 (rounded)
        kFrequency = 2,         ///< splices per second, Hz
        kOverlapping = 3,       ///< share of a splice period spent cross-fading, 0..1
        kUseDefaultSetting = 4, ///< at least 0.5: period and fade follow the ratio
    };
    static constexpr int kParameterCount = 5;
    static constexpr int kMaxChannels = 32;

    static constexpr float kMinRatio = 0.5f;
    static constexpr float kMaxRatio = 2.0f;
    static constexpr float kMaxPrecision = 2.0f;
    static constexpr float kMinFrequency = 10.0f;
    static constexpr float kMaxFrequency = 1000.0f;

    static constexpr float kDefaultRatio = 1.0f;
    static constexpr float kDefaultFrequency = 40.0f;
    static constexpr float kDefaultOverlapping = 0.2f;

    /// Ratios closer to 1 than this (0.02 cent) are exactly 1, so that a
    /// normalized value such as 0.333333 of 0.5..2 is transparent.
    static constexpr double kUnityTolerance = 1.0e-5;

    Stretch();

    /// The integer sample rate (clamped to 1..768000). Control thread; allocates.
    void SetSampleRate(int rate);
    /// The channel count (clamped to 1..32). Control thread; allocates.
    void SetChannels(int channels);
    /// A value in real units, clamped to GetBounds; NaN and unknown indexes
    /// are ignored. Any thread; never blocks.
    void SetParameter(int index, float value);
    float GetParameter(int index) const;
    void GetBounds(int index, float& lo, float& hi) const;
    /// The delay in frames from input to output. With `pending` true, that of
    /// the settings last set (what the next block runs with); else that of
    /// the block last processed. Any thread.
    int GetLatency(bool pending = true) const;

    /// The frames the caller means to process; kept for the caller, the
    /// shifter needs no end (it preserves duration frame for frame).
    void SetDuration(std::int64_t frames) { duration_ = frames; }
    std::int64_t GetDuration() const { return duration_; }
    /// Frames processed since Initialize or Resume.
    std::int64_t GetProcessedDuration() const { return written_; }

    /// Takes the settings and clears the history. Control thread.
    void Initialize();
    void Suspend() {}
    /// Clears the history and the heads. Control thread.
    void Resume() { Initialize(); }
    /// `frames` frames of planar channels; `in` and `out` may be the same
    /// buffers. Non-finite input samples count as silence. Audio thread.
    void Process(float** in, float** out, int frames);

private:
    /// Lengths in frames that follow from the settings and the rate.
    struct Geometry {
        int period = 1;       ///< frames between splices (with fixed settings)
        int fade = 1;         ///< cross-fade frames (with fixed settings)
        int life = 2;         ///< period + fade: the longest a head plays
        bool fromRatio = false; ///< period and fade follow the ratio within `life`
        int search = 1;       ///< the new head starts within ± this of its nominal place
        int window = 1;       ///< comparison window
        int stride = 1;       ///< frames between compared samples in the coarse search
        int coarseStep = 1;   ///< candidates between coarse trials
        double bound = 1.0;   ///< heads stay within ± this of the nominal delay
        int latency = 1;
    };
    struct Settings {
        double ratio;
        float precision;
        float frequency;
        float overlapping;
        bool useDefault;
    };
    struct Splice {
        int period;
        int fade;
    };

    Settings Load() const;
    static double SnapRatio(float ratio);
    Geometry Plan(const Settings& settings) const;
    Splice Shape(double ratio) const;
    void Allocate();
    void TakeSettings();
    void BuildTaper();
    void StartSplice(double ratio);
    /// Whole frames a head at `offset` can move by `drift` per frame before
    /// it would leave the bound (a large number when it does not move).
    int Room(double offset, double drift) const;
    /// Shortens the rest of a running fade to the frames both heads have
    /// left inside the bound at `drift` (after a sudden change of ratio).
    void FitFade(double drift);
    /// The offset from the nominal delay at which a head should start to
    /// continue the head at `current` in phase, near `target`.
    double Align(double current, double target);
    /// The tapered correlation of the gathered reference with the candidate
    /// at `lag`, over the candidate's energy; every `stride`-th frame.
    double Similarity(int lag, int stride) const;
    /// The interpolation weights of a read at `offset` from the nominal delay,
    /// low-passed at `cutoff` (a fraction of the Nyquist frequency, at most
    /// 1); returns the first frame they apply to.
    std::int64_t Weights(double offset, double cutoff, float* weights) const;
    void BuildNarrowTable(double cutoff);

    // Settings, written by any thread.
    std::atomic<float> ratio_{kDefaultRatio};
    std::atomic<float> precision_{0.0f};
    std::atomic<float> frequency_{kDefaultFrequency};
    std::atomic<float> overlapping_{kDefaultOverlapping};
    std::atomic<bool> useDefault_{false};
    std::atomic<bool> changed_{true};

    // Control thread.
    int rate_ = 44100;
    int channels_ = 2;
    std::int64_t duration_ = 0;

    // Audio thread.
    Geometry geometry_;
    std::vector<float> history_; ///< per channel `size_ + kHistoryPad` frames; the pad repeats the first frames
    std::vector<float> sum_;     ///< the channels' sum, `size_` frames
    std::vector<float> taper_;   ///< weights of the comparison window
    std::vector<float> taperSquares_;
    std::vector<float> referenceTapered_; ///< the old head's coming frames, tapered
    std::vector<float> candidates_;       ///< the frames every candidate may cover
    std::vector<float> candidateSquares_;
    std::vector<double> scores_; ///< similarity of each coarse candidate
    std::vector<float> narrowTable_; ///< read filter rows for the cutoff below
    double narrowCutoff_ = 0.0;
    std::size_t size_ = 0;       ///< a power of two
    std::int64_t written_ = 0;   ///< frames written
    double active_ = 0.0;        ///< offset of the playing head from the nominal delay
    double incoming_ = 0.0;      ///< offset of the head being faded in
    bool fading_ = false;
    // The cross-fade runs its progress from fadeFrom_ to 1 over fadeLength_
    // frames; a fade shortened midway restarts from where it was.
    double fadeFrom_ = 0.0;
    int fadeLength_ = 1;
    int fadePosition_ = 0;
    int period_ = 1;
    int sinceSplice_ = 0;
    std::atomic<int> latencyInForce_{1};
};

} // namespace zoc::dsp

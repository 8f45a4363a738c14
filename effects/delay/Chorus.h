#pragma once
// Chorus: several voices singing the same part. Up to 16 voices read the
// signal from one shared stereo delay line, each at its own fixed offset (the
// spread) plus a delay that wanders under low-pass filtered noise, with a gain
// that wanders under a second noise source, and each placed in the stereo
// field, optionally with the small time difference between the ears that a
// source off to one side gives (binaural cues). The layout is random but
// reproducible: the noise generator is seeded from the settings, so the same
// settings always give the same voices.
//
// Designing and settling the 32 noise filters is too costly for the audio
// thread, so a worker thread of the component recomputes the voice tables
// into a spare copy; the audio thread hands the copy over and takes it back
// at fixed points in the stream, without locks.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "dsp/DelayLine.h"
#include "dsp/SincInterpolator.h"
#include "framework/TableComponentBase.h"

namespace zoc::components {

extern const std::string kChorusComponentID;
inline constexpr std::size_t kChorusParameterCount = 13;

/// The chorus's noise source: a lagged additive generator over 55 integers
/// in 0..9999 (x[i] = x[i-1] + x[i-32] mod 10000), seeded through a 21-bit
/// linear congruential generator that also draws the voices' offsets.
class ChorusNoise {
public:
    static constexpr int kTableSize = 55;
    static constexpr std::uint32_t kLcgModulus = 1u << 21;

    /// Fills the table from `seed` and leaves the congruential state at its
    /// last value; the table index stays where it was.
    void Seed(std::int64_t seed);
    /// Puts the table index back where a new generator has it.
    void Rewind()
    {
        index_ = 0;
        last_ = table_[0];
    }
    /// The next congruential state, 0..2^21-1.
    std::uint32_t NextState()
    {
        state_ = (state_ * 524309u + 1u) % kLcgModulus;
        return state_;
    }
    std::uint32_t State() const { return state_; }
    void SetState(std::uint32_t state) { state_ = state; }
    /// The next noise value, uniform in -1..1 times `gain`: (x - 5000) / 5000 × gain.
    double Next(double gain) { return kUnitValues[static_cast<std::size_t>(Step())] * gain; }
    /// Moves on by `count` values. A long skip jumps: the sequence obeys a
    /// linear recurrence, so the values `count` steps on are sums of the
    /// last 32 with coefficients from x^count modulo its characteristic
    /// polynomial, which a few dozen polynomial products give.
    void Skip(std::int64_t count);
    /// The next `count` noise values times `gain`.
    void Fill(double* values, std::size_t count, double gain)
    {
        Run(static_cast<std::int64_t>(count), [&](int x) { *values++ = kUnitValues[static_cast<std::size_t>(x)] * gain; });
    }

private:
    /// (x - 5000) / 5000 for every x, divided once.
    static const std::array<double, 10000> kUnitValues;

    /// x[i] := (x[i-1] + x[i-32]) mod 10000, indexes modulo 55.
    int Step()
    {
        index_ = index_ + 1 == kTableSize ? 0 : index_ + 1;
        const int lagged = index_ >= 32 ? index_ - 32 : index_ + kTableSize - 32;
        int value = last_ + table_[static_cast<std::size_t>(lagged)];
        if (value >= 10000)
            value -= 10000;
        table_[static_cast<std::size_t>(index_)] = value;
        last_ = value;
        return value;
    }

    /// Step() `count` times with the index and the last value in locals,
    /// handing each value to `sink`.
    template <typename Sink>
    void Run(std::int64_t count, Sink sink)
    {
        int index = index_;
        int last = last_;
        for (std::int64_t i = 0; i < count; ++i) {
            index = index + 1 == kTableSize ? 0 : index + 1;
            const int lagged = index >= 32 ? index - 32 : index + kTableSize - 32;
            int value = last + table_[static_cast<std::size_t>(lagged)];
            if (value >= 10000)
                value -= 10000;
            table_[static_cast<std::size_t>(index)] = value;
            last = value;
            sink(value);
        }
        index_ = index;
        last_ = last;
    }

    std::array<int, kTableSize> table_{};
    int index_ = 0;
    int last_ = 0; ///< table_[index_], kept at hand
    std::uint32_t state_ = 0;
};

class Chorus : public TableComponentBase<kChorusParameterCount> {
public:
    static constexpr int kMaxChannels = 2;
    static constexpr int kParameterCount = static_cast<int>(kChorusParameterCount);
    static constexpr int kMaxVoices = 16;
    enum Parameter : int {
        kDelayTime,
        kDelayRate, ///< the cutoff of the delay noise, in Hz
        kFeedback,
        kDryOutputLevel,
        kWetOutputLevel,
        kSpread,
        kStereoField,
        kModulationRate,
        kModulationDepth,
        kVoices, ///< the count itself (1 to 16) crosses the interface unscaled
        kAverageInputs,
        kAddoBinauralCues,
        kHighestQuality,
    };
    /// Bits of pending voice-table work.
    enum Work : unsigned {
        kWorkOffsets = 1,
        kWorkPlacement = 2,
        kWorkDelayNoise = 4,
        kWorkAmplitudeNoise = 8,
        kWorkEverything = 16,
    };
    /// Noise values per filtered block.
    static constexpr int kNoiseBlock = 128;

    /// One low-pass filtered noise source, and (for the first 16) the voice
    /// it drives: its offset and its place in the stereo field. The filter
    /// has two second-order sections; a second-order design leaves the
    /// second one passing its input through unchanged.
    struct LPNOISE {
        std::array<double, kNoiseBlock> block{};
        int position = kNoiseBlock;
        std::array<std::array<double, 3>, 2> b{};
        std::array<std::array<double, 2>, 2> a{};
        std::array<std::array<double, 2>, 2> pastIn{};
        std::array<std::array<double, 2>, 2> pastOut{};
        // Voice data.
        int offset = 0; ///< frames
        double panLeft = 1.0;
        double panRight = 1.0;
        int interauralFrames = 0;
        int extraLeft = 0;
        int extraRight = 0;

        /// The next value of a block that is not used up.
        double Next() { return block[static_cast<std::size_t>(position++)]; }
        bool Due() const { return position == kNoiseBlock; }
    };

    /// Everything the worker recomputes.
    struct VoiceTables {
        ChorusNoise noise;
        std::array<LPNOISE, 2 * kMaxVoices> modulators;
        double delayGain = 1.0;
        double amplitudeGain = 1.0;
        int voices = 2;
    };

    Chorus();
    ~Chorus() override;

    /// Takes one input and one output bus of one or two channels; ignores
    /// every other proposal. Control thread.
    bool RequestIOConfiguration(const host::ChannelLayoutList& inputs,
                                const host::ChannelLayoutList& outputs) override;
    /// Stores the value and marks the voice-table work it calls for. The voice
    /// count is taken as passed (1 to 16), not as a fraction. Control thread;
    /// never blocks, never allocates.
    void SetParameter(int index, float normalized) override;
    float GetParameter(int index) override;
    /// Clears the line, recomputes every voice table on the calling thread,
    /// then starts the worker. Control thread; allocates after a rate change.
    void Resume() override;
    /// Stops the worker and waits for it (at most one noise block's filtering
    /// if it is busy). Control thread.
    void Suspend() override;
    /// Audio thread. Allocates nothing once resumed.
    void Process(float** inputs, float** outputs, int frames) override;
    int GetInitialDelay() override { return 0; }

    /// Filters new blocks for the used-up modulators of the playing voices,
    /// drawing their noise in the order the voices read them. Never allocates.
    static void RefillDue(VoiceTables& tables);

    /// The tables the audio thread plays from; for tests, between blocks.
    const VoiceTables& Voices() const { return *live_; }

private:
    void Reset() override;
    void Update() override {}

    struct Settings; // the values one recomputation uses
    struct WorkerLink;
    Settings TakeSettings() const;
    /// Does the work in `bits` on `tables`; false (and nothing finished) when
    /// `stop` turned true on the way.
    bool Recompute(unsigned bits, VoiceTables& tables, const std::atomic<bool>* stop) const;
    void WorkerLoop(WorkerLink& link);
    void StopWorker();
    /// At a hand-over point: takes finished work, then asks for pending work.
    void HandOver();
    void TakeFinishedWork();

    /// Frame by frame: every voice reads the line as the previous frames'
    /// feedback left it.
    template <bool kSinc, bool kAverage, bool kMono>
    void Render(float** inputs, float** outputs, int offset, int frames);
    /// Without feedback, in runs that no noise refill interrupts: voice by
    /// voice over a run where no read reaches the run's own frames, frame by
    /// frame otherwise. Gives Render's output to the bit.
    template <bool kSinc, bool kAverage, bool kMono>
    void RenderWithoutFeedback(float** inputs, float** outputs, int offset, int frames);
    /// One such run voice by voice; false, with nothing done, when a read
    /// would reach into the run.
    template <bool kSinc, bool kAverage, bool kMono>
    bool RenderRun(float** inputs, float** outputs, int offset, int frames);

    dsp::SincInterpolator interpolator_;
    dsp::DelayLines line_;
    int lineFrames_ = 0; ///< M
    int write_ = 0;
    double builtRate_ = 0.0;
    std::atomic<double> rate_{44100.0};
    std::atomic<double> baseDelay_{0.0}; ///< B, frames
    std::atomic<int> voices_{2};
    std::atomic<unsigned> pending_{kWorkEverything};

    // Ramps, audio thread.
    double dryGain_ = 0.7;
    int fadeLength_ = 1;
    int fadeRemaining_ = 0;
    int dryRampLength_ = 1;
    int dryRampRemaining_ = 0;
    int framesToHandOver_ = 0;

    // The two copies of the voice tables and who holds the spare one.
    enum Stage : int { kIdle, kRequested, kFinished };
    std::unique_ptr<VoiceTables> live_;
    std::unique_ptr<VoiceTables> spare_;
    std::atomic<int> stage_{kIdle};
    unsigned finishedBits_ = 0; ///< written by the worker before kFinished
    std::shared_ptr<WorkerLink> worker_;
};

} // namespace zoc::components

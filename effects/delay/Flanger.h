#pragma once
// Flanger: the signal mixed with copies read from its own delay line while a
// low-frequency oscillator sweeps the delay between two limits, with feedback
// into the line. The output runs a fixed 5082 frames late, so besides the copy
// behind the output position it can take one the same distance ahead of it:
// the two move towards each other and cross at zero delay (through-zero
// flanging). The sweep is a sine or a triangle; the right channel's sweep may
// run at a phase offset against the left. Mono input drives both sweeps and
// hears their average.

#include <array>
#include <atomic>
#include <cstddef>
#include <string>

#include "dsp/DelayLine.h"
#include "dsp/SincInterpolator.h"
#include "framework/TableComponentBase.h"

namespace zoc::components {

extern const std::string kFlangerComponentID;
inline constexpr std::size_t kFlangerParameterCount = 10;

class Flanger : public TableComponentBase<kFlangerParameterCount> {
public:
    static constexpr int kMaxChannels = 2;
    static constexpr int kParameterCount = static_cast<int>(kFlangerParameterCount);
    enum Parameter : int {
        kInitialDelayTime,
        kFinalDelayTime,
        kStereoPhasing,
        kModRateFreq,
        kMix,
        kFeedback,
        kInverted,
        kSpecialFX,
        kSinusoidal, ///< on selects the triangular sweep
        kModRateBeats,
    };
    /// How far the output lags the input, in frames.
    static constexpr int kLatency = 5082;

    Flanger();

    /// Takes one input and one output bus of one or two channels; ignores
    /// every other proposal. Control thread.
    bool RequestIOConfiguration(const host::ChannelLayoutList& inputs,
                                const host::ChannelLayoutList& outputs) override;
    /// Audio thread. Allocates only if no Resume came before the first block:
    /// the lines have one size at every rate, so later resets just clear them.
    void Process(float** inputs, float** outputs, int frames) override;
    int GetInitialDelay() override { return kLatency; }

private:
    /// Clears the lines (allocating them the first time), restarts the sweep
    /// and asks the next update for the full set of settings.
    void Reset() override;
    /// A full update, or only the rate when nothing else changed.
    void Update() override;
    /// Couples the two rate parameters and records what the update must redo.
    void OnValueStored(std::size_t index, float value) override;
    void FullUpdate();
    /// The sine increment, the right sine's phase and the triangle steps.
    void RateUpdate();

    /// Runs the sweep and the taps over `frames` frames whose input is in the
    /// lines already, leaving each output frame in the lines.
    template <bool kTriangle, bool kOneTap>
    void Render(int frames);
    /// Longest stretch of frames whose delays are worked out ahead of their taps.
    static constexpr int kSweepRun = 64;
    using SweepDelays = std::array<std::array<double, kSweepRun>, 2>;
    /// The delays of both sides for the next `frames` frames, each taken
    /// before its sweep steps on.
    void SweepSine(int frames, SweepDelays& delays);
    void SweepTriangle(int frames, SweepDelays& delays);
    /// Takes the sine and cosine of both phases afresh.
    void AnchorSine();
    /// Moves the recent part of the lines back to their start.
    void Compact();

    /// The first frame of a line; a short margin below it holds older frames.
    float* Line(std::size_t side);

    // Audio thread state.
    dsp::DelayLines lines_;
    dsp::SincInterpolator interpolator_;
    int write_ = 0; ///< where the next input frame goes
    std::array<double, 2> sinePhase_{};
    double phaseIncrement_ = 0.0;
    // The sine of each phase follows it by rotation, one increment a frame,
    // and is taken afresh every so many frames so that no error builds up.
    std::array<double, 2> sine_{};
    std::array<double, 2> cosine_{};
    double rotationCos_ = 1.0;
    double rotationSin_ = 0.0;
    int framesToAnchor_ = 0;
    double minimumDelay_ = 1.0;
    double depth_ = 0.0; ///< maximum − minimum delay; negative sweeps downward
    std::array<double, 2> trianglePosition_{};
    std::array<double, 2> triangleStep_{};
    double triangleLower_ = 0.0;
    double triangleUpper_ = 0.0;
    double dryGain_ = 1.0;
    double wetBehind_ = 0.0;
    double wetAhead_ = 0.0;
    float feedback_ = 0.0f;
    int mode_ = 0; ///< 1: one tap (special effects), +2: triangular sweep

    /// Set by the control thread when more than the rate changed.
    std::atomic<bool> fullUpdate_{true};
};

} // namespace zoc::components

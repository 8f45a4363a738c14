#pragma once
// Tone synthesiser of the tone generator: up to five components (a
// fundamental and four more at free frequency ratios) of one waveform, with
// vibrato, glides of every setting over the duration (sweeps, chord changes),
// a stereo phase offset that may rotate, and four ways to meet the existing
// audio. Waveforms are band-limited (BandLimitedTables), so even a 15 kHz
// sawtooth folds nothing back below the Nyquist frequency.
//
// Parameters, in real units (index: meaning, bounds):
//  0 Flavor: waveform, rounded: 0 sine, 1 triangle, 2 square (pulse), 3 sawtooth. 0..3
//  1 Frequency: fundamental in Hz at the original sample rate (43). 0..rate/2
//  2 Final Frequency: fundamental at the end of a glide. 0..rate/2
//  3 ModulateBy: vibrato depth, Hz of frequency deviation. 0..rate/2
//  4 Final ModulateBy. 0..rate/2
//  5 ModulateFreq: vibrato rate, Hz. 0..rate/2
//  6 Final ModulateFreq. 0..rate/2
//  7 SubFlavor: shape; for the square, the part of each cycle spent high
//    (0.5 symmetric, held within 0.01..0.99); the other waveforms ignore it. 0..1
//  8 FinalSubFlavor. 0..1
//  9-13 Overtones 0-4: level of components 1-5, dB; -60 (the bottom) mutes. -60..0
// 14-18 FinalOvertones 0-4. -60..0
// 19 Locked: at least 0.5 holds every setting for the whole duration; below
//    0.5 settings glide from their first to their final value. 0..1
// 20 NoiseDuration: length of the raised-cosine fade in and fade out, ms, so
//    the tone starts and ends without a click. 0..12
// 21 Gain: dB applied to the tone. -60..0
// 22 Start Phase: degrees added to every component at the start. 0..360
// 23 Phase Diff: degrees by which channel c leads channel 0, times c. 0..360
// 24 PhaseDeltaQ: Hz at which that difference keeps turning (a beat between
//    the channels). 0..rate/2
// 25 Interaction Mode, rounded: 0 generate (the input is replaced); 1
//    modulate: the input is multiplied by the tone moved into 0..1, so a
//    component of level L swings the gain between 1 - L and 1 (tremolo); 2
//    ring modulate: the input is multiplied by the tone itself; 3 add: the
//    tone is mixed onto the input. 0..3
// 26-30 F1-F5: frequency ratio of components 1-5 to the fundamental. 0..1200
// 31-35 Fi1-Fi5: final ratios. 0..1200
// 36-40 C1-C5 Enable: at least 0.5 turns the component on. 0..1
// 41 DCOffset: 0.5 none; 0 and 1 shift by -1 and +1 full scale (generate and
//    add only). 0..1
// 42 LogSweeping: at least 0.5 glides the fundamental evenly in log frequency
//    (equal time per octave); below, evenly in hertz. 0..1
// 43 Original Sample Rate: the rate, Hz, at which the frequencies were set;
//    they sound at frequency * original / current rate, so saved settings
//    keep their pitch at any rate. 0 means the current rate. 0..192000
// 44 Preview: the host renders a preview; the sound is the same. 0..1
//
// The enabled components are mixed so the sum can never pass -0.26 dBFS
// (with the DC offset), scaled down together only when their levels add up
// to more; Gain then applies. Components whose frequency reaches the Nyquist
// frequency fall silent for that block instead of aliasing.
//
// Threads: settings (SetParameter, SetSampleRate, SetDuration) on the control
// thread; Resume takes a snapshot of them, and Process works on the snapshot
// only, so a run on a worker never races with edits. Process does not
// allocate.

#include <array>
#include <cstdint>
#include <vector>

#include "dsp/tones/BandLimitedTables.h"

namespace zoc::dsp::tones {

class TonesDSP {
public:
    static constexpr int kParameterCount = 45;
    static constexpr int kComponentCount = 5;
    static constexpr int kMaxChannels = 32;

    enum Parameter : int {
        kFlavor = 0,
        kFrequency = 1,
        kFinalFrequency = 2,
        kModulateBy = 3,
        kFinalModulateBy = 4,
        kModulateFreq = 5,
        kFinalModulateFreq = 6,
        kSubFlavor = 7,
        kFinalSubFlavor = 8,
        kOvertones0 = 9,
        kFinalOvertones0 = 14,
        kLocked = 19,
        kNoiseDuration = 20,
        kVolume = 21,
        kStartPhase = 22,
        kPhaseDiff = 23,
        kPhaseDeltaQ = 24,
        kInteractionMode = 25,
        kRatio0 = 26,
        kFinalRatio0 = 31,
        kEnable0 = 36,
        kDCOffset = 41,
        kLogSweeping = 42,
        kOriginalSampleRate = 43,
        kPreview = 44,
    };

    enum Flavor : int { kSine = 0, kTriangle = 1, kSquare = 2, kSawtooth = 3 };
    enum Mode : int { kGenerate = 0, kModulate = 1, kRingModulate = 2, kAdd = 3 };

    TonesDSP();

    /// Keeps every frequency parameter's fraction of the Nyquist frequency.
    void SetSampleRate(int rate);
    void SetChannels(int channels);
    /// Clamped to the bounds; NaN is ignored.
    void SetParameter(int index, float value);
    float GetParameter(int index) const;
    void GetBounds(int index, float& lo, float& hi) const;
    int GetLatency() const { return 0; }

    void SetDuration(long long frames);
    long long GetProcessedDuration() const { return duration_; }

    /// Takes the settings and rewinds to the start of the duration.
    void Resume();
    void Suspend() {}

    /// Produces the next `frames` frames of every channel. `inputs` may be
    /// null (silence) and may be the same buffers as `outputs`. Past the
    /// duration the output is silence (generate) or the input (other modes).
    void Process(float** inputs, float** outputs, int frames);

private:
    static constexpr int kStep = 64; ///< frames between settings updates

    /// A setting at the start and at the end of the duration.
    struct Glide {
        double start = 0.0;
        double end = 0.0;
        double At(double t) const { return start + (end - start) * t; }
    };

    void Prepare();
    void Step(float** inputs, float** outputs, int offset, int frames);
    double Fraction(long long position) const;
    float FadeAt(long long position) const;

    int rate_ = 44100;
    int channels_ = 2;
    std::array<float, kParameterCount> settings_{};
    long long duration_ = 0;

    // The snapshot Process works on.
    const BandLimitedTables& tables_;
    int flavor_ = kSine;
    int mode_ = kGenerate;
    bool gliding_ = false;
    bool logSweep_ = false;
    bool perChannel_ = false;
    Glide frequency_;
    Glide modulateBy_;
    Glide modulateFreq_;
    Glide duty_;
    std::array<bool, kComponentCount> enabled_{};
    std::array<Glide, kComponentCount> levelDb_{};
    std::array<Glide, kComponentCount> ratio_{};
    double mixScale_ = 1.0;
    double gain_ = 1.0;
    double dcOffset_ = 0.0;
    double startPhase_ = 0.0;  ///< cycles
    double phaseDiff_ = 0.0;   ///< cycles per channel
    double phaseTurn_ = 0.0;   ///< cycles per channel per frame
    long long fadeFrames_ = 0;
    long long runDuration_ = 0;

    // Running state.
    long long position_ = 0;
    std::array<double, kComponentCount> phase_{};
    double vibratoPhase_ = 0.0;

    // Scratch, sized by SetChannels.
    std::vector<float> tone_;             ///< [channel][kStep]
    std::array<double, kStep> phases_{};  ///< one component's phase per frame
    std::array<double, kStep> baseFrequency_{};
    std::array<float, kStep> levelSum_{};
};

} // namespace zoc::dsp::tones

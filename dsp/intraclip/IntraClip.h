#pragma once
// IntraClip: a gain rider that evens out the loudness of speech within a clip.
//
// Signal flow, all channels at once with one gain for all of them:
//
//   input ─┬─ detector (high-passed, windowed RMS) ── level, noise floor
//          │                                            │
//          └─ look-ahead delay ── x rider gain ── x gate gain ── intra-clip
//             compressor ── final compressor ── final limiter ── output
//
// Detector. Every RMSWindowTime the mean square of all channels (high-passed
// at 70 Hz, so rumble and DC do not count as loudness) gives a window level
// in dB. A noise floor follows the quietest windows: it drops at once to a
// quieter window and creeps up by kNoiseFloorRiseDbPerSecond otherwise, kept
// within MinRMSNoise..MaxRMSNoise. A window counts as speech when it is
// NoiseThresholdOffset dB above the floor (and, unless Boost Low Signals is
// on, above PeakMin). The last NumRMSBuckets speech windows are kept; the
// speech level is their power mean with the SelBucketIndex loudest counted at
// the level of the next one: the RMS of the voice, not of the gaps between
// words, and one that a few clicks cannot drag up. A speech window
// kLouderVoiceDb above that level is a louder voice starting and counts at
// once, so the gain is down before that voice reaches the output.
//
// Rider. The wanted gain is Leveling Amount x (Target Volume Level - speech
// level), at most MaxGain dB of boost (MaxGain + BodyDynamic with Boost Low
// Signals on) and at most kMaxCutDb of cut. In a pause longer than
// NoiseGateHoldTime the boost is withdrawn (cuts stay), so pauses are never
// lifted above their own level. The gain moves towards the wanted gain by at
// most MaxGainDelta dB/s upwards and twice that downwards (never more than
// kMaxSlewDbPerSecond), as a constant-dB/s ramp across each window.
//
// Look-ahead. The detector runs -DelayCompensationTime ms ahead of the audio
// (200 ms by default), so a loud phrase is caught before it arrives. The
// latency is that look-ahead plus the final limiter's.
//
// Noise gate (Noise Gate Active and bit 8): a downward expander below
// floor + Noise Offset, NoiseGateRatio dB of cut per dB under the threshold,
// at most Target Dynamic Range dB deep; it opens within NoiseGateAttack,
// stays open NoiseGateHoldTime after the last loud window and closes within
// NoiseGateRelease (99 % of the way in those times).
//
// Intra-clip compressor (Compressor Active and bit 1): 3:1 with a 6 dB soft
// knee, threshold Compressor Threshold dB above the target, RMS detector with
// CompAttackTime / CompReleaseTime; it tames syllables that stick out of the
// leveled phrase. What it takes off the RMS of speech windows is given back
// by the rider (at most 12 dB), so the voice still meets the target.
//
// Final compressor (bit 2): the same at FinCompThresh dBFS with
// FinCompAttack / FinCompRelease. Final limiter (bit 4): a look-ahead
// brick-wall limiter at FinLimCeil (never above 0 dBFS) with FinLimLookAhead
// and FinLimRelease. With the limiter off, samples are clipped at 0 dBFS:
// the output never exceeds full scale either way.
//
// Debug display (global record): a mode above 0 replaces the right channel
// (channel 1, when there is one) by a control curve in dB / 100, clamped to
// -1..1 (so 0.01 is 1 dB): 1 rider gain, 2 final compressor gain, 3 final
// limiter gain, 4 the largest boost allowed now, 5 noise gate gain, 6 the
// noise floor estimate in dBFS.
//
// The record's RefLevel, PeakMax, PeakSmoothAttackTime and
// PeakSmoothReleaseTime are carried for tunings made elsewhere; this rider
// does not use them.
//
// Threads. The global record is read when Initialize runs ("for the next
// run"); Get/SetGlobalParam may be called from any thread. Initialize, Reset,
// SetSampleRate and SetParameter belong to whoever owns the kernel and must
// not overlap Process. GetParameter(kAmplification) may be read from another
// thread while Process runs. Process never allocates, locks or blocks.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsp/HardLimit.h"

namespace zoc::dsp::intraclip {

/// The global tuning record, exchanged whole. Little-endian, 4-byte fields.
struct IntraClipParam {
    float RMSWindowTime;        ///< ms, detector window
    std::int32_t NumRMSBuckets; ///< speech windows kept for the level estimate
    std::int32_t SelBucketIndex;
    float RefLevel; ///< dB
    float MaxGain;  ///< dB, largest boost
    float MaxGainDelta; ///< dB/s, gain slew upwards
    float PeakMax;  ///< dB
    float PeakMin;  ///< dB, quietest speech boosted without Boost Low Signals
    float BodyDynamic; ///< dB, extra boost with Boost Low Signals
    float MinRMSNoise; ///< dB, range of the noise floor estimate
    float MaxRMSNoise;
    float CompAttackTime; ///< ms, intra-clip compressor
    float CompReleaseTime;
    float PeakSmoothAttackTime; ///< ms
    float PeakSmoothReleaseTime;
    float NoiseThresholdOffset; ///< dB above the floor that counts as speech
    float NoiseGateRatio;       ///< dB of cut per dB under the gate threshold, plus 1
    float NoiseGateAttack;      ///< ms
    float NoiseGateRelease;     ///< ms
    float NoiseGateHoldTime;    ///< ms; also how long the rider keeps a boost in a pause
    std::uint8_t Reserved80[8];
    float DelayCompensationTime; ///< ms; negative: the gain leads the audio (look-ahead)
    std::int32_t DebugDisplayMode;
    float FinCompAttack; ///< ms
    float FinCompRelease;
    float FinCompThresh; ///< dBFS
    std::uint8_t Reserved108[4];
    float FinLimLookAhead; ///< ms
    float FinLimRelease;   ///< ms
    float FinLimCeil;      ///< dBFS
    std::int32_t ProcessingBlockActiveBitField;
};
static_assert(sizeof(IntraClipParam) == 128);

/// Bits of ProcessingBlockActiveBitField.
enum ProcessingBlock : std::int32_t {
    kIntraClipCompressor = 1,
    kFinalizeCompressor = 2,
    kFinalizeLimiter = 4,
    kNoiseGate = 8,
};

/// Values of DebugDisplayMode.
enum DebugDisplay : std::int32_t {
    kNormalProcessing = 0,
    kShowIntraClipGainCurve = 1,
    kShowFinalizeCompressorGainCurve = 2,
    kShowFinalizeLimiterGainCurve = 3,
    kShowMaxGainCurve = 4,
    kShowNoiseGateGainCurve = 5,
    kShowNoisefloorEstimate = 6,
};

/// The record every kernel starts from until SetGlobalParam replaces it.
IntraClipParam DefaultGlobalParam();
void GetGlobalParam(IntraClipParam& param);
void SetGlobalParam(const IntraClipParam& param);

class IntraClip {
public:
    enum Parameter : int {
        kTargetVolumeLevel = 0, ///< dB RMS
        kLevelingAmount = 1,    ///< %
        kCompressorActive = 2,  ///< at least 0.5: on
        kCompressorThreshold = 3, ///< dB above the target
        kNoiseGateActive = 4,
        kNoiseOffset = 5, ///< gate threshold, dB above the noise floor
        kBoostLowSignals = 6,
        kAmplification = 7, ///< meter, dB; read only
        kTargetDynamicRange = 8, ///< dB, deepest gate cut
    };
    static constexpr int kParameterCount = 9;
    static constexpr int kMaxChannels = 32;
    static constexpr float kMaxCutDb = 40.0f;
    static constexpr float kMaxSlewDbPerSecond = 90.0f;
    static constexpr float kNoiseFloorRiseDbPerSecond = 1.0f;
    static constexpr float kMaxLookAheadMs = 1000.0f;
    static constexpr float kLouderVoiceDb = 6.0f;

    IntraClip();

    void SetSampleRate(int rate);
    int GetSampleRate() const { return rate_; }
    /// Takes a snapshot of the global record, sizes the buffers for
    /// `channels` (1..32) and the rate, then Reset. Allocates.
    void Initialize(int channels, int sampleRate, int maxBlockSize);
    /// Clears every state: delay line, detector, gains.
    void Reset();
    void Suspend() {}
    void Resume() { Reset(); }

    /// A value in real units, clamped to GetBounds; NaN, unknown indexes and
    /// the meter are ignored.
    void SetParameter(int index, float value);
    /// The meter reads the leveler's current amplification (rider and
    /// intra-clip compressor) in dB; any thread.
    float GetParameter(int index) const;
    void GetBounds(int index, float& lo, float& hi) const;
    /// Frames from input to output: the look-ahead plus the final limiter's.
    int GetLatency() const { return latency_; }
    int GetChannels() const { return channels_; }

    /// `frames` frames of planar channels; `in` and `out` may be the same
    /// buffers. Channels beyond those initialized are copied through.
    /// Non-finite input samples count as silence. Returns the frames written.
    int Process(float** in, float** out, int channels, int frames);

private:
    /// A feed-forward compressor on the mean square of a frame: one-pole
    /// attack/release on power, a 3:1 soft-knee curve, evaluated every
    /// kControlFrames and ramped linearly in between.
    struct Compressor {
        float attack = 0.0f, release = 0.0f; ///< one-pole coefficients on power
        float thresholdDb = 0.0f;
        double power = 0.0;
        float gain = 1.0f, step = 0.0f;
        void Configure(float attackMs, float releaseMs, float thresholdDbFs, int rate);
        void Clear();
        /// Feeds one frame's mean square; returns the gain for this frame.
        float Next(float meanSquare, int phase);
        float TargetGain() const;
    };

    struct Biquad {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        double Process(double x)
        {
            const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            return y;
        }
    };

    void ApplySnapshot();
    void EndWindow();
    float SpeechLevel() const;

    // Settings: user parameters in real units, and the snapshot of the record.
    std::array<float, kParameterCount> values_{};
    IntraClipParam tuning_{};
    int rate_ = 44100;
    int channels_ = 2;
    int maxBlock_ = 0;

    // Derived from the settings.
    int windowFrames_ = 2400;
    int lookAhead_ = 0;
    int latency_ = 0;
    int holdWindows_ = 5;
    int bucketCount_ = 10;
    int selectedBucket_ = 2;
    float gateAttack_ = 0.0f, gateRelease_ = 0.0f;
    bool gateOn_ = false, intraCompOn_ = false, finalCompOn_ = false, limiterOn_ = true;
    int debugMode_ = 0;

    // Detector.
    std::vector<Biquad> highPass_;
    double windowSum_ = 0.0;
    int windowPosition_ = 0;
    float noiseFloorDb_ = -60.0f;
    bool floorSeeded_ = false;
    static constexpr int kMaxBuckets = 64;
    std::array<float, kMaxBuckets> buckets_{};
    int bucketsFilled_ = 0;
    int bucketNext_ = 0;
    int pauseWindows_ = 0;
    int gateHoldWindows_ = 0;
    float lastWindowDb_ = -200.0f;

    // Gains.
    float riderDb_ = 0.0f;    ///< at the end of the current ramp
    double riderGain_ = 1.0;  ///< now
    double riderStep_ = 1.0;  ///< factor per frame over the current window
    float maxGainDb_ = 0.0f;
    float gateTarget_ = 1.0f;
    float gateGain_ = 1.0f;
    Compressor intraComp_, finalComp_;
    double compressorIn_ = 0.0, compressorOut_ = 0.0; ///< power sums over the window
    float makeupDb_ = 0.0f;
    std::atomic<float> amplificationDb_{0.0f};

    // Audio path.
    std::vector<float> delay_; ///< interleaved frames
    std::uint32_t delayMask_ = 0;
    std::uint32_t writeFrame_ = 0;
    HardLimit limiter_;
    std::vector<float> limiterInput_; ///< channel 0 of what entered the limiter, for its debug curve
    std::uint32_t limiterMask_ = 0;
    std::uint32_t frameCount_ = 0;
    int controlPhase_ = 0;
};

} // namespace zoc::dsp::intraclip

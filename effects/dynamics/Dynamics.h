#pragma once
// Dynamics Processing: a compressor, expander, limiter and gate whose static
// characteristic is a drawn transfer curve (output level over input level in
// dB, up to seven points, joined by lines or a spline). Each channel's level
// is detected (peak or RMS) on a band-limited copy of the signal that runs
// ahead of the output by the lookahead time, smoothed, turned into a gain
// through a table built from the curve, smoothed again and applied to the
// delayed input. A side-chain input can drive the gain instead; with a band
// limit set only the band is processed and the rest passes unchanged.

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "dsp/CBezier.h"
#include "dsp/DelayLine.h"
#include "dsp/FIRFilter.h"
#include "dsp/IIRFilter.h"
#include "framework/DeferredWork.h"
#include "framework/MultiChannelComponentBase.h"
#include "framework/ParameterTable.h"

namespace zoc::components {

extern const std::string kDynamicsComponentID;
inline constexpr std::size_t kDynamicsParameterCount = 32;

class Dynamics : public MultiChannelComponentBase {
public:
    static constexpr int kMaxChannels = 32;
    static constexpr int kMaxSideChainChannels = 2;
    static constexpr int kMaxPoints = 7;
    static constexpr int kParameterCount = static_cast<int>(kDynamicsParameterCount);
    enum Parameter : int {
        kLevelAttackTime,
        kLevelReleaseTime,
        kGainAttackTime,
        kGainReleaseTime,
        kLookaheadTime,
        kInputGain,
        kOutputGain,
        kLowCutoff,
        kHighCutoff,
        kLockFilter,
        kXYCount,
        kLinkChannels,
        kPeakRMS,
        kEnvelopeOnly,
        kSplineCurves,
        kNoiseGatingIf,
        kCurrentTab,
        kLocation1, ///< point k (1-based) is kLocation1 + 2(k-1) (input dB) ...
        kValue1,    ///< ... and kValue1 + 2(k-1) (output dB)
        kMakeupGain = 31,
    };
    /// Entries of the gain table: linear gains over 0 to -100 dB of level.
    static constexpr int kGainTableSize = 8192;

    Dynamics();

    int GetParameterCount() override { return kParameterCount; }
    /// Stores the value and marks the work it needs for the next block: a
    /// rebuild of the lines for the lookahead and the cutoffs, new
    /// coefficients for anything. NaN or a value outside -1..1 counts as 0.5.
    /// Control thread; never blocks, never allocates.
    void SetParameter(int index, float normalized) override;
    float GetParameter(int index) override;
    /// The cutoffs' upper bound follows the new Nyquist frequency and the
    /// high cutoff moves to it.
    void SetSampleRate(float rate) override;
    /// Builds lines and coefficients for the current settings at once, makes
    /// room for the longest lines any lookahead needs at this rate and
    /// starts without the startup mute. Control thread; allocates.
    void Resume() override;
    /// Audio thread. A new lookahead, band or curve is taken up in the next
    /// block without allocating; only the first block after a change of rate
    /// or channel count that no Resume followed may allocate.
    void Process(float** inputs, float** outputs, int frames) override;
    /// Curve 0: `points` output levels in dB of the transfer curve at input
    /// levels evenly spaced from -100 to 0 dB (just -100 dB for one point).
    /// False for another curve, no points, or a curve without points.
    /// Control thread; allocates.
    bool GetCurveData(int index, std::size_t points, std::vector<float>& curve) override;
    /// Frames between input and output: lookahead + FIR length + 32.
    int GetInitialDelay() override;
    /// Also offers a side-chain input bus, stereo beside a stereo main input
    /// and mono otherwise.
    bool RequestIOConfiguration(const host::ChannelLayoutList& inputs,
                                const host::ChannelLayoutList& outputs) override;
    bool CanUseSideChaining() override { return true; }

protected:
    void OnNumberOfChannelsChanged(std::size_t count) override;

private:
    struct Point {
        double x = 0.0; ///< input level, dB
        double y = 0.0; ///< output level, dB
        bool operator==(const Point&) const = default;
    };
    using Points = std::array<Point, kMaxPoints>;

    /// Line lengths that follow from lookahead, cutoffs and rate.
    struct Geometry {
        int lookahead = 0;  ///< frames the detector runs ahead of the output
        int halfLength = 0; ///< of the band filter
        double low = 0.0;   ///< band edges, Hz
        double high = 0.0;
        int FirLength() const { return 2 * halfLength + 1; }
        int LineLength() const { return lookahead + FirLength() + 32; }
    };

    /// Per channel state of the audio thread, main and side-chain alike.
    struct Channel {
        dsp::FIRFilter band;
        std::unique_ptr<IIRFilter> lookaheadSmoother;
        float detector = 0.5f;        ///< smoothed |x| or x^2, 16-bit scale
        float smoothedLevel = -96.0f; ///< dB
        float gain = 1.0f;
        std::vector<float> detection; ///< per chunk: detector input, then level in dB
        std::vector<float> level;     ///< per chunk: smoothed level in dB
        std::vector<float> gains;     ///< per chunk: smoothed gain
    };

    void BuildParameterInfos();
    float Rate() const;
    Geometry GeometryFor(float rate) const;
    int PointCount() const { return pointCount_.load(std::memory_order_relaxed); }
    Points PointsFromParameters() const;
    /// The curve's output level at input level x (dB).
    static double CurveLevel(const Points& points, int count, bool spline, const dsp::CBezier& bezier, double x);

    /// Resizes and zeroes the lines and restarts every channel's state.
    void Reconfigure();
    /// Takes in parameter values: times, gains, curve table, band filter.
    void UpdateCoefficients();
    void BuildGainTable(const Points& points, int count, bool spline);
    void ProcessChunk(float** inputs, float** outputs, int offset, int chunk);
    /// Detector input through smoothing to level in dB for one channel.
    void DetectLevel(Channel& channel, std::size_t index, int chunk);
    /// Level smoothing, the table and gain smoothing for one channel.
    void ComputeGain(Channel& channel, int chunk);

    // Control thread writes, audio thread reads.
    ParameterValues<kDynamicsParameterCount> values_;
    std::atomic<int> pointCount_{3};
    std::atomic<std::size_t> mainChannels_;
    DeferredWork work_; ///< reset: rebuild the lines; update: new coefficients
    std::size_t requestedSideChain_ = 2;
    std::size_t sideChainChannels_ = 0;

    // Control thread: the curve as drawn.
    Points displayPoints_{};
    dsp::CBezier displaySpline_;
    std::atomic<bool> displayStale_{true};

    // Audio thread.
    /// Longest chunk: the detector reads at most this far ahead of the writes.
    static constexpr int kMaxChunk = 256 + 33;
    Geometry geometry_;
    std::size_t channelCount_ = 0;
    dsp::DelayLines mainLines_;      ///< input x input gain
    dsp::DelayLines detectionLines_; ///< the same, band-filtered
    int writePosition_ = 0;
    int muteLeft_ = 0;
    std::array<Channel, kMaxChannels + kMaxSideChainChannels> channels_;
    std::array<float, kMaxChunk> mainScratch_{}; ///< a chunk of the main line
    std::array<float, kMaxChunk> bandScratch_{}; ///< a chunk of the detection line
    float levelOffset_ = 0.0f; ///< dB added to the detector's scaled logarithm

    Points points_{}; ///< the curve the table was built from
    int pointsInTable_ = -1;
    bool splineInTable_ = false;
    dsp::CBezier spline_;
    std::array<float, kGainTableSize> gainTable_{};
    /// Above 0 dB the gain in dB is aboveZeroSlope * level + aboveZeroOffset.
    double aboveZeroSlope_ = 0.0;
    double aboveZeroOffset_ = 0.0;
    float levelAttack_ = 0.0f; ///< one-pole coefficients: a step decays to 1 % in the time
    float levelRelease_ = 0.0f;
    float gainAttack_ = 0.0f;
    float gainRelease_ = 0.0f;
    float detectorCoefficient_ = 0.92f;
    bool rms_ = true;
    bool linked_ = false;
    bool envelopeOnly_ = false;
    float inputFactor_ = 1.0f;
    float combinedFactor_ = 1.0f; ///< output gain x input gain
    float makeupFactor_ = 1.0f;
    bool bandFilterOn_ = false;
    double designedLow_ = -1.0; ///< band the filters were last designed for
    double designedHigh_ = -1.0;
    int designedOrder_ = -1;
    double smootherCutoff_ = -1.0; ///< lookahead smoother's design, -1 while off
};

} // namespace zoc::components

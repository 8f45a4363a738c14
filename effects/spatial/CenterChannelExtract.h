#pragma once
// Center Channel Extractor: splits a stereo signal into what both channels
// share (equal level and phase, such as a lead vocal) and what differs, and
// plays the two back at their own levels. Works on overlapping frames, both
// channels in one double-precision complex FFT, with a per-bin mask from the
// channels' phase and level differences.

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "contracts/host/AudioFilter.h"
#include "dsp/FFT.h"
#include "framework/DeferredWork.h"
#include "framework/FactoryPresets.h"
#include "framework/ParameterInfo.h"

namespace zoc::components {

extern const std::string kCenterChannelExtractComponentID;

class CenterChannelExtract : public host::AudioFilter {
public:
    enum Parameter : int {
        kPhaseDegree,
        kPan,
        kDelay,
        kExtract,
        kCenterFrequency,
        kFrequencyWidth,
        kStartFrequency,
        kEndFrequency,
        kCrossoverBleed,
        kPhaseDiscrimination,
        kAmplitudeDiscrimination,
        kAmplitudeBandwidth,
        kSpectralDecayRate,
        kCenterChannelLevel,
        kSideChannelLevels,
        kFFTSize,
        kInterval,
        kOverlays,
        kWindowWidth,
        kSpectrum,
        kIsProcessing,
        kOriginalSampleRate,
        kParameterCount
    };
    /// Choices of kExtract.
    enum Extract : int { kExtractCenter, kExtractLeft, kExtractRight, kExtractOutOfPhase, kExtractCustom };
    /// Choices of kSpectrum; the first four are fixed bands.
    static constexpr int kSpectrumCustom = 4;
    static constexpr int kFFTSizeChoices = 7; ///< 512 to 32768 points
    static constexpr int kOverlayChoices = 10; ///< 3 to 12 overlapping frames

    CenterChannelExtract();
    ~CenterChannelExtract() override;

    /// Control thread. Plain values are derived from the description's range;
    /// choices carry their index. Never blocks; may plan an FFT for a new size.
    void SetParameter(int index, float normalized) override;
    float GetParameter(int index) override;
    int GetParameterCount() override { return kParameterCount; }
    core::Ref<host::AudioFilterParameterInfo> GetParameterInfo(int index) override;
    core::UString GetParameterString(int index) override;

    /// Control thread: follows the new rate with the frequency ranges and
    /// the interval; the frames are rebuilt before the next block.
    void SetSampleRate(float rate) override;
    /// Accepts one stereo bus each way, nothing else.
    bool RequestIOConfiguration(const host::ChannelLayoutList& inputs,
                                const host::ChannelLayoutList& outputs) override;
    /// Control thread: makes room for the largest frames the settings allow
    /// at this rate, then rebuilds frames and range at once (allocates).
    void Resume() override;
    void Suspend() override;
    /// Audio thread. Rebuilds the frames after a change of FFT size,
    /// overlaps, interval or delay without allocating; only a rate raised
    /// since Resume may allocate.
    void Process(float** inputs, float** outputs, int frames) override;
    /// Frames of latency from the current parameters: the frame length plus
    /// the channel delay.
    int GetInitialDelay() override;

    int GetNumFactoryPresets() override;
    core::UString GetFactoryPresetName(int index) override;
    /// Applies the spectrum choice first, then every parameter in order.
    void SetFactoryPreset(int index) override;
    bool ArePresetsSafeForPlayback() override { return false; }

protected:
    /// Refuses lists that do not hold one value per parameter.
    bool LoadParams(const host::PresetData& preset) override;

private:
    struct Kernel;

    float Value(int index) const { return values_[static_cast<std::size_t>(index)].load(std::memory_order_relaxed); }
    void Store(int index, float value)
    {
        values_[static_cast<std::size_t>(index)].store(value, std::memory_order_relaxed);
    }
    float RateHalf() const { return GetSampleRate() / 2.0f; }

    void BuildParameterInfos();
    void ApplyExtract(int choice);
    void ApplySpectrum(int choice);
    void SetBand(float start, float end);
    void ApplyIntervalLimits();
    void UpdateWindowWidth();
    int DelayFrames(int& left, int& right) const;
    /// The FFT for a size choice, planned on first use and kept.
    dsp::ComplexFFTDouble* FFTFor(int choice);

    void ReserveFrames();
    void RebuildFrames();
    void RecomputeRange();
    void ProcessFrame();

    std::array<std::atomic<float>, kParameterCount> values_;
    std::array<core::Ref<GenericParameterInfo>, kParameterCount> infos_;
    FactoryPresetTable presets_;

    // Written by the control thread, taken in by the audio thread.
    std::atomic<float> panFactor_{0.0f};
    std::atomic<int> fftChoice_{4};
    std::atomic<int> overlaps_{4};
    std::atomic<int> hop_{1124};
    DeferredWork work_; ///< reset: rebuild frames; update: recompute range
    std::array<std::atomic<dsp::ComplexFFTDouble*>, kFFTSizeChoices> ffts_{};

    std::unique_ptr<Kernel> kernel_;
};

} // namespace zoc::components

#pragma once
// Generate Tones: tones, chords, sweeps and pulses over the selection, or a
// tremolo or ring modulation of the existing audio. An offline component: the
// host sets the duration, reader and writer and calls OfflineRun; the
// runner's worker renders the TonesDSP kernel into the writer.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "dsp/tones/TonesDSP.h"
#include "framework/AudioOfflineComponent.h"
#include "framework/FactoryPresets.h"
#include "framework/OfflineRunner.h"
#include "framework/ParameterInfo.h"

namespace zoc::components {

extern const std::string kTonesComponentID;

class Tones : public MultiChannelOfflineComponent {
public:
    static constexpr int kParameterCount = dsp::tones::TonesDSP::kParameterCount;
    static constexpr int kMaxChannels = dsp::tones::TonesDSP::kMaxChannels;
    static constexpr int kOriginalSampleRateParameter = dsp::tones::TonesDSP::kOriginalSampleRate;
    static constexpr int kPreviewParameter = dsp::tones::TonesDSP::kPreview;
    /// Parameter 43 holds a rate as a fraction of this.
    static constexpr double kRateScale = 192000.0;

    Tones();
    ~Tones() override;

    bool IsOfflineProcess() override { return true; }
    bool CanChangeDuration() override { return true; }
    bool IsGenerator() override { return true; }
    int GetInitialDelay() override { return 0; }
    int GetMaxOutputBlockSize(int inputFrames) override { return inputFrames; }

    /// Control thread. Moves the frequency bounds to the new Nyquist frequency.
    void SetSampleRate(float rate) override;
    /// Control thread. The duration in frames; the first one is remembered as
    /// the original length for position mapping.
    void SetCurrentDuration(double frames) override;
    /// Control thread. The selection's first frame in the source.
    void SetSelectionLeft(double frames) override;
    void SetPreviewMode(bool preview) override;
    double GetProcessedDuration() override;
    double GetProcessedPosition(double original) override;
    double GetOriginalPosition(double processed) override;

    void SetOfflineReader(core::Ref<OfflineIInterface> reader) override;
    void SetOfflineWriter(core::Ref<OfflineOInterface> writer) override;
    /// Starts rendering output frames [start, end) on a background worker.
    bool OfflineRun(std::int64_t start, std::int64_t end) override;
    void SetProgressHandler(volatile float* progress) override;
    /// Renders the next frames directly on the calling thread (not during a run).
    int OfflineProcess(float** inputs, float** outputs, int inputFrames, int outputFrames, int flags) override;
    bool OfflineProcessFinished() override;
    /// Cancels a run and rewinds the kernel.
    void Resume() override;
    /// Cancels a run.
    void Suspend() override;

    int GetParameterCount() override { return kParameterCount; }
    /// While settings load, only remembers the value; FinishLoadingSettings applies it.
    void SetParameter(int index, float normalized) override;
    float GetParameter(int index) override;
    core::Ref<host::AudioFilterParameterInfo> GetParameterInfo(int index) override;
    core::UString GetParameterString(int index) override;
    void FinishLoadingSettings(bool loading) override;

    int GetNumFactoryPresets() override { return presets_.Count(); }
    core::UString GetFactoryPresetName(int index) override { return presets_.Name(index); }
    void SetFactoryPreset(int index) override { presets_.Apply(*this, index); }

protected:
    void OnNumberOfChannelsChanged(std::size_t count) override;

private:
    void BuildParameterInfos();
    void UpdateFrequencyBounds();
    dsp::tones::TonesDSP& Kernel() { return runner_.GetKernel(); }

    OfflineRunner<dsp::tones::TonesDSP> runner_;
    std::size_t channels_ = 2;
    std::vector<core::Ref<GenericParameterInfo>> infos_;
    std::array<float, kParameterCount> stored_{};
    double initialDuration_ = 0.0;
    bool initialDurationRecorded_ = false;
    FactoryPresetTable presets_;
};

} // namespace zoc::components

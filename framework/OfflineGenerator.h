#pragma once
// The component half every offline generator shares: its kernel in an
// offline runner, one generic parameter description per kernel parameter
// (bounds from the kernel), values held back while the host loads settings,
// the duration and position mapping, and the offline entry points. A
// generator supplies its kernel type, its parameter table and its presets,
// and overrides what it does differently.
//
// Threads: everything is for the control thread, except the run itself on
// the runner's worker.

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "contracts/dsp/Kernel.h"
#include "framework/AudioOfflineComponent.h"
#include "framework/FactoryPresets.h"
#include "framework/OfflineRunner.h"
#include "framework/ParameterInfo.h"
#include "platform/core/Localizer.h"
#include "platform/core/String.h"

namespace zoc::components {

/// One parameter's description: localizable name key, unit label and kind,
/// whether the host may automate it, and the kernel parameter whose bounds it
/// takes (-1: its own).
struct GeneratorParameter {
    const char* name;
    const char16_t* unitLabel;
    host::AudioFilterParameterInfoUnit unit;
    bool automatable = true;
    int boundsFrom = -1;
};

template <dsp::OfflineKernel Kernel>
class OfflineGenerator : public MultiChannelOfflineComponent {
public:
    static constexpr int kParameterCount = Kernel::kParameterCount;
    static constexpr int kMaxChannels = Kernel::kMaxChannels;

    OfflineGenerator(const std::string& componentID, const char* titleKey,
                     std::span<const GeneratorParameter, kParameterCount> parameters, FactoryPresetTable presets)
        : MultiChannelOfflineComponent(componentID, core::Localize(titleKey), kMaxChannels),
          presets_(std::move(presets))
    {
        GetKernel().SetSampleRate(static_cast<int>(GetSampleRate()));
        runner_.SetChannels(channels_);
        for (int index = 0; index < kParameterCount; ++index) {
            const GeneratorParameter& row = parameters[static_cast<std::size_t>(index)];
            float lo = 0.0f;
            float hi = 1.0f;
            GetKernel().GetBounds(row.boundsFrom >= 0 ? row.boundsFrom : index, lo, hi);
            infos_.push_back(core::MakeRef<GenericParameterInfo>(core::Localize(row.name),
                                                                 core::UString(row.unitLabel), row.unit, index, lo,
                                                                 hi, row.automatable));
            stored_[static_cast<std::size_t>(index)] = infos_.back()->ToNormalized(GetKernel().GetParameter(index));
        }
    }
    ~OfflineGenerator() override { runner_.Cancel(); }

    bool IsOfflineProcess() override { return true; }
    bool CanChangeDuration() override { return true; }
    bool IsGenerator() override { return true; }
    int GetInitialDelay() override { return 0; }
    int GetMaxOutputBlockSize(int inputFrames) override { return inputFrames; }

    void SetSampleRate(float rate) override
    {
        if (!(rate > 0.0f) || rate == GetSampleRate())
            return;
        runner_.Cancel();
        MultiChannelOfflineComponent::SetSampleRate(rate);
        GetKernel().SetSampleRate(static_cast<int>(rate));
    }

    /// The duration in frames; the first one is remembered as the original
    /// length for position mapping.
    void SetCurrentDuration(double frames) override
    {
        if (!std::isfinite(frames) || frames < 0.0)
            frames = 0.0;
        runner_.Cancel();
        MultiChannelOfflineComponent::SetCurrentDuration(frames);
        GetKernel().SetDuration(static_cast<long long>(frames));
        if (!initialDurationRecorded_) {
            initialDuration_ = frames;
            initialDurationRecorded_ = true;
        }
    }

    void SetSelectionLeft(double frames) override
    {
        MultiChannelOfflineComponent::SetSelectionLeft(frames);
        runner_.SetSelectionStart(std::isfinite(frames) ? static_cast<std::int64_t>(frames) : 0);
    }

    double GetProcessedDuration() override { return static_cast<double>(GetKernel().GetProcessedDuration()); }
    double GetProcessedPosition(double original) override
    {
        if (initialDuration_ == 0.0)
            return GetProcessedDuration();
        return GetProcessedDuration() * original / initialDuration_;
    }
    double GetOriginalPosition(double processed) override
    {
        const double duration = GetProcessedDuration();
        if (initialDuration_ == 0.0 || duration == 0.0)
            return 0.0;
        return initialDuration_ * processed / duration;
    }

    void SetOfflineReader(core::Ref<OfflineIInterface> reader) override { runner_.SetReader(std::move(reader)); }
    void SetOfflineWriter(core::Ref<OfflineOInterface> writer) override { runner_.SetWriter(std::move(writer)); }
    /// Starts rendering output frames [start, end) on a background worker.
    bool OfflineRun(std::int64_t start, std::int64_t end) override { return runner_.Run(start, end); }
    void SetProgressHandler(volatile float* progress) override { runner_.SetProgressHandler(progress); }
    /// Renders the next frames directly on the calling thread (not during a run).
    int OfflineProcess(float** inputs, float** outputs, int inputFrames, int, int) override
    {
        if (runner_.IsRunning() || outputs == nullptr || inputFrames <= 0)
            return 0;
        GetKernel().Process(inputs, outputs, inputFrames);
        return inputFrames;
    }
    bool OfflineProcessFinished() override { return runner_.IsFinished(); }
    /// Cancels a run and rewinds the kernel.
    void Resume() override
    {
        MultiChannelOfflineComponent::Resume();
        runner_.Reset();
    }
    /// Cancels a run.
    void Suspend() override
    {
        MultiChannelOfflineComponent::Suspend();
        runner_.Suspend();
    }

    int GetParameterCount() override { return kParameterCount; }
    /// While settings load, only remembers the value; FinishLoadingSettings applies it.
    void SetParameter(int index, float normalized) override
    {
        if (index < 0 || index >= kParameterCount)
            return;
        const std::optional<float> sane = SanitizeNormalized(normalized);
        if (!sane)
            return;
        stored_[static_cast<std::size_t>(index)] = *sane;
        if (IsLoadingSettings())
            return;
        GetKernel().SetParameter(index, infos_[static_cast<std::size_t>(index)]->FromNormalized(*sane));
        MultiChannelOfflineComponent::SetParameter(index, normalized);
    }
    float GetParameter(int index) override
    {
        if (index < 0 || index >= kParameterCount)
            return 0.0f;
        return infos_[static_cast<std::size_t>(index)]->ToNormalized(GetKernel().GetParameter(index));
    }
    core::Ref<host::AudioFilterParameterInfo> GetParameterInfo(int index) override
    {
        if (index < 0 || index >= kParameterCount)
            return nullptr;
        return infos_[static_cast<std::size_t>(index)];
    }
    core::UString GetParameterString(int index) override
    {
        if (index < 0 || index >= kParameterCount)
            return {};
        return core::NumberToString(infos_[static_cast<std::size_t>(index)]->FromNormalized(GetParameter(index)), 1,
                                    2);
    }
    /// Sends every value held back during the load, in index order.
    void FinishLoadingSettings(bool loading) override
    {
        MultiChannelOfflineComponent::FinishLoadingSettings(loading);
        const std::array<float, kParameterCount> stored = stored_;
        for (int index = 0; index < kParameterCount; ++index)
            SetParameter(index, stored[static_cast<std::size_t>(index)]);
        BumpParameterDirtyCount();
    }

    int GetNumFactoryPresets() override { return presets_.Count(); }
    core::UString GetFactoryPresetName(int index) override { return presets_.Name(index); }
    void SetFactoryPreset(int index) override { presets_.Apply(*this, index); }

protected:
    void OnNumberOfChannelsChanged(std::size_t count) override
    {
        channels_ = count;
        runner_.SetChannels(count);
    }

    /// Starts from these normalized values, straight into the kernel.
    void SetInitialValues(std::span<const float> values)
    {
        for (std::size_t index = 0; index < values.size() && index < kParameterCount; ++index) {
            stored_[index] = values[index];
            GetKernel().SetParameter(static_cast<int>(index), infos_[index]->FromNormalized(values[index]));
        }
    }

    Kernel& GetKernel() { return runner_.GetKernel(); }
    OfflineRunner<Kernel>& GetRunner() { return runner_; }
    GenericParameterInfo& GetInfo(int index) { return *infos_[static_cast<std::size_t>(index)]; }
    /// The last normalized value of each parameter, also those held back
    /// while settings load.
    const std::array<float, kParameterCount>& GetStoredValues() const { return stored_; }
    const FactoryPresetTable& GetPresets() const { return presets_; }
    std::size_t GetChannels() const { return channels_; }

private:
    OfflineRunner<Kernel> runner_;
    std::size_t channels_ = 2;
    std::vector<core::Ref<GenericParameterInfo>> infos_;
    std::array<float, kParameterCount> stored_{};
    double initialDuration_ = 0.0;
    bool initialDurationRecorded_ = false;
    FactoryPresetTable presets_;
};

} // namespace zoc::components

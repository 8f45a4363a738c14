#pragma once
// The host's filter interface. Every component derives from AudioFilter and
// overrides the virtual operations it needs; the rest keep the host's
// behaviour. The virtual operations are declared in the host's slot order.
//
// Threads: Process runs on the host's audio thread; everything else on its
// control thread. Parameter changes take no lock against Process.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "contracts/host/AudioFilterBusDescription.h"
#include "contracts/host/AudioFilterDescriptor.h"
#include "contracts/host/AudioFilterParameterInfo.h"
#include "contracts/host/PresetData.h"
#include "platform/core/RefCounted.h"
#include "platform/core/String.h"

namespace zoc::host {

class IAudioFilterHost {
public:
    virtual ~IAudioFilterHost() = default;
};

/// Where a component came from, for CreateFilterDescriptor.
struct PluginLocator {
    std::string path;
};

using PresetList = std::vector<PresetData>;
using ChannelLayoutList = std::vector<media::AudioChannelLayout>;
/// Maps host channel i to component channel map[i].
using ChannelMap = std::vector<int>;

class AudioFilter : public core::RefCountedObject {
public:
    enum class Direction { kInput, kOutput };

    AudioFilter(std::string componentID, core::UString displayName);
    ~AudioFilter() override;

    virtual void SetAudioFilterHost(IAudioFilterHost* host);
    virtual void SetSampleRate(float rate);
    virtual void SetBlockSize(int frames);
    virtual int GetMaxProcessingBlockSize();
    virtual void SetCurrentOffset(std::int64_t frame);
    /// Processes `frames` samples of each channel (real-time components).
    /// `inputs` holds the main input channels, then, when the host feeds a
    /// side-chain (SetSideChainConnectedChannelCount), the side-chain
    /// channels; `outputs` holds the main output channels.
    virtual void Process(float** inputs, float** outputs, int frames);
    /// Processes through the channel maps; components never override it.
    virtual void ProcessWithMapping(float** inputs, float** outputs, int frames);
    virtual bool IsOfflineProcess();
    virtual bool CanChangeDuration();
    virtual bool IsGenerator();
    virtual void SetSelectionLeft(double seconds);
    virtual double GetSelectionLeft();
    virtual void SetCurrentDuration(double seconds);
    virtual double GetCurrentDuration();
    virtual double GetProcessedDuration();
    virtual double GetProcessedPosition(double originalSeconds);
    virtual double GetOriginalPosition(double processedSeconds);
    virtual double GetProcessedScale();
    virtual int GetMaxOutputBlockSize(int inputFrames);
    /// Seconds of output that follow the end of the input (a reverb's ring-out).
    virtual double GetTail();
    virtual int OfflineProcess(float** inputs, float** outputs, int inputFrames, int outputFrames, int flags);
    virtual bool OfflineProcessFinished();
    virtual void Suspend();
    virtual void Resume();
    virtual void SetDoSpectral(bool spectral);
    virtual void SetPreviewMode(bool preview);
    virtual int GetParameterCount();
    /// Sets a parameter as automation does: through SetParameter.
    virtual void SetParameterAutomated(int index, float normalized);
    virtual void SetParameter(int index, float normalized);
    virtual float GetParameter(int index);
    virtual core::Ref<AudioFilterParameterInfo> GetParameterInfo(int index);
    virtual core::UString GetParameterString(int index);
    virtual bool GetCurveData(int index, std::size_t points, std::vector<float>& curve);
    virtual float GetCurrentPresetVersion();
    virtual bool DoPresetsUseChunkData();
    virtual void GetFactoryDefaultPresets(PresetList& presets);
    virtual int GetNumFactoryPresets();
    virtual core::UString GetFactoryPresetName(int index);
    virtual void SetFactoryPreset(int index);
    virtual bool LoadSettings(const PresetData& preset);
    virtual bool SaveSettings(PresetData& preset);
    virtual bool LoadChunkData(const std::vector<std::uint8_t>& chunk);
    virtual bool SaveChunkData(std::vector<std::uint8_t>& chunk);
    virtual bool LoadCustomData(const PresetData& preset);
    virtual bool ArePresetsSafeForPlayback();
    /// Latency of the output in frames.
    virtual int GetInitialDelay();
    /// The host's proposal of input and output layouts. True when the buses
    /// now match the proposal.
    virtual bool RequestIOConfiguration(const ChannelLayoutList& inputs, const ChannelLayoutList& outputs);
    virtual bool CanUseSideChaining();
    virtual bool HasCustomEditor();
    virtual void* CreateCustomEditor();
    virtual core::Ref<AudioFilter> Clone();
    virtual bool IsZombie();
    virtual void BeginEditing(int index);
    virtual void EndEditing(int index);
    virtual void StartLoadingSettings();
    virtual void FinishLoadingSettings(bool success);
    virtual core::Ref<AudioFilterDescriptor> CreateFilterDescriptor(const PluginLocator& locator, bool flag);

    // Non-virtual host services.
    float GetSampleRate() const { return sampleRate_; }
    int GetBlockSize() const { return blockSize_; }
    const std::string& GetComponentID() const { return componentID_; }
    const core::UString& GetDisplayName() const { return displayName_; }
    const AudioFilterBusConfiguration& GetBusConfiguration() const { return buses_; }
    const AudioFilterBusList& GetInputBuses() const { return buses_.inputs; }
    const AudioFilterBusList& GetOutputBuses() const { return buses_.outputs; }
    /// Channels of the first main output bus.
    std::size_t GetNumberOfOutputChannels() const;
    std::size_t GetNumberOfInputChannels() const;
    /// Side-chain channels the host feeds: those of the side-chain input bus,
    /// at most as many as the host connected; 0 when there is no such bus or
    /// nothing is connected.
    std::size_t GetSideChainTargetBusChannelCount() const;
    /// Host side: how many side-chain channels it appends to Process's inputs
    /// from the next Resume on (0: none connected, the default).
    void SetSideChainConnectedChannelCount(std::size_t channels) { sideChainConnected_ = channels; }
    const ChannelMap& GetChannelMap(Direction direction) const;
    void SetChannelMap(ChannelMap map, Direction direction);
    bool GetUseChannelMap() const { return useChannelMap_; }
    void SetUseChannelMap(bool use) { useChannelMap_ = use; }
    void GetPresetNameAndDirtyState(core::UString& name, bool& dirty) const;
    void SetPresetNameAndDirtyState(core::UString name, bool dirty);
    bool IsLoadingSettings() const { return loadingSettings_ > 0; }
    bool IsSuspended() const { return suspended_; }
    /// Counts changes a component made to its own parameters. Any thread.
    void BumpParameterDirtyCount() { parameterDirtyCount_.fetch_add(1, std::memory_order_relaxed); }
    std::uint64_t GetParameterDirtyCount() const { return parameterDirtyCount_.load(std::memory_order_relaxed); }
    /// Host side: true while the host renders faster than real time (into a
    /// file) rather than playing. Process may then take as long as work
    /// needs instead of deferring it to a background thread, which keeps a
    /// render's output independent of timing. Any thread.
    void SetRenderingOffline(bool offline) { renderingOffline_.store(offline, std::memory_order_relaxed); }
    bool IsRenderingOffline() const { return renderingOffline_.load(std::memory_order_relaxed); }
    bool HasHighCPU() const { return highCPU_; }
    bool HasHighLatency() const { return highLatency_; }
    IAudioFilterHost* GetAudioFilterHost() const { return filterHost_; }

protected:
    virtual bool LoadParams(const PresetData& preset);
    virtual void SaveParams(std::vector<float>& params);
    virtual bool ValidatePresetVersion(float version);
    virtual bool ValidateParamCount(int count);

    void ClearBusConfiguration();
    void AddInputBus(AudioFilterBusDescription bus);
    void AddOutputBus(AudioFilterBusDescription bus);
    void AddInputBuses(const AudioFilterBusList& buses);
    void AddOutputBuses(const AudioFilterBusList& buses);
    void SetHasHighCPU(bool high) { highCPU_ = high; }
    void SetHasHighLatency(bool high) { highLatency_ = high; }

private:
    std::string componentID_;
    core::UString displayName_;
    IAudioFilterHost* filterHost_ = nullptr;
    float sampleRate_ = 44100.0f;
    int blockSize_ = 512;
    std::int64_t currentOffset_ = 0;
    double selectionLeft_ = 0.0;
    double currentDuration_ = 0.0;
    AudioFilterBusConfiguration buses_;
    ChannelMap inputMap_;
    ChannelMap outputMap_;
    bool useChannelMap_ = false;
    core::UString presetName_;
    bool presetDirty_ = false;
    int loadingSettings_ = 0;
    bool suspended_ = true;
    std::atomic<std::uint64_t> parameterDirtyCount_{0};
    std::atomic<bool> renderingOffline_{false};
    bool highCPU_ = false;
    bool highLatency_ = false;
    std::size_t sideChainConnected_ = 0;
};

} // namespace zoc::host

#pragma once
// Envelopes over the selection: every channel is multiplied by a drawn
// envelope. The envelope is kept as logical keyframes relative to the
// selection (0 = start, 1 = end), so it stretches with the selection, and is
// turned into absolute keyframes in a KeyframeContainer that the audio thread
// reads block by block.
//
// VolumeEnvelope is the common class; FadeEnvelope reads envelope values as
// linear gains, GainEnvelope as fader positions in a decibel fader law.
// The selection (GetSelectionLeft, GetCurrentDuration) is counted in samples
// for these components, and the host sets the absolute sample position of
// each block with SetCurrentOffset.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "framework/KeyframeContainer.h"
#include "framework/LogicalKeyframeEditor.h"
#include "framework/MultiChannelComponentBase.h"
#include "platform/core/FaderTranslator.h"

namespace zoc::components {

extern const std::string kFadeEnvelopeComponentID;
extern const std::string kGainEnvelopeComponentID;

/// One factory envelope: its name key, splines and logical keyframes.
struct EnvelopePreset {
    static constexpr std::size_t kMaxKeyframes = 11;
    const char* key;
    bool splines;
    std::size_t count;
    std::array<LogicalKeyframe, kMaxKeyframes> keyframes;
};

constexpr EnvelopePreset MakeEnvelopePreset(const char* key, bool splines, std::initializer_list<LogicalKeyframe> list)
{
    EnvelopePreset preset{key, splines, 0, {}};
    for (const LogicalKeyframe& keyframe : list) {
        if (preset.count < EnvelopePreset::kMaxKeyframes)
            preset.keyframes[preset.count++] = keyframe;
    }
    return preset;
}

/// `count` keyframes every `step`, alternating between `high` (first) and `low`.
constexpr EnvelopePreset MakeAlternatingPreset(const char* key, bool splines, std::size_t count, float step,
                                               float high, float low)
{
    EnvelopePreset preset{key, splines, 0, {}};
    for (; preset.count < count && preset.count < EnvelopePreset::kMaxKeyframes; ++preset.count)
        preset.keyframes[preset.count] = {static_cast<float>(preset.count) * step, preset.count % 2 == 0 ? high : low};
    return preset;
}

class VolumeEnvelope : public MultiChannelComponentBase, public LogicalKeyframeEditor {
public:
    using KeyframeSet = KeyframeContainer::KeyframeSet;
    static constexpr int kMaxChannels = 32;
    static constexpr int kSplinesParameter = 0;
    static constexpr float kPresetVersion = 1.0f;

    /// `defaultValue` is the envelope value with no keyframes (unity gain).
    VolumeEnvelope(std::string componentID, const char* titleKey, float defaultValue,
                   std::span<const EnvelopePreset> presets);

    // Host operations. Control thread unless stated.
    void SetCurrentOffset(std::int64_t position) override;
    /// Rebuild the absolute keyframes for the new selection.
    void SetSelectionLeft(double samples) override;
    void SetCurrentDuration(double samples) override;
    void SetSampleRate(float rate) override;
    /// Makes room for a host block, so Process need not allocate.
    void Resume() override;
    /// Audio thread. Allocates only when a block is larger than any before;
    /// takes the envelope's lock for the block read.
    void Process(float** inputs, float** outputs, int frames) override;
    int GetParameterCount() override { return 1; }
    void SetParameter(int index, float normalized) override;
    float GetParameter(int index) override;
    float GetCurrentPresetVersion() override { return GetPresetVersion(); }
    int GetNumFactoryPresets() override { return static_cast<int>(presets_.size()); }
    core::UString GetFactoryPresetName(int index) override;
    void SetFactoryPreset(int index) override;
    bool LoadSettings(const host::PresetData& preset) override;
    bool SaveSettings(host::PresetData& preset) override;
    core::Ref<host::AudioFilter> Clone() override;

    // LogicalKeyframeEditor.
    void SetLogicalKeyframes(const std::vector<LogicalKeyframe>& keyframes) override;
    void GetLogicalKeyframes(std::vector<LogicalKeyframe>& keyframes) override;

    float GetPresetVersion() const { return kPresetVersion; }
    void SetSplines(bool on) { splines_ = on; }
    bool GetSplines() const { return splines_; }
    /// Installs absolute keyframes and, with a selection, derives the logical
    /// list from them.
    void SetKeyframes(const KeyframeSet& keyframes);
    void GetKeyframes(KeyframeSet& keyframes) const;
    float GetDefaultValue() const;
    /// Removes every keyframe and makes `value` the envelope.
    void SetDefaultValue(float value);
    /// Removes every keyframe, keeping the default value.
    void ResetKeyframes();
    core::Ref<KeyframeContainer> GetKeyframeContainer() const { return container_; }

    /// Envelope value (0..1) to linear gain and back.
    virtual float GetAmplificationFactorFromNormalizedValue(float value) const { return value; }
    virtual float GetNormalizedValueFromAmplificationFactor(float amplification) const { return amplification; }
    /// What the envelope editor shows for an envelope value.
    virtual core::UString GetTooltipString(float value) const;

protected:
    void OnNumberOfChannelsChanged(std::size_t count) override;
    /// Turns the logical keyframes into absolute ones over the selection.
    void UpdateAbsoluteKeyframes();
    const std::vector<LogicalKeyframe>& LogicalList() const { return logical_; }

private:
    void ReserveBuffer(int frames);

    bool splines_ = false;
    std::vector<LogicalKeyframe> logical_;
    std::vector<KeyframeContainer::Keyframe> collided_; // scratch of UpdateAbsoluteKeyframes
    std::int64_t currentOffset_ = 0;
    std::size_t channelCount_;
    std::unique_ptr<float[]> buffer_; // envelope gains of the current block
    int bufferCapacity_ = 0;
    core::Ref<KeyframeContainer> container_;
    float envelopeDefault_;
    std::span<const EnvelopePreset> presets_;
};

/// Envelope values are linear gains, 0..1.
class FadeEnvelope : public VolumeEnvelope {
public:
    FadeEnvelope();
};

/// Envelope values are fader positions: unity at 0.65, +15 dB at the top,
/// silence at the bottom.
class GainEnvelope : public VolumeEnvelope {
public:
    static constexpr float kUnityPosition = 0.65f;
    static constexpr float kMaxDecibels = 15.0f;

    GainEnvelope();
    float GetAmplificationFactorFromNormalizedValue(float value) const override;
    float GetNormalizedValueFromAmplificationFactor(float amplification) const override;
    /// Reports fader positions instead of gains.
    void GetLogicalKeyframes(std::vector<LogicalKeyframe>& keyframes) override;
    core::UString GetTooltipString(float value) const override;

private:
    core::FaderTranslator<float> fader_{kUnityPosition, kMaxDecibels};
};

} // namespace zoc::components

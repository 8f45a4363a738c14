#pragma once
// Base of components that treat every channel of one bus alike: bus
// negotiation with the host, the channel count, the parameter descriptions
// and the factory presets.

#include <cstddef>
#include <map>
#include <optional>
#include <string>

#include "contracts/host/AudioFilter.h"
#include "framework/FactoryPresets.h"
#include "framework/ParameterInfo.h"

namespace zoc {

class MultiChannelComponentBase : public host::AudioFilter {
public:
    using ParameterInfoMap = std::map<std::size_t, core::Ref<host::AudioFilterParameterInfo>>;

    /// Starts with one stereo input and one stereo output bus.
    MultiChannelComponentBase(std::string componentID, core::UString title, int maxChannels,
                              FactoryPresetTable presets = {});

    /// Accepts exactly one input and one output layout of the same channel
    /// count; a count above the maximum runs as mono over the proposed layout.
    bool RequestIOConfiguration(const host::ChannelLayoutList& inputs,
                                const host::ChannelLayoutList& outputs) override;

    /// Stores the rate as AcceptedSampleRate gives it (a NaN, infinite or
    /// non-positive rate is ignored). Components read the rate back with
    /// GetSampleRate() after calling this.
    void SetSampleRate(float rate) override;

    core::Ref<host::AudioFilterParameterInfo> GetParameterInfo(int index) override;
    /// The real value with two decimals; empty for an index without a description.
    core::UString GetParameterString(int index) override;

    int GetNumFactoryPresets() override { return presets_.Count(); }
    core::UString GetFactoryPresetName(int index) override { return presets_.Name(index); }
    void SetFactoryPreset(int index) override { presets_.Apply(*this, index); }

    void SetAudioParamInterface(AudioParamInterface* paramInterface) { paramInterface_ = paramInterface; }
    virtual bool GetKeyFrameParameter(unsigned long id, float& value);

    /// False for a parameter that processing ignores on the current channel
    /// layout (a right-channel setting on one channel). It keeps its
    /// description and stored value, which another layout may use again, so
    /// saved settings keep their shape. Control thread.
    virtual bool IsParameterInUse(int /*index*/) { return true; }

    void AddParameterInfo(std::size_t index, core::Ref<host::AudioFilterParameterInfo> info);
    void ClearParameterInfos() { infos_.clear(); }
    const ParameterInfoMap& GetParameterInfos() const { return infos_; }
    int GetMaxChannelCount() const { return maxChannels_; }

protected:
    /// Called after the buses changed to `count` channels.
    virtual void OnNumberOfChannelsChanged(std::size_t count) = 0;

    /// The real value for a normalized one through the parameter's
    /// description; nullopt for NaN or an index without a description.
    std::optional<float> RealFromNormalized(int index, float normalized) const;
    const FactoryPresetTable& GetPresetTable() const { return presets_; }

private:
    ParameterInfoMap infos_;
    int maxChannels_;
    AudioParamInterface* paramInterface_ = nullptr;
    FactoryPresetTable presets_;
};

} // namespace zoc

#pragma once
// A stand-in for a component: it holds the component's identity, buses,
// parameter values and saved settings without interpreting them, passes audio
// through unchanged, and can create the real component again. Hosts build it
// directly (it has no registrar), for instance when saved settings name a
// component that this build does not have.

#include <string>
#include <vector>

#include "contracts/host/AudioFilter.h"
#include "framework/ParameterInfo.h"

namespace zoc::components {

class AudioComponentZombie : public host::AudioFilter {
public:
    /// A placeholder of `parameterCount` parameters at 0, each described as
    /// a plain number from 0 to 1 that cannot be automated.
    AudioComponentZombie(std::string componentID, core::UString displayName, int parameterCount,
                         bool presetsUseChunkData);
    /// A placeholder of an existing component: its identity, buses, rate,
    /// block size, parameter values with their units and automation flags,
    /// saved settings, channel maps and preset name. Control thread.
    explicit AudioComponentZombie(const core::Ref<host::AudioFilter>& component);

    bool IsZombie() override { return true; }
    bool DoPresetsUseChunkData() override { return presetsUseChunkData_; }

    int GetParameterCount() override { return static_cast<int>(values_.size()); }
    /// The stored value; 0 for an index beyond the list.
    float GetParameter(int index) override;
    /// Stores the value when the index is in the list, and always tells the host.
    void SetParameter(int index, float normalized) override;
    /// Null for an index beyond the list.
    core::Ref<host::AudioFilterParameterInfo> GetParameterInfo(int index) override;
    void SetParameterDisplayName(int index, core::UString name);
    /// Replaces description `index` with one of this unit and automation flag
    /// (keeping its name), for callers that learn them from elsewhere.
    void SetParameterUnit(int index, host::AudioFilterParameterInfoUnit unit, bool automatable);

    /// Keeps a copy of the settings, uninterpreted; always succeeds.
    bool LoadSettings(const host::PresetData& preset) override;
    /// Hands back the settings last loaded or taken from the component.
    bool SaveSettings(host::PresetData& preset) override;

    /// The component this placeholder was made from, or null.
    core::Ref<host::AudioFilter> GetReferrencedAudioFitler() const { return referenced_; }

    /// The real component from the registry with this placeholder's layout,
    /// sample rate, settings, channel maps and preset name; null when no
    /// registered component has this identifier. Leaves the placeholder as it
    /// was. Control thread.
    core::Ref<host::AudioFilter> CreateComponentFromZombieState();

private:
    static core::Ref<GenericParameterInfo> Describe(int index, core::UString name,
                                                    host::AudioFilterParameterInfoUnit unit, bool automatable);

    host::PresetData settings_;
    std::vector<core::Ref<GenericParameterInfo>> infos_;
    std::vector<float> values_;
    bool presetsUseChunkData_ = false;
    core::Ref<host::AudioFilter> referenced_;
};

} // namespace zoc::components

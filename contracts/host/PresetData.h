#pragma once
// Saved settings of a component: normalized parameter list, version, type,
// an optional custom property section and optional opaque chunk bytes.

#include <cstdint>
#include <vector>

#include "platform/core/PropList.h"
#include "platform/core/String.h"

namespace zoc::host {

/// What a preset carries: only its parameter list, opaque chunk bytes, the
/// name of a factory preset to apply, or a custom property section.
enum class PresetType : int { kParameters = 0, kChunk = 1, kFactory = 2, kCustom = 3 };

class PresetData {
public:
    PresetData() = default;
    /// Builds preset data over a property list written by ToPropList.
    explicit PresetData(const core::PropList& list);

    const std::vector<float>& GetParamList() const { return params_; }
    void SetParamList(std::vector<float> params) { params_ = std::move(params); }

    /// False when the preset holds no chunk.
    bool GetChunkData(std::vector<std::uint8_t>& bytes) const;
    void SetChunkData(const void* data, std::size_t size);

    /// The custom section, null when there is none.
    core::Ref<core::PropList> GetCustomDataSection() const { return custom_; }
    void SetCustomDataSection(core::Ref<core::PropList> section) { custom_ = std::move(section); }

    float GetVersion() const { return version_; }
    void SetVersion(float version) { version_ = version; }
    PresetType GetPresetType() const { return type_; }
    void SetPresetType(PresetType type) { type_ = type; }
    const core::UString& GetFactoryPresetName() const { return factoryName_; }
    void SetFactoryPresetName(core::UString name) { factoryName_ = std::move(name); }

    /// Copies everything from another preset (the custom section deeply).
    void SetDataFromExistingPreset(const PresetData& other);
    void Clear();

    /// The whole preset as a property list (keys "Version", "Type",
    /// "FactoryName", "Params", "Custom", "Chunk").
    core::Ref<core::PropList> ToPropList() const;

private:
    std::vector<float> params_;
    std::vector<std::uint8_t> chunk_;
    bool hasChunk_ = false;
    core::Ref<core::PropList> custom_;
    float version_ = 1.0f;
    PresetType type_ = PresetType::kParameters;
    core::UString factoryName_;
};

} // namespace zoc::host

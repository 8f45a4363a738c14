// Saved settings and their property-list form.

#include "contracts/host/PresetData.h"

#include <cstring>

namespace zoc::host {

PresetData::PresetData(const core::PropList& list)
{
    if (auto version = list.Get<float>("Version"))
        version_ = *version;
    if (auto type = list.Get<std::int64_t>("Type"); type && *type >= 0 && *type <= static_cast<std::int64_t>(PresetType::kCustom))
        type_ = static_cast<PresetType>(*type);
    if (auto name = list.Get<core::UString>("FactoryName"))
        factoryName_ = *name;
    if (auto params = list.Get<core::Ref<core::PropList>>("Params"); params && *params) {
        // Parameters are stored under their decimal index.
        for (std::size_t index = 0;; ++index) {
            auto value = (*params)->Get<float>(std::to_string(index));
            if (!value)
                break;
            params_.push_back(*value);
        }
    }
    if (auto custom = list.Get<core::Ref<core::PropList>>("Custom"); custom && *custom)
        custom_ = (*custom)->DeepCopy();
    if (auto chunk = list.Get<core::UString>("Chunk")) {
        // Chunk bytes travel as hexadecimal text.
        if (auto bytes = core::FromHex(*chunk)) {
            chunk_ = std::move(*bytes);
            hasChunk_ = true;
        }
    }
}

bool PresetData::GetChunkData(std::vector<std::uint8_t>& bytes) const
{
    if (!hasChunk_)
        return false;
    bytes = chunk_;
    return true;
}

void PresetData::SetChunkData(const void* data, std::size_t size)
{
    chunk_.resize(size);
    if (size > 0)
        std::memcpy(chunk_.data(), data, size);
    hasChunk_ = true;
}

void PresetData::SetDataFromExistingPreset(const PresetData& other)
{
    params_ = other.params_;
    chunk_ = other.chunk_;
    hasChunk_ = other.hasChunk_;
    custom_ = other.custom_ ? other.custom_->DeepCopy() : nullptr;
    version_ = other.version_;
    type_ = other.type_;
    factoryName_ = other.factoryName_;
}

void PresetData::Clear()
{
    *this = PresetData();
}

core::Ref<core::PropList> PresetData::ToPropList() const
{
    auto list = core::MakeRef<core::PropList>();
    list->Set("Version", version_);
    list->Set("Type", static_cast<std::int64_t>(type_));
    if (!factoryName_.empty())
        list->Set("FactoryName", factoryName_);
    auto params = core::MakeRef<core::PropList>();
    for (std::size_t index = 0; index < params_.size(); ++index)
        params->Set(std::to_string(index), params_[index]);
    list->Set("Params", params);
    if (custom_)
        list->Set("Custom", custom_->DeepCopy());
    if (hasChunk_)
        list->Set("Chunk", core::FromUtf8(core::ToHex(chunk_)));
    return list;
}

} // namespace zoc::host

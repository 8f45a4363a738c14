// Saved settings and their property-list form.

#include "contracts/host/PresetData.h"

#include <cstring>

namespace zoc::host {

PresetData::PresetData(const core::PropList& list)
{
    if (auto version = list.Get<float>("Version"))
        version_ = *version;
    if (auto type = list.Get<std::int64_t>("Type"); type && *type >= 0 && *type <= 2)
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
    if (auto chunk = list.Get<core::UString>("Chunk"); chunk && chunk->size() % 2 == 0) {
        // Chunk bytes travel as hexadecimal text.
        auto nibble = [](char16_t c) -> int {
            if (c >= u'0' && c <= u'9')
                return c - u'0';
            if (c >= u'a' && c <= u'f')
                return c - u'a' + 10;
            if (c >= u'A' && c <= u'F')
                return c - u'A' + 10;
            return -1;
        };
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < chunk->size(); i += 2) {
            const int high = nibble((*chunk)[i]);
            const int low = nibble((*chunk)[i + 1]);
            if (high < 0 || low < 0)
                return;
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        }
        chunk_ = std::move(bytes);
        hasChunk_ = true;
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
    if (hasChunk_) {
        static constexpr char16_t kHex[] = u"0123456789abcdef";
        core::UString hex;
        for (std::uint8_t byte : chunk_) {
            hex.push_back(kHex[byte >> 4]);
            hex.push_back(kHex[byte & 15]);
        }
        list->Set("Chunk", std::move(hex));
    }
    return list;
}

} // namespace zoc::host

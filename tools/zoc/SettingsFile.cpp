#include "tools/zoc/SettingsFile.h"

#include "api/Settings.h"
#include "tools/zoc/AudioFile.h"

namespace zoc::tool {

nlohmann::json SettingsToJson(const host::PresetData& settings, const Component& component)
{
    return api::SettingsToJson(settings, component);
}

host::PresetData SettingsFromJson(const nlohmann::json& json, const Component& component, int parameterCount)
{
    return Translated([&] { return api::SettingsFromJson(json, component, parameterCount); });
}

std::string SettingsText(host::AudioFilter& filter, const Component& component)
{
    return Translated([&] { return api::SettingsText(filter, component); });
}

void SaveSettingsFile(const std::filesystem::path& path, host::AudioFilter& filter, const Component& component)
{
    WriteFileAtomically(path, SettingsText(filter, component));
}

void LoadSettingsFile(const std::filesystem::path& path, host::AudioFilter& filter, const Component& component)
{
    Translated([&] { api::LoadSettingsFile(path, filter, component); });
}

} // namespace zoc::tool

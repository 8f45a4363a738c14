#pragma once
// A component's saved settings as a JSON file people can keep as their own
// presets. The format and its checks are the library's (api/Settings.h);
// here its errors become zoc's.

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/host/AudioFilter.h"
#include "contracts/host/PresetData.h"
#include "tools/zoc/ComponentLookup.h"

namespace zoc::tool {

/// The settings as JSON, labelled with the component they came from.
nlohmann::json SettingsToJson(const host::PresetData& settings, const Component& component);
/// Settings from JSON for a component with `parameterCount` parameters.
/// Usage error (naming the offending field) when anything is missing, of the
/// wrong type, out of range or meant for another component.
host::PresetData SettingsFromJson(const nlohmann::json& json, const Component& component, int parameterCount);

/// The component's current settings as the text of a settings file.
std::string SettingsText(host::AudioFilter& filter, const Component& component);
/// Saves the component's current settings to `path` atomically.
void SaveSettingsFile(const std::filesystem::path& path, host::AudioFilter& filter, const Component& component);
/// Reads `path` and loads it into the component: IoError when unreadable,
/// usage error when malformed or refused by the component.
void LoadSettingsFile(const std::filesystem::path& path, host::AudioFilter& filter, const Component& component);

} // namespace zoc::tool

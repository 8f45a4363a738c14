#pragma once
// A component's saved settings as JSON: the text `zoc --save-settings`
// writes and the public Effect class saves and loads. The format is
// described at the top of Settings.cpp. Failures throw zoc::Error.

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "api/Lookup.h"
#include "contracts/host/AudioFilter.h"
#include "contracts/host/PresetData.h"

namespace zoc::api {

/// The settings as JSON, labelled with the component they came from.
nlohmann::json SettingsToJson(const host::PresetData& settings, const Component& component);
/// Settings from JSON for a component with `parameterCount` parameters.
/// InvalidSettings error, naming `label` and the offending field, when
/// anything is missing, of the wrong type, out of range or meant for another
/// component.
host::PresetData SettingsFromJson(const nlohmann::json& json, const Component& component, int parameterCount,
                                  const std::string& label = "file");

/// Each parameter's name, unit, unit label, automation flag and real value,
/// saved beside the normalized values so that a build without the component
/// can still show them.
nlohmann::json DescribeParametersForSettings(host::AudioFilter& filter);

/// The component's current settings as the text of a settings file.
std::string SettingsText(host::AudioFilter& filter, const Component& component);
/// Loads settings text into the component, checking every field before the
/// component sees anything, so bad text leaves it as it was. `label` names
/// the text's origin in messages.
void LoadSettingsText(const std::string& text, const std::string& label, host::AudioFilter& filter,
                      const Component& component);

/// The text of a settings file; Io error when it cannot be read.
std::string ReadSettingsText(const std::filesystem::path& path);
/// ReadSettingsText, then LoadSettingsText.
void LoadSettingsFile(const std::filesystem::path& path, host::AudioFilter& filter, const Component& component);

/// "'path'", as messages quote file names.
std::string Quoted(const std::filesystem::path& path);

} // namespace zoc::api

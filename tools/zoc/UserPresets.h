#pragma once
// The user's own presets: settings files kept per component class under
// $XDG_CONFIG_HOME/zoc/presets/<Class>/<NAME>.json (~/.config when
// XDG_CONFIG_HOME is unset or not absolute), found by --preset NAME like the
// factory presets and written by --save-preset NAME.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/Session.h"
#include "tools/zoc/ComponentLookup.h"

namespace zoc::tool {

/// Where the user's presets for `component` live (whether or not it exists).
std::filesystem::path UserPresetDirectory(const Component& component);

/// The names of the user's presets for `component`, sorted.
std::vector<std::string> UserPresetNames(const Component& component);

/// The file of the user's preset `name` (file name first, then ignoring
/// case), or nullopt when there is none.
std::optional<std::filesystem::path> FindUserPreset(const Component& component, const std::string& name);

/// --preset NAME: the user's preset of that name when there is one, else the
/// factory preset of that name or index (usage error when neither exists).
void ApplyNamedPreset(host::Session& session, const Component& component, const std::string& name);

/// The file that --save-preset NAME writes (through an AtomicFile, like any
/// settings file), its directories created (mode 0700) if missing. Usage
/// error for a name that cannot be a file name.
std::filesystem::path UserPresetFile(const Component& component, const std::string& name);

} // namespace zoc::tool

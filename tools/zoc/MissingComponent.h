#pragma once
// Settings files of components this build does not have: finding the owner
// of a settings file, the one-line refusal to apply them, and `zoc info
// --load-settings` showing what a placeholder of the component holds.

#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "api/Settings.h"
#include "contracts/host/AudioFilter.h"
#include "tools/zoc/Cli.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Errors.h"

namespace zoc::tool {

/// The component a settings file was saved from.
struct SettingsOwner {
    std::string id;        ///< component identifier; empty when the file names none
    std::string className; ///< class name as saved; may be empty
    std::optional<Component> component; ///< the registered component, when this build has it
    bool classKnown = false; ///< a registered component has the saved class name

    /// Neither the identifier nor the class name is one of this build's. (A
    /// known class under a foreign identifier is a mismatch that loading
    /// reports, not a missing component.)
    bool IsMissing() const { return !id.empty() && !component && !classKnown; }
};

/// Reads a settings file as JSON: IoError when unreadable, usage error when
/// it is not JSON.
nlohmann::json ReadSettingsJson(const std::filesystem::path& path);
/// The owner named by a settings file's "id" and "component" fields.
SettingsOwner SettingsOwnerOf(const nlohmann::json& root);
/// The owner of the settings in `path`; nullopt when the file cannot be read
/// or parsed (loading it later reports why).
std::optional<SettingsOwner> TryReadSettingsOwner(const std::filesystem::path& path);

/// The usage error for settings whose component this build lacks.
Failure MissingComponentError(const std::filesystem::path& path, const SettingsOwner& owner);

/// Each parameter's name, unit, unit label, automation flag and real value,
/// saved beside the normalized values so that a build without the component
/// can still show them.
using api::DescribeParametersForSettings;

/// `zoc info --load-settings FILE` for a missing component: the placeholder
/// built from the file, its parameters with their saved values and units.
int ShowPlaceholderInfo(const std::filesystem::path& path, const nlohmann::json& root, const SettingsOwner& owner,
                        bool asJson, Context& context);

} // namespace zoc::tool

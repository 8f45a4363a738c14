#include "tools/zoc/UserPresets.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/zoc/Cli.h"
#include "tools/zoc/Errors.h"
#include "tools/zoc/SettingsFile.h"

namespace zoc::tool {

namespace {

constexpr const char* kExtension = ".json";
constexpr std::size_t kLongestName = 200;

/// $XDG_CONFIG_HOME, or ~/.config; nullopt when neither can be told.
std::optional<std::filesystem::path> ConfigHome()
{
    // A relative XDG_CONFIG_HOME counts as unset.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/')
        return config;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/')
        return std::nullopt;
    return std::filesystem::path(home) / ".config";
}

std::optional<std::filesystem::path> PresetDirectory(const Component& component)
{
    const std::optional<std::filesystem::path> base = ConfigHome();
    if (!base)
        return std::nullopt;
    return *base / "zoc" / "presets" / component.info.className;
}

/// Refuses names that would leave the preset directory, hide the file or
/// not survive as a file name.
void CheckPresetName(const std::string& name)
{
    const bool control = std::any_of(name.begin(), name.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
    if (name.empty() || name.front() == '.' || name.find('/') != std::string::npos || control ||
        name.size() > kLongestName)
        throw UsageError("--save-preset: '" + name +
                         "' cannot be a preset name (no '/', no leading '.', at most 200 characters)");
}

/// Creates `directory` and the missing ones above it, each private to the user.
void CreatePrivateDirectories(const std::filesystem::path& directory)
{
    std::filesystem::path partial;
    for (const std::filesystem::path& part : directory) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            throw IoError("cannot create '" + partial.string() + "': " + std::strerror(errno));
    }
}

} // namespace

std::filesystem::path UserPresetDirectory(const Component& component)
{
    if (std::optional<std::filesystem::path> directory = PresetDirectory(component))
        return *directory;
    throw IoError("cannot tell where your presets are: neither XDG_CONFIG_HOME nor HOME is set");
}

std::vector<std::string> UserPresetNames(const Component& component)
{
    std::vector<std::string> names;
    const std::optional<std::filesystem::path> directory = PresetDirectory(component);
    if (!directory)
        return names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(*directory, error)) {
        const std::filesystem::path& path = entry.path();
        if (path.extension() == kExtension && path.filename().string().front() != '.')
            names.push_back(path.stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::filesystem::path> FindUserPreset(const Component& component, const std::string& name)
{
    const std::optional<std::filesystem::path> found = PresetDirectory(component);
    if (!found || name.empty() || name.front() == '.' || name.find('/') != std::string::npos)
        return std::nullopt;
    const std::filesystem::path& directory = *found;
    std::error_code error;
    const std::filesystem::path exact = directory / (name + kExtension);
    if (std::filesystem::is_regular_file(exact, error))
        return exact;
    for (const std::string& candidate : UserPresetNames(component)) {
        if (EqualsIgnoreCase(candidate, name))
            return directory / (candidate + kExtension);
    }
    return std::nullopt;
}

void ApplyNamedPreset(host::Session& session, const Component& component, const std::string& name)
{
    if (const std::optional<std::filesystem::path> file = FindUserPreset(component, name)) {
        LoadSettingsFile(*file, session.Filter(), component);
        return;
    }
    try {
        session.ApplyPreset(FindPreset(session.Filter(), component.title, name));
    } catch (const Failure& failure) {
        // Name the user's own presets too, so a typo in one is easy to see.
        const std::vector<std::string> own = UserPresetNames(component);
        if (own.empty())
            throw;
        std::string names;
        for (const std::string& ownName : own)
            names += (names.empty() ? "'" : ", '") + ownName + "'";
        throw Failure(failure.ExitCode(), std::string(failure.what()) + " (your presets: " + names + ")");
    }
}

std::filesystem::path UserPresetFile(const Component& component, const std::string& name)
{
    CheckPresetName(name);
    const std::filesystem::path directory = UserPresetDirectory(component);
    CreatePrivateDirectories(directory);
    return directory / (name + kExtension);
}

} // namespace zoc::tool

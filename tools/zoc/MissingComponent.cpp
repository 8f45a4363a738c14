// Settings files naming a component this build does not have. A placeholder
// component holds such settings unchanged: `zoc info` shows what it holds,
// `zoc apply` refuses them in one line, and a build that has the component
// loads the same file as usual.

#include "tools/zoc/MissingComponent.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "api/Text.h"
#include "framework/AudioComponentZombie.h"
#include "tools/zoc/SettingsFile.h"
#include "tools/zoc/Table.h"

namespace zoc::tool {

namespace {

using nlohmann::json;

std::string Quoted(const std::filesystem::path& path)
{
    std::string quoted = "'";
    quoted.append(path.string()).append("'");
    return quoted;
}

/// "12.5 dB", or "-" when the value was not saved.
std::string ValueText(double value, const std::string& unitLabel)
{
    if (std::isnan(value))
        return "-";
    std::string text = FormatNumber(value);
    if (!unitLabel.empty())
        text.append(" ").append(unitLabel);
    return text;
}

std::string UnitName(host::AudioFilterParameterInfoUnit unit)
{
    switch (unit) {
    case host::kUnitFrequency:
        return "frequency";
    case host::kUnitDecibels:
        return "level";
    case host::kUnitSwitch:
        return "switch";
    case host::kUnitProportion:
        return "proportion";
    case host::kUnitTime:
        return "time";
    default:
        return "number";
    }
}

/// What the file tells of parameter `index` beyond its normalized value.
struct SavedDescription {
    std::string name;
    std::string unitLabel;
    host::AudioFilterParameterInfoUnit unit = host::kUnitNumber;
    bool automatable = false;
    double value = std::nan(""); ///< the real value; NaN when not saved
};

std::optional<SavedDescription> SavedDescriptionOf(const json& root, std::size_t index)
{
    if (!root.contains("parameter_info") || !root["parameter_info"].is_array() ||
        index >= root["parameter_info"].size())
        return std::nullopt;
    const json& entry = root["parameter_info"][index];
    if (!entry.is_object())
        return std::nullopt;
    SavedDescription description;
    if (entry.contains("name") && entry["name"].is_string())
        description.name = entry["name"].get<std::string>();
    if (entry.contains("unit_label") && entry["unit_label"].is_string())
        description.unitLabel = entry["unit_label"].get<std::string>();
    if (entry.contains("unit") && entry["unit"].is_number_integer()) {
        const auto unit = entry["unit"].get<std::int64_t>();
        if (unit >= host::kUnitNumber && unit <= host::kUnitTime)
            description.unit = static_cast<host::AudioFilterParameterInfoUnit>(unit);
    }
    if (entry.contains("automatable") && entry["automatable"].is_boolean())
        description.automatable = entry["automatable"].get<bool>();
    if (entry.contains("value") && entry["value"].is_number())
        description.value = entry["value"].get<double>();
    return description;
}

} // namespace

json ReadSettingsJson(const std::filesystem::path& path)
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw IoError("cannot read settings " + Quoted(path) + ": it is a directory");
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        throw IoError("cannot read settings " + Quoted(path) + ": " + std::strerror(errno));
    std::ostringstream text;
    text << stream.rdbuf();
    try {
        return json::parse(text.str());
    } catch (const json::exception&) {
        throw UsageError("settings " + Quoted(path) + " is not valid JSON");
    }
}

SettingsOwner SettingsOwnerOf(const json& root)
{
    SettingsOwner owner;
    if (!root.is_object())
        return owner;
    if (root.contains("id") && root["id"].is_string())
        owner.id = root["id"].get<std::string>();
    if (root.contains("component") && root["component"].is_string())
        owner.className = root["component"].get<std::string>();
    for (const Component& component : AllComponents()) {
        if (!owner.id.empty() && component.info.componentID == owner.id)
            owner.component = component;
        if (!owner.className.empty() && component.info.className == owner.className)
            owner.classKnown = true;
        // A hand-written file names its component by class or title alone.
        if (owner.id.empty() && !owner.className.empty() &&
            (api::EqualsIgnoreCase(component.info.className, owner.className) ||
             api::EqualsIgnoreCase(component.title, owner.className)))
            owner.component = component;
    }
    return owner;
}

std::optional<SettingsOwner> TryReadSettingsOwner(const std::filesystem::path& path)
{
    try {
        return SettingsOwnerOf(ReadSettingsJson(path));
    } catch (const Failure&) {
        return std::nullopt;
    }
}

Failure MissingComponentError(const std::filesystem::path& path, const SettingsOwner& owner)
{
    const std::string name = owner.className.empty() ? owner.id : owner.className + " (" + owner.id + ")";
    return UsageError("settings " + Quoted(path) + " are for " + name +
                      ", which this build does not have (see 'zoc list'); 'zoc info --load-settings " +
                      path.string() + "' shows what they hold");
}

int ShowPlaceholderInfo(const std::filesystem::path& path, const json& root, const SettingsOwner& owner,
                        bool asJson, Context& context)
{
    // The placeholder takes the file's settings as they are; the usual checks
    // of a settings file still apply, counted against the file's own list.
    const std::string className = owner.className.empty() ? owner.id : owner.className;
    const std::size_t count = root.contains("parameters") && root["parameters"].is_array() ? root["parameters"].size() : 0;
    const Component standIn{{className, "", 0, owner.id, {}}, className};
    const host::PresetData settings = SettingsFromJson(root, standIn, static_cast<int>(count));
    std::vector<std::uint8_t> chunk;
    const bool hasChunk = settings.GetChunkData(chunk);

    core::Ref<components::AudioComponentZombie> placeholder{
        new components::AudioComponentZombie(owner.id, core::FromUtf8(className), static_cast<int>(count), hasChunk)};
    placeholder->LoadSettings(settings);
    for (std::size_t index = 0; index < count; ++index) {
        const int parameter = static_cast<int>(index);
        placeholder->SetParameter(parameter, settings.GetParamList()[index]);
        if (const std::optional<SavedDescription> saved = SavedDescriptionOf(root, index)) {
            placeholder->SetParameterDisplayName(parameter, core::FromUtf8(saved->name));
            placeholder->SetParameterUnit(parameter, saved->unit, saved->automatable);
        }
    }

    json parameters = json::array();
    Table table({"INDEX", "NAME", "KEY", "VALUE", "UNIT", "NORMALIZED", "FLAGS"});
    for (int index = 0; index < placeholder->GetParameterCount(); ++index) {
        const core::Ref<host::AudioFilterParameterInfo> info = placeholder->GetParameterInfo(index);
        const std::string name = core::ToUtf8(info->GetName());
        const float normalized = placeholder->GetParameter(index);
        const std::optional<SavedDescription> saved = SavedDescriptionOf(root, static_cast<std::size_t>(index));
        const double value = saved ? saved->value : std::nan("");
        const std::string unitLabel = saved ? saved->unitLabel : "";
        parameters.push_back({{"index", index},
                              {"name", name},
                              {"key", ParameterKey(name, index)},
                              {"value", std::isnan(value) ? json(nullptr) : json(value)},
                              {"unit", UnitName(info->GetUnit())},
                              {"unit_label", unitLabel},
                              {"normalized", normalized},
                              {"automatable", info->CanBeAutomated()}});
        table.Add({std::to_string(index), name, ParameterKey(name, index),
                   ValueText(value, unitLabel),
                   UnitName(info->GetUnit()), FormatNumber(normalized),
                   info->CanBeAutomated() ? "automatable" : "fixed"});
    }

    const core::Ref<core::PropList> custom = settings.GetCustomDataSection();
    if (asJson) {
        const json result = {{"missing", true},
                             {"class", className},
                             {"id", owner.id},
                             {"version", settings.GetVersion()},
                             {"factory_name", core::ToUtf8(settings.GetFactoryPresetName())},
                             {"custom_properties", custom ? custom->Size() : 0},
                             {"chunk_bytes", hasChunk ? chunk.size() : 0},
                             {"parameter_count", count},
                             {"parameters", parameters}};
        context.out << result.dump(2) << '\n';
        return kExitOk;
    }
    std::ostream& out = context.out;
    out << className << " (" << owner.id << ") is not in this build: a placeholder holds the settings of "
        << Quoted(path) << " unchanged\n";
    out << "Settings version " << FormatNumber(settings.GetVersion());
    if (!settings.GetFactoryPresetName().empty())
        out << ", from the preset \"" << core::ToUtf8(settings.GetFactoryPresetName()) << '"';
    if (custom)
        out << ", " << custom->Size() << " custom properties";
    if (hasChunk)
        out << ", " << chunk.size() << " bytes of component data";
    out << "\n\nParameters (" << count << ", as saved):\n";
    if (count == 0)
        out << "  (none)\n";
    else
        table.Print(out, 2);
    return kExitOk;
}

} // namespace zoc::tool

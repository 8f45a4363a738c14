// zoc list and zoc info: what components there are and how each looks once
// configured.

#include <optional>

#include <nlohmann/json.hpp>

#include "platform/host/Session.h"
#include "tools/zoc/Commands.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Errors.h"
#include "tools/zoc/MissingComponent.h"
#include "tools/zoc/SettingsFile.h"
#include "tools/zoc/Table.h"
#include "tools/zoc/UserPresets.h"

namespace zoc::tool {

namespace {

using nlohmann::json;

/// A finite float for JSON; NaN and infinities become null.
json JsonNumber(float value)
{
    if (!std::isfinite(value))
        return nullptr;
    return value;
}

} // namespace

int RunList(const Words& words, Context& context)
{
    ArgumentScanner scanner("list", words, {}, {"--json", "--long"});
    bool asJson = false;
    bool asLong = false;
    while (scanner.Next()) {
        if (!scanner.IsOption())
            throw UsageError("list takes no arguments, got '" + scanner.Word() + "'");
        (scanner.Name() == "--json" ? asJson : asLong) = true;
    }

    json list = json::array();
    // The short form reads as a menu; identifiers are for scripts and --long.
    Table table(asLong ? std::vector<std::string>{"CLASS", "TITLE", "KIND", "CATEGORY", "ID", "TITLE KEY",
                                                  "DESCRIPTION"}
                       : std::vector<std::string>{"CLASS", "TITLE", "KIND", "DESCRIPTION"});
    for (const Component& component : AllComponents()) {
        const core::Ref<host::AudioFilter> filter = CreateComponent(component);
        const bool offline = filter->IsOfflineProcess();
        const bool generator = filter->IsGenerator();
        const std::string description =
            component.info.description.empty() ? component.title : component.info.description;
        list.push_back({{"class", component.info.className},
                        {"title", component.title},
                        {"title_key", component.info.titleKey},
                        {"id", component.info.componentID},
                        {"category", component.info.category},
                        {"offline", offline},
                        {"generator", generator},
                        {"description", description}});
        std::string kind = generator ? "generator" : (offline ? "offline" : "real-time");
        if (generator && offline)
            kind = "offline generator";
        if (asLong)
            table.Add({component.info.className, component.title, kind, std::to_string(component.info.category),
                       component.info.componentID, component.info.titleKey, description});
        else
            table.Add({component.info.className, component.title, kind, description});
    }
    if (asJson)
        context.out << list.dump(2) << '\n';
    else
        table.Print(context.out);
    return kExitOk;
}

int RunInfo(const Words& words, Context& context)
{
    ArgumentScanner scanner("info", words, {"--rate", "--channels", "--load-settings", "--preset"}, {"--json"});
    std::string loadSettings;
    std::optional<std::string> preset;
    std::string name;
    bool asJson = false;
    double rate = 48000.0;
    long long channels = 2;
    while (scanner.Next()) {
        if (!scanner.IsOption()) {
            if (!name.empty())
                throw UsageError("info takes one component name, got also '" + scanner.Word() + "'");
            name = scanner.Word();
        } else if (scanner.Name() == "--json") {
            asJson = true;
        } else if (scanner.Name() == "--load-settings") {
            loadSettings = scanner.Value();
        } else if (scanner.Name() == "--preset") {
            preset = scanner.Value();
        } else if (scanner.Name() == "--rate") {
            rate = RequireNumber(scanner.Value(), "--rate");
            if (rate < 1.0 || rate > 1536000.0)
                throw UsageError("--rate must be between 1 and 1536000 Hz");
        } else {
            channels = RequireInteger(scanner.Value(), "--channels", 1, 1024);
        }
    }
    if (!loadSettings.empty()) {
        // The file names its component; one this build lacks is shown as the
        // placeholder that holds its settings.
        const nlohmann::json root = ReadSettingsJson(loadSettings);
        const SettingsOwner owner = SettingsOwnerOf(root);
        if (owner.IsMissing())
            return ShowPlaceholderInfo(loadSettings, root, owner, asJson, context);
        if (name.empty() && owner.component)
            name = owner.component->info.className;
    }
    if (name.empty())
        throw UsageError("info needs a component name (see 'zoc list')");

    const Component component = FindComponent(name);
    host::Session session(CreateComponent(component));
    if (!session.Configure(static_cast<std::size_t>(channels), static_cast<float>(rate)))
        throw UsageError(component.title + " does not take " + std::to_string(channels) + " channels");
    host::AudioFilter& filter = session.Filter();
    // The same order as apply: preset, then saved settings.
    if (preset)
        ApplyNamedPreset(session, component, *preset);
    if (!loadSettings.empty())
        LoadSettingsFile(loadSettings, filter, component);

    json parameters = json::array();
    Table table({"INDEX", "NAME", "KEY", "RANGE", "VALUE", "NORMALIZED", "TEXT", "FLAGS"});
    const int count = filter.GetParameterCount();
    for (int index = 0; index < count; ++index) {
        const core::Ref<host::AudioFilterParameterInfo> info = filter.GetParameterInfo(index);
        if (!info)
            continue;
        const std::string parameterName = core::ToUtf8(info->GetName());
        const std::string unit = core::ToUtf8(info->GetUnitLabel());
        const ValueRange range = RangeOf(*info);
        const float normalized = filter.GetParameter(index);
        const float value = info->FromNormalized(normalized);
        const std::string text = core::ToUtf8(filter.GetParameterString(index));
        const bool automatable = info->CanBeAutomated();
        const bool exposed = info->IsExposed();
        const bool inUse = api::IsInUse(filter, index);
        parameters.push_back({{"index", index},
                              {"name", parameterName},
                              {"key", ParameterKey(parameterName, index)},
                              {"unit", unit},
                              {"min", JsonNumber(range.min)},
                              {"max", JsonNumber(range.max)},
                              {"value", JsonNumber(value)},
                              {"normalized", JsonNumber(normalized)},
                              {"text", text},
                              {"automatable", automatable},
                              {"exposed", exposed},
                              {"in_use", inUse}});
        std::string flags = automatable ? "automatable" : "fixed";
        if (!exposed)
            flags += ",hidden";
        if (!inUse)
            flags += ",unused";
        table.Add({std::to_string(index), parameterName, ParameterKey(parameterName, index), DescribeRange(*info),
                   FormatNumber(value), FormatNumber(normalized), text, flags});
    }
    // Names from the mono layout that this layout spells per channel.
    const std::vector<api::LayoutAlias> aliases = Translated([&] { return api::LayoutAliases(filter, component); });
    json allChannelNames = json::array();
    Table aliasTable({"NAME", "KEY", "SETS"});
    for (const api::LayoutAlias& alias : aliases) {
        std::string sets;
        for (const int index : alias.indexes)
            sets += (sets.empty() ? "" : ", ") + ParameterKey(ParameterName(filter, index), index);
        allChannelNames.push_back({{"name", alias.name}, {"key", alias.key}, {"indexes", alias.indexes}});
        aliasTable.Add({alias.name, alias.key, sets});
    }
    json presets = json::array();
    for (int index = 0; index < filter.GetNumFactoryPresets(); ++index)
        presets.push_back(core::ToUtf8(filter.GetFactoryPresetName(index)));
    const int latency = filter.GetInitialDelay();

    if (asJson) {
        const json result = {{"class", component.info.className},
                             {"title", component.title},
                             {"id", component.info.componentID},
                             {"latency", latency},
                             {"channels", channels},
                             {"parameter_count", count},
                             {"parameters", parameters},
                             {"all_channel_names", allChannelNames},
                             {"presets", presets},
                             {"user_presets", UserPresetNames(component)}};
        context.out << result.dump(2) << '\n';
        return kExitOk;
    }
    std::ostream& out = context.out;
    out << component.title << " (" << component.info.className << ", " << component.info.componentID << ")\n";
    out << "Configured for " << channels << (channels == 1 ? " channel" : " channels") << " at "
        << FormatNumber(rate) << " Hz; latency " << latency << " frames\n";
    if (preset || !loadSettings.empty()) {
        out << "Values from " << (preset ? "preset '" + *preset + "'" : std::string());
        out << (preset && !loadSettings.empty() ? " and " : "");
        out << (loadSettings.empty() ? std::string() : "'" + loadSettings + "'") << '\n';
    }
    out << '\n';
    out << "Parameters (" << parameters.size() << " described of " << count << "):\n";
    table.Print(out, 2);
    if (!aliases.empty()) {
        out << "\nNames for every channel (as in mono; a channel's own name given too overrides them):\n";
        aliasTable.Print(out, 2);
    }
    out << "\nPresets:\n";
    for (std::size_t index = 0; index < presets.size(); ++index)
        out << "  " << index << "  " << presets[index].get<std::string>() << '\n';
    if (presets.empty())
        out << "  (none)\n";
    if (const std::vector<std::string> own = UserPresetNames(component); !own.empty()) {
        out << "\nYour presets (" << UserPresetDirectory(component).string() << "):\n";
        for (const std::string& ownName : own)
            out << "  " << ownName << '\n';
    }
    return kExitOk;
}

} // namespace zoc::tool

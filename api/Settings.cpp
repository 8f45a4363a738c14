// Settings files: a component's saved settings as JSON.
//
// A settings file is one JSON object:
//
//   {
//     "format": "zoc-settings",          what the file is (required)
//     "format_version": 1,               layout of this file (required, 1)
//     "component": "Amplify",            class name (optional on load)
//     "id": "{5A0C1A31-...}",            component identifier; when present
//                                        it must match the component (required
//                                        when "component" is given)
//     "version": 1.0,                    settings version of the component
//     "type": "parameters",              "parameters", "custom", "chunk" or
//                                        "factory" (apply factory_name)
//     "factory_name": "",                factory preset the settings began as
//     "parameters": [0.0625, 1.0, ...],  one normalized value (0..1) per
//                                        parameter index, all of them (may be
//                                        [] when "custom" carries the state)
//     "custom": { ... } or null,         the component's own properties
//     "chunk": "0aff..." or null         opaque bytes as hexadecimal text
//   }
//
// Each custom property is {"type": T, "value": V}:
//   "float"  a number, or "nan", "inf", "-inf"
//   "int"    a whole number
//   "bool"   true or false
//   "string" text
//   "float_pairs"  [[a, b], ...]
//   "list"   an object of properties (nested)
//   "lists"  an array of such objects
//
// Saved files also carry "parameter_info": per index, the parameter's
// "index", "key", "name", real "value", "unit" and "unit_label" (null where
// the layout leaves an index undescribed), for people to read. Loading
// ignores it: the normalized values above round-trip exactly.
//
// A file written by hand may instead give real values by key and leave
// everything else as it is:
//
//   {
//     "component": "Echo",               class name or title (optional)
//     "values": {"delay_time": "90ms", "feedback": 30}
//   }
//
// Values are numbers in the parameter's unit, or text as --set takes it
// (with a unit, or on/off for switches). Names work as on the command line.
//
// Loading checks every field before the component sees anything, so a bad
// file gives one clear message and leaves the component as it was.

#include "api/Settings.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "api/Text.h"
#include "platform/core/PropList.h"
#include "platform/core/String.h"

namespace zoc::api {

std::string Quoted(const std::filesystem::path& path)
{
    std::string quoted = "'";
    quoted.append(path.string()).append("'");
    return quoted;
}

namespace {

using nlohmann::json;

constexpr const char* kFormatName = "zoc-settings";
constexpr int kFormatVersion = 1;
constexpr int kMaxDepth = 64;
/// The envelopes' custom property holding (position 0..1, gain) pairs.
constexpr const char* kKeyframesKey = "LogicalKeyframes";

json FloatToJson(float value)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    return value;
}

json PropListToJson(const core::PropList& list);

json PropValueToJson(const core::PropValue& value)
{
    return std::visit(
        [](const auto& typed) -> json {
            using T = std::decay_t<decltype(typed)>;
            if constexpr (std::is_same_v<T, float>)
                return {{"type", "float"}, {"value", FloatToJson(typed)}};
            else if constexpr (std::is_same_v<T, std::int64_t>)
                return {{"type", "int"}, {"value", typed}};
            else if constexpr (std::is_same_v<T, bool>)
                return {{"type", "bool"}, {"value", typed}};
            else if constexpr (std::is_same_v<T, core::UString>)
                return {{"type", "string"}, {"value", core::ToUtf8(typed)}};
            else if constexpr (std::is_same_v<T, core::FloatPairList>) {
                json pairs = json::array();
                for (const auto& [a, b] : typed)
                    pairs.push_back(json::array({FloatToJson(a), FloatToJson(b)}));
                return {{"type", "float_pairs"}, {"value", pairs}};
            } else if constexpr (std::is_same_v<T, core::Ref<core::PropList>>) {
                return {{"type", "list"}, {"value", typed ? PropListToJson(*typed) : json::object()}};
            } else {
                json lists = json::array();
                for (const core::Ref<core::PropList>& list : typed)
                    lists.push_back(list ? PropListToJson(*list) : json::object());
                return {{"type", "lists"}, {"value", lists}};
            }
        },
        value);
}

json PropListToJson(const core::PropList& list)
{
    json object = json::object();
    for (const auto& [key, value] : list.GetEntries())
        object[key] = PropValueToJson(value);
    return object;
}

/// Reads one JSON file's fields, naming the field path in every complaint.
class Reader {
public:
    explicit Reader(std::string file) : file_(std::move(file)) {}

    [[noreturn]] void Fail(const std::string& where, const std::string& what) const
    {
        throw Error(Error::Code::InvalidSettings, "settings " + file_ + ": " + where + ": " + what);
    }

    float Float(const json& value, const std::string& where) const
    {
        if (value.is_number())
            return value.get<float>();
        if (value.is_string()) {
            const std::string text = value.get<std::string>();
            if (text == "nan")
                return std::nanf("");
            if (text == "inf")
                return HUGE_VALF;
            if (text == "-inf")
                return -HUGE_VALF;
        }
        Fail(where, "expected a number");
    }

    core::Ref<core::PropList> List(const json& object, const std::string& where, int depth) const
    {
        if (!object.is_object())
            Fail(where, "expected an object of properties");
        if (depth > kMaxDepth)
            Fail(where, "properties nested too deeply");
        auto list = core::MakeRef<core::PropList>();
        for (const auto& [key, entry] : object.items())
            list->Set(key, Value(entry, where + "." + key, depth));
        return list;
    }

    core::PropValue Value(const json& entry, const std::string& where, int depth) const
    {
        if (!entry.is_object() || !entry.contains("type") || !entry.contains("value") || !entry["type"].is_string())
            Fail(where, "expected {\"type\": ..., \"value\": ...}");
        const std::string type = entry["type"].get<std::string>();
        const json& value = entry["value"];
        if (type == "float")
            return Float(value, where);
        if (type == "int") {
            if (!value.is_number_integer())
                Fail(where, "expected a whole number");
            return value.get<std::int64_t>();
        }
        if (type == "bool") {
            if (!value.is_boolean())
                Fail(where, "expected true or false");
            return value.get<bool>();
        }
        if (type == "string") {
            if (!value.is_string())
                Fail(where, "expected text");
            return core::FromUtf8(value.get<std::string>());
        }
        if (type == "float_pairs") {
            if (!value.is_array())
                Fail(where, "expected [[a, b], ...]");
            core::FloatPairList pairs;
            for (const json& pair : value) {
                if (!pair.is_array() || pair.size() != 2)
                    Fail(where, "expected [[a, b], ...]");
                pairs.emplace_back(Float(pair[0], where), Float(pair[1], where));
            }
            return pairs;
        }
        if (type == "list")
            return List(value, where, depth + 1);
        if (type == "lists") {
            if (!value.is_array())
                Fail(where, "expected an array of property objects");
            core::PropListArray lists;
            for (std::size_t i = 0; i < value.size(); ++i)
                lists.push_back(List(value[i], where + "[" + std::to_string(i) + "]", depth + 1));
            return lists;
        }
        Fail(where, "unknown property type '" + type + "'");
    }

private:
    std::string file_;
};

host::PresetData Parse(const json& root, const Component& component, int parameterCount, const Reader& reader)
{
    if (!root.is_object())
        reader.Fail("top level", "expected a JSON object");
    if (!root.contains("format") || root["format"] != kFormatName)
        reader.Fail("format", std::string("expected \"") + kFormatName + "\"");
    if (!root.contains("format_version") || !root["format_version"].is_number_integer() ||
        root["format_version"].get<std::int64_t>() != kFormatVersion)
        reader.Fail("format_version", "expected " + std::to_string(kFormatVersion));
    if (root.contains("component") && !root["component"].is_string())
        reader.Fail("component", "expected text");
    if (root.contains("component") && !root.contains("id"))
        reader.Fail("id", "missing; a file that names its component must also carry its id");
    if (root.contains("id")) {
        if (!root["id"].is_string())
            reader.Fail("id", "expected text");
        if (root["id"].get<std::string>() != component.info.componentID) {
            std::string owner =
                root.contains("component") && root["component"].is_string() ? root["component"].get<std::string>()
                                                                             : root["id"].get<std::string>();
            // The right name under another identifier: the identifier is what differs.
            if (owner == component.info.className)
                owner = root["id"].get<std::string>();
            reader.Fail("id", "the settings are for '" + owner + "', not " + component.info.className);
        }
    }

    host::PresetData settings;
    if (root.contains("version")) {
        if (!root["version"].is_number())
            reader.Fail("version", "expected a number");
        settings.SetVersion(root["version"].get<float>());
    }
    if (root.contains("type")) {
        const json& type = root["type"];
        if (type == "parameters")
            settings.SetPresetType(host::PresetType::kParameters);
        else if (type == "custom")
            settings.SetPresetType(host::PresetType::kCustom);
        else if (type == "chunk")
            settings.SetPresetType(host::PresetType::kChunk);
        else if (type == "factory")
            settings.SetPresetType(host::PresetType::kFactory);
        else
            reader.Fail("type", "expected \"parameters\", \"custom\", \"chunk\" or \"factory\"");
    }
    if (root.contains("factory_name")) {
        if (!root["factory_name"].is_string())
            reader.Fail("factory_name", "expected text");
        settings.SetFactoryPresetName(core::FromUtf8(root["factory_name"].get<std::string>()));
    }

    if (!root.contains("parameters") || !root["parameters"].is_array())
        reader.Fail("parameters", "expected an array of normalized values");
    const json& parameters = root["parameters"];
    // Components whose whole state is their custom section, and settings
    // that name a factory preset, need no list.
    const bool customOnly = (settings.GetPresetType() == host::PresetType::kCustom ||
                             settings.GetPresetType() == host::PresetType::kFactory) &&
                            parameters.empty();
    if (!customOnly && parameters.size() != static_cast<std::size_t>(parameterCount))
        reader.Fail("parameters", "has " + std::to_string(parameters.size()) + " values but " +
                                      component.info.className + " has " + std::to_string(parameterCount) +
                                      " parameters");
    std::vector<float> values;
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const std::string where = "parameters[" + std::to_string(i) + "]";
        if (!parameters[i].is_number())
            reader.Fail(where, "expected a number");
        const double value = parameters[i].get<double>();
        // Normalized values lie in 0..1 (give or take a float's rounding); a
        // choice whose description spans 0..1 carries its index as a whole
        // number.
        const bool choiceIndex = value >= 0.0 && value <= 65536.0 && value == std::floor(value);
        if (!(value >= -1e-6 && value <= 1.0 + 1e-6) && !choiceIndex)
            reader.Fail(where, "normalized value " + parameters[i].dump() + " is outside 0..1");
        values.push_back(static_cast<float>(value));
    }
    settings.SetParamList(std::move(values));

    if (root.contains("custom") && !root["custom"].is_null())
        settings.SetCustomDataSection(reader.List(root["custom"], "custom", 0));

    if (root.contains("chunk") && !root["chunk"].is_null()) {
        if (!root["chunk"].is_string())
            reader.Fail("chunk", "expected hexadecimal text");
        const std::optional<std::vector<std::uint8_t>> bytes = core::FromHex(root["chunk"].get<std::string>());
        if (!bytes)
            reader.Fail("chunk", "not hexadecimal text of even length");
        settings.SetChunkData(bytes->data(), bytes->size());
    }
    return settings;
}

const char* TypeName(const core::PropValue& value)
{
    static constexpr const char* kNames[] = {"float", "int", "bool", "string", "float_pairs", "list", "lists"};
    return kNames[value.index()];
}

const char* PresetTypeName(host::PresetType type)
{
    switch (type) {
    case host::PresetType::kCustom:
        return "custom";
    case host::PresetType::kChunk:
        return "chunk";
    case host::PresetType::kFactory:
        return "factory";
    default:
        return "parameters";
    }
}

/// What the component itself would make of the settings, checked before it
/// sees them: a factory preset it has, custom properties of the types it
/// saves, and envelope keyframes inside the selection with real gains.
void CheckAgainstComponent(const host::PresetData& settings, const host::PresetData& current,
                           host::AudioFilter& filter, const Component& component, const Reader& reader)
{
    if (settings.GetPresetType() == host::PresetType::kFactory) {
        const std::string wanted = core::ToUtf8(settings.GetFactoryPresetName());
        std::vector<std::string> names;
        for (int index = 0; index < filter.GetNumFactoryPresets(); ++index)
            names.push_back(core::ToUtf8(filter.GetFactoryPresetName(index)));
        if (std::find(names.begin(), names.end(), wanted) == names.end())
            reader.Fail("factory_name", component.title + " has no preset '" + wanted + "'" +
                                            SuggestionText(wanted, names));
    }
    const core::Ref<core::PropList> custom = settings.GetCustomDataSection();
    const core::Ref<core::PropList> own = current.GetCustomDataSection();
    if (!custom)
        return;
    for (const auto& [key, value] : custom->GetEntries()) {
        const core::PropValue* expected = own ? own->Find(key) : nullptr;
        if (expected && expected->index() != value.index())
            reader.Fail("custom." + key, std::string("expected type \"") + TypeName(*expected) + "\", not \"" +
                                             TypeName(value) + "\"");
    }
    if (const auto keyframes = custom->Get<core::FloatPairList>(kKeyframesKey)) {
        for (std::size_t i = 0; i < keyframes->size(); ++i) {
            const auto [position, gain] = (*keyframes)[i];
            const std::string where = std::string("custom.") + kKeyframesKey + "[" + std::to_string(i) + "]";
            if (!(position >= 0.0f && position <= 1.0f))
                reader.Fail(where, "position " + FormatNumber(position) + " is outside 0..1");
            if (!(gain >= 0.0f && std::isfinite(gain)))
                reader.Fail(where, "gain " + FormatNumber(gain) + " is not a finite gain >= 0");
        }
    }
}

/// Why a component refused settings that parsed, as far as can be told.
std::string RefusalReason(const host::PresetData& settings, const host::PresetData& current,
                          host::AudioFilter& filter)
{
    if (settings.GetVersion() > current.GetVersion())
        return ": they are version " + FormatNumber(settings.GetVersion()) + ", newer than the " +
               FormatNumber(current.GetVersion()) + " it reads";
    if (settings.GetVersion() != current.GetVersion())
        return ": they are version " + FormatNumber(settings.GetVersion()) + ", it reads version " +
               FormatNumber(current.GetVersion());
    if (settings.GetPresetType() != current.GetPresetType())
        return std::string(": they are of type \"") + PresetTypeName(settings.GetPresetType()) +
               "\", it saves \"" + PresetTypeName(current.GetPresetType()) + "\"";
    const std::size_t count = settings.GetParamList().size();
    if (count != static_cast<std::size_t>(filter.GetParameterCount()))
        return ": they hold " + std::to_string(count) + " parameter values, it has " +
               std::to_string(filter.GetParameterCount());
    return "";
}

/// A hand-written file's "values": every one is read and checked first, then
/// names standing for several channels are set before a channel's own.
void LoadHandWrittenValues(const json& root, const std::string& label, host::AudioFilter& filter,
                           const Component& component)
{
    const auto fail = [&](const std::string& where, const std::string& message) {
        throw Error(Error::Code::InvalidSettings, "settings " + label + ": " + where + ": " + message);
    };
    if (root.contains("component")) {
        const json& owner = root["component"];
        if (!owner.is_string())
            fail("component", "expected text");
        const std::string name = owner.get<std::string>();
        if (!EqualsIgnoreCase(name, component.info.className) && !EqualsIgnoreCase(name, component.title))
            fail("component", "the settings are for '" + name + "', not " + component.info.className);
    }
    const json& values = root["values"];
    if (!values.is_object())
        fail("values", "expected an object of values by parameter key");
    std::vector<std::pair<int, float>> wide;
    std::vector<std::pair<int, float>> single;
    for (const auto& [key, value] : values.items()) {
        const std::string where = "values." + key;
        try {
            const std::vector<int> indexes = FindParameters(filter, component, key, true);
            for (const int index : indexes) {
                float normalized = 0.0f;
                if (value.is_number())
                    normalized = NormalizedFromValue(filter, component.title, index, value.get<float>());
                else if (value.is_string())
                    normalized = NormalizedFromText(filter, component.title, index, value.get<std::string>());
                else if (value.is_boolean())
                    normalized = NormalizedFromText(filter, component.title, index, value.get<bool>() ? "on" : "off");
                else
                    fail(where, "expected a number or text");
                (indexes.size() > 1 ? wide : single).emplace_back(index, normalized);
            }
        } catch (const Error& error) {
            if (error.GetCode() == Error::Code::InvalidSettings)
                throw;
            // "Echo: unknown parameter ..." reads on after the field.
            std::string message = error.what();
            if (message.starts_with(component.title + ": "))
                message = message.substr(component.title.size() + 2);
            fail(where, message);
        }
    }
    for (const auto& [index, normalized] : wide)
        filter.SetParameter(index, normalized);
    for (const auto& [index, normalized] : single)
        filter.SetParameter(index, normalized);
}

} // namespace

nlohmann::json DescribeParametersForSettings(host::AudioFilter& filter)
{
    json descriptions = json::array();
    for (int index = 0; index < filter.GetParameterCount(); ++index) {
        const core::Ref<host::AudioFilterParameterInfo> info = filter.GetParameterInfo(index);
        if (!info) {
            descriptions.push_back(nullptr);
            continue;
        }
        const float value = info->FromNormalized(filter.GetParameter(index));
        const std::string name = core::ToUtf8(info->GetName());
        descriptions.push_back({{"index", index},
                                {"key", ParameterKey(name, index)},
                                {"name", name},
                                {"unit", static_cast<int>(info->GetUnit())},
                                {"unit_label", core::ToUtf8(info->GetUnitLabel())},
                                {"automatable", info->CanBeAutomated()},
                                {"value", std::isfinite(value) ? json(value) : json(nullptr)}});
    }
    return descriptions;
}

nlohmann::json SettingsToJson(const host::PresetData& settings, const Component& component)
{
    json root = json::object();
    root["format"] = kFormatName;
    root["format_version"] = kFormatVersion;
    root["component"] = component.info.className;
    root["id"] = component.info.componentID;
    root["version"] = settings.GetVersion();
    switch (settings.GetPresetType()) {
    case host::PresetType::kCustom:
        root["type"] = "custom";
        break;
    case host::PresetType::kChunk:
        root["type"] = "chunk";
        break;
    case host::PresetType::kFactory:
        root["type"] = "factory";
        break;
    default:
        root["type"] = "parameters";
        break;
    }
    root["factory_name"] = core::ToUtf8(settings.GetFactoryPresetName());
    json parameters = json::array();
    for (const float value : settings.GetParamList())
        parameters.push_back(FloatToJson(value));
    root["parameters"] = parameters;
    const core::Ref<core::PropList> custom = settings.GetCustomDataSection();
    root["custom"] = custom ? PropListToJson(*custom) : json(nullptr);
    std::vector<std::uint8_t> chunk;
    if (settings.GetChunkData(chunk)) {
        root["chunk"] = core::ToHex(chunk);
    } else {
        root["chunk"] = nullptr;
    }
    return root;
}

host::PresetData SettingsFromJson(const nlohmann::json& json, const Component& component, int parameterCount,
                                  const std::string& label)
{
    return Parse(json, component, parameterCount, Reader(label));
}

std::string SettingsText(host::AudioFilter& filter, const Component& component)
{
    host::PresetData settings;
    if (!filter.SaveSettings(settings))
        throw Error(Error::Code::InvalidSettings, component.title + ": the component could not save its settings");
    json root = SettingsToJson(settings, component);
    root["parameter_info"] = DescribeParametersForSettings(filter);
    return root.dump(2) + "\n";
}

std::string ReadSettingsText(const std::filesystem::path& path)
{
    const std::string quoted = Quoted(path);
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw Error(Error::Code::Io, "cannot read settings " + quoted + ": it is a directory");
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        throw Error(Error::Code::Io, "cannot read settings " + quoted + ": " + std::strerror(errno));
    std::ostringstream text;
    text << stream.rdbuf();
    if (stream.bad())
        throw Error(Error::Code::Io, "cannot read settings " + quoted + ": read error");
    return text.str();
}

void LoadSettingsText(const std::string& text, const std::string& label, host::AudioFilter& filter,
                      const Component& component)
{
    json root;
    try {
        root = json::parse(text);
    } catch (const json::exception& parseError) {
        // "[json.exception.parse_error.101] parse error at line 1, column 5: ..." without its prefix.
        std::string detail = parseError.what();
        if (const std::size_t bracket = detail.find("] "); bracket != std::string::npos)
            detail = detail.substr(bracket + 2);
        for (char& c : detail) {
            if (static_cast<unsigned char>(c) < 0x20)
                c = ' ';
        }
        throw Error(Error::Code::InvalidSettings, "settings " + label + " is not valid JSON: " + detail);
    }
    if (root.is_object() && root.contains("values") && !root.contains("parameters")) {
        LoadHandWrittenValues(root, label, filter, component);
        return;
    }
    const Reader reader(label);
    const host::PresetData settings = Parse(root, component, filter.GetParameterCount(), reader);
    host::PresetData current;
    filter.SaveSettings(current);
    CheckAgainstComponent(settings, current, filter, component, reader);
    if (!filter.LoadSettings(settings))
        throw Error(Error::Code::InvalidSettings, "settings " + label + ": " + component.title + " refused them" +
                                                      RefusalReason(settings, current, filter));
}

void LoadSettingsFile(const std::filesystem::path& path, host::AudioFilter& filter, const Component& component)
{
    LoadSettingsText(ReadSettingsText(path), Quoted(path), filter, component);
}

} // namespace zoc::api

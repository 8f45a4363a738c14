#include "api/Lookup.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <optional>

#include "api/Text.h"
#include "contracts/host/AudioFilterRegistrar.h"
#include "framework/MultiChannelComponentBase.h"
#include "framework/ParameterInfo.h"
#include "platform/core/Localizer.h"
#include "platform/host/Session.h"

namespace zoc::api {

std::vector<Component> AllComponents()
{
    std::vector<Component> components;
    for (ComponentInfo& info : GetComponentCatalog()) {
        std::string title = core::ToUtf8(core::Localize(info.titleKey));
        components.push_back({std::move(info), std::move(title)});
    }
    // Alphabetical by class, so listings do not depend on link order.
    std::sort(components.begin(), components.end(),
              [](const Component& a, const Component& b) { return a.info.className < b.info.className; });
    return components;
}

Component FindComponent(const std::string& name)
{
    const std::vector<Component> components = AllComponents();
    for (const Component& component : components) {
        if (EqualsIgnoreCase(component.info.className, name) || EqualsIgnoreCase(component.title, name))
            return component;
    }
    std::vector<std::string> names;
    for (const Component& component : components) {
        names.push_back(component.info.className);
        if (component.title != component.info.className)
            names.push_back(component.title);
    }
    throw Error(Error::Code::UnknownName,
                "unknown component '" + name + "'" + SuggestionText(name, names) + " (run 'zoc list' to see them all)");
}

core::Ref<host::AudioFilter> CreateComponent(const Component& component)
{
    core::Ref<host::AudioFilter> filter = host::utility::CreateAudioFilter(component.info.componentID);
    if (!filter)
        throw Error(Error::Code::UnsupportedLayout, component.title + ": the component could not be created");
    return filter;
}

std::string ParameterKey(const std::string& name, int index)
{
    std::string key;
    bool pendingSeparator = false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || byte >= 0x80) {
            if (pendingSeparator && !key.empty())
                key += '_';
            pendingSeparator = false;
            key += static_cast<char>(std::tolower(byte));
        } else {
            pendingSeparator = true;
        }
    }
    if (key.empty())
        key = "param_" + std::to_string(index);
    return key;
}

std::string ParameterName(host::AudioFilter& filter, int index)
{
    const core::Ref<host::AudioFilterParameterInfo> info = filter.GetParameterInfo(index);
    return info ? core::ToUtf8(info->GetName()) : std::string();
}

namespace {

/// The parameter `word` names directly on the current layout, or -1.
int DirectParameter(host::AudioFilter& filter, const std::string& componentTitle, const std::string& word,
                    bool describedOnly, std::vector<std::string>& names)
{
    const int count = filter.GetParameterCount();
    if (word.empty())
        throw Error(Error::Code::UnknownName, componentTitle + ": missing parameter name");
    if (std::all_of(word.begin(), word.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        int index = -1;
        const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), index);
        if (error != std::errc() || end != word.data() + word.size() || index >= count)
            throw Error(Error::Code::UnknownName,
                        componentTitle + ": no parameter " + word + "; indices run 0.." + std::to_string(count - 1));
        if (describedOnly && !filter.GetParameterInfo(index))
            throw Error(Error::Code::UnknownName, componentTitle + ": parameter " + word +
                                                      " is not in use for this channel layout (see 'zoc info')");
        return index;
    }
    for (int index = 0; index < count; ++index) {
        const std::string name = ParameterName(filter, index);
        if (name.empty())
            continue;
        if (EqualsIgnoreCase(name, word) || ParameterKey(name, index) == ToLower(word))
            return index;
        names.push_back(name);
    }
    return -1;
}

/// The words of a parameter's key that are not about channels: "Delay Time
/// (Left Channel)" and "Right Channel Delay Time" both give "delay_time",
/// "Left Surround" gives "".
std::string WithoutChannelWords(const std::string& name, int index)
{
    static constexpr std::string_view kChannelWords[] = {"left",  "right",   "center", "centre", "low",
                                                         "frequency", "effects", "lfe", "surround", "channel",
                                                         "channels",  "all",     "side", "rear",  "back", "front"};
    const std::string key = ParameterKey(name, index);
    std::string kept;
    std::size_t start = 0;
    while (start <= key.size()) {
        std::size_t end = key.find('_', start);
        if (end == std::string::npos)
            end = key.size();
        const std::string_view word(key.data() + start, end - start);
        if (std::find(std::begin(kChannelWords), std::end(kChannelWords), word) == std::end(kChannelWords)) {
            if (!kept.empty())
                kept += '_';
            kept += word;
        }
        start = end + 1;
    }
    return kept;
}

} // namespace

std::vector<std::string> MonoParameterNames(const Component& component)
{
    // Instances are costly to make, and the names of a class never change.
    static std::mutex mutex;
    static std::map<std::string, std::vector<std::string>> cache;
    const std::lock_guard lock(mutex);
    const auto found = cache.find(component.info.className);
    if (found != cache.end())
        return found->second;
    std::vector<std::string> names;
    if (const core::Ref<host::AudioFilter> mono = host::utility::CreateAudioFilter(component.info.componentID)) {
        host::Session session(mono);
        if (session.Configure(1, 48000.0f)) {
            for (int index = 0; index < mono->GetParameterCount(); ++index)
                names.push_back(ParameterName(*mono, index));
        }
    }
    cache.emplace(component.info.className, names);
    return names;
}

std::vector<int> ChannelSiblings(host::AudioFilter& filter, int index)
{
    const core::Ref<host::AudioFilterParameterInfo> info = filter.GetParameterInfo(index);
    if (!info)
        return {index};
    const std::string name = core::ToUtf8(info->GetName());
    const std::string base = WithoutChannelWords(name, index);
    if (base == ParameterKey(name, index))
        return {index};
    const ValueRange range = RangeOf(*info);
    std::vector<int> siblings;
    for (int other = 0; other < filter.GetParameterCount(); ++other) {
        const core::Ref<host::AudioFilterParameterInfo> candidate = filter.GetParameterInfo(other);
        if (!candidate || candidate->GetUnit() != info->GetUnit())
            continue;
        const ValueRange otherRange = RangeOf(*candidate);
        if (otherRange.min == range.min && otherRange.max == range.max &&
            WithoutChannelWords(core::ToUtf8(candidate->GetName()), other) == base)
            siblings.push_back(other);
    }
    return siblings;
}

std::vector<int> FindParameters(host::AudioFilter& filter, const Component& component, const std::string& word,
                                bool describedOnly)
{
    std::vector<std::string> names;
    const int direct = DirectParameter(filter, component.title, word, describedOnly, names);
    if (direct >= 0)
        return {direct};
    // A name from the mono layout: the same index here, with the channels it
    // now stands for.
    const std::vector<std::string> monoNames = MonoParameterNames(component);
    for (int index = 0; index < static_cast<int>(monoNames.size()) && index < filter.GetParameterCount(); ++index) {
        const std::string& name = monoNames[static_cast<std::size_t>(index)];
        if (name.empty() || !(EqualsIgnoreCase(name, word) || ParameterKey(name, index) == ToLower(word)))
            continue;
        if (filter.GetParameterInfo(index))
            return ChannelSiblings(filter, index);
    }
    for (const LayoutAlias& alias : LayoutAliases(filter, component))
        names.push_back(alias.name);
    throw Error(Error::Code::UnknownName,
                component.title + ": unknown parameter '" + word + "'" + SuggestionText(word, names));
}

std::vector<LayoutAlias> LayoutAliases(host::AudioFilter& filter, const Component& component)
{
    std::vector<LayoutAlias> aliases;
    const std::vector<std::string> monoNames = MonoParameterNames(component);
    for (int index = 0; index < static_cast<int>(monoNames.size()) && index < filter.GetParameterCount(); ++index) {
        const std::string& name = monoNames[static_cast<std::size_t>(index)];
        std::vector<std::string> unused;
        if (name.empty() || !filter.GetParameterInfo(index) ||
            DirectParameter(filter, component.title, name, true, unused) >= 0)
            continue;
        aliases.push_back({name, ParameterKey(name, index), ChannelSiblings(filter, index)});
    }
    return aliases;
}

int FindParameter(host::AudioFilter& filter, const Component& component, const std::string& word,
                  bool describedOnly)
{
    return FindParameters(filter, component, word, describedOnly).front();
}

int FindPreset(host::AudioFilter& filter, const std::string& componentTitle, const std::string& word)
{
    const int count = filter.GetNumFactoryPresets();
    if (count == 0)
        throw Error(Error::Code::UnknownName, componentTitle + " has no presets");
    std::vector<std::string> names;
    for (int index = 0; index < count; ++index) {
        names.push_back(core::ToUtf8(filter.GetFactoryPresetName(index)));
        if (EqualsIgnoreCase(names.back(), word))
            return index;
    }
    if (!word.empty() &&
        std::all_of(word.begin(), word.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        int index = -1;
        const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), index);
        if (error == std::errc() && end == word.data() + word.size() && index < count)
            return index;
        throw Error(Error::Code::UnknownName,
                    componentTitle + ": no preset " + word + "; indices run 0.." + std::to_string(count - 1));
    }
    throw Error(Error::Code::UnknownName,
                componentTitle + ": unknown preset '" + word + "'" + SuggestionText(word, names));
}

ValueRange RangeOf(const host::AudioFilterParameterInfo& info)
{
    if (const auto* generic = dynamic_cast<const GenericParameterInfo*>(&info))
        return {generic->GetMinValue(), generic->GetMaxValue()};
    const float a = info.FromNormalized(0.0f);
    const float b = info.FromNormalized(1.0f);
    return {std::min(a, b), std::max(a, b)};
}

bool IsInUse(host::AudioFilter& filter, int index)
{
    auto* component = dynamic_cast<MultiChannelComponentBase*>(&filter);
    return component == nullptr || component->IsParameterInUse(index);
}

std::string DescribeRange(const host::AudioFilterParameterInfo& info)
{
    const ValueRange range = RangeOf(info);
    std::string text = FormatNumber(range.min) + ".." + FormatNumber(range.max);
    const std::string unit = core::ToUtf8(info.GetUnitLabel());
    if (!unit.empty())
        text += " " + unit;
    return text;
}

namespace {

std::optional<float> SwitchWord(const std::string& text)
{
    const std::string lower = ToLower(text);
    if (lower == "on" || lower == "true" || lower == "yes")
        return 1.0f;
    if (lower == "off" || lower == "false" || lower == "no")
        return 0.0f;
    return std::nullopt;
}

} // namespace

namespace {

core::Ref<host::AudioFilterParameterInfo> DescriptionOf(host::AudioFilter& filter, const std::string& componentTitle,
                                                        int index)
{
    core::Ref<host::AudioFilterParameterInfo> info =
        index >= 0 && index < filter.GetParameterCount() ? filter.GetParameterInfo(index) : nullptr;
    if (!info)
        throw Error(Error::Code::UnknownName,
                    componentTitle + ": parameter " + std::to_string(index) + " has no description");
    return info;
}

/// The normalized value of `value`, which `text` spelled (when given);
/// InvalidValue error outside the range.
float CheckedNormalized(const host::AudioFilterParameterInfo& info, const std::string& componentTitle, double value,
                        const std::string* text)
{
    const ValueRange range = RangeOf(info);
    // The range bounds are floats; compare in float so "48" equals a 48.0f bound.
    const float real = static_cast<float>(value);
    if (!(real >= range.min && real <= range.max) || std::fabs(value) > std::numeric_limits<float>::max())
        throw Error(Error::Code::InvalidValue, componentTitle + ": value " + (text ? *text : FormatNumber(value)) +
                                                   " for '" + core::ToUtf8(info.GetName()) + "' is outside " +
                                                   DescribeRange(info));
    // Normalized values run 0..1, except a count's, which is the number itself.
    ValueRange normalized{0.0f, 1.0f};
    if (dynamic_cast<const CountParameterInfo*>(&info) != nullptr)
        normalized = range;
    return std::clamp(info.ToNormalized(real), normalized.min, normalized.max);
}

} // namespace

namespace {

/// A unit people may write after a number, and how far it is from the base
/// unit of its kind (seconds, hertz, decibels, percent).
struct UnitWord {
    const char* word;
    host::AudioFilterParameterInfoUnit kind;
    double scale;
};

constexpr UnitWord kUnitWords[] = {
    {"ms", host::kUnitTime, 0.001},      {"s", host::kUnitTime, 1.0},
    {"db", host::kUnitDecibels, 1.0},    {"hz", host::kUnitFrequency, 1.0},
    {"khz", host::kUnitFrequency, 1e3},  {"k", host::kUnitFrequency, 1e3},
    {"%", host::kUnitProportion, 1.0},
};

const UnitWord* FindUnitWord(const std::string& word)
{
    for (const UnitWord& unit : kUnitWords) {
        if (EqualsIgnoreCase(word, unit.word))
            return &unit;
    }
    return nullptr;
}

/// "ms or s": the units a parameter's values may carry, for messages.
std::string AcceptedUnits(host::AudioFilterParameterInfoUnit kind)
{
    switch (kind) {
    case host::kUnitTime: return "ms or s";
    case host::kUnitDecibels: return "dB";
    case host::kUnitFrequency: return "Hz or kHz";
    case host::kUnitProportion: return "%";
    default: return "no unit";
    }
}

/// The number in `text`, converted to the parameter's own unit when a unit
/// follows it ("90ms", "1.5 s", "-3dB", "1.5k", "40%"). nullopt when the text
/// is not a number; InvalidValue error when the unit does not fit the
/// parameter.
std::optional<double> NumberWithUnit(const host::AudioFilterParameterInfo& info, const std::string& componentTitle,
                                     const std::string& text)
{
    if (const std::optional<double> bare = ParseNumber(text))
        return bare;
    std::size_t split = text.size();
    while (split > 0 && (std::isalpha(static_cast<unsigned char>(text[split - 1])) || text[split - 1] == '%'))
        --split;
    const std::string suffix = text.substr(split);
    std::string number = text.substr(0, split);
    while (!number.empty() && number.back() == ' ')
        number.pop_back();
    const std::optional<double> value = suffix.empty() ? std::nullopt : ParseNumber(number);
    if (!value)
        return std::nullopt;
    const UnitWord* written = FindUnitWord(suffix);
    // The label's first word is the unit ("dB RMS" is in dB).
    const std::string label = core::ToUtf8(info.GetUnitLabel());
    const UnitWord* own = FindUnitWord(label.substr(0, label.find(' ')));
    // A plain number whose label names a unit ("ms") takes that unit's kind.
    const host::AudioFilterParameterInfoUnit kind =
        info.GetUnit() == host::kUnitNumber && own ? own->kind : info.GetUnit();
    const auto wrong = [&] {
        return Error(Error::Code::InvalidValue, componentTitle + ": '" + core::ToUtf8(info.GetName()) + "' takes " +
                                                    AcceptedUnits(kind) + ", not '" + suffix + "' (range " +
                                                    DescribeRange(info) + ")");
    };
    if (!written || written->kind != kind)
        throw wrong();
    if (kind == host::kUnitProportion && (!own || own->kind != kind)) {
        // A proportion shown as 0..1 takes a percentage as hundredths.
        return *value / 100.0;
    }
    if (own && own->kind != kind)
        throw wrong();
    // Without a label, times are in milliseconds and the rest in base units.
    const double ownScale = own ? own->scale : kind == host::kUnitTime ? 0.001 : 1.0;
    return *value * written->scale / ownScale;
}

} // namespace

float NormalizedFromText(host::AudioFilter& filter, const std::string& componentTitle, int index,
                         const std::string& text)
{
    const core::Ref<host::AudioFilterParameterInfo> info = DescriptionOf(filter, componentTitle, index);
    std::optional<double> value;
    if (info->GetUnit() == host::kUnitSwitch)
        value = SwitchWord(text);
    if (!value)
        value = NumberWithUnit(*info, componentTitle, text);
    if (!value)
        throw Error(Error::Code::InvalidValue, componentTitle + ": value '" + text + "' for '" +
                                                   core::ToUtf8(info->GetName()) + "' is not a number (range " +
                                                   DescribeRange(*info) + ")");
    return CheckedNormalized(*info, componentTitle, *value, &text);
}

float NormalizedFromValue(host::AudioFilter& filter, const std::string& componentTitle, int index, float value)
{
    const core::Ref<host::AudioFilterParameterInfo> info = DescriptionOf(filter, componentTitle, index);
    return CheckedNormalized(*info, componentTitle, value, nullptr);
}

float NormalizedFromNormalizedText(const std::string& componentTitle, host::AudioFilter& filter, int index,
                                   const std::string& text)
{
    std::string name = ParameterName(filter, index);
    if (name.empty())
        name = std::to_string(index);
    const std::optional<double> value = ParseNumber(text);
    if (!value)
        throw Error(Error::Code::InvalidValue,
                    componentTitle + ": normalized value '" + text + "' for '" + name + "' is not a number");
    if (*value < 0.0 || *value > 1.0)
        throw Error(Error::Code::InvalidValue,
                    componentTitle + ": normalized value " + text + " for '" + name + "' is outside 0..1");
    return static_cast<float>(*value);
}

} // namespace zoc::api

#include "api/Lookup.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "api/Text.h"
#include "contracts/host/AudioFilterRegistrar.h"
#include "framework/ParameterInfo.h"
#include "platform/core/Localizer.h"

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

int FindParameter(host::AudioFilter& filter, const std::string& componentTitle, const std::string& word,
                  bool describedOnly)
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
    std::vector<std::string> names;
    for (int index = 0; index < count; ++index) {
        const std::string name = ParameterName(filter, index);
        if (name.empty())
            continue;
        if (EqualsIgnoreCase(name, word) || ParameterKey(name, index) == ToLower(word))
            return index;
        names.push_back(name);
    }
    throw Error(Error::Code::UnknownName,
                componentTitle + ": unknown parameter '" + word + "'" + SuggestionText(word, names));
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
    return std::clamp(info.ToNormalized(real), 0.0f, 1.0f);
}

} // namespace

float NormalizedFromText(host::AudioFilter& filter, const std::string& componentTitle, int index,
                         const std::string& text)
{
    const core::Ref<host::AudioFilterParameterInfo> info = DescriptionOf(filter, componentTitle, index);
    std::optional<double> value = ParseNumber(text);
    if (!value && info->GetUnit() == host::kUnitSwitch)
        value = SwitchWord(text);
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

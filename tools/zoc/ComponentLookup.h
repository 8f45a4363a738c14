#pragma once
// Finding components, parameters and presets by the names people type:
// class name or display title for components, index or display name for
// parameters and presets, all case-insensitive, with close matches named
// when nothing fits.

#include <optional>
#include <string>
#include <vector>

#include "contracts/host/AudioFilter.h"
#include "framework/Registration.h"

namespace zoc::tool {

struct Component {
    ComponentInfo info;
    std::string title; ///< localized display title
};

/// Every registered component, in registration order.
std::vector<Component> AllComponents();
/// The component called `name`, or a usage error naming close matches.
Component FindComponent(const std::string& name);
/// A fresh instance, or an error when the registry cannot create it.
core::Ref<host::AudioFilter> CreateComponent(const Component& component);

/// The stable machine key of a parameter: its display name lower-cased,
/// every run of characters other than letters and digits turned into one
/// underscore, without leading or trailing underscores ("Left Surround" ->
/// "left_surround"). Empty names give "param_INDEX".
std::string ParameterKey(const std::string& name, int index);

/// The display name of parameter `index` (empty without a description).
std::string ParameterName(host::AudioFilter& filter, int index);

/// A parameter chosen by a word on the command line: a whole number is an
/// index, anything else a display name or key. Usage error when none fits.
/// With `describedOnly`, a parameter without a description is refused.
int FindParameter(host::AudioFilter& filter, const std::string& componentTitle, const std::string& word,
                  bool describedOnly);

/// A factory preset chosen by index or display name; usage error otherwise.
int FindPreset(host::AudioFilter& filter, const std::string& componentTitle, const std::string& word);

/// The real range a description can produce.
struct ValueRange {
    float min = 0.0f;
    float max = 1.0f;
};
ValueRange RangeOf(const host::AudioFilterParameterInfo& info);

/// "-96..48 dB": the range with its unit label, for messages.
std::string DescribeRange(const host::AudioFilterParameterInfo& info);

/// Shortest text that reads back as the same float.
std::string FormatNumber(double value);

/// The normalized value for a real value typed by the user. Switches also
/// take on/off/true/false/yes/no. Usage error for a non-number or a value
/// outside the range.
float NormalizedFromText(host::AudioFilter& filter, const std::string& componentTitle, int index,
                         const std::string& text);
/// A normalized value typed by the user, checked to lie in 0..1.
float NormalizedFromNormalizedText(const std::string& componentTitle, host::AudioFilter& filter, int index,
                                   const std::string& text);

} // namespace zoc::tool

#pragma once
// Finding components, parameters and presets by the names people type, and
// reading values as they type them. Every front end (the zoc command, the
// public Effect class, the bindings) goes through these functions, so a name
// or a value means the same thing everywhere. Failures throw zoc::Error with
// a one-line message that names close matches.

#include <string>
#include <vector>

#include <zoc/zoc.h>

#include "contracts/host/AudioFilter.h"
#include "framework/Registration.h"

namespace zoc {

/// A registered component with its display title. (Declared outside
/// zoc::api so that calls taking one do not find the api functions by
/// argument-dependent lookup when a front end has its own of the same name.)
struct RegisteredComponent {
    ComponentInfo info;
    std::string title; ///< localized display title
};

} // namespace zoc

namespace zoc::api {

using Component = RegisteredComponent;

/// Every registered component, sorted by class name so listings do not
/// depend on link order.
std::vector<Component> AllComponents();
/// The component whose class name or title is `name` (case-insensitive).
/// UnknownName error naming close matches otherwise.
Component FindComponent(const std::string& name);
/// A fresh instance, or an UnsupportedLayout error when it cannot be made.
core::Ref<host::AudioFilter> CreateComponent(const Component& component);

/// The stable machine key of a parameter: its display name lower-cased,
/// every run of characters other than letters and digits turned into one
/// underscore, without leading or trailing underscores ("Left Surround" ->
/// "left_surround"). Empty names give "param_INDEX".
std::string ParameterKey(const std::string& name, int index);

/// The display name of parameter `index` (empty without a description).
std::string ParameterName(host::AudioFilter& filter, int index);

/// The parameters a word names: a whole number is an index, anything else a
/// display name (case-insensitive) or key. This is the one place that maps
/// words to parameters. A name the component uses when it runs in mono also
/// works on every other layout and names every channel's parameter it stands
/// for there: Amplify's "gain" is every channel's gain on a stereo file, Echo's
/// "delay_time" both sides' delay time. Such a name gives more than one index;
/// any other gives one. UnknownName error when none fits; with
/// `describedOnly`, a parameter without a description is refused.
std::vector<int> FindParameters(host::AudioFilter& filter, const Component& component, const std::string& word,
                                bool describedOnly);
/// The first of FindParameters: the parameter to read for that word.
int FindParameter(host::AudioFilter& filter, const Component& component, const std::string& word,
                  bool describedOnly);

/// The names a component's parameters have when it runs in mono, by index
/// (empty where one has no description there).
std::vector<std::string> MonoParameterNames(const Component& component);

/// For a parameter whose name carries a channel ("Delay Time (Left Channel)"),
/// the parameters on the current layout that are the same control for other
/// channels, itself included, in index order; just `index` otherwise.
std::vector<int> ChannelSiblings(host::AudioFilter& filter, int index);

/// A mono name that the current layout does not use itself, and the
/// parameters it sets there.
struct LayoutAlias {
    std::string name;
    std::string key;
    std::vector<int> indexes;
};
/// Every such name, in index order; empty in mono.
std::vector<LayoutAlias> LayoutAliases(host::AudioFilter& filter, const Component& component);

/// A factory preset chosen by display name (case-insensitive) or index.
int FindPreset(host::AudioFilter& filter, const std::string& componentTitle, const std::string& word);

/// The real range a description can produce.
struct ValueRange {
    float min = 0.0f;
    float max = 1.0f;
};
ValueRange RangeOf(const host::AudioFilterParameterInfo& info);

/// False for a parameter the component ignores on its current channel layout
/// (Echo's right-channel settings on one channel); it still takes values.
bool IsInUse(host::AudioFilter& filter, int index);

/// "-96..48 dB": the range with its unit label, for messages.
std::string DescribeRange(const host::AudioFilterParameterInfo& info);

/// The normalized value for a real value given as text. Switches also take
/// on/off/true/false/yes/no. This is the one place that reads values.
/// InvalidValue error for a non-number or a value outside the range.
float NormalizedFromText(host::AudioFilter& filter, const std::string& componentTitle, int index,
                         const std::string& text);
/// The normalized value for a real value; InvalidValue error outside the
/// range (NaN included).
float NormalizedFromValue(host::AudioFilter& filter, const std::string& componentTitle, int index, float value);
/// A normalized value given as text, checked to lie in 0..1.
float NormalizedFromNormalizedText(const std::string& componentTitle, host::AudioFilter& filter, int index,
                                   const std::string& text);

} // namespace zoc::api

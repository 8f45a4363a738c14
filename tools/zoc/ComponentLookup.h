#pragma once
// Finding components, parameters and presets by the names people type. The
// lookups are the library's (api/Lookup.h), shared with the public interface;
// here their errors become zoc's usage errors.

#include <string>
#include <utility>
#include <vector>

#include "api/Lookup.h"
#include "api/Text.h"
#include "contracts/host/AudioFilter.h"
#include "tools/zoc/Errors.h"

namespace zoc::tool {

using api::AllComponents;
using api::Component;
using api::DescribeRange;
using api::FormatNumber;
using api::ParameterKey;
using api::ParameterName;
using api::RangeOf;
using api::ValueRange;

/// The library's error as zoc's: exit code 1 for files, 2 for the rest.
Failure AsFailure(const Error& error);

/// Runs a library call, turning its error into zoc's.
template <class Operation>
auto Translated(Operation&& operation)
{
    try {
        return operation();
    } catch (const Error& error) {
        throw AsFailure(error);
    }
}

/// The component called `name`, or a usage error naming close matches.
Component FindComponent(const std::string& name);
/// A fresh instance, or an error when the registry cannot create it.
core::Ref<host::AudioFilter> CreateComponent(const Component& component);

/// The parameters a word on the command line names (api::FindParameters).
std::vector<int> FindParameters(host::AudioFilter& filter, const Component& component, const std::string& word,
                                bool describedOnly);

/// A value typed for a parameter: real (with an optional unit) or normalized.
struct SettingText {
    std::string parameter;
    std::string value;
    bool normalized = false;
};
/// Settings as (index, normalized value) pairs in the order to apply them:
/// names standing for several channels first, so that a channel's own name
/// overrides them wherever it was given.
std::vector<std::pair<int, float>> ResolveSettings(host::AudioFilter& filter, const Component& component,
                                                   const std::vector<SettingText>& settings);
/// A factory preset chosen by index or display name; usage error otherwise.
int FindPreset(host::AudioFilter& filter, const std::string& componentTitle, const std::string& word);

/// The normalized value for a real value typed by the user.
float NormalizedFromText(host::AudioFilter& filter, const std::string& componentTitle, int index,
                         const std::string& text);
/// A normalized value typed by the user, checked to lie in 0..1.
float NormalizedFromNormalizedText(const std::string& componentTitle, host::AudioFilter& filter, int index,
                                   const std::string& text);

} // namespace zoc::tool

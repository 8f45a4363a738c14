#include "tools/zoc/ComponentLookup.h"

namespace zoc::tool {

Failure AsFailure(const Error& error)
{
    return Failure(error.GetCode() == Error::Code::Io ? kExitIo : kExitUsage, error.what());
}

Component FindComponent(const std::string& name)
{
    return Translated([&] { return api::FindComponent(name); });
}

core::Ref<host::AudioFilter> CreateComponent(const Component& component)
{
    return Translated([&] { return api::CreateComponent(component); });
}

std::vector<int> FindParameters(host::AudioFilter& filter, const Component& component, const std::string& word,
                                bool describedOnly)
{
    return Translated([&] { return api::FindParameters(filter, component, word, describedOnly); });
}

std::vector<std::pair<int, float>> ResolveSettings(host::AudioFilter& filter, const Component& component,
                                                   const std::vector<SettingText>& settings)
{
    std::vector<std::pair<int, float>> wide;
    std::vector<std::pair<int, float>> single;
    for (const SettingText& setting : settings) {
        const std::vector<int> indexes = FindParameters(filter, component, setting.parameter, !setting.normalized);
        for (const int index : indexes) {
            const float normalized =
                setting.normalized ? NormalizedFromNormalizedText(component.title, filter, index, setting.value)
                                   : NormalizedFromText(filter, component.title, index, setting.value);
            (indexes.size() > 1 ? wide : single).emplace_back(index, normalized);
        }
    }
    wide.insert(wide.end(), single.begin(), single.end());
    return wide;
}

int FindPreset(host::AudioFilter& filter, const std::string& componentTitle, const std::string& word)
{
    return Translated([&] { return api::FindPreset(filter, componentTitle, word); });
}

float NormalizedFromText(host::AudioFilter& filter, const std::string& componentTitle, int index,
                         const std::string& text)
{
    return Translated([&] { return api::NormalizedFromText(filter, componentTitle, index, text); });
}

float NormalizedFromNormalizedText(const std::string& componentTitle, host::AudioFilter& filter, int index,
                                   const std::string& text)
{
    return Translated([&] { return api::NormalizedFromNormalizedText(componentTitle, filter, index, text); });
}

} // namespace zoc::tool

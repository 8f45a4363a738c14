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

int FindParameter(host::AudioFilter& filter, const std::string& componentTitle, const std::string& word,
                  bool describedOnly)
{
    return Translated([&] { return api::FindParameter(filter, componentTitle, word, describedOnly); });
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

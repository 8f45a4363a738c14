// The host's registry of component registrars.

#include "contracts/host/AudioFilterRegistrar.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "contracts/host/AudioFilter.h"

namespace zoc::host {
namespace {

struct Registry {
    std::mutex mutex;
    std::vector<const AudioFilterRegistrar*> registrars;
};

// Built on first use, so registrars in any library can register during
// static initialization regardless of the order libraries are loaded in.
Registry& GetRegistry()
{
    static Registry* registry = new Registry; // never destroyed: registrars outlive statics
    return *registry;
}

std::atomic<bool> initialized{false};

} // namespace

AudioFilterRegistrar::AudioFilterRegistrar(DescriptorFactory descriptorFactory, FilterFactory filterFactory)
    : descriptorFactory_(std::move(descriptorFactory)), filterFactory_(std::move(filterFactory))
{
    Registry& registry = GetRegistry();
    std::lock_guard lock(registry.mutex);
    registry.registrars.push_back(this);
}

AudioFilterRegistrar::~AudioFilterRegistrar()
{
    Registry& registry = GetRegistry();
    std::lock_guard lock(registry.mutex);
    std::erase(registry.registrars, this);
}

core::Ref<AudioFilter> AudioFilterRegistrar::CreateFilter(const std::string& componentID) const
{
    return filterFactory_(componentID);
}

std::vector<const AudioFilterRegistrar*> GetRegisteredFilters()
{
    Registry& registry = GetRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.registrars;
}

void Initialize() { initialized = true; }
bool IsInitialized() { return initialized; }

namespace utility {

core::Ref<AudioFilter> CreateAudioFilter(const std::string& componentID)
{
    for (const AudioFilterRegistrar* registrar : GetRegisteredFilters()) {
        core::Ref<AudioFilterDescriptor> descriptor = registrar->CreateDescriptor();
        if (descriptor && descriptor->GetComponentID() == componentID)
            return registrar->CreateFilter(componentID);
    }
    return nullptr;
}

} // namespace utility
} // namespace zoc::host

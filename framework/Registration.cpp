// The catalog of registered components.

#include "framework/Registration.h"

#include <algorithm>
#include <mutex>

#include "contracts/host/AudioFilterRegistrar.h"

namespace zoc {
namespace {

struct Catalog {
    std::mutex mutex;
    std::vector<const ComponentInfo*> entries;
};

Catalog& GetCatalog()
{
    static Catalog* catalog = new Catalog; // outlives every static registration
    return *catalog;
}

} // namespace

std::vector<ComponentInfo> GetComponentCatalog()
{
    Catalog& catalog = GetCatalog();
    std::lock_guard lock(catalog.mutex);
    std::vector<ComponentInfo> result;
    for (const ComponentInfo* info : catalog.entries)
        result.push_back(*info);
    return result;
}

std::vector<ComponentInfo> GetRealTimeComponentCatalog()
{
    std::vector<ComponentInfo> result;
    for (const ComponentInfo& info : GetComponentCatalog()) {
        const core::Ref<host::AudioFilter> probe = host::utility::CreateAudioFilter(info.componentID);
        if (probe && !probe->IsOfflineProcess() && !probe->IsGenerator())
            result.push_back(info);
    }
    return result;
}

namespace detail {

void AddToCatalog(const ComponentInfo* info)
{
    Catalog& catalog = GetCatalog();
    std::lock_guard lock(catalog.mutex);
    catalog.entries.push_back(info);
}

void RemoveFromCatalog(const ComponentInfo* info)
{
    Catalog& catalog = GetCatalog();
    std::lock_guard lock(catalog.mutex);
    std::erase(catalog.entries, info);
}

} // namespace detail
} // namespace zoc

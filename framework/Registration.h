#pragma once
// Static registration of components. Each component's source file defines
// its identifier string, its descriptor GUID and one ComponentRegistration,
// in that order, so static initialization builds them in that order.

#include <string>
#include <vector>

#include "contracts/host/AudioFilter.h"
#include "contracts/host/AudioFilterRegistrar.h"
#include "platform/core/Localizer.h"

namespace zoc {

/// What the library knows of a registered component beyond its descriptor.
struct ComponentInfo {
    std::string className;
    std::string titleKey; ///< full localizable key of the title
    host::ComponentCategory category = 0;
    std::string componentID;
    core::Guid descriptorGuid;
};

/// Every registered component, in registration order.
std::vector<ComponentInfo> GetComponentCatalog();

namespace detail {
void AddToCatalog(const ComponentInfo* info);
void RemoveFromCatalog(const ComponentInfo* info);
} // namespace detail

template <class Component>
class ComponentRegistration {
public:
    ComponentRegistration(std::string className, std::string titleKey, host::ComponentCategory category,
                          const std::string& componentID, const core::Guid& descriptorGuid)
        : info_{std::move(className), std::move(titleKey), category, componentID, descriptorGuid},
          registrar_(
              [this] {
                  return core::MakeRef<host::AudioFilterDescriptor>(core::Localize(info_.titleKey), 1ul,
                                                                    info_.category, info_.componentID,
                                                                    info_.descriptorGuid, false);
              },
              [](const std::string&) { return core::Ref<host::AudioFilter>(new Component()); })
    {
        detail::AddToCatalog(&info_);
    }
    ~ComponentRegistration() { detail::RemoveFromCatalog(&info_); }
    ComponentRegistration(const ComponentRegistration&) = delete;
    ComponentRegistration& operator=(const ComponentRegistration&) = delete;

private:
    ComponentInfo info_;
    host::AudioFilterRegistrar registrar_;
};

} // namespace zoc

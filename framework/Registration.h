#pragma once
// Static registration of components. Each component's source file defines
// its identifier string, its descriptor GUID and one ComponentRegistration,
// in that order, so static initialization builds them in that order.

#include <cstdint>
#include <string>
#include <vector>

#include "contracts/host/AudioFilter.h"
#include "contracts/host/AudioFilterRegistrar.h"
#include "platform/core/Localizer.h"

namespace zoc {

/// The library's fixed GUIDs: one family, numbered per component. The
/// identifier GUID has 0x00 in its second-to-last byte, the descriptor GUID
/// 0x80; the last byte is the component's number. Never renumber a component.
constexpr core::Guid ComponentGuid(std::uint8_t number)
{
    return {0x5A0C1A31, 0x7E42, 0x4B0D, {0x9A, 0x61, 0x2F, 0x3C, 0x8E, 0x01, 0x00, number}};
}
constexpr core::Guid DescriptorGuid(std::uint8_t number)
{
    return {0x5A0C1A31, 0x7E42, 0x4B0D, {0x9A, 0x61, 0x2F, 0x3C, 0x8E, 0x01, 0x80, number}};
}

/// What the library knows of a registered component beyond its descriptor.
struct ComponentInfo {
    std::string className;
    std::string titleKey; ///< full localizable key of the title
    host::ComponentCategory category = 0;
    std::string componentID;
    core::Guid descriptorGuid;
    /// One line on what the component does, for listings; empty when the
    /// component gives none (listings then show its title).
    std::string description = {};
    /// The factory preset `zoc demo` plays the component with: one a listener
    /// notices. Empty: the first preset.
    std::string demoPreset = {};
};

/// Every registered component, in registration order.
std::vector<ComponentInfo> GetComponentCatalog();

/// The registered components that process host blocks in real time (neither
/// offline processes nor generators), in registration order. Creates each
/// component once to ask; control thread.
std::vector<ComponentInfo> GetRealTimeComponentCatalog();

namespace detail {
void AddToCatalog(const ComponentInfo* info);
void RemoveFromCatalog(const ComponentInfo* info);
} // namespace detail

template <class Component>
class ComponentRegistration {
public:
    ComponentRegistration(std::string className, std::string titleKey, host::ComponentCategory category,
                          const std::string& componentID, const core::Guid& descriptorGuid,
                          std::string description = {}, std::string demoPreset = {})
        : info_{std::move(className), std::move(titleKey), category, componentID, descriptorGuid,
                std::move(description), std::move(demoPreset)},
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

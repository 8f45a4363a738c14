#pragma once
// How the host lists a component: title, category, identifier and GUID.

#include <string>

#include "platform/core/Guid.h"
#include "platform/core/RefCounted.h"
#include "platform/core/String.h"

namespace zoc::host {

using ComponentCategory = int;

class AudioFilterDescriptor : public core::RefCountedObject {
public:
    AudioFilterDescriptor(core::UString title, unsigned long version, ComponentCategory category,
                          std::string componentID, core::Guid guid, bool flag)
        : title_(std::move(title)), version_(version), category_(category),
          componentID_(std::move(componentID)), guid_(guid), flag_(flag)
    {
    }

    const core::UString& GetTitle() const { return title_; }
    unsigned long GetVersion() const { return version_; }
    ComponentCategory GetCategory() const { return category_; }
    const std::string& GetComponentID() const { return componentID_; }
    const core::Guid& GetGuid() const { return guid_; }
    bool GetFlag() const { return flag_; }

private:
    core::UString title_;
    unsigned long version_;
    ComponentCategory category_;
    std::string componentID_;
    core::Guid guid_;
    bool flag_;
};

} // namespace zoc::host

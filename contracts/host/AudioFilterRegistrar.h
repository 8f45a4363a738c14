#pragma once
// Registration of components with the host: while a registrar exists, the
// host can list its descriptor and create its component.

#include <functional>
#include <string>
#include <vector>

#include "contracts/host/AudioFilterDescriptor.h"
#include "platform/core/RefCounted.h"

namespace zoc::host {

class AudioFilter;

class AudioFilterRegistrar {
public:
    using DescriptorFactory = std::function<core::Ref<AudioFilterDescriptor>()>;
    using FilterFactory = std::function<core::Ref<AudioFilter>(const std::string& componentID)>;

    AudioFilterRegistrar(DescriptorFactory descriptorFactory, FilterFactory filterFactory);
    AudioFilterRegistrar(const AudioFilterRegistrar&) = delete;
    AudioFilterRegistrar& operator=(const AudioFilterRegistrar&) = delete;
    ~AudioFilterRegistrar();

    core::Ref<AudioFilterDescriptor> CreateDescriptor() const { return descriptorFactory_(); }
    core::Ref<AudioFilter> CreateFilter(const std::string& componentID) const;

private:
    DescriptorFactory descriptorFactory_;
    FilterFactory filterFactory_;
};

/// The registrars alive now, in registration order.
std::vector<const AudioFilterRegistrar*> GetRegisteredFilters();

/// Prepares the host framework; called once by the library's first Initialize.
void Initialize();
bool IsInitialized();

namespace utility {
/// A new component for the identifier, or null when none is registered.
core::Ref<AudioFilter> CreateAudioFilter(const std::string& componentID);
} // namespace utility

} // namespace zoc::host

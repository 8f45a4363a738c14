// Fuzz target: any bytes as a zoc settings file, loaded into a component
// picked by the first byte. Malformed files are refused with one error;
// nothing else may happen.
//
// Each component is made once (making one costs far more than reading a
// file: tables, filter designs) and gets the settings it was made with back
// before every input, so no input depends on the ones before it.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "contracts/host/PresetData.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Errors.h"
#include "tools/zoc/SettingsFile.h"

namespace {

struct Instance {
    zoc::core::Ref<zoc::host::AudioFilter> filter;
    zoc::host::PresetData initial;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    static const std::vector<zoc::tool::Component> components = zoc::tool::AllComponents();
    static std::vector<Instance> instances(components.size());
    if (size == 0 || components.empty())
        return 0;
    const std::size_t pick = bytes[0] % components.size();
    const zoc::tool::Component& component = components[pick];
    Instance& instance = instances[pick];
    if (!instance.filter) {
        instance.filter = zoc::tool::CreateComponent(component);
        instance.filter->SaveSettings(instance.initial);
    }
    instance.filter->LoadSettings(instance.initial);
    const std::string path = zoc::fuzz::WriteScratchFile("settings.json", bytes + 1, size - 1);
    try {
        zoc::tool::LoadSettingsFile(path, *instance.filter, component);
    } catch (const zoc::tool::Failure&) {
    }
    return 0;
}

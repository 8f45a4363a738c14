// Fuzz target: any bytes as a zoc settings file, loaded into a component
// picked by the first byte. Malformed files are refused with one error;
// nothing else may happen.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/fuzz/FuzzSupport.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Errors.h"
#include "tools/zoc/SettingsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    static const std::vector<zoc::tool::Component> components = zoc::tool::AllComponents();
    if (size == 0 || components.empty())
        return 0;
    const zoc::tool::Component& component = components[bytes[0] % components.size()];
    const std::string path = zoc::fuzz::WriteScratchFile("settings.json", bytes + 1, size - 1);
    try {
        zoc::core::Ref<zoc::host::AudioFilter> filter = zoc::tool::CreateComponent(component);
        zoc::tool::LoadSettingsFile(path, *filter, component);
    } catch (const zoc::tool::Failure&) {
    }
    return 0;
}

#pragma once
// The urid:map feature a host hands to the plugins.

#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <map>
#include <string>

namespace zoc::test {

struct UridMap {
    static LV2_URID Map(LV2_URID_Map_Handle handle, const char* uri)
    {
        auto& uris = static_cast<UridMap*>(handle)->uris;
        return uris.try_emplace(uri, static_cast<LV2_URID>(uris.size() + 1)).first->second;
    }
    std::map<std::string, LV2_URID> uris;
    LV2_URID_Map map{this, Map};
    LV2_Feature feature{LV2_URID__map, &map};
    const LV2_Feature* features[2] = {&feature, nullptr};
};

} // namespace zoc::test

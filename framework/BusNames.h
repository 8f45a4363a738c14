#pragma once
// Localizable names of a component's main buses for a channel count.

#include <cstddef>

namespace zoc {

struct BusNames {
    const char* input;
    const char* output;
};

inline BusNames BusNamesFor(std::size_t channels)
{
    switch (channels) {
    case 1:
        return {"$$$/Effects/MonoIn=Mono In", "$$$/Effects/MonoOut=Mono Out"};
    case 2:
        return {"$$$/Effects/StereoIn=Stereo In", "$$$/Effects/StereoOut=Stereo Out"};
    case 6:
        return {"$$$/Effects/Surround51In=Surround 5.1 In", "$$$/Effects/Surround51Out=Surround 5.1 Out"};
    default:
        return {"$$$/Effects/MultiIn=Multichannel In", "$$$/Effects/MultiOut=Multichannel Out"};
    }
}

} // namespace zoc

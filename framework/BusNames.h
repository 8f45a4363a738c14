#pragma once
// How a component with one main bus reads a host's layout proposal, and the
// localizable names of its buses for a channel count.

#include <cstddef>
#include <optional>

#include "contracts/host/AudioFilter.h"

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

/// What a proposal of one input and one output layout asks for.
struct ChannelProposal {
    std::size_t channels; ///< the count to run (1 when more than the component takes)
    bool accepted;        ///< false when the component runs the first channel only
};

/// nullopt when the proposal is not one input and one output layout of the
/// same, non-zero channel count. More channels than `maxChannels`: the
/// component runs the first channel only, over buses that still carry the
/// proposed layout.
inline std::optional<ChannelProposal> ReadChannelProposal(const host::ChannelLayoutList& inputs,
                                                          const host::ChannelLayoutList& outputs, int maxChannels)
{
    if (inputs.size() != 1 || outputs.size() != 1)
        return std::nullopt;
    const std::size_t channels = inputs[0].size();
    if (channels != outputs[0].size() || channels == 0)
        return std::nullopt;
    const bool accepted = channels <= static_cast<std::size_t>(maxChannels);
    return ChannelProposal{accepted ? channels : 1, accepted};
}

} // namespace zoc

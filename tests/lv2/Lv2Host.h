#pragma once
// What the LV2 tests do as a host: the urid:map feature handed to plugins,
// test noise, the effect's own output to compare with, and runs in blocks.

#include "lv2/Layout.h"

#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zoc::test {

inline constexpr double kLv2Rate = 48000.0;

using Signal = std::vector<std::vector<float>>; // [channel][frame]

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

/// Uniform noise in [-0.5, 0.5), the same for the same seed.
inline Signal NoiseSignal(int channels, std::size_t frames, std::uint32_t seed)
{
    Signal noise(static_cast<std::size_t>(channels), std::vector<float>(frames));
    for (auto& channel : noise)
        for (float& sample : channel) {
            seed = seed * 1664525u + 1013904223u;
            sample = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
        }
    return noise;
}

/// `in` through the effect itself, in one call.
inline Signal Processed(zoc::Effect& effect, Signal in)
{
    std::vector<float*> pointers;
    for (auto& channel : in)
        pointers.push_back(channel.data());
    effect.Process(pointers.data(), pointers.data(), static_cast<std::int64_t>(in[0].size()));
    return in;
}

/// Runs `in` through a plugin instance in blocks of the given lengths, in
/// turn: `connect(port, data)` connects a port, `run(frames)` runs a block.
template <class Connect, class Run>
Signal RunInBlocks(const zoc::lv2::Ports& ports, Signal in, const std::vector<std::size_t>& blocks, Connect connect,
                   Run run)
{
    const std::size_t frames = in[0].size();
    Signal out(in.size(), std::vector<float>(frames));
    for (std::size_t done = 0, b = 0; done < frames; ++b) {
        const std::size_t length = std::min(blocks[b % blocks.size()], frames - done);
        for (int c = 0; c < ports.channels; ++c) {
            connect(ports.AudioIn(c), in[static_cast<std::size_t>(c)].data() + done);
            connect(ports.AudioOut(c), out[static_cast<std::size_t>(c)].data() + done);
        }
        run(static_cast<std::uint32_t>(length));
        done += length;
    }
    return out;
}

} // namespace zoc::test

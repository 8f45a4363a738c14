#pragma once
// What the LV2 plugins look like from the outside: their URIs and the order of
// their ports. The Turtle generator and the plugin library both derive it
// from a live effect, so the two always agree.

#include <zoc/zoc.h>

#include <optional>
#include <string>
#include <vector>

namespace zoc::lv2 {

/// Every URI of the bundle starts with this.
inline constexpr const char* kUriBase = "urn:zoaudio:lv2:";
/// The state property holding the effect's settings as SaveSettings writes
/// them: in presets that port values cannot express (drawn envelopes) and in
/// the state a host saves with its session.
inline constexpr const char* kSettingsUri = "urn:zoaudio:lv2:settings";

/// One plugin: a component in one channel layout.
struct Variant {
    std::string className;
    int channels = 1;
};

/// "urn:zoaudio:lv2:Echo:stereo" for Echo with two channels.
std::string PluginUri(const Variant& variant);
/// The variant a plugin URI names, or nothing for a URI not of this bundle.
std::optional<Variant> ParseUri(const std::string& uri);

/// Ports in index order: audio inputs, audio outputs, side-chain inputs, one
/// control input per described parameter, then the latency output.
struct Ports {
    int channels = 1;
    int sideChain = 0;
    std::vector<ParameterDescription> parameters;

    int AudioIn(int channel) const { return channel; }
    int AudioOut(int channel) const { return channels + channel; }
    int SideChainIn(int channel) const { return 2 * channels + channel; }
    int Control(int parameter) const { return 2 * channels + sideChain + parameter; }
    int Latency() const { return Control(static_cast<int>(parameters.size())); }
    int Count() const { return Latency() + 1; }
};

Ports LayoutOf(const Effect& effect);

/// A valid, unique LV2 symbol for each parameter key, in parameter order.
/// Symbols never collide with the fixed ports' ("in_1", "out_2", "latency").
std::vector<std::string> ControlSymbols(const Ports& ports);

} // namespace zoc::lv2

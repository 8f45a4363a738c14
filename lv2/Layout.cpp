#include "lv2/Layout.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace zoc::lv2 {

std::string PluginUri(const Variant& variant)
{
    return std::string(kUriBase) + variant.className + (variant.channels == 1 ? ":mono" : ":stereo");
}

std::optional<Variant> ParseUri(const std::string& uri)
{
    const std::string base = kUriBase;
    if (uri.compare(0, base.size(), base) != 0)
        return std::nullopt;
    const std::string rest = uri.substr(base.size());
    const std::size_t colon = rest.find(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    const std::string layout = rest.substr(colon + 1);
    if (layout != "mono" && layout != "stereo")
        return std::nullopt;
    return Variant{rest.substr(0, colon), layout == "mono" ? 1 : 2};
}

Ports LayoutOf(const Effect& effect)
{
    Ports ports;
    ports.channels = effect.Channels();
    ports.sideChain = effect.SideChainChannels();
    ports.parameters = effect.Parameters();
    return ports;
}

std::vector<std::string> ControlSymbols(const Ports& ports)
{
    std::set<std::string> used{"latency"};
    for (int channel = 1; channel <= std::max(ports.channels, ports.sideChain); ++channel) {
        used.insert("in_" + std::to_string(channel));
        used.insert("out_" + std::to_string(channel));
        used.insert("sidechain_" + std::to_string(channel));
    }
    std::vector<std::string> symbols;
    for (const ParameterDescription& parameter : ports.parameters) {
        std::string symbol;
        for (const char c : parameter.key)
            symbol += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        if (symbol.empty() || std::isdigit(static_cast<unsigned char>(symbol[0])))
            symbol.insert(0, "p_");
        while (used.count(symbol))
            symbol += '_';
        used.insert(symbol);
        symbols.push_back(symbol);
    }
    return symbols;
}

} // namespace zoc::lv2

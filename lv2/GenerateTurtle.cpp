// Writes the Turtle files of the zoaudio.lv2 bundle from the registry:
// manifest.ttl and one file per plugin with its ports and factory presets.
// A plugin is declared hard real-time capable only when the generator has
// seen its steady blocks run without allocating.
// Run at build time: zoaudio-lv2-ttl OUTPUT_DIRECTORY URI_LIST
// URI_LIST receives the plugin URIs as C string literals, one a line, for
// the plugin library to list without creating every component when loaded.

#include "lv2/Layout.h"
#include "support/CountingAllocator.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace {

using zoc::ParameterDescription;

/// The rate the descriptions are taken at; ranges do not depend on it.
constexpr double kRate = 48000.0;

std::string Quote(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

std::string Number(double value)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.precision(9);
    out << value;
    std::string text = out.str();
    // Turtle reads "1" as an integer and "1e3" as a double; ports want decimals.
    if (text.find_first_of(".en") == std::string::npos)
        text += ".0";
    return text;
}

/// The LV2 unit for a parameter's unit label, or empty for none.
std::string UnitOf(const ParameterDescription& parameter)
{
    static const std::pair<const char*, const char*> known[] = {
        {"Hz", "units:hz"}, {"kHz", "units:khz"},   {"dB", "units:db"},   {"ms", "units:ms"},
        {"s", "units:s"},   {"%", "units:pc"},      {"cents", "units:cent"}, {"semitones", "units:semitone12TET"},
        {"BPM", "units:bpm"}, {"bpm", "units:bpm"},
    };
    for (const auto& [label, unit] : known)
        if (parameter.unitLabel == label)
            return unit;
    if (parameter.unitLabel.empty())
        return {};
    return "[ a units:Unit ; rdfs:label " + Quote(parameter.unitLabel) + " ; units:symbol " +
           Quote(parameter.unitLabel) + " ; units:render " + Quote("%f " + parameter.unitLabel) + " ]";
}

bool IsNumberText(const std::string& text)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    while (*end == ' ')
        ++end;
    // A number followed by its unit ("3 dB") still reads as a number.
    return end != text.c_str() && (*end == '\0' || std::isalpha(static_cast<unsigned char>(*end)) || *end == '%');
}

/// The labelled values of a stepped parameter whose values read as words
/// ("Sine", "Triangle"), or nothing when they read as numbers.
std::vector<std::pair<float, std::string>> ChoicesOf(zoc::Effect& effect, const ParameterDescription& parameter)
{
    std::vector<std::pair<float, std::string>> choices;
    if (parameter.steps <= 0 || parameter.steps > 64 || parameter.unit == zoc::Unit::Switch)
        return choices;
    bool words = false;
    for (int step = 0; step <= parameter.steps; ++step) {
        const float value = parameter.minimum + (parameter.maximum - parameter.minimum) * static_cast<float>(step) /
                                                    static_cast<float>(parameter.steps);
        effect.SetParameter(parameter.index, value);
        const ParameterDescription described = effect.Describe(parameter.index);
        words = words || !IsNumberText(described.text);
        choices.emplace_back(described.value, described.text);
    }
    effect.SetParameter(parameter.index, parameter.defaultValue);
    if (!words)
        choices.clear();
    return choices;
}

void WritePort(std::ostream& out, int index, const std::string& type, const std::string& symbol,
               const std::string& name, const std::string& extra, bool last)
{
    out << "    [\n        a lv2:" << type << " ;\n        lv2:index " << index << " ;\n        lv2:symbol "
        << Quote(symbol) << " ;\n        lv2:name " << Quote(name) << extra << "\n    ]" << (last ? " .\n" : " ,\n");
}

const char* kPrefixes = "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                        "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                        "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
                        "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                        "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                        "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                        "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
                        "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
                        "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

std::string PresetUri(const std::string& pluginUri, int index)
{
    return pluginUri + ":preset:" + std::to_string(index);
}

/// Settings as saved, less the name of the preset they came from.
nlohmann::json Comparable(const zoc::Effect& effect)
{
    nlohmann::json settings = nlohmann::json::parse(effect.SaveSettings());
    settings.erase("factory_name");
    return settings;
}

/// The effect's output for a fixed burst of noise.
std::vector<float> Render(zoc::Effect& effect)
{
    constexpr int kFrames = 4096;
    const int channels = effect.Channels();
    std::vector<std::vector<float>> buffers(static_cast<std::size_t>(channels), std::vector<float>(kFrames));
    std::uint32_t state = 12345;
    for (int frame = 0; frame < kFrames; ++frame)
        for (auto& buffer : buffers) {
            state = state * 1664525u + 1013904223u;
            buffer[static_cast<std::size_t>(frame)] = static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
        }
    std::vector<float*> pointers;
    for (auto& buffer : buffers)
        pointers.push_back(buffer.data());
    effect.Process(pointers.data(), pointers.data(), kFrames);
    std::vector<float> output;
    for (const auto& buffer : buffers)
        output.insert(output.end(), buffer.begin(), buffer.end());
    effect.Reset();
    return output;
}

/// True when the steady blocks of a fresh effect of this variant allocate:
/// after a second of noise, blocks of several lengths (1 frame, odd, larger
/// than the internal block) are counted, the side-chain fed where there is
/// one, as the plugin feeds it.
bool SteadyBlocksAllocate(const zoc::lv2::Variant& variant)
{
    zoc::Effect effect = zoc::Effect::Create(variant.className, kRate, variant.channels);
    const int sideChain = effect.SideChainChannels();
    if (sideChain > 0)
        effect.ConnectSideChain(sideChain);
    constexpr int kLongest = 4096;
    std::vector<std::vector<float>> buffers(static_cast<std::size_t>(variant.channels + sideChain),
                                            std::vector<float>(kLongest));
    std::uint32_t state = 777;
    std::vector<float*> in;
    std::vector<float*> out;
    std::vector<float> scratch(static_cast<std::size_t>(variant.channels) * kLongest);
    for (auto& buffer : buffers) {
        in.push_back(buffer.data());
        for (float& sample : buffer) {
            state = state * 1664525u + 1013904223u;
            sample = static_cast<float>(state >> 8) / 33554432.0f - 0.25f;
        }
    }
    for (int channel = 0; channel < variant.channels; ++channel)
        out.push_back(scratch.data() + static_cast<std::size_t>(channel) * kLongest);
    const auto process = [&](int frames) {
        if (sideChain > 0)
            effect.Process(in.data(), in.data() + variant.channels, out.data(), frames);
        else
            effect.Process(in.data(), out.data(), frames);
    };
    effect.Prepare();
    for (int done = 0; done < static_cast<int>(kRate); done += 512)
        process(512);
    const zoc::support::AllocationCounter counter;
    for (const int frames : {512, 1, 7, kLongest, 333, 64, 512, 1})
        process(frames);
    return counter.Count() != 0;
}

/// Whether the preset at `index`, applied to `effect`, is captured by its
/// parameter values alone. Not for presets that carry more than parameters
/// (drawn envelopes), values a parameter refuses when set on its own, or
/// state that setting the values alone does not reproduce (the output must
/// be the same to the bit).
bool PortsCapture(const zoc::Effect& effect, const zoc::lv2::Ports& ports, const std::vector<float>& values,
                  int index, const zoc::lv2::Variant& variant)
{
    zoc::Effect fresh = zoc::Effect::Create(variant.className, kRate, variant.channels);
    try {
        // As the plugin does: only the values that differ from the defaults.
        for (std::size_t i = 0; i < values.size(); ++i)
            if (values[i] != fresh.GetParameter(ports.parameters[i].index))
                fresh.SetParameter(ports.parameters[i].index, values[i]);
    } catch (const zoc::Error&) {
        return false;
    }
    if (Comparable(fresh) != Comparable(effect))
        return false;
    zoc::Effect reference = zoc::Effect::Create(variant.className, kRate, variant.channels);
    reference.ApplyPreset(index);
    return Render(reference) == Render(fresh);
}

/// The settings of the preset at `index` as one line of text for the state
/// of an LV2 preset, or nothing when loading them into a fresh effect does
/// not give the preset's output to the bit.
std::optional<std::string> PresetSettings(const zoc::lv2::Variant& variant, int index)
{
    zoc::Effect reference = zoc::Effect::Create(variant.className, kRate, variant.channels);
    reference.ApplyPreset(index);
    nlohmann::json settings = nlohmann::json::parse(reference.SaveSettings());
    // Descriptions for readers of the file; loading does not need them.
    settings.erase("parameter_info");
    const std::string text = settings.dump(-1, ' ', true);
    zoc::Effect loaded = zoc::Effect::Create(variant.className, kRate, variant.channels);
    try {
        loaded.LoadSettings(text);
    } catch (const zoc::Error&) {
        return std::nullopt;
    }
    if (Render(loaded) != Render(reference))
        return std::nullopt;
    return text;
}

/// Writes one plugin's file; returns the factory presets written, by index.
std::vector<int> WritePlugin(const std::string& path, const zoc::lv2::Variant& variant,
                             const zoc::ComponentDescription& component, zoc::Effect& effect)
{
    const std::string uri = zoc::lv2::PluginUri(variant);
    const zoc::lv2::Ports ports = zoc::lv2::LayoutOf(effect);
    const std::vector<std::string> symbols = zoc::lv2::ControlSymbols(ports);
    std::ofstream out(path);
    out << kPrefixes;
    out << "<" << uri << ">\n    a lv2:Plugin ;\n    doap:name "
        << Quote(component.title + (ports.channels == 1 ? " (Mono)" : " (Stereo)")) << " ;\n"
        << "    lv2:binary <zoaudio.so> ;\n"
        << "    lv2:optionalFeature urid:map ;\n"
        << "    lv2:extensionData state:interface ;\n";
    if (SteadyBlocksAllocate(variant))
        std::cout << uri << ": steady blocks allocate; not declared hard real-time capable\n";
    else
        out << "    lv2:optionalFeature lv2:hardRTCapable ;\n";
    out << "    lv2:port\n";
    const char* side[] = {"Left", "Right"};
    auto channelName = [&](int channel) {
        return ports.channels == 1 ? std::string() : std::string(" ") + side[channel];
    };
    for (int channel = 0; channel < ports.channels; ++channel)
        WritePort(out, ports.AudioIn(channel), "AudioPort , lv2:InputPort", "in_" + std::to_string(channel + 1),
                  "Input" + channelName(channel), "", false);
    for (int channel = 0; channel < ports.channels; ++channel)
        WritePort(out, ports.AudioOut(channel), "AudioPort , lv2:OutputPort", "out_" + std::to_string(channel + 1),
                  "Output" + channelName(channel), "", false);
    for (int channel = 0; channel < ports.sideChain; ++channel)
        WritePort(out, ports.SideChainIn(channel), "AudioPort , lv2:InputPort",
                  "sidechain_" + std::to_string(channel + 1), "Side-chain " + std::to_string(channel + 1),
                  " ;\n        lv2:portProperty lv2:isSideChain", false);
    for (std::size_t i = 0; i < ports.parameters.size(); ++i) {
        const ParameterDescription& parameter = ports.parameters[i];
        std::ostringstream extra;
        extra << " ;\n        lv2:default " << Number(parameter.defaultValue) << " ;\n        lv2:minimum "
              << Number(parameter.minimum) << " ;\n        lv2:maximum " << Number(parameter.maximum);
        if (parameter.unit == zoc::Unit::Switch) {
            extra << " ;\n        lv2:portProperty lv2:toggled";
        } else if (const auto choices = ChoicesOf(effect, parameter); !choices.empty()) {
            extra << " ;\n        lv2:portProperty lv2:enumeration";
            if (parameter.minimum == std::floor(parameter.minimum) &&
                parameter.maximum - parameter.minimum == static_cast<float>(parameter.steps))
                extra << " , lv2:integer";
            for (const auto& [value, label] : choices)
                extra << " ;\n        lv2:scalePoint [ rdfs:label " << Quote(label) << " ; rdf:value "
                      << Number(value) << " ]";
        } else if (parameter.steps > 0 && parameter.minimum == std::floor(parameter.minimum) &&
                   parameter.maximum - parameter.minimum == static_cast<float>(parameter.steps)) {
            extra << " ;\n        lv2:portProperty lv2:integer";
        }
        // Parameters a running effect does not take changes of smoothly
        // (sizes, modes, curve points) are kept out of host automation.
        if (!parameter.automatable)
            extra << " ;\n        lv2:portProperty pprops:notAutomatic";
        if (const std::string unit = UnitOf(parameter); !unit.empty())
            extra << " ;\n        units:unit " << unit;
        WritePort(out, ports.Control(static_cast<int>(i)), "ControlPort , lv2:InputPort", symbols[i],
                  parameter.name, extra.str(), false);
    }
    WritePort(out, ports.Latency(), "ControlPort , lv2:OutputPort", "latency", "Latency",
              " ;\n        lv2:designation lv2:latency ;\n        lv2:portProperty lv2:reportsLatency , "
              "lv2:integer ;\n        lv2:minimum 0 ;\n        lv2:maximum 1000000 ;\n        units:unit "
              "units:frame",
              true);

    const std::vector<std::string> presets = effect.Presets();
    std::vector<int> written;
    for (int p = 0; p < static_cast<int>(presets.size()); ++p) {
        effect.ApplyPreset(p);
        std::vector<float> values;
        for (const ParameterDescription& parameter : ports.parameters)
            values.push_back(effect.GetParameter(parameter.index));
        // Presets the ports cannot express carry the whole settings as
        // state; their port values still go with them, so that the host's
        // controls agree with what the settings loaded.
        std::optional<std::string> settings;
        if (!PortsCapture(effect, ports, values, p, variant)) {
            settings = PresetSettings(variant, p);
            if (!settings)
                continue;
        }
        written.push_back(p);
        out << "\n<" << PresetUri(uri, p) << ">\n    a pset:Preset ;\n    lv2:appliesTo <" << uri
            << "> ;\n    rdfs:label " << Quote(presets[static_cast<std::size_t>(p)]);
        for (std::size_t i = 0; i < ports.parameters.size(); ++i)
            out << " ;\n    lv2:port [ lv2:symbol " << Quote(symbols[i]) << " ; pset:value " << Number(values[i])
                << " ]";
        if (settings)
            out << " ;\n    state:state [ <" << zoc::lv2::kSettingsUri << "> " << Quote(*settings) << " ]";
        out << " .\n";
    }
    if (written.size() < presets.size())
        std::cout << uri << ": " << presets.size() - written.size() << " of " << presets.size()
                  << " presets not reproduced by their settings; left out\n";
    return written;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: zoaudio-lv2-ttl OUTPUT_DIRECTORY URI_LIST\n";
        return 2;
    }
    const std::string directory = argv[1];
    try {
        std::ostringstream manifest;
        std::ostringstream uris;
        manifest << kPrefixes;
        manifest << "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n\n<" << zoc::lv2::kSettingsUri
                 << ">\n    a rdf:Property ;\n    rdfs:label \"Settings\" ;\n    rdfs:comment \"The effect's "
                    "settings, as zoc saves them.\" ;\n    rdfs:range atom:String .\n\n";
        for (const zoc::ComponentDescription& component : zoc::ListComponents()) {
            if (component.offline)
                continue;
            for (const int channels : {1, 2}) {
                std::optional<zoc::Effect> effect;
                try {
                    effect.emplace(zoc::Effect::Create(component.className, kRate, channels));
                } catch (const zoc::Error&) {
                    continue;
                }
                const zoc::lv2::Variant variant{component.className, channels};
                const std::string uri = zoc::lv2::PluginUri(variant);
                const std::string file = component.className + (channels == 1 ? "-mono" : "-stereo") + ".ttl";
                uris << Quote(uri) << ",\n";
                const std::vector<int> presets = WritePlugin(directory + "/" + file, variant, component, *effect);
                manifest << "<" << uri << ">\n    a lv2:Plugin ;\n    lv2:binary <zoaudio.so> ;\n    rdfs:seeAlso <"
                         << file << "> .\n\n";
                for (const int p : presets)
                    manifest << "<" << PresetUri(uri, p) << ">\n    a pset:Preset ;\n"
                             << "    lv2:appliesTo <" << uri << "> ;\n    rdfs:seeAlso <" << file << "> .\n\n";
            }
        }
        std::ofstream(directory + "/manifest.ttl") << manifest.str();
        // Rewritten only when it changes, so the plugin library is not rebuilt
        // for a change of presets or ranges.
        std::ifstream existing(argv[2]);
        const std::string old((std::istreambuf_iterator<char>(existing)), std::istreambuf_iterator<char>());
        if (old != uris.str())
            std::ofstream(argv[2]) << uris.str();
    } catch (const std::exception& error) {
        std::cerr << "zoaudio-lv2-ttl: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

// The plugin library of the zoaudio.lv2 bundle: one binary for every plugin,
// the URI choosing the component and its channel layout. Each instance wraps
// one zoc::Effect: control ports reach the effect only when their value
// changes, activate starts it and deactivate stops it, and run processes the
// host's buffers whatever their length. The state interface saves and
// restores the effect's whole settings, which carry what ports cannot (drawn
// envelopes), for presets and for the host's sessions.

#include "lv2/Layout.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct Instance {
    explicit Instance(zoc::Effect created) : effect(std::move(created)), ports(zoc::lv2::LayoutOf(effect))
    {
        buffers.assign(static_cast<std::size_t>(ports.Count()), nullptr);
        for (const zoc::ParameterDescription& parameter : ports.parameters)
            applied.push_back(effect.GetParameter(parameter.index));
        in.resize(static_cast<std::size_t>(ports.channels));
        out.resize(static_cast<std::size_t>(ports.channels));
        sideChain.resize(static_cast<std::size_t>(ports.sideChain));
    }

    /// Passes every control port whose value differs from the last one
    /// passed to the effect, clamped into the parameter's range. NaN is
    /// ignored, so a bad host value never reaches the effect.
    void ApplyControls()
    {
        for (std::size_t i = 0; i < ports.parameters.size(); ++i) {
            const float* port = buffers[static_cast<std::size_t>(ports.Control(static_cast<int>(i)))];
            if (!port || std::isnan(*port) || *port == applied[i])
                continue;
            const zoc::ParameterDescription& parameter = ports.parameters[i];
            applied[i] = *port;
            try {
                effect.SetParameter(parameter.index, std::clamp(*port, parameter.minimum, parameter.maximum));
            } catch (...) {
                // A value the parameter still refuses leaves it as it was.
            }
        }
    }

    /// Takes the effect's parameter values as the ones passed last, after
    /// its settings were loaded: a port the host then sets to another value
    /// still reaches the effect.
    void TakeAppliedValues()
    {
        for (std::size_t i = 0; i < ports.parameters.size(); ++i)
            applied[i] = effect.GetParameter(ports.parameters[i].index);
    }

    void Run(std::uint32_t frames)
    {
        // Hosts may save the state while run goes on. The flag keeps the
        // control changes and the save from reaching the effect at once;
        // run never waits for it: while a save holds it, the changes wait
        // for the next block.
        if (!controlsBusy.test_and_set(std::memory_order_acquire)) {
            ApplyControls();
            controlsBusy.clear(std::memory_order_release);
        }
        for (int channel = 0; channel < ports.channels; ++channel) {
            in[static_cast<std::size_t>(channel)] = buffers[static_cast<std::size_t>(ports.AudioIn(channel))];
            out[static_cast<std::size_t>(channel)] = buffers[static_cast<std::size_t>(ports.AudioOut(channel))];
        }
        for (int channel = 0; channel < ports.sideChain; ++channel)
            sideChain[static_cast<std::size_t>(channel)] = buffers[static_cast<std::size_t>(ports.SideChainIn(channel))];
        const bool audioConnected = std::all_of(in.begin(), in.end(), [](const float* p) { return p; }) &&
                                    std::all_of(out.begin(), out.end(), [](const float* p) { return p; });
        if (frames > 0 && audioConnected) {
            const bool sideChainConnected =
                std::all_of(sideChain.begin(), sideChain.end(), [](const float* p) { return p; });
            if (ports.sideChain > 0 && sideChainConnected)
                effect.Process(in.data(), sideChain.data(), out.data(), frames);
            else
                effect.Process(in.data(), out.data(), frames);
        }
        if (float* latency = buffers[static_cast<std::size_t>(ports.Latency())])
            *latency = static_cast<float>(effect.Latency());
    }

    zoc::Effect effect;
    zoc::lv2::Ports ports;
    std::vector<float*> buffers;
    std::vector<float> applied;
    std::vector<const float*> in;
    std::vector<const float*> sideChain;
    std::vector<float*> out;
    std::atomic_flag controlsBusy;
    /// Mapped at instantiation when the host offers urid:map; the state
    /// interface needs them.
    LV2_URID settingsKey = 0;
    LV2_URID stringType = 0;
};

LV2_Handle Instantiate(const LV2_Descriptor* descriptor, double rate, const char*, const LV2_Feature* const* features)
{
    const std::optional<zoc::lv2::Variant> variant = zoc::lv2::ParseUri(descriptor->URI);
    if (!variant)
        return nullptr;
    try {
        zoc::Effect effect = zoc::Effect::Create(variant->className, rate, variant->channels);
        if (effect.IsOffline())
            return nullptr;
        if (effect.SideChainChannels() > 0)
            effect.ConnectSideChain(effect.SideChainChannels());
        auto instance = std::make_unique<Instance>(std::move(effect));
        for (const LV2_Feature* const* feature = features; feature && *feature; ++feature)
            if (std::strcmp((*feature)->URI, LV2_URID__map) == 0 && (*feature)->data) {
                const auto* map = static_cast<const LV2_URID_Map*>((*feature)->data);
                instance->settingsKey = map->map(map->handle, zoc::lv2::kSettingsUri);
                instance->stringType = map->map(map->handle, LV2_ATOM__String);
            }
        return instance.release();
    } catch (...) {
        return nullptr; // an unsupported rate, or a component no longer registered
    }
}

void ConnectPort(LV2_Handle handle, std::uint32_t port, void* data)
{
    Instance& instance = *static_cast<Instance*>(handle);
    if (port < instance.buffers.size())
        instance.buffers[port] = static_cast<float*>(data);
}

void Activate(LV2_Handle handle)
{
    Instance& instance = *static_cast<Instance*>(handle);
    // Values the host set before activation take effect at once, as settings
    // made before a start do, without fading from the defaults.
    instance.ApplyControls();
    try {
        instance.effect.Prepare();
    } catch (...) {
        // Process starts the effect itself if preparing failed here.
    }
}

void Run(LV2_Handle handle, std::uint32_t frames) { static_cast<Instance*>(handle)->Run(frames); }

void Deactivate(LV2_Handle handle)
{
    try {
        static_cast<Instance*>(handle)->effect.Reset();
    } catch (...) {
    }
}

void Cleanup(LV2_Handle handle) { delete static_cast<Instance*>(handle); }

/// Stores the settings as text. May run while run() does (the host saving
/// a playing session); waits for the control changes of a block to finish.
LV2_State_Status Save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state, std::uint32_t,
                      const LV2_Feature* const*)
{
    Instance& instance = *static_cast<Instance*>(handle);
    if (!instance.settingsKey)
        return LV2_STATE_ERR_NO_FEATURE;
    std::string settings;
    while (instance.controlsBusy.test_and_set(std::memory_order_acquire))
        std::this_thread::yield();
    try {
        settings = instance.effect.SaveSettings();
    } catch (...) {
    }
    instance.controlsBusy.clear(std::memory_order_release);
    if (settings.empty())
        return LV2_STATE_ERR_UNKNOWN;
    return store(state, instance.settingsKey, settings.c_str(), settings.size() + 1, instance.stringType,
                 LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

/// Loads saved settings. Hosts call restore outside run() (the bundle does
/// not declare thread-safe restore), so loading may allocate here. State
/// without settings (port values alone) leaves the effect to the ports;
/// settings the effect refuses leave it as it was.
LV2_State_Status Restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve, LV2_State_Handle state,
                         std::uint32_t, const LV2_Feature* const*)
{
    Instance& instance = *static_cast<Instance*>(handle);
    if (!instance.settingsKey)
        return LV2_STATE_ERR_NO_FEATURE;
    std::size_t size = 0;
    std::uint32_t type = 0;
    std::uint32_t flags = 0;
    const void* value = retrieve(state, instance.settingsKey, &size, &type, &flags);
    if (!value)
        return LV2_STATE_SUCCESS;
    if (type != instance.stringType)
        return LV2_STATE_ERR_BAD_TYPE;
    const char* text = static_cast<const char*>(value);
    try {
        instance.effect.LoadSettings(std::string(text, strnlen(text, size)));
    } catch (...) {
        return LV2_STATE_ERR_UNKNOWN;
    }
    instance.TakeAppliedValues();
    return LV2_STATE_SUCCESS;
}

const LV2_State_Interface kState = {Save, Restore};

const void* ExtensionData(const char* uri)
{
    return std::strcmp(uri, LV2_STATE__interface) == 0 ? &kState : nullptr;
}

/// The URIs the Turtle files describe, written by the generator at build time.
constexpr const char* kUris[] = {
#include "PluginUris.inc"
};

const LV2_Descriptor* Descriptor(std::uint32_t index)
{
    static const auto descriptors = [] {
        std::vector<LV2_Descriptor> list;
        list.reserve(std::size(kUris));
        for (const char* uri : kUris)
            list.push_back({uri, Instantiate, ConnectPort, Activate, Run, Deactivate, Cleanup, ExtensionData});
        return list;
    }();
    return index < descriptors.size() ? &descriptors[index] : nullptr;
}

} // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(std::uint32_t index)
{
    return Descriptor(index);
}

// The bundle's presets and saved state under lilv, the reference host
// library: presets that carry the settings as state sound as the factory
// preset does in the effect itself, and the state a host saves with its
// session restores another instance exactly.

#include "tests/lv2/Lv2Host.h"

#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/presets/presets.h>
#include <lv2/state/state.h>

#include <algorithm>
#include <cstring>

namespace zoc::test {
namespace {

constexpr double kRate = kLv2Rate;

/// The built bundle, loaded once.
struct World {
    World() : world(lilv_world_new())
    {
        LilvNode* bundle = lilv_new_file_uri(world, nullptr, ZOC_LV2_BUNDLE "/");
        lilv_world_load_bundle(world, bundle);
        lilv_node_free(bundle);
    }
    ~World() { lilv_world_free(world); }

    const LilvPlugin* Plugin(const std::string& uri) const
    {
        LilvNode* node = lilv_new_uri(world, uri.c_str());
        const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
        lilv_node_free(node);
        return plugin;
    }

    LilvWorld* world;
    UridMap urids;
};

World& TheWorld()
{
    static World world;
    return world;
}

/// One lilv instance with every control port connected to `controls`, which
/// start at the ports' defaults and receive the values states set.
struct Instance {
    Instance(const LilvPlugin* plugin, const zoc::lv2::Variant& variant)
        : plugin(plugin), ports(zoc::lv2::LayoutOf(zoc::Effect::Create(variant.className, kRate, variant.channels))),
          controls(lilv_plugin_get_num_ports(plugin))
    {
        lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, controls.data());
        instance = lilv_plugin_instantiate(plugin, kRate, TheWorld().urids.features);
        for (int i = 0; instance && i < static_cast<int>(ports.parameters.size()); ++i)
            Connect(ports.Control(i), &controls[static_cast<std::size_t>(ports.Control(i))]);
        if (instance)
            Connect(ports.Latency(), &controls[static_cast<std::size_t>(ports.Latency())]);
    }
    ~Instance()
    {
        if (instance)
            lilv_instance_free(instance);
    }

    void Connect(int port, void* data) { lilv_instance_connect_port(instance, static_cast<std::uint32_t>(port), data); }

    float* Control(const char* symbol)
    {
        LilvNode* node = lilv_new_string(TheWorld().world, symbol);
        const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, node);
        lilv_node_free(node);
        return port ? &controls[lilv_port_get_index(plugin, port)] : nullptr;
    }

    static void SetPort(const char* symbol, void* self, const void* value, std::uint32_t size, std::uint32_t type)
    {
        float* control = static_cast<Instance*>(self)->Control(symbol);
        ASSERT_TRUE(control) << symbol;
        ASSERT_EQ(type, UridMap::Map(&TheWorld().urids, LV2_ATOM__Float));
        ASSERT_EQ(size, sizeof(float));
        std::memcpy(control, value, sizeof(float));
    }

    static const void* GetPort(const char* symbol, void* self, std::uint32_t* size, std::uint32_t* type)
    {
        *size = sizeof(float);
        *type = UridMap::Map(&TheWorld().urids, LV2_ATOM__Float);
        return static_cast<Instance*>(self)->Control(symbol);
    }

    void Restore(const LilvState* state)
    {
        lilv_state_restore(state, instance, SetPort, this, 0, TheWorld().urids.features);
    }

    LilvState* Save()
    {
        return lilv_state_new_from_instance(plugin, instance, &TheWorld().urids.map, nullptr, nullptr, nullptr,
                                            nullptr, GetPort, this, 0, TheWorld().urids.features);
    }

    /// Runs `in` through in blocks of 512 and 100 frames.
    Signal Run(const Signal& in)
    {
        return RunInBlocks(
            ports, in, {512, 100}, [&](int port, float* data) { Connect(port, data); },
            [&](std::uint32_t frames) { lilv_instance_run(instance, frames); });
    }

    const LilvPlugin* plugin;
    zoc::lv2::Ports ports;
    std::vector<float> controls;
    LilvInstance* instance = nullptr;
};

TEST(Lv2State, EveryFactoryPresetReachesHostsAndStatePresetsSoundAsTheEffects)
{
    World& world = TheWorld();
    LilvNode* presetClass = lilv_new_uri(world.world, LV2_PRESETS__Preset);
    int withState = 0;
    LILV_FOREACH (plugins, i, lilv_world_get_all_plugins(world.world)) {
        const LilvPlugin* plugin = lilv_plugins_get(lilv_world_get_all_plugins(world.world), i);
        const std::string uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
        SCOPED_TRACE(uri);
        const std::optional<zoc::lv2::Variant> variant = zoc::lv2::ParseUri(uri);
        ASSERT_TRUE(variant);
        LilvNodes* presets = lilv_plugin_get_related(plugin, presetClass);
        EXPECT_EQ(lilv_nodes_size(presets),
                  zoc::Effect::Create(variant->className, kRate, variant->channels).Presets().size());
        LILV_FOREACH (nodes, p, presets) {
            const LilvNode* preset = lilv_nodes_get(presets, p);
            lilv_world_load_resource(world.world, preset);
            LilvState* state = lilv_state_new_from_world(world.world, &world.urids.map, preset);
            ASSERT_TRUE(state);
            if (lilv_state_get_num_properties(state) > 0) {
                const std::string presetUri = lilv_node_as_uri(preset);
                const int index = std::stoi(presetUri.substr(presetUri.rfind(':') + 1));
                SCOPED_TRACE(index);
                Instance instance(plugin, *variant);
                ASSERT_TRUE(instance.instance);
                instance.Restore(state);
                lilv_instance_activate(instance.instance);
                zoc::Effect effect = zoc::Effect::Create(variant->className, kRate, variant->channels);
                effect.ApplyPreset(index);
                const Signal in = NoiseSignal(variant->channels, 4800, 99);
                EXPECT_EQ(instance.Run(in), Processed(effect, in));
                ++withState;
            }
            lilv_state_free(state);
        }
        lilv_nodes_free(presets);
    }
    lilv_node_free(presetClass);
    // The drawn envelopes at least (both layouts) need the state.
    EXPECT_GE(withState, 20);
}

TEST(Lv2State, SavedStateRestoresAnotherInstanceAndBadStateChangesNothing)
{
    World& world = TheWorld();
    const zoc::lv2::Variant variant{"GainEnvelope", 2};
    const LilvPlugin* plugin = world.Plugin(zoc::lv2::PluginUri(variant));
    ASSERT_TRUE(plugin);
    const Signal in = NoiseSignal(2, 6000, 99);

    // A session: a drawn envelope from a preset, a control changed after it,
    // some playing, then the host saves.
    const std::vector<std::string> names = zoc::Effect::Create(variant.className, kRate, 2).Presets();
    const auto tremorsIndex = std::find(names.begin(), names.end(), "Tremors") - names.begin();
    LilvNode* tremors = lilv_new_uri(
        world.world, (zoc::lv2::PluginUri(variant) + ":preset:" + std::to_string(tremorsIndex)).c_str());
    lilv_world_load_resource(world.world, tremors);
    LilvState* preset = lilv_state_new_from_world(world.world, &world.urids.map, tremors);
    ASSERT_TRUE(preset);
    Instance playing(plugin, variant);
    playing.Restore(preset);
    *playing.Control("splines") = 1.0f;
    lilv_instance_activate(playing.instance);
    playing.Run(in);
    LilvState* session = playing.Save();
    ASSERT_TRUE(session);
    EXPECT_EQ(lilv_state_get_num_properties(session), 1u);

    Instance restored(plugin, variant);
    restored.Restore(session);
    EXPECT_EQ(*restored.Control("splines"), 1.0f);
    lilv_instance_activate(restored.instance);
    lilv_instance_deactivate(playing.instance);
    lilv_instance_activate(playing.instance);
    const auto expected = playing.Run(in);
    EXPECT_EQ(restored.Run(in), expected);

    // Settings of the wrong type or that do not parse are refused and the
    // instance keeps what it had.
    const auto* state = static_cast<const LV2_State_Interface*>(
        lilv_instance_get_extension_data(restored.instance, LV2_STATE__interface));
    ASSERT_TRUE(state);
    struct Stored {
        std::string text;
        LV2_URID type;
    };
    const auto retrieve = [](LV2_State_Handle handle, std::uint32_t, std::size_t* size, std::uint32_t* type,
                             std::uint32_t* flags) -> const void* {
        const Stored& stored = *static_cast<const Stored*>(handle);
        *size = stored.text.size() + 1;
        *type = stored.type;
        *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
        return stored.text.c_str();
    };
    const LV2_URID stringType = UridMap::Map(&world.urids, LV2_ATOM__String);
    Stored malformed{"{\"format\": \"zoc-settings\", \"parameters\": [", stringType};
    Stored otherComponent{"{\"component\": \"Echo\", \"values\": {\"delay_time\": 100}}", stringType};
    Stored wrongType{"{}", UridMap::Map(&world.urids, LV2_ATOM__Int)};
    LV2_Handle handle = lilv_instance_get_handle(restored.instance);
    EXPECT_EQ(state->restore(handle, retrieve, &malformed, 0, nullptr), LV2_STATE_ERR_UNKNOWN);
    EXPECT_EQ(state->restore(handle, retrieve, &otherComponent, 0, nullptr), LV2_STATE_ERR_UNKNOWN);
    EXPECT_EQ(state->restore(handle, retrieve, &wrongType, 0, nullptr), LV2_STATE_ERR_BAD_TYPE);
    lilv_instance_deactivate(restored.instance);
    lilv_instance_activate(restored.instance);
    EXPECT_EQ(restored.Run(in), expected);

    lilv_state_free(session);
    lilv_state_free(preset);
    lilv_node_free(tremors);
}

} // namespace
} // namespace zoc::test

// The plugin library driven as a host drives it: ports connected to our
// buffers, blocks of any length, controls changed between blocks. Its output
// must equal the effect's own, which the render check compares over files.

#include "tests/lv2/Lv2Host.h"
#include "tests/support/AllocationGuard.h"

#include <gtest/gtest.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <limits>
#include <thread>

namespace zoc::test {
namespace {

constexpr double kRate = kLv2Rate;

/// The plugin library's entry point, or null when it does not load.
LV2_Descriptor_Function Entry()
{
    static void* library = dlopen(ZOC_LV2_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    return library ? reinterpret_cast<LV2_Descriptor_Function>(dlsym(library, "lv2_descriptor")) : nullptr;
}

const LV2_Descriptor* FindPlugin(const std::string& uri)
{
    const LV2_Descriptor_Function entry = Entry();
    for (std::uint32_t index = 0; entry && entry(index); ++index)
        if (uri == entry(index)->URI)
            return entry(index);
    return nullptr;
}

/// One plugin instance with a control value per port and stereo buffers.
struct Host {
    Host(const std::string& className, int channels, const LV2_Feature* const* features = nullptr)
        : descriptor(FindPlugin(zoc::lv2::PluginUri({className, channels}))),
          effect(zoc::Effect::Create(className, kRate, channels)), ports(zoc::lv2::LayoutOf(effect))
    {
        controls.resize(ports.parameters.size());
        for (std::size_t i = 0; i < controls.size(); ++i)
            controls[i] = ports.parameters[i].defaultValue;
        if (descriptor)
            handle = descriptor->instantiate(descriptor, kRate, "", features);
    }
    ~Host()
    {
        if (handle)
            descriptor->cleanup(handle);
    }

    /// Runs `in` through the plugin in blocks of the given lengths, in turn.
    Signal Run(const Signal& in, const std::vector<std::size_t>& blocks)
    {
        return RunInBlocks(ports, in, blocks, [&](int port, float* data) { Connect(port, data); },
                           [&](std::uint32_t frames) { descriptor->run(handle, frames); });
    }

    void Connect(int port, void* data) { descriptor->connect_port(handle, static_cast<std::uint32_t>(port), data); }

    /// Every audio port to `buffers`, the outputs in place over the inputs;
    /// the side-chain inputs follow the main channels.
    void ConnectInPlace(Signal& buffers)
    {
        for (int c = 0; c < ports.channels; ++c) {
            Connect(ports.AudioIn(c), buffers[static_cast<std::size_t>(c)].data());
            Connect(ports.AudioOut(c), buffers[static_cast<std::size_t>(c)].data());
        }
        for (int c = 0; c < ports.sideChain; ++c)
            Connect(ports.SideChainIn(c), buffers[static_cast<std::size_t>(ports.channels + c)].data());
    }

    /// The control port (an index into `controls`) of the parameter `key`.
    std::size_t ControlOf(const char* key)
    {
        const int index = effect.FindParameter(key);
        std::size_t port = 0;
        while (ports.parameters.at(port).index != index)
            ++port;
        return port;
    }

    void ConnectControls()
    {
        for (std::size_t i = 0; i < controls.size(); ++i)
            Connect(ports.Control(static_cast<int>(i)), &controls[i]);
        Connect(ports.Latency(), &latency);
    }

    const LV2_Descriptor* descriptor = nullptr;
    LV2_Handle handle = nullptr;
    zoc::Effect effect;
    zoc::lv2::Ports ports;
    std::vector<float> controls;
    float latency = -1.0f;
};

TEST(Lv2Plugin, BlockLengthsDoNotChangeTheOutput)
{
    // Components with and without latency, look-ahead and FFT blocks.
    for (const char* className : {"Echo", "HardLimiter", "GraphicEQ10Bands", "PitchShift"}) {
        SCOPED_TRACE(className);
        Host host(className, 2);
        ASSERT_TRUE(host.handle);
        host.ConnectControls();
        host.descriptor->activate(host.handle);
        const Signal in = NoiseSignal(2, 6000, 1);
        EXPECT_EQ(host.Run(in, {1, 7, 512, 0, 1023, 64, 4096}), Processed(host.effect, in));
        EXPECT_EQ(host.latency, static_cast<float>(host.effect.Latency()));
    }
}

TEST(Lv2Plugin, ControlsReachTheEffectAsTheirValuesChange)
{
    Host host("Echo", 1);
    ASSERT_TRUE(host.handle);
    host.ConnectControls();
    const int delay = host.effect.FindParameter("delay_time");
    const std::size_t port = host.ControlOf("delay_time");
    const Signal in = NoiseSignal(1, 4000, 3);
    // The control and the value the effect must take: the first is set
    // before activation and taken at once, as a stopped effect takes it; the
    // others change while running. A NaN leaves the last value, a value
    // beyond the maximum is clamped.
    const std::pair<float, float> changes[] = {{120.0f, 120.0f},
                                               {80.0f, 80.0f},
                                               {std::numeric_limits<float>::quiet_NaN(), 80.0f},
                                               {1e9f, host.ports.parameters[port].maximum}};
    for (const auto& [control, value] : changes) {
        host.controls[port] = control;
        host.effect.SetParameter(delay, value);
        if (control == changes[0].first)
            host.descriptor->activate(host.handle);
        EXPECT_EQ(host.Run(in, {256}), Processed(host.effect, in)) << control;
    }
}

TEST(Lv2Plugin, DeactivateClearsTheSignalAndSteadyRunsDoNotAllocate)
{
    Host host("Echo", 2);
    ASSERT_TRUE(host.handle);
    host.ConnectControls();
    host.descriptor->activate(host.handle);
    const Signal in = NoiseSignal(2, 2048, 4);
    const auto first = host.Run(in, {512});
    host.Run(in, {512});
    Signal buffers = in;
    host.ConnectInPlace(buffers);
    host.controls[0] = 200.0f; // a control change is part of a steady block too
    {
        AllocationGuard guard;
        for (const std::uint32_t frames : {1u, 333u, 512u})
            host.descriptor->run(host.handle, frames);
    }
    host.controls[0] = host.ports.parameters[0].defaultValue;
    // After deactivate and activate the echoes of earlier blocks are gone.
    host.descriptor->deactivate(host.handle);
    host.descriptor->activate(host.handle);
    EXPECT_EQ(host.Run(in, {512}), first);
}

TEST(Lv2Plugin, HardRealTimeIsDeclaredExactlyWhereSteadyRunsDoNotAllocate)
{
    const LV2_Descriptor_Function entry = Entry();
    ASSERT_TRUE(entry);
    int plugins = 0;
    for (std::uint32_t index = 0; const LV2_Descriptor* descriptor = entry(index); ++index, ++plugins) {
        const zoc::lv2::Variant variant = *zoc::lv2::ParseUri(descriptor->URI);
        SCOPED_TRACE(descriptor->URI);
        std::ifstream file(std::string(ZOC_LV2_BUNDLE) + "/" + variant.className +
                           (variant.channels == 1 ? "-mono.ttl" : "-stereo.ttl"));
        const std::string turtle((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(turtle.empty());
        const bool declared = turtle.find("lv2:hardRTCapable") != std::string::npos;

        Host host(variant.className, variant.channels);
        ASSERT_TRUE(host.handle);
        host.ConnectControls();
        Signal buffers = NoiseSignal(host.ports.channels + host.ports.sideChain, 4096, 6);
        host.ConnectInPlace(buffers);
        host.descriptor->activate(host.handle);
        for (int done = 0; done < static_cast<int>(kRate); done += 512)
            host.descriptor->run(host.handle, 512);
        const AllocationCounter counter;
        for (const std::uint32_t frames : {512u, 1u, 7u, 4096u, 333u, 64u})
            host.descriptor->run(host.handle, frames);
        EXPECT_EQ(counter.Count() == 0, declared) << counter.Count() << " allocations";
    }
    EXPECT_GT(plugins, 30);
}

TEST(Lv2Plugin, UnknownUrisAndLayoutsAreRefused)
{
    EXPECT_FALSE(zoc::lv2::ParseUri("urn:zoaudio:lv2:Echo:quad"));
    EXPECT_FALSE(zoc::lv2::ParseUri("urn:other:Echo:mono"));
    // A layout the component refuses is not offered.
    EXPECT_TRUE(FindPlugin("urn:zoaudio:lv2:CenterChannelExtract:stereo"));
    EXPECT_FALSE(FindPlugin("urn:zoaudio:lv2:CenterChannelExtract:mono"));
    const LV2_Descriptor* echo = FindPlugin("urn:zoaudio:lv2:Echo:mono");
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->instantiate(echo, 0.0, "", nullptr), nullptr);
}

TEST(Lv2PluginThreaded, TheHostSavesWhileTheAudioThreadRunsAndChangesControls)
{
    UridMap urids;
    Host host("Echo", 2, urids.features);
    ASSERT_TRUE(host.handle);
    const auto* state = static_cast<const LV2_State_Interface*>(
        host.descriptor->extension_data(LV2_STATE__interface));
    ASSERT_TRUE(state);
    host.ConnectControls();
    Signal buffers = NoiseSignal(2, 64, 7);
    host.ConnectInPlace(buffers);
    const int delay = host.effect.FindParameter("delay_time");
    const std::size_t port = host.ControlOf("delay_time");
    host.descriptor->activate(host.handle);

    // The host writes the control port from the audio thread between blocks.
    std::atomic<bool> done{false};
    std::thread audio([&] {
        for (int block = 0; block < 3000; ++block) {
            host.controls[port] = block / 10 % 2 ? 200.0f : 100.0f;
            host.descriptor->run(host.handle, 64);
        }
        done = true;
    });
    std::vector<std::string> saved;
    const auto store = [](LV2_State_Handle handle, std::uint32_t, const void* value, std::size_t size,
                          std::uint32_t, std::uint32_t) {
        static_cast<std::vector<std::string>*>(handle)->emplace_back(static_cast<const char*>(value), size - 1);
        return LV2_STATE_SUCCESS;
    };
    while (!done || saved.size() < 2) {
        ASSERT_EQ(state->save(host.handle, store, &saved, LV2_STATE_IS_POD, nullptr), LV2_STATE_SUCCESS);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    audio.join();
    // A change that met a save waits for the next block.
    host.descriptor->run(host.handle, 64);
    state->save(host.handle, store, &saved, LV2_STATE_IS_POD, nullptr);

    // Every save is whole settings holding a value the host set.
    const float defaultValue = host.effect.GetParameter(delay);
    for (const std::size_t index : {std::size_t{0}, saved.size() / 2, saved.size() - 1}) {
        zoc::Effect loaded = zoc::Effect::Create("Echo", kRate, 2);
        loaded.LoadSettings(saved[index]);
        const float value = loaded.GetParameter(delay);
        EXPECT_TRUE(value == 100.0f || value == 200.0f || value == defaultValue) << value;
        if (index == saved.size() - 1) {
            EXPECT_EQ(value, 200.0f);
        }
    }
}

} // namespace
} // namespace zoc::test

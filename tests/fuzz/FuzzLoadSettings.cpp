// Fuzz target: saved settings of any shape handed to a registered component
// through LoadSettings while it plays, as a host loads a preset; then every
// parameter is read back and a short block of audio goes through it. Nothing
// a settings file can hold may crash a component or trip a sanitizer.
//
// The first byte picks the component and its channel count. Making and
// starting a component costs far more than loading settings into it (filter
// designs, tables), so each (component, channels) pair is made and started
// once and keeps playing; every input first loads the settings the component
// was made with, so no input depends on the ones before it.
//
// The convolution reverbs are loaded and read but never started: starting
// one synthesises an impulse of seconds. zoc_soak plays them under loaded
// settings instead.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "contracts/host/AudioFilterRegistrar.h"
#include "contracts/host/PresetData.h"
#include "framework/ConvolutionReverbBase.h"
#include "framework/Library.h"
#include "framework/Registration.h"
#include "platform/core/PropList.h"
#include "platform/host/Session.h"

namespace {

using namespace zoc;

/// Keys the components' custom sections use, and a few others.
constexpr const char* kKeys[] = {"DefaultValue", "Splines", "LogicalKeyframes", "Version", "x"};

float AnyFloat(FuzzedDataProvider& data)
{
    switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return data.ConsumeFloatingPointInRange(-0.5f, 1.5f);
    case 1:
        return data.ConsumeFloatingPoint<float>();
    case 2:
        return std::nanf("");
    default:
        return static_cast<float>(data.ConsumeIntegralInRange(0, 8));
    }
}

core::PropValue AnyValue(FuzzedDataProvider& data, int depth)
{
    switch (data.ConsumeIntegralInRange(0, depth > 1 ? 4 : 5)) {
    case 0:
        return AnyFloat(data);
    case 1:
        return data.ConsumeIntegral<std::int64_t>();
    case 2:
        return data.ConsumeBool();
    case 3:
        return core::FromUtf8(data.ConsumeRandomLengthString(32));
    case 4: {
        core::FloatPairList pairs(data.ConsumeIntegralInRange<std::size_t>(0, 16));
        for (auto& [position, value] : pairs)
            position = AnyFloat(data), value = AnyFloat(data);
        return pairs;
    }
    default: {
        core::Ref<core::PropList> nested = core::MakeRef<core::PropList>();
        for (int n = data.ConsumeIntegralInRange(0, 3); n > 0; --n)
            nested->Set(kKeys[data.ConsumeIntegralInRange<std::size_t>(0, std::size(kKeys) - 1)],
                        AnyValue(data, depth + 1));
        return nested;
    }
    }
}

/// One component, made once, with the settings it was made with.
struct Instance {
    core::Ref<host::AudioFilter> filter;
    std::unique_ptr<host::Session> session;
    host::PresetData initial;
    bool plays = false;
};

constexpr std::size_t kChannelCounts[] = {1, 2, 5, 8};
/// A low rate keeps the designs that scale with it (filter lengths, search
/// windows) short; other rates are played by zoc_soak.
constexpr float kSampleRate = 8000.0f;

Instance& InstanceFor(const ComponentInfo& info, std::size_t channels)
{
    static std::map<std::pair<std::string, std::size_t>, Instance> instances;
    Instance& instance = instances[{info.componentID, channels}];
    if (!instance.filter) {
        instance.filter = host::utility::CreateAudioFilter(info.componentID);
        instance.session = std::make_unique<host::Session>(instance.filter);
        // A component that refuses the layout is only loaded, as a host
        // would never play it so.
        const bool configured = instance.session->Configure(channels, kSampleRate);
        instance.session->SetRenderingOffline(true);
        instance.filter->SaveSettings(instance.initial);
        instance.plays =
            configured && dynamic_cast<components::ConvolutionReverbBase*>(instance.filter.get()) == nullptr;
        if (instance.plays)
            instance.session->Resume();
    }
    return instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    static const std::vector<ComponentInfo> components = [] {
        Initialize();
        return GetRealTimeComponentCatalog();
    }();
    if (size == 0 || components.empty())
        return 0;
    const ComponentInfo& info = components[bytes[0] % components.size()];
    const std::size_t channels = kChannelCounts[bytes[0] / components.size() % std::size(kChannelCounts)];
    Instance& instance = InstanceFor(info, channels);
    host::AudioFilter* filter = instance.filter.get();
    filter->LoadSettings(instance.initial);
    FuzzedDataProvider data(bytes + 1, size - 1);
    host::PresetData preset;
    preset.SetVersion(data.ConsumeBool() ? filter->GetCurrentPresetVersion() : AnyFloat(data));
    preset.SetPresetType(static_cast<host::PresetType>(data.ConsumeIntegralInRange(0, 4)));
    std::vector<float> params(data.ConsumeBool() ? static_cast<std::size_t>(filter->GetParameterCount())
                                                 : data.ConsumeIntegralInRange<std::size_t>(0, 80));
    for (float& value : params)
        value = AnyFloat(data);
    preset.SetParamList(std::move(params));
    preset.SetFactoryPresetName(core::FromUtf8(data.ConsumeRandomLengthString(40)));
    if (data.ConsumeBool()) {
        core::Ref<core::PropList> custom = core::MakeRef<core::PropList>();
        for (int n = data.ConsumeIntegralInRange(0, 4); n > 0; --n)
            custom->Set(kKeys[data.ConsumeIntegralInRange<std::size_t>(0, std::size(kKeys) - 1)],
                        AnyValue(data, 0));
        preset.SetCustomDataSection(custom);
    }
    if (data.ConsumeBool()) {
        const std::vector<std::uint8_t> chunk = data.ConsumeBytes<std::uint8_t>(64);
        preset.SetChunkData(chunk.data(), chunk.size());
    }
    filter->LoadSettings(preset);
    for (int index = -1; index <= filter->GetParameterCount(); ++index)
        (void)filter->GetParameter(index);
    (void)filter->GetInitialDelay();
    (void)filter->GetTail();
    if (!instance.plays)
        return 0;

    // Whatever was loaded, a block of audio must go through.
    constexpr int kFrames = 64;
    const std::size_t playing = instance.session->Channels();
    std::vector<std::vector<float>> audio(playing, std::vector<float>(kFrames, 0.25f));
    std::vector<float*> pointers;
    for (std::vector<float>& channel : audio)
        pointers.push_back(channel.data());
    instance.session->Process(pointers.data(), pointers.data(), kFrames);
    return 0;
}

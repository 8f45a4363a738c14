// Fuzz target: saved settings of any shape handed to any registered
// component's LoadSettings, then a block of audio through it. Nothing a
// settings file can hold may crash a component or trip a sanitizer.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "contracts/host/AudioFilterRegistrar.h"
#include "contracts/host/PresetData.h"
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    static const std::vector<ComponentInfo> components = [] {
        Initialize();
        return GetRealTimeComponentCatalog();
    }();
    if (components.empty())
        return 0;
    FuzzedDataProvider data(bytes, size);
    const ComponentInfo& info = components[data.ConsumeIntegralInRange<std::size_t>(0, components.size() - 1)];
    core::Ref<host::AudioFilter> filter = host::utility::CreateAudioFilter(info.componentID);
    host::Session session(filter);
    session.Configure(data.ConsumeIntegralInRange<std::size_t>(1, 8), 48000.0f);

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
    // Starting a component can be costly (a reverb synthesises its impulse),
    // so only one input in eight also runs audio, keeping the loaders fast.
    if (data.ConsumeIntegralInRange(0, 7) != 0)
        return 0;

    // Whatever was loaded, a block of audio must go through.
    const std::size_t channels = session.Channels();
    std::vector<std::vector<float>> audio(channels, std::vector<float>(1024, 0.25f));
    std::vector<float*> pointers;
    for (std::vector<float>& channel : audio)
        pointers.push_back(channel.data());
    session.Resume();
    session.Process(pointers.data(), pointers.data(), 1024);
    session.Suspend();
    return 0;
}

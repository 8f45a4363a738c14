// Generate Noise: its parameter table and presets, presets that keep the
// length and mode, and analysis renders on a kernel of their own.

#include "effects/generators/Noise.h"

#include <algorithm>
#include <array>
#include <vector>

#include "framework/Registration.h"

namespace zoc::components {

const std::string kNoiseComponentID =
    core::Guid{0xE61EB990, 0x2C75, 0x4DEB, {0xA0, 0x1B, 0xEB, 0xBB, 0xDE, 0xAF, 0x0E, 0x6C}}.AsString();

namespace {

using dsp::noise::NoiseDSP;

constexpr core::Guid kDescriptorGuid{0x8B46AD7B, 0x6920, 0x42C5, {0x9A, 0x23, 0xE5, 0x1F, 0xED, 0xEB, 0xDB, 0x94}};
constexpr const char* kTitleKey = "$$$/AudioComponents/GenerateNoiseTitle=Generate Noise";

const ComponentRegistration<Noise> kRegistration{"Noise", kTitleKey, 0, kNoiseComponentID, kDescriptorGuid,
    "Generates brown, pink, white or grey noise at a set level, spatial or independent per channel",
    "Pink Spatial Stereo 700 Delay"};

using host::kUnitNumber;
using host::kUnitTime;

constexpr std::array<GeneratorParameter, NoiseDSP::kParameterCount> kParameters{{
    {"$$$/Effects/Noise/Color=Color", u"", kUnitNumber},
    {"$$$/Effects/Noise/Style=Style", u"", kUnitNumber},
    {"$$$/Effects/Noise/Intensity=Intensity", u"", kUnitNumber},
    {"$$$/Effects/Noise/Distance=Distance", u"ms", kUnitTime},
    {"$$$/Effects/Noise/DCOffset=DC Offset", u"", kUnitNumber},
    {"$$$/Effects/Noise/Duration=Duration", u"ms", kUnitTime},
    {"$$$/Effects/Noise/PreviewMode=Preview mode", u"", kUnitNumber, false},
    {"$$$/Effects/Noise/OperationMode=Operation mode", u"", kUnitNumber},
}};

// Colour and style steps 0, 1/3, 2/3 and 1: brown, pink, white, grey and
// spatial stereo, independent, mono, inverse. Intensity 0.92105263 is 35
// (-21 dBFS RMS), 1 is 38 (-18 dBFS RMS); Distance 0.7 is 0.7 ms. The last
// value (duration) is kept with the preset but not applied.
using Row = PresetRow<6>;
constexpr std::array kPresets = {
    Row{kDefaultPresetKey, {0.0f, 0.0f, 0.92105263f, 0.5f, 0.5f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateNoisePresets/Brown=Brown Independent Channels",
        {0.0f, 0.33333334f, 0.92105263f, 0.5f, 0.5f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateNoisePresets/Pink=Pink Spatial Stereo 700 Delay",
        {0.33333334f, 0.0f, 1.0f, 0.7f, 0.5f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateNoisePresets/White=White Mono DC Offset 50%",
        {0.6666667f, 0.6666667f, 1.0f, 0.5f, 0.75f, 0.0f}},
    Row{"$$$/AudioComponents/GenerateNoisePresets/Grey=Grey Inverse", {1.0f, 1.0f, 0.92105263f, 0.5f, 0.5f, 0.0f}},
};

} // namespace

Noise::Noise() : OfflineGenerator(kNoiseComponentID, kTitleKey, kParameters, kPresets) {}

void Noise::SetPreviewMode(bool preview) { SetParameter(kPreviewParameter, preview ? 1.0f : 0.0f); }

void Noise::SetFactoryPreset(int index)
{
    const std::span<const float> values = GetPresets().Values(index);
    const std::size_t count = std::min<std::size_t>(values.size(), kPresetParameters);
    for (std::size_t parameter = 0; parameter < count; ++parameter)
        SetParameterAutomated(static_cast<int>(parameter), values[parameter]);
}

void Noise::GetAnalysisData(float** outputs, long count)
{
    if (outputs == nullptr || count <= 0)
        return;
    NoiseDSP& live = GetKernel();
    NoiseDSP kernel;
    kernel.SetChannels(live.GetChannels());
    kernel.SetSampleRate(live.GetSampleRate());
    kernel.SetDuration(live.GetDuration());
    for (int index = 0; index < NoiseDSP::kParameterCount; ++index)
        kernel.SetParameter(index, live.GetParameter(index));
    kernel.Resume();

    const auto channels = static_cast<std::size_t>(live.GetChannels());
    std::vector<std::vector<float>> silence(channels, std::vector<float>(kAnalysisBlock, 0.0f));
    std::vector<float*> inputs(channels);
    std::vector<float*> cursor(outputs, outputs + channels);
    for (std::size_t channel = 0; channel < channels; ++channel)
        inputs[channel] = silence[channel].data();
    // The kernel's latency is dropped first; the outputs take it and are
    // then overwritten.
    for (long latency = kernel.GetLatency(); latency > 0 && !GetRunner().IsCancelled();) {
        const int block = static_cast<int>(std::min<long>(latency, kAnalysisBlock));
        kernel.Process(inputs.data(), cursor.data(), block);
        latency -= block;
    }
    for (long done = 0; done < count;) {
        const int block = static_cast<int>(std::min<long>(count - done, kAnalysisBlock));
        kernel.Process(inputs.data(), cursor.data(), block);
        for (float*& pointer : cursor)
            pointer += block;
        done += block;
    }
    kernel.Suspend();
}

} // namespace zoc::components

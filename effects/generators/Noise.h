#pragma once
// Generate Noise: brown, pink, white or grey noise over the selection, in
// spatial stereo, independent, mono or inverse channels. An offline
// component: the host sets the duration, reader and writer and calls
// OfflineRun; the runner's worker renders the NoiseDSP kernel into the
// writer.

#include <string>

#include "dsp/noise/NoiseDSP.h"
#include "framework/OfflineGenerator.h"

namespace zoc::components {

extern const std::string kNoiseComponentID;

class Noise : public OfflineGenerator<dsp::noise::NoiseDSP> {
public:
    static constexpr int kPreviewParameter = dsp::noise::NoiseDSP::kPreviewMode;
    /// Presets set the sound (colour, style, intensity, distance, offset)
    /// and leave duration, preview and operation mode as they are.
    static constexpr int kPresetParameters = 5;
    /// Frames per block of GetAnalysisData.
    static constexpr int kAnalysisBlock = 8192;

    Noise();

    void SetPreviewMode(bool preview) override;
    void SetFactoryPreset(int index) override;

    /// Renders `count` frames of the noise the current settings make into
    /// outputs[channel] (one per channel of the component), on a second
    /// kernel: the live one and any run are left alone.
    void GetAnalysisData(float** outputs, long count);
};

} // namespace zoc::components

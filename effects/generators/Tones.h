#pragma once
// Generate Tones: tones, chords, sweeps and pulses over the selection, or a
// tremolo or ring modulation of the existing audio. An offline component: the
// host sets the duration, reader and writer and calls OfflineRun; the
// runner's worker renders the TonesDSP kernel into the writer.

#include <string>

#include "dsp/tones/TonesDSP.h"
#include "framework/OfflineGenerator.h"

namespace zoc::components {

extern const std::string kTonesComponentID;

class Tones : public OfflineGenerator<dsp::tones::TonesDSP> {
public:
    static constexpr int kOriginalSampleRateParameter = dsp::tones::TonesDSP::kOriginalSampleRate;
    static constexpr int kPreviewParameter = dsp::tones::TonesDSP::kPreview;
    /// Parameter 43 holds a rate as a fraction of this.
    static constexpr double kRateScale = 192000.0;

    Tones();

    /// Control thread. Moves the frequency bounds to the new Nyquist frequency.
    void SetSampleRate(float rate) override;
    void SetPreviewMode(bool preview) override;
    /// Applies the values held back during the load, the original sample
    /// rate last.
    void FinishLoadingSettings(bool loading) override;

private:
    void UpdateFrequencyBounds();
};

} // namespace zoc::components

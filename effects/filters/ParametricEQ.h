#pragma once
// Parametric Equalizer: five peaking bands, low and high shelves, a
// high-pass and a low-pass of selectable slope and a master gain, drawn as a
// response curve. One dsp::Parametric kernel filters each channel; this
// component owns the parameter surface (ranges taken from the kernel), the
// choice between Q and bandwidth control, the presets and settings loads.

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "dsp/Parametric.h"
#include "framework/MultithreadedComponentBase.h"

namespace zoc::components {

extern const std::string kParametricEQComponentID;

class ParametricEQ : public MultithreadedComponentBase<dsp::Parametric> {
public:
    static constexpr int kMaxChannels = 32;
    static constexpr int kParameterCount = dsp::Parametric::kParameterCount;
    using Parameter = dsp::Parametric::Parameter;

    ParametricEQ();

    int GetParameterCount() override { return kParameterCount; }
    /// While settings load, only remembers the value. Otherwise sends the
    /// real value to every channel's kernel, except a Q while bandwidth
    /// control is in force and a bandwidth while Q control is. NaN is
    /// ignored. Control thread; never allocates.
    void SetParameter(int index, float normalized) override;
    float GetParameter(int index) override;
    /// The kernels take the rate; the frequency ranges follow it, and the
    /// stored frequency values move within them so they keep their hertz.
    void SetSampleRate(float rate) override;
    /// Sends the preset's values in index order through
    /// SetParameterAutomated, as every component does (so Q values arriving
    /// while ConstantQ is still on are kept), except that the high- and
    /// low-pass cutoffs, which come after the original sample rate and so
    /// escape its mapping, are first re-expressed for the current rate.
    void SetFactoryPreset(int index) override;
    /// Loads as the host does, then switches Bypass off.
    bool LoadSettings(const host::PresetData& preset) override;
    void StartLoadingSettings() override;
    /// Applies the remembered values: ConstantQ first, so the right one of Q
    /// and bandwidth takes effect, then every other one, and last the
    /// original sample rate (the stored one for a preset, else the current
    /// rate), which maps the loaded frequencies to the hertz they meant at
    /// that rate. Afterwards the stored values are fractions of the current
    /// ranges again and the original rate reads as the current one.
    void FinishLoadingSettings(bool fromPreset) override;
    /// Curve 0: the response in dB at `points` frequencies spaced
    /// logarithmically from 20 Hz towards Nyquist. Control thread.
    bool GetCurveData(int index, std::size_t points, std::vector<float>& curve) override;

protected:
    /// New kernels, each for one channel, receive every setting again;
    /// Bypass ends off. Control thread; allocates.
    void OnNumberOfChannelsChanged(std::size_t count) override;

private:
    void BuildParameterInfos();
    void RefreshFrequencyBounds();
    /// Stores the kernels' frequencies (in hertz) as fractions of the
    /// current ranges, and the current rate as the original one.
    void ResyncFrequencies();
    /// A cutoff fraction made at `originalRate`, as a fraction of the
    /// current rate's range.
    float FractionAtCurrentRate(float fraction, float originalRate);

    std::array<float, kParameterCount> values_{}; ///< normalized values in force
    std::array<float, kParameterCount> raw_{};    ///< values received during a settings load
};

} // namespace zoc::components

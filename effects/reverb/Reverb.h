#pragma once
// Reverb: a convolution reverb whose impulse response is synthesised from six
// settings (decay, pre-delay, perception, diffusion, summed inputs) by a
// seeded random process. The impulse and its spectra are kept in a ring of
// ten cache files in the private temporary directory, so settings used
// before load instead of being computed again. The output mixes the dry
// signal, delayed as much as the wet one, and the wet signal, in percent.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "dsp/AlignedBuffer.h"
#include "effects/reverb/ReverbCache.h"
#include "effects/reverb/ReverbImpulse.h"
#include "framework/ConvolutionReverbBase.h"
#include "framework/ImpulseCache.h"

namespace zoc::components {

extern const std::string kReverbComponentID;

class Reverb : public ConvolutionReverbBase {
public:
    static constexpr int kParameterCount = 9;
    enum Parameter : int {
        kDecayTime,          ///< ms
        kPreDelayTime,       ///< ms: length of the fade-in
        kPerception,         ///< size of the noise the walkers read
        kDryOutputLevel,     ///< %
        kWetOutputLevel,     ///< %
        kDiffusion,          ///< ms: how fast the tail darkens
        kSumInputs,          ///< 1: every channel convolves the average input
        kCalculatingImpulse, ///< output: progress of an impulse calculation, %
        kIsProcessing,       ///< output: 1 while resumed
    };
    /// Size in bytes of the header at the start of each cache file.
    static constexpr std::size_t kHeaderSize = reverb::kCacheHeaderSize;

    Reverb();
    /// Stops the worker.
    ~Reverb() override;

    /// Control thread. A new rate rebuilds the impulse at the next Resume or block.
    void SetSampleRate(float rate) override;
    /// Control thread: loads or synthesises the impulse, then starts the worker.
    void Resume() override;
    /// Control thread: stops the worker and waits for it.
    void Suspend() override;
    /// Audio thread. Holds the impulse mutex. When a setting that shapes the
    /// impulse changed: while the host plays, hands the rebuild to the
    /// impulse worker and keeps playing the old impulse until the new one is
    /// installed at a block boundary (from there on the output is that of a
    /// component resumed with the new settings); while it renders offline,
    /// rebuilds first (allocates, may take long). Otherwise allocates nothing
    /// and waits only at a block boundary for a late worker. Input and output
    /// may be the same buffers.
    void Process(float** inputs, float** outputs, int frames) override;
    /// Control thread, never blocks. The two outputs (Calculating Impulse,
    /// Is Processing) are ignored; Sum Inputs is stored as 0 or 1; every
    /// setting but the two levels marks the impulse for rebuilding.
    void SetParameter(int index, float normalized) override;
    float GetParameter(int index) override;
    /// 2 * hop for the current Decay Time and rate.
    int GetInitialDelay() override;
    /// Seconds of reverberation after the input ends.
    double GetTail() override;
    bool ArePresetsSafeForPlayback() override { return false; }

    /// True while an impulse is being loaded or synthesised.
    virtual bool IsCalculating() const { return isCalculating_.load(std::memory_order_relaxed); }
    /// Progress of the current or last impulse calculation, 0 .. 1.
    virtual float GetProgress() const { return progress_.load(std::memory_order_relaxed); }

    /// The impulse in use, interleaved by frame over ImpulseChannelCount()
    /// channels (for tests and tools; not while processing).
    const dsp::AlignedBuffer& Impulse() const { return Active().ImpulseStorage(); }
    std::uint32_t ImpulseChannelCount() const { return Active().ImpulseChannelCount(); }
    using ConvolutionReverbBase::HopSize;
    using ConvolutionReverbBase::ImpulseLength;
    using ConvolutionReverbBase::RebuildPending;
    using ConvolutionReverbBase::SetWorkerHooks;

protected:
    void OnNumberOfChannelsChanged(std::size_t count) override;
    void ConvolveBlock() override;
    /// Any thread: from the cache when a slot holds these settings, else
    /// synthesised and saved to a slot.
    void BuildImpulse(const SettingsSnapshot& settings, EngineBuffers& into) override;
    /// The output levels and meters do not shape the impulse.
    bool SameImpulse(const SettingsSnapshot& a, const SettingsSnapshot& b) const override;

private:
    reverb::ImpulseSettings CurrentSettings() const;
    static reverb::ImpulseSettings SettingsOf(const SettingsSnapshot& snapshot);
    void Synthesize(const reverb::ImpulseSettings& settings, const reverb::CacheHeader& header,
                    EngineBuffers& into);
    static void ComputeSpectra(EngineBuffers& into, bool sumInputs);
    void PublishProgress(float progress);

    /// Only builds touch it, one at a time in the process.
    ImpulseCacheRing cache_;
    std::atomic<float> progress_{0.0f};
    std::atomic<bool> isCalculating_{false};
};

} // namespace zoc::components

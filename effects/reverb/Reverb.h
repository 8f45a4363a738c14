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
#include <filesystem>
#include <string>

#include "dsp/AlignedBuffer.h"
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
    static constexpr std::size_t kHeaderSize = 80;

    Reverb();
    /// Stops the worker.
    ~Reverb() override;

    /// Control thread. A new rate rebuilds the impulse at the next Resume or block.
    void SetSampleRate(float rate) override;
    /// Control thread: loads or synthesises the impulse, then starts the worker.
    void Resume() override;
    /// Control thread: stops the worker and waits for it.
    void Suspend() override;
    /// Audio thread. Holds the impulse mutex; when a setting that shapes the
    /// impulse changed, rebuilds it first (which allocates and may take
    /// long). Otherwise allocates nothing and waits only at a block boundary
    /// for a late worker. Input and output may be the same buffers.
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
    const dsp::AlignedBuffer& Impulse() { return ImpulseStorage(); }
    std::uint32_t ImpulseChannelCount() const { return impulseChannels_; }
    using ConvolutionReverbBase::HopSize;
    using ConvolutionReverbBase::ImpulseLength;

protected:
    void OnNumberOfChannelsChanged(std::size_t count) override;
    void UseBufferSetA() override;
    void UseBufferSetB() override;
    void ConvolveBlock() override;

private:
    using Header = std::array<std::uint8_t, kHeaderSize>;

    reverb::ImpulseSettings CurrentSettings() const;
    /// With the impulse mutex held: takes the process-wide mutex, loads or
    /// synthesises, then clears the buffers.
    void RecalculateImpulse();
    bool LoadFromCache(const reverb::ImpulseSettings& settings, const Header& header);
    bool LoadSlot(core::files::File& file, std::uint64_t size, const Header& header, std::uint32_t impulseChannels);
    void Synthesize(const reverb::ImpulseSettings& settings, const Header& header);
    void ComputeSpectra(bool sumInputs);
    void WriteCacheFile(int slot, const Header& header, bool sumInputs);
    /// The spectrum arrays in cache-file order.
    std::vector<float*> CachedSpectra(bool sumInputs);
    void SetImpulseLength(std::int32_t length, std::uint32_t impulseChannels);
    void PublishProgress(float progress);
    /// The sample rate the impulse is built for: the host's, kept within
    /// the range where the synthesis is meaningful.
    float EffectiveRate() const;

    Header rememberedHeader_{};
    std::size_t rememberedChannels_ = 0;
    ImpulseCacheRing cache_;
    std::atomic<float> progress_{0.0f};
    std::atomic<bool> isCalculating_{false};
    std::uint32_t impulseChannels_ = 0;

    dsp::AlignedBuffer mixA_, mixB_;
    float* mix_ = nullptr;
};

} // namespace zoc::components

#pragma once
// FullReverb: a room-model convolution reverb. It synthesises two impulse
// responses, early reflections from an image-source model of a rectangular
// room and a reverberation tail shaped by decay, pre-delay, diffusion,
// perception and three coloration sections, and convolves the input with
// both in one pass. The block job weights the two responses separately and
// adds the direct sound itself (optionally delayed by the room's direct
// path), so the dry, early and reverberation levels change without a new
// impulse. Impulses are kept in ten cache files like the Reverb's.
//
// The engine always runs the full response length L = 1.45 x the decay
// frames, even where the synthesis finds the tail silent earlier (the rest
// is zeros): the latency, 2 (N - L) + 2 frames, is then known from the
// settings alone, before any impulse exists, and never changes under a host
// that has already compensated for it.

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "dsp/AlignedBuffer.h"
#include "effects/reverb/FullReverbImpulse.h"
#include "framework/ConvolutionReverbBase.h"
#include "framework/ImpulseCache.h"

namespace zoc::components {

extern const std::string kFullReverbComponentID;

class FullReverb : public ConvolutionReverbBase {
public:
    static constexpr int kParameterCount = 29;
    enum Parameter : int {
        kDecayTime,              ///< ms
        kPreDelayTime,           ///< ms: fade-in of the tail
        kDiffusion,              ///< ms: how fast the tail's events spread out
        kPerception,             ///< how much louder early events are than late ones
        kDryLevel,               ///< %
        kEarlyLevel,             ///< %
        kReverbLevel,            ///< %
        kRoomSize,               ///< m^3
        kDimension,              ///< width / depth
        kLocation,               ///< left/right, %
        kEarlyHighPass,          ///< Hz, up to half the rate
        kLowGain,                ///< dB
        kMidGain,                ///< dB
        kHighGain,               ///< dB
        kLowFrequency,           ///< Hz, up to half the rate
        kHighFrequency,          ///< Hz, up to half the rate
        kMidFrequency,           ///< Hz, up to half the rate
        kMidQ,
        kColorationDecay,        ///< ms: step of the coloration passes
        kSumInputs,              ///< 1: every channel convolves the average input
        kIncludeDirect,          ///< 1: the dry signal arrives over the room's direct path
        kReverbFromRoom,         ///< 1: decay and pre-delay follow the room
        kCalculatingImpulse,     ///< output: progress of an impulse calculation, %
        kIsProcessing,           ///< output: 1 while resumed
        kChannelCount,           ///< output: processed channels
        kRoomWidth,              ///< m, from Room Size and Dimension
        kRoomHeight,             ///< m, from Room Size and Dimension
        kRoomDepth,              ///< m, from Room Size and Dimension
        kOriginalSampleRate,     ///< Hz: the rate the frequencies were set at
    };
    /// Size in bytes of the record at the start of each cache file.
    static constexpr std::size_t kRecordSize = 212;

    FullReverb();
    /// Stops the worker.
    ~FullReverb() override;

    /// Control thread. Frequency ranges follow the new rate; the impulse is
    /// rebuilt at the next Resume or block.
    void SetSampleRate(float rate) override;
    /// Control thread: loads or synthesises the impulse, then starts the worker.
    void Resume() override;
    /// Control thread: stops the worker and waits for it.
    void Suspend() override;
    /// Audio thread. Holds the impulse mutex. When a setting that shapes the
    /// impulse changed, hands the rebuild to the impulse worker and plays on
    /// with the old impulse until the new one is installed at a block
    /// boundary; a host rendering offline gets the rebuild in place, before
    /// the block. Allocates nothing and waits only at a block boundary for a
    /// late worker. Input and output may be the same buffers.
    void Process(float** inputs, float** outputs, int frames) override;
    /// Control thread, never blocks. The outputs are ignored; switches are
    /// stored as 0 or 1; every setting but the three levels marks the
    /// impulse for rebuilding.
    void SetParameter(int index, float normalized) override;
    float GetParameter(int index) override;
    /// 2 * hop for the current Decay Time and rate, also before any impulse.
    int GetInitialDelay() override;
    /// Seconds of reverberation after the input ends.
    double GetTail() override;
    bool ArePresetsSafeForPlayback() override { return false; }

    /// True while an impulse is being loaded or synthesised.
    virtual bool IsCalculating() const { return isCalculating_.load(std::memory_order_relaxed); }
    /// Progress of the current or last impulse calculation, 0 .. 1.
    virtual float GetProgress() const { return progress_.load(std::memory_order_relaxed); }

    // The responses in use, interleaved by frame over ImpulseChannelCount()
    // channels, ImpulseLength() frames (for tests and tools; not while processing).
    const dsp::AlignedBuffer& Reverberation() const { return Active().ImpulseStorage(); }
    const dsp::AlignedBuffer& EarlyReflections() const { return ActivePart().early; }
    std::uint32_t ImpulseChannelCount() const { return Active().ImpulseChannelCount(); }
    std::uint32_t DirectDelay(std::size_t channel) const { return ActivePart().directDelays[channel]; }
    /// Frames of the reverberation response that carry sound.
    std::uint32_t SoundingLength() const { return ActivePart().soundingLength; }
    using ConvolutionReverbBase::HopSize;
    using ConvolutionReverbBase::ImpulseLength;
    using ConvolutionReverbBase::RebuildPending;
    using ConvolutionReverbBase::SetWorkerHooks;

protected:
    void OnNumberOfChannelsChanged(std::size_t count) override;
    void ConvolveBlock() override;
    void MultiplySpectra(bool sumInputs, std::size_t channels) override;
    void FinishJob(std::size_t channels) override;
    /// Any thread: from the cache when a slot holds these settings, else
    /// synthesised and saved to a slot.
    void BuildImpulse(const SettingsSnapshot& settings, EngineBuffers& into) override;
    /// The levels, Include Direct, the outputs and the room parameters do
    /// not shape the responses.
    bool SameImpulse(const SettingsSnapshot& a, const SettingsSnapshot& b) const override;

private:
    using Record = std::array<std::uint8_t, kRecordSize>;
    /// How the job combines input channels, fixed with the spectra.
    enum class Mode { Summed, TrueStereo, Separate };
    /// What an impulse has beyond the engine's buffers: the early-reflection
    /// response and spectra, the direct paths and the job's mode. One per
    /// set of engine buffers, so a rebuild fills the spare's part while the
    /// active one plays.
    struct EarlyPart {
        std::atomic<const EngineBuffers*> owner{nullptr};
        Mode mode = Mode::Summed;
        std::uint32_t soundingLength = 0;
        std::array<std::uint32_t, fullreverb::kMaxImpulseChannels> directDelays{};
        dsp::AlignedBuffer early;
        std::array<dsp::AlignedBuffer, kMaxChannels> re, im;
        dsp::AlignedBuffer crossLeftToRightRe, crossLeftToRightIm, crossRightToLeftRe, crossRightToLeftIm;
        dsp::AlignedBuffer averageRe, averageIm;
    };

    /// The settings as the host set them (for the latency and the tail).
    fullreverb::Settings CurrentSettings() const;
    fullreverb::Settings SettingsOf(const SettingsSnapshot& snapshot) const;
    static Record MakeRecord(const fullreverb::Settings& settings, const fullreverb::Sizes& sizes);
    EarlyPart& PartOf(const EngineBuffers& buffers);
    const EarlyPart& ActivePart() const;
    /// Sizes `into` and `part` for `sizes` (allocates).
    void PrepareBuffers(const fullreverb::Sizes& sizes, std::uint32_t channels, bool sumInputs, EngineBuffers& into,
                        EarlyPart& part);
    bool LoadSlot(core::files::File& file, std::uint64_t size, const Record& record, const fullreverb::Sizes& sizes,
                  std::uint32_t channels, EngineBuffers& into, EarlyPart& part);
    void Synthesize(const fullreverb::Settings& settings, const fullreverb::Sizes& sizes, Record record,
                    EngineBuffers& into, EarlyPart& part);
    static void ComputeSpectra(EngineBuffers& into, EarlyPart& part);
    /// The spectrum arrays in cache-file order, each of N/2 + 1 bins.
    static std::vector<float*> CachedSpectra(EngineBuffers& into, EarlyPart& part);
    void PublishProgress(float progress);
    /// The sample rate the impulse is built for: the host's, kept within
    /// the range where the synthesis is meaningful.
    float EffectiveRate() const;
    void StoreDerived(int index, float value);
    void SetFrequencyRanges();
    void UpdateRoom();
    void TakeReverbFromRoom();

    /// Only builds touch the cache ring, one at a time in the process.
    ImpulseCacheRing cache_;
    std::atomic<float> progress_{0.0f};
    std::atomic<bool> isCalculating_{false};
    std::array<EarlyPart, 2> parts_;
};

} // namespace zoc::components

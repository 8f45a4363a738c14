#pragma once
// Base of the convolution reverbs: a block FFT convolution engine for up to
// 32 channels whose frequency-domain work runs on a worker thread
// ("ConvolveThread"), while the audio thread only copies samples in and out.
//
// Every hop of B input samples is convolved with the whole impulse (L
// samples) in one FFT of N = B + L - 1 points. Input written during block k
// is transformed during block k + 1 and heard during block k + 2, so wet and
// dry signals lag by exactly 2 * B samples. Two real channels share each
// complex transform, in both directions.
//
// The derived class synthesises the impulse, turns it into spectra with
// ForwardTwoReal, chooses the block job (ConvolveBlock; RunStandardJob is the
// usual one) and writes the audio path over PlayBuffer and FillBuffer,
// calling AdvanceBlock when a block is full.
//
// Threads and locks: the audio thread hands a job to the worker at a block
// boundary by opening the request gate and collects it at the next boundary
// through the done gate (waiting at most 5 s). The engine mutex is held by
// the worker for a whole job and by every role switch; the impulse mutex by
// the derived class's Process and impulse calculation.
//
// Impulse rebuilds: everything sized by the FFT (buffers, spectra, the
// transform itself) lives in an EngineBuffers, and the engine keeps two: the
// active one the audio path and the worker use, and a spare. A new impulse
// is built into the spare by the derived class's BuildImpulse and installed
// by swapping the two at a block boundary. While the host plays in real time
// the build runs on a second worker ("ImpulseThread") and the old impulse
// keeps playing meanwhile; when the host renders offline (or nothing runs
// yet) it runs in place, so a render's output never depends on timing.

#include <array>
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dsp/AlignedBuffer.h"
#include "dsp/IppFFT32.h"
#include "framework/MultiChannelComponentBase.h"
#include "platform/core/Gate.h"
#include "platform/core/Threads.h"

namespace zoc::components {

/// One input sample as the engine's transforms take it: a non-finite
/// sample enters as silence and the rest is held to +-1e20 (see TakeInput).
inline float AdmittedConvolutionInput(float x)
{
    constexpr float kInputBound = 1e20f;
    // Exponent bits all set: infinity or NaN.
    const bool finite = (std::bit_cast<std::uint32_t>(x) & 0x7F800000u) != 0x7F800000u;
    return finite ? std::min(std::max(x, -kInputBound), kInputBound) : 0.0f;
}

class ConvolutionReverbBase : public MultiChannelComponentBase {
public:
    static constexpr int kMaxChannels = 32;

    /// What an impulse is built from: the settings as they were when the
    /// rebuild was asked for.
    struct SettingsSnapshot {
        float sampleRate = 0.0f;
        std::size_t channels = 0;
        std::vector<float> values; ///< real parameter values, by index
    };

    /// Everything sized by the FFT, for one impulse: the time-domain blocks,
    /// the impulse and job spectra, the transform and its scratch. The
    /// engine owns two; a rebuild fills the one not in use.
    class EngineBuffers {
    public:
        /// Sizes every buffer for an impulse of `impulseLength` frames over
        /// `impulseChannels` channels, convolved over `channels` processed
        /// channels in transforms of `fftSize` points. Allocates, plans the
        /// transform and zeroes everything: call it off the audio thread.
        void SetSizes(std::uint32_t fftSize, std::uint32_t impulseLength, std::uint32_t impulseChannels,
                      std::size_t channels);

        /// Spectra of two real signals of N samples from one complex
        /// transform, bins 0 .. bins - 1 (N when not given). A signal alone
        /// is given as both x and y, with the same arrays for both spectra.
        void ForwardTwoReal(const float* x, const float* y, float* xRe, float* xIm, float* yRe, float* yIm,
                            std::uint32_t bins = 0);
        /// Two real signals from their Hermitian spectra (N bins each) in one
        /// complex transform, each scaled by `scale` (exactly, for a power of
        /// two). A spectrum alone is given as both X and Y, with the same
        /// output array for both.
        void InverseTwoReal(float* x, float* y, const float* xRe, const float* xIm, const float* yRe,
                            const float* yIm, float scale = 1.0f);
        /// The same from bins 0 .. N/2 of each spectrum, the rest taken as
        /// their mirror image.
        void InverseTwoRealFromHalf(float* x, float* y, const float* xRe, const float* xIm, const float* yRe,
                                    const float* yIm, float scale);

        float* ImpulseRe(std::size_t channel) { return channels_[channel].impulseRe.Data(); }
        float* ImpulseIm(std::size_t channel) { return channels_[channel].impulseIm.Data(); }
        float* CrossLeftToRightRe() { return crossLeftToRightRe_.Data(); }
        float* CrossLeftToRightIm() { return crossLeftToRightIm_.Data(); }
        float* CrossRightToLeftRe() { return crossRightToLeftRe_.Data(); }
        float* CrossRightToLeftIm() { return crossRightToLeftIm_.Data(); }
        /// Zero-padded time-domain scratch of N values (two of them), for
        /// transforming impulse channels.
        float* TransformScratch(int which) { return which == 0 ? scratchC_.Data() : scratchD_.Data(); }
        /// The impulse, interleaved by frame: value of channel k at frame t
        /// is at t * K + k.
        dsp::AlignedBuffer& ImpulseStorage() { return impulse_; }
        const dsp::AlignedBuffer& ImpulseStorage() const { return impulse_; }
        /// The settings the impulse was built from.
        const SettingsSnapshot& BuiltFrom() const { return builtFrom_; }

        std::uint32_t FFTSize() const { return fftSize_; }
        std::uint32_t HopSize() const { return hopSize_; }
        std::uint32_t ImpulseLength() const { return impulseLength_; }
        std::uint32_t ImpulseChannelCount() const { return impulseChannels_; }
        /// Processed channels the buffers are sized for.
        std::size_t Channels() const { return sizedChannels_; }

    private:
        friend class ConvolutionReverbBase;
        struct Channel {
            dsp::AlignedBuffer inputA, inputB, outputA, outputB;
            dsp::AlignedBuffer impulseRe, impulseIm;
            dsp::AlignedBuffer inputSpectrumRe, inputSpectrumIm;
            dsp::AlignedBuffer outputSpectrumRe, outputSpectrumIm;
        };
        /// Inverse transform of the scratch spectrum into x + i y.
        void InverseInto(float* x, float* y);
        void ZeroTimeBlocks();

        std::uint32_t fftSize_ = 0;
        std::uint32_t impulseLength_ = 0;
        std::uint32_t hopSize_ = 0;
        std::uint32_t impulseChannels_ = 0;
        std::size_t sizedChannels_ = 0;
        std::array<Channel, kMaxChannels> channels_;
        dsp::AlignedBuffer crossLeftToRightRe_, crossLeftToRightIm_, crossRightToLeftRe_, crossRightToLeftIm_;
        dsp::AlignedBuffer sumRe_, sumIm_;
        // The forward transform's output, and the inverse transform's input.
        dsp::AlignedBuffer scratchA_, scratchB_, scratchC_, scratchD_;
        // The derived audio path's mixing scratch, one per role set (2N each).
        dsp::AlignedBuffer mixA_, mixB_;
        dsp::IppFFT32 fft_;
        dsp::AlignedBuffer impulse_;
        /// The settings the impulse was built from; `built` once it was.
        SettingsSnapshot builtFrom_;
        bool built_ = false;
    };

    /// `parameterCount` values, all zero until the derived class sets them.
    ConvolutionReverbBase(std::string componentID, core::UString title, int parameterCount,
                          FactoryPresetTable presets);
    /// Stops the workers if they still run, then frees everything.
    ~ConvolutionReverbBase() override;

    int GetParameterCount() override { return parameterCount_; }

protected:
    /// The block job, on the worker thread: transforms JobInput of every
    /// channel, multiplies by the impulse spectra, transforms back into
    /// JobOutput and opens the done gate.
    virtual void ConvolveBlock() = 0;
    /// Under the engine mutex: play OutputA, fill InputA, the job reads
    /// InputB and writes OutputB.
    virtual void UseBufferSetA();
    /// The other way round.
    virtual void UseBufferSetB();

    /// Builds the impulse for `settings` into `into`: sizes it (SetSizes),
    /// fills the impulse and its spectra (from a cache or by synthesis).
    /// Runs on the impulse worker, or on the calling thread when the host
    /// renders offline or nothing processes yet; never concurrently with
    /// another build of this instance. Must not touch the active buffers.
    virtual void BuildImpulse(const SettingsSnapshot& settings, EngineBuffers& into) = 0;
    /// True when an impulse built from `a` serves for `b` too. By default
    /// every value must match; a derived class leaves out the settings that
    /// do not shape the impulse (output levels, meters).
    virtual bool SameImpulse(const SettingsSnapshot& a, const SettingsSnapshot& b) const;

    /// Describes parameter `index`: `key` is its localizable name.
    void AddParameter(const char* key, const char* unitLabel, host::AudioFilterParameterInfoUnit unit, int index,
                      float minimum, float maximum, bool automatable, bool logarithmic = false);
    /// Real value of a parameter (0 for an index out of range). Any thread.
    float Value(int index) const;
    void StoreValue(int index, float value);

    /// At the start of Process, with the impulse mutex held: when the
    /// impulse is dirty, either rebuilds it in place (offline rendering,
    /// nothing running yet) or hands the settings to the impulse worker and
    /// returns at once. Changes that arrive while a build runs are taken up
    /// by one more build. A rate or layout that changed and came back since
    /// the last block finds the impulse in use fitting again: it plays on,
    /// from silence. Allocates nothing and never waits in real time.
    void UpdateImpulse();
    /// Control thread or offline rendering: brings the impulse up to the
    /// current settings before returning (waits for a build in flight).
    /// The blocks restart from silence, unless `keepBlocks` and the new
    /// impulse has the same hop: then they go on, as at a block boundary.
    void RebuildImpulseNow(bool keepBlocks = false);
    /// True while a rebuild was asked for and not yet installed.
    bool RebuildPending() const { return rebuildPending_.load(std::memory_order_acquire); }
    /// While the host plays in real time, the latency of the impulse that
    /// plays (2 B): a rebuilt one takes over only once installed, so this is
    /// what the host must compensate until then. Zero when the settings'
    /// latency is the one to report: suspended, rendering offline (changes
    /// take effect at the next block), or no impulse fitting the current
    /// rate and layout plays. Any thread.
    int PlayingLatency() const;
    /// The latency to report: that of the impulse playing while a rebuild
    /// runs, otherwise two hops of an impulse of `impulseLength` frames in
    /// an FFT of `fftSize` points (2 (N - L + 1)).
    int ReportedLatency(std::int64_t fftSize, std::int64_t impulseLength) const
    {
        if (const int playing = PlayingLatency(); playing > 0)
            return playing;
        return static_cast<int>(2 * (fftSize - impulseLength) + 2);
    }
    /// True when the host says it renders faster than real time.
    bool RendersOffline() const { return IsRenderingOffline(); }

    /// The standard block job: per-channel products, or true stereo with the
    /// cross spectra (two channels, `sumInputs` off), or every channel
    /// convolving the average of all inputs (`sumInputs` on). With
    /// `fuseProducts`, two channels go from the forward to the inverse
    /// transform in one pass over the bins (same result, less memory
    /// traffic); only for a class that keeps the standard MultiplySpectra.
    void RunStandardJob(bool sumInputs, bool fuseProducts = false);

    /// The products of a job, bins 0 .. N/2: from the input spectra and the
    /// impulse spectra into the output spectra of `channels` channels, by
    /// the mode `sumInputs` selects. A derived class with another mix of
    /// responses replaces this step only; the transforms stay.
    virtual void MultiplySpectra(bool sumInputs, std::size_t channels);
    /// The last step of a job, after the inverse transforms and before the
    /// done gate opens: a derived class may add to JobOutput here.
    virtual void FinishJob(std::size_t /*channels*/) {}

    /// Block boundary, on the audio thread: collects the pending job (at most
    /// 5 s; on time-out the same result plays again), installs a rebuilt
    /// impulse when one is ready, switches roles, overlap-adds the previous
    /// result's tail and requests the next job. A rebuilt impulse with the
    /// same hop takes over from the next job on, the blocks going on; one
    /// with another hop restarts the blocks from silence, as after Resume.
    void AdvanceBlock();
    /// Zeroes the four time-domain blocks of every channel and restarts the
    /// block. Spectra stay.
    void ClearBuffers();
    /// Forgets the role tables (after a rate or channel change, before the
    /// buffers are rebuilt).
    void ClearRoleTables();

    /// Starts the convolution worker and the impulse worker.
    void StartConvolveThread();
    /// Asks both workers to leave and waits until they have (a build in
    /// progress finishes first).
    void StopConvolveThread();
    /// Resets the hand-over state before the worker starts: no job pending,
    /// gates closed, no stop request.
    void PrepareHandOver();

    /// The buffers in use (audio path, block job; tests while not processing).
    EngineBuffers& Active() { return *active_; }
    const EngineBuffers& Active() const { return *active_; }

    // Buffers by role, for the audio path and the block job.
    float* PlayBuffer(std::size_t channel) { return playBuffer_[channel]; }
    float* FillBuffer(std::size_t channel) { return fillBuffer_[channel]; }
    /// Copies `count` input samples into a fill buffer for the transforms:
    /// a non-finite sample enters as silence, so it cannot spread through
    /// the next blocks' convolution, and the rest is held to +-1e20 (400 dB
    /// above full scale, so audio never meets it): the transforms' sums,
    /// times an impulse spectrum below 1e6, then stay far below the largest
    /// float, and a huge but finite input gives huge but finite output.
    static void TakeInput(const float* __restrict input, float* __restrict fill, std::size_t count);

    // A job's time-domain blocks: B input samples (then zeros), N output samples.
    const float* JobInput(std::size_t channel) const { return jobInput_[channel]; }
    float* JobOutput(std::size_t channel) { return jobOutput_[channel]; }
    /// Mixing scratch of 2N floats that follows the role set.
    float* MixScratch() { return mix_; }
    bool HasRoles() const { return playBuffer_[0] != nullptr && mix_ != nullptr; }

    // The active impulse's spectra and a job's spectra, by channel.
    float* ImpulseRe(std::size_t channel) { return active_->ImpulseRe(channel); }
    float* ImpulseIm(std::size_t channel) { return active_->ImpulseIm(channel); }
    float* CrossLeftToRightRe() { return active_->CrossLeftToRightRe(); }
    float* CrossLeftToRightIm() { return active_->CrossLeftToRightIm(); }
    float* CrossRightToLeftRe() { return active_->CrossRightToLeftRe(); }
    float* CrossRightToLeftIm() { return active_->CrossRightToLeftIm(); }
    float* InputSpectrumRe(std::size_t channel) { return active_->channels_[channel].inputSpectrumRe.Data(); }
    float* InputSpectrumIm(std::size_t channel) { return active_->channels_[channel].inputSpectrumIm.Data(); }
    float* OutputSpectrumRe(std::size_t channel) { return active_->channels_[channel].outputSpectrumRe.Data(); }
    float* OutputSpectrumIm(std::size_t channel) { return active_->channels_[channel].outputSpectrumIm.Data(); }

    std::uint32_t FFTSize() const { return active_->FFTSize(); }
    std::uint32_t HopSize() const { return active_->HopSize(); }
    std::uint32_t ImpulseLength() const { return active_->ImpulseLength(); }
    std::size_t ChannelCount() const { return channelCount_.load(std::memory_order_relaxed); }
    void SetChannelCount(std::size_t count) { channelCount_.store(count, std::memory_order_relaxed); }

    std::recursive_mutex& EngineMutex() { return engineMutex_; }
    std::recursive_mutex& ImpulseMutex() { return impulseMutex_; }

    /// Test seams, set only while suspended: `jobHook` runs on the
    /// convolution worker before each block job, `buildHook` on the impulse
    /// worker before each build it runs (to make either late on purpose).
    void SetWorkerHooks(std::function<void()> jobHook, std::function<void()> buildHook);

    /// Samples of the current block the audio thread has handled (0 .. B).
    std::uint32_t blockPosition_ = 0;
    /// Set when the rate or channel count changed or a parameter that shapes
    /// the impulse did; the derived class rebuilds at its next chance.
    std::atomic<bool> parametersChanged_{true};
    std::atomic<bool> impulseDirty_{true};
    std::atomic<bool> isProcessing_{false};

private:
    void UseBufferSet(bool setA);
    void WorkerLoop();
    void ImpulseWorkerLoop();
    /// The current settings, into `snapshot` (no allocation once sized).
    void TakeSnapshot(SettingsSnapshot& snapshot) const;
    static void CopySnapshot(const SettingsSnapshot& from, SettingsSnapshot& to);
    /// Builds `settings` into the spare buffers (with the build lock held).
    void BuildSpare(const SettingsSnapshot& settings);
    /// Hands the settings in `snapshot_` to the impulse worker, unless the
    /// newest impulse installed or asked for already fits them.
    void RequestRebuild();
    /// Restores the roles, the blocks restarting from silence, when they
    /// were cleared and the active buffers fit the rate and layout again.
    void RestartIfActiveFits();
    /// Makes the spare buffers the active ones, restarting the blocks.
    void InstallSpare();
    /// The same keeping the blocks going, when the spare has the same sizes
    /// as the active buffers; false (nothing done) otherwise.
    bool InstallSpareInPlace();

    const int parameterCount_;
    std::unique_ptr<std::atomic<float>[]> values_;
    std::atomic<std::size_t> channelCount_{0};
    bool jobPending_ = false;

    std::array<EngineBuffers, 2> buffers_;
    EngineBuffers* active_ = &buffers_[0];
    EngineBuffers* spare_ = &buffers_[1];

    std::array<float*, kMaxChannels> playBuffer_{};
    std::array<float*, kMaxChannels> fillBuffer_{};
    std::array<float*, kMaxChannels> jobInput_{};
    std::array<float*, kMaxChannels> jobOutput_{};
    float* mix_ = nullptr;
    /// Hop of the buffers the roles point into; 0 while there are none.
    std::atomic<std::uint32_t> playingHop_{0};

    core::Gate jobRequestGate_{false};
    core::Gate jobDoneGate_{false};
    core::Gate threadExitedGate_{true};
    std::recursive_mutex engineMutex_;
    std::recursive_mutex impulseMutex_;
    std::atomic<bool> stopRequested_{false};
    std::unique_ptr<core::threads::NamedThread> worker_;
    std::function<void()> jobHook_;
    std::function<void()> buildHook_;

    // Rebuild hand-over. The audio thread owns `current_` (the newest
    // settings installed or asked for) and `snapshot_` (scratch); it writes
    // `request_` under `requestMutex_`, taken with try_lock so it never
    // waits. The impulse worker builds into the spare while `spareReady_` is
    // false and sets it when done; the audio thread installs and clears it.
    SettingsSnapshot current_;
    SettingsSnapshot snapshot_;
    SettingsSnapshot request_;
    SettingsSnapshot building_;
    std::atomic<bool> requestWaiting_{false}; ///< written under requestMutex_
    std::mutex requestMutex_;
    std::mutex buildMutex_; ///< held for a whole build into the spare
    std::atomic<bool> spareReady_{false};
    std::atomic<bool> rebuildPending_{false};
    core::Gate rebuildGate_{false};
    std::unique_ptr<core::threads::NamedThread> impulseWorker_;
};

} // namespace zoc::components

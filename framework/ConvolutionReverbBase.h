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

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "dsp/AlignedBuffer.h"
#include "dsp/IppFFT32.h"
#include "framework/MultiChannelComponentBase.h"
#include "platform/core/Gate.h"
#include "platform/core/Threads.h"

namespace zoc::components {

class ConvolutionReverbBase : public MultiChannelComponentBase {
public:
    static constexpr int kMaxChannels = 32;

    /// `parameterCount` values, all zero until the derived class sets them.
    ConvolutionReverbBase(std::string componentID, core::UString title, int parameterCount,
                          FactoryPresetTable presets);
    /// Stops the worker if it still runs, then frees everything.
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

    /// Describes parameter `index`: `key` is its localizable name.
    void AddParameter(const char* key, const char* unitLabel, host::AudioFilterParameterInfoUnit unit, int index,
                      float minimum, float maximum, bool automatable, bool logarithmic = false);
    /// Real value of a parameter (0 for an index out of range). Any thread.
    float Value(int index) const;
    void StoreValue(int index, float value);

    /// Sizes every buffer for N = `fftSize` points (allocates; not while the
    /// worker may run a job, which the engine mutex taken here ensures).
    void SetFFTSize(std::uint32_t fftSize);
    /// The hop for the current N and an impulse of `impulseLength` samples.
    void SetImpulseLengthAndHop(std::uint32_t impulseLength);

    /// Spectra of two real signals of N samples from one complex transform,
    /// bins 0 .. bins - 1 (N when not given). A signal alone is given as both
    /// x and y, with the same arrays for both spectra.
    void ForwardTwoReal(const float* x, const float* y, float* xRe, float* xIm, float* yRe, float* yIm,
                        std::uint32_t bins = 0);
    /// Two real signals from their Hermitian spectra (N bins each) in one
    /// complex transform, each scaled by `scale` (exactly, for a power of
    /// two). A spectrum alone is given as both X and Y, with the same output
    /// array for both.
    void InverseTwoReal(float* x, float* y, const float* xRe, const float* xIm, const float* yRe, const float* yIm,
                        float scale = 1.0f);

    /// The standard block job: per-channel products, or true stereo with the
    /// cross spectra (two channels, `sumInputs` off), or every channel
    /// convolving the average of all inputs (`sumInputs` on).
    void RunStandardJob(bool sumInputs);

    /// The products of a job, bins 0 .. N/2: from the input spectra and the
    /// impulse spectra into the output spectra of `channels` channels, by
    /// the mode `sumInputs` selects. A derived class with another mix of
    /// responses replaces this step only; the transforms stay.
    virtual void MultiplySpectra(bool sumInputs, std::size_t channels);
    /// The last step of a job, after the inverse transforms and before the
    /// done gate opens: a derived class may add to JobOutput here.
    virtual void FinishJob(std::size_t /*channels*/) {}

    /// Block boundary, on the audio thread: collects the pending job (at most
    /// 5 s; on time-out the same result plays again), switches roles,
    /// overlap-adds the previous result's tail and requests the next job.
    void AdvanceBlock();
    /// Zeroes the four time-domain blocks of every channel and restarts the
    /// block. Spectra stay.
    void ClearBuffers();
    /// Forgets the role tables (after a rate or channel change, before the
    /// buffers are rebuilt).
    void ClearRoleTables();

    void StartConvolveThread();
    /// Asks the worker to leave and waits until it has.
    void StopConvolveThread();
    /// Resets the hand-over state before the worker starts: no job pending,
    /// gates closed, no stop request.
    void PrepareHandOver();

    // Buffers by role, for the audio path and the block job.
    float* PlayBuffer(std::size_t channel) { return playBuffer_[channel]; }
    float* FillBuffer(std::size_t channel) { return fillBuffer_[channel]; }
    // A job's time-domain blocks: B input samples (then zeros), N output samples.
    const float* JobInput(std::size_t channel) const { return jobInput_[channel]; }
    float* JobOutput(std::size_t channel) { return jobOutput_[channel]; }
    bool HasRoles() const { return playBuffer_[0] != nullptr; }

    // The impulse's spectra, by impulse channel, and the stereo cross spectra.
    float* ImpulseRe(std::size_t channel) { return channels_[channel].impulseRe.Data(); }
    float* ImpulseIm(std::size_t channel) { return channels_[channel].impulseIm.Data(); }
    float* CrossLeftToRightRe() { return crossLeftToRightRe_.Data(); }
    float* CrossLeftToRightIm() { return crossLeftToRightIm_.Data(); }
    float* CrossRightToLeftRe() { return crossRightToLeftRe_.Data(); }
    float* CrossRightToLeftIm() { return crossRightToLeftIm_.Data(); }
    // A job's spectra, by channel (N values each; a job fills bins 0 .. N/2).
    float* InputSpectrumRe(std::size_t channel) { return channels_[channel].inputSpectrumRe.Data(); }
    float* InputSpectrumIm(std::size_t channel) { return channels_[channel].inputSpectrumIm.Data(); }
    float* OutputSpectrumRe(std::size_t channel) { return channels_[channel].outputSpectrumRe.Data(); }
    float* OutputSpectrumIm(std::size_t channel) { return channels_[channel].outputSpectrumIm.Data(); }
    /// Zero-padded time-domain scratch of N values (two of them), for
    /// transforming impulse channels outside a job.
    float* TransformScratch(int which) { return which == 0 ? scratchC_.Data() : scratchD_.Data(); }

    /// The impulse, interleaved by frame: value of channel k at frame t is at
    /// t * K + k.
    dsp::AlignedBuffer& ImpulseStorage() { return impulse_; }

    std::uint32_t FFTSize() const { return fftSize_; }
    std::uint32_t HopSize() const { return hopSize_; }
    std::uint32_t ImpulseLength() const { return impulseLength_; }
    std::size_t ChannelCount() const { return channelCount_.load(std::memory_order_relaxed); }
    void SetChannelCount(std::size_t count) { channelCount_.store(count, std::memory_order_relaxed); }

    std::recursive_mutex& EngineMutex() { return engineMutex_; }
    std::recursive_mutex& ImpulseMutex() { return impulseMutex_; }

    /// Samples of the current block the audio thread has handled (0 .. B).
    std::uint32_t blockPosition_ = 0;
    /// Set when the rate or channel count changed or a parameter that shapes
    /// the impulse did; the derived class rebuilds at its next chance.
    std::atomic<bool> parametersChanged_{true};
    std::atomic<bool> impulseDirty_{true};
    std::atomic<bool> isProcessing_{false};

private:
    struct Channel {
        dsp::AlignedBuffer inputA, inputB, outputA, outputB;
        dsp::AlignedBuffer impulseRe, impulseIm;
        dsp::AlignedBuffer inputSpectrumRe, inputSpectrumIm;
        dsp::AlignedBuffer outputSpectrumRe, outputSpectrumIm;
    };
    void UseBufferSet(bool setA);
    void WorkerLoop();
    /// InverseTwoReal from bins 0 .. N/2 of each spectrum, the rest taken as
    /// their mirror image.
    void InverseTwoRealFromHalf(float* x, float* y, const float* xRe, const float* xIm, const float* yRe,
                                const float* yIm, float scale);
    /// Inverse transform of the scratch spectrum into x + i y.
    void InverseInto(float* x, float* y);

    const int parameterCount_;
    std::unique_ptr<std::atomic<float>[]> values_;

    std::uint32_t fftSize_ = 0;
    std::uint32_t impulseLength_ = 0;
    std::uint32_t hopSize_ = 0;
    std::atomic<std::size_t> channelCount_{0};
    /// Channels whose buffers are sized for the current N.
    std::size_t sizedChannels_ = 0;
    bool jobPending_ = false;

    std::array<Channel, kMaxChannels> channels_;
    std::array<float*, kMaxChannels> playBuffer_{};
    std::array<float*, kMaxChannels> fillBuffer_{};
    std::array<float*, kMaxChannels> jobInput_{};
    std::array<float*, kMaxChannels> jobOutput_{};

    dsp::AlignedBuffer crossLeftToRightRe_, crossLeftToRightIm_, crossRightToLeftRe_, crossRightToLeftIm_;
    dsp::AlignedBuffer sumRe_, sumIm_;
    // The forward transform's output, and the inverse transform's input.
    dsp::AlignedBuffer scratchA_, scratchB_, scratchC_, scratchD_;
    dsp::IppFFT32 fft_;
    dsp::AlignedBuffer impulse_;

    core::Gate jobRequestGate_{false};
    core::Gate jobDoneGate_{false};
    core::Gate threadExitedGate_{true};
    std::recursive_mutex engineMutex_;
    std::recursive_mutex impulseMutex_;
    std::atomic<bool> stopRequested_{false};
    std::unique_ptr<core::threads::NamedThread> worker_;
};

} // namespace zoc::components

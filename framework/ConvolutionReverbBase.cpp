// Block FFT convolution on a worker thread, shared by the convolution reverbs.

#include "framework/ConvolutionReverbBase.h"

#include <algorithm>
#include <chrono>

#include "dsp/Denormals.h"
#include "framework/ParameterInfo.h"
#include "platform/core/Localizer.h"
#include "primitives/VectorOps.h"

namespace zoc::components {

namespace {

/// How long a block boundary waits for the worker before it plays the same
/// result again rather than stall the audio thread.
constexpr std::chrono::milliseconds kJobTimeout{5000};
/// How often an idle worker looks at the stop request.
constexpr std::chrono::milliseconds kWorkerPoll{20};
/// Above normal: the worker's result is due at the next block boundary.
constexpr core::threads::ThreadPriority kWorkerPriority = 3;

/// (aRe + i aIm)(bRe + i bIm) over `count` bins.
void ComplexMultiply(const float* __restrict aRe, const float* __restrict aIm, const float* __restrict bRe,
                     const float* __restrict bIm, float* __restrict outRe, float* __restrict outIm, std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k) {
        const float re = aRe[k] * bRe[k] - aIm[k] * bIm[k];
        const float im = aRe[k] * bIm[k] + aIm[k] * bRe[k];
        outRe[k] = re;
        outIm[k] = im;
    }
}

/// a * b + c * d for complex bins.
void ComplexMultiplySum(const float* __restrict aRe, const float* __restrict aIm, const float* __restrict bRe,
                        const float* __restrict bIm, const float* __restrict cRe, const float* __restrict cIm,
                        const float* __restrict dRe, const float* __restrict dIm, float* __restrict outRe,
                        float* __restrict outIm, std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k) {
        const float re = (aRe[k] * bRe[k] - aIm[k] * bIm[k]) + (cRe[k] * dRe[k] - cIm[k] * dIm[k]);
        const float im = (aRe[k] * bIm[k] + aIm[k] * bRe[k]) + (cRe[k] * dIm[k] + cIm[k] * dRe[k]);
        outRe[k] = re;
        outIm[k] = im;
    }
}

/// The spectra of x and y from that of z = x + i y, bins 1 .. count - 1.
void SplitSpectra(const float* __restrict zr, const float* __restrict zi, std::size_t n, float* __restrict xRe,
                  float* __restrict xIm, float* __restrict yRe, float* __restrict yIm, std::size_t count)
{
    for (std::size_t k = 1; k < count; ++k) {
        const float mirroredRe = zr[n - k];
        const float mirroredIm = zi[n - k];
        xRe[k] = 0.5f * (zr[k] + mirroredRe);
        xIm[k] = 0.5f * (zi[k] - mirroredIm);
        yRe[k] = 0.5f * (zi[k] + mirroredIm);
        yIm[k] = 0.5f * (mirroredRe - zr[k]);
    }
}

/// The same when x and y are one signal and share their spectrum arrays:
/// what the second write (Y's) leaves there.
void SplitSpectraAlone(const float* __restrict zr, const float* __restrict zi, std::size_t n,
                       float* __restrict re, float* __restrict im, std::size_t count)
{
    for (std::size_t k = 1; k < count; ++k) {
        re[k] = 0.5f * (zi[k] + zi[n - k]);
        im[k] = 0.5f * (zr[n - k] - zr[k]);
    }
}

/// z = (X + iY) * scale over bins 0 .. N/2, and over the upper bins from the
/// mirror images X[N - k] = conj X[k], Y[N - k] = conj Y[k].
void JoinHalfSpectra(const float* __restrict xRe, const float* __restrict xIm, const float* __restrict yRe,
                     const float* __restrict yIm, float scale, std::size_t n, float* __restrict zr,
                     float* __restrict zi)
{
    const std::size_t half = n / 2;
    zr[0] = (xRe[0] - yIm[0]) * scale;
    zi[0] = (xIm[0] + yRe[0]) * scale;
    // Each bin and its mirror image in one pass: the same sums as over the
    // mirrored spectra, term for term.
    for (std::size_t k = 1; k < half; ++k) {
        zr[k] = (xRe[k] - yIm[k]) * scale;
        zi[k] = (xIm[k] + yRe[k]) * scale;
        zr[n - k] = (xRe[k] + yIm[k]) * scale;
        zi[n - k] = (yRe[k] - xIm[k]) * scale;
    }
    if (half > 0) {
        zr[half] = (xRe[half] - yIm[half]) * scale;
        zi[half] = (xIm[half] + yRe[half]) * scale;
    }
}

/// Both outputs of the summed-inputs mode for two channels in one pass: the
/// average spectrum S = (X0 + X1) * factor, then S * H0 and S * H1.
void AverageTimesTwo(const float* __restrict re0, const float* __restrict im0, const float* __restrict re1,
                     const float* __restrict im1, float factor, const float* __restrict h0Re,
                     const float* __restrict h0Im, const float* __restrict h1Re, const float* __restrict h1Im,
                     float* __restrict out0Re, float* __restrict out0Im, float* __restrict out1Re,
                     float* __restrict out1Im, std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k) {
        const float sumRe = (re0[k] + re1[k]) * factor;
        const float sumIm = (im0[k] + im1[k]) * factor;
        out0Re[k] = sumRe * h0Re[k] - sumIm * h0Im[k];
        out0Im[k] = sumRe * h0Im[k] + sumIm * h0Re[k];
        out1Re[k] = sumRe * h1Re[k] - sumIm * h1Im[k];
        out1Im[k] = sumRe * h1Im[k] + sumIm * h1Re[k];
    }
}

} // namespace

ConvolutionReverbBase::ConvolutionReverbBase(std::string componentID, core::UString title, int parameterCount,
                                             FactoryPresetTable presets)
    : MultiChannelComponentBase(std::move(componentID), std::move(title), kMaxChannels, std::move(presets)),
      parameterCount_(std::max(0, parameterCount)),
      values_(std::make_unique<std::atomic<float>[]>(static_cast<std::size_t>(parameterCount_)))
{
    SetHasHighCPU(true);
    SetHasHighLatency(true);
    SetChannelCount(std::min<std::size_t>(GetNumberOfOutputChannels(), kMaxChannels));
    for (int index = 0; index < parameterCount_; ++index)
        values_[static_cast<std::size_t>(index)].store(0.0f, std::memory_order_relaxed);
}

ConvolutionReverbBase::~ConvolutionReverbBase()
{
    // Derived classes stop the worker in their own destructors, while their
    // ConvolveBlock still exists; this only catches one that did not.
    StopConvolveThread();
}

void ConvolutionReverbBase::AddParameter(const char* key, const char* unitLabel,
                                         host::AudioFilterParameterInfoUnit unit, int index, float minimum,
                                         float maximum, bool automatable, bool logarithmic)
{
    AddParameterInfo(static_cast<std::size_t>(index),
                     core::MakeRef<GenericParameterInfo>(core::Localize(key), core::FromUtf8(unitLabel), unit,
                                                         index, minimum, maximum, automatable, logarithmic));
}

float ConvolutionReverbBase::Value(int index) const
{
    if (index < 0 || index >= parameterCount_)
        return 0.0f;
    return values_[static_cast<std::size_t>(index)].load(std::memory_order_relaxed);
}

void ConvolutionReverbBase::StoreValue(int index, float value)
{
    if (index >= 0 && index < parameterCount_)
        values_[static_cast<std::size_t>(index)].store(value, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Sizes and roles

void ConvolutionReverbBase::SetFFTSize(std::uint32_t fftSize)
{
    std::lock_guard lock(engineMutex_);
    fftSize_ = std::max<std::uint32_t>(fftSize, 2);
    fft_.Init(static_cast<int>(fftSize_));
    const std::size_t n = fftSize_;
    for (dsp::AlignedBuffer* buffer : {&scratchA_, &scratchB_, &scratchC_, &scratchD_})
        buffer->Resize(n);
    const std::size_t channels = ChannelCount();
    for (std::size_t c = 0; c < kMaxChannels; ++c) {
        Channel& channel = channels_[c];
        for (dsp::AlignedBuffer* buffer :
             {&channel.inputA, &channel.inputB, &channel.outputA, &channel.outputB, &channel.impulseRe,
              &channel.impulseIm, &channel.inputSpectrumRe, &channel.inputSpectrumIm, &channel.outputSpectrumRe,
              &channel.outputSpectrumIm}) {
            // Channels no longer processed give their memory back.
            if (c < channels)
                buffer->Resize(n);
            else
                buffer->Release();
        }
    }
    sizedChannels_ = channels;
    for (dsp::AlignedBuffer* buffer :
         {&crossLeftToRightRe_, &crossLeftToRightIm_, &crossRightToLeftRe_, &crossRightToLeftIm_})
        buffer->Resize(n);
    sumRe_.Resize(n / 2 + 1);
    sumIm_.Resize(n / 2 + 1);
    // The buffers may have moved: the derived class picks a role set again.
    ClearRoleTables();
}

void ConvolutionReverbBase::SetImpulseLengthAndHop(std::uint32_t impulseLength)
{
    impulseLength_ = impulseLength;
    hopSize_ = fftSize_ - impulseLength + 1;
}

void ConvolutionReverbBase::ClearRoleTables()
{
    std::lock_guard lock(engineMutex_);
    playBuffer_.fill(nullptr);
    fillBuffer_.fill(nullptr);
    jobInput_.fill(nullptr);
    jobOutput_.fill(nullptr);
}

void ConvolutionReverbBase::UseBufferSet(bool setA)
{
    std::lock_guard lock(engineMutex_);
    const std::size_t channels = std::min(ChannelCount(), sizedChannels_);
    for (std::size_t c = 0; c < kMaxChannels; ++c) {
        Channel& channel = channels_[c];
        const bool sized = c < channels;
        playBuffer_[c] = sized ? (setA ? channel.outputA : channel.outputB).Data() : nullptr;
        jobOutput_[c] = sized ? (setA ? channel.outputB : channel.outputA).Data() : nullptr;
        fillBuffer_[c] = sized ? (setA ? channel.inputA : channel.inputB).Data() : nullptr;
        jobInput_[c] = sized ? (setA ? channel.inputB : channel.inputA).Data() : nullptr;
    }
}

void ConvolutionReverbBase::UseBufferSetA()
{
    UseBufferSet(true);
}

void ConvolutionReverbBase::UseBufferSetB()
{
    UseBufferSet(false);
}

void ConvolutionReverbBase::ClearBuffers()
{
    std::lock_guard lock(engineMutex_);
    blockPosition_ = 0;
    for (std::size_t c = 0; c < sizedChannels_; ++c) {
        Channel& channel = channels_[c];
        channel.inputA.Zero();
        channel.inputB.Zero();
        channel.outputA.Zero();
        channel.outputB.Zero();
    }
}

// ---------------------------------------------------------------------------
// Transforms

void ConvolutionReverbBase::ForwardTwoReal(const float* x, const float* y, float* xRe, float* xIm, float* yRe,
                                           float* yIm, std::uint32_t bins)
{
    const std::size_t n = fftSize_;
    const std::size_t count = bins == 0 ? n : std::min<std::size_t>(bins, n);
    float* zr = scratchA_.Data();
    float* zi = scratchB_.Data();
    fft_.Forward(x, y, zr, zi);
    // z = x + i y, so X[k] = (Z[k] + conj Z[N - k]) / 2 and
    // Y[k] = (Z[k] - conj Z[N - k]) / 2i.
    const float r0 = zr[0];
    const float i0 = zi[0];
    xRe[0] = r0;
    xIm[0] = 0.0f;
    yRe[0] = i0;
    yIm[0] = 0.0f;
    if (xRe == yRe && xIm == yIm)
        SplitSpectraAlone(zr, zi, n, xRe, xIm, count);
    else
        SplitSpectra(zr, zi, n, xRe, xIm, yRe, yIm, count);
}

void ConvolutionReverbBase::InverseTwoReal(float* x, float* y, const float* xRe, const float* xIm, const float* yRe,
                                           const float* yIm, float scale)
{
    const std::size_t n = fftSize_;
    float* zr = scratchC_.Data();
    float* zi = scratchD_.Data();
    // z = x + i y has the spectrum X + iY.
    for (std::size_t k = 0; k < n; ++k) {
        zr[k] = (xRe[k] - yIm[k]) * scale;
        zi[k] = (xIm[k] + yRe[k]) * scale;
    }
    InverseInto(x, y);
}

void ConvolutionReverbBase::InverseTwoRealFromHalf(float* x, float* y, const float* xRe, const float* xIm,
                                                   const float* yRe, const float* yIm, float scale)
{
    const std::size_t n = fftSize_;
    JoinHalfSpectra(xRe, xIm, yRe, yIm, scale, n, scratchC_.Data(), scratchD_.Data());
    InverseInto(x, y);
}

void ConvolutionReverbBase::InverseInto(float* x, float* y)
{
    if (x != y) {
        fft_.Inverse(scratchC_.Data(), scratchD_.Data(), x, y);
        return;
    }
    // One signal alone: both parts are the signal; keep the imaginary one,
    // as if the two outputs had been written in turn.
    fft_.Inverse(scratchC_.Data(), scratchD_.Data(), scratchA_.Data(), scratchB_.Data());
    primitives::Copy(scratchB_.Data(), x, fftSize_);
}


// ---------------------------------------------------------------------------
// The block job

void ConvolutionReverbBase::MultiplySpectra(bool sumInputs, std::size_t channels)
{
    const std::size_t bins = fftSize_ / 2 + 1;
    if (sumInputs) {
        // The average of the input spectra: channel 0, plus the others in
        // order, times 1/channels.
        const float average = 1.0f / static_cast<float>(channels);
        if (channels == 2) {
            // The common case in one pass, the average kept in registers.
            Channel& left = channels_[0];
            Channel& right = channels_[1];
            AverageTimesTwo(left.inputSpectrumRe.Data(), left.inputSpectrumIm.Data(), right.inputSpectrumRe.Data(),
                            right.inputSpectrumIm.Data(), average, left.impulseRe.Data(), left.impulseIm.Data(),
                            right.impulseRe.Data(), right.impulseIm.Data(), left.outputSpectrumRe.Data(),
                            left.outputSpectrumIm.Data(), right.outputSpectrumRe.Data(),
                            right.outputSpectrumIm.Data(), bins);
            return;
        }
        float* sumRe = sumRe_.Data();
        float* sumIm = sumIm_.Data();
        primitives::Copy(channels_[0].inputSpectrumRe.Data(), sumRe, bins);
        primitives::Copy(channels_[0].inputSpectrumIm.Data(), sumIm, bins);
        for (std::size_t c = 1; c < channels; ++c) {
            primitives::AddInPlace(channels_[c].inputSpectrumRe.Data(), sumRe, bins);
            primitives::AddInPlace(channels_[c].inputSpectrumIm.Data(), sumIm, bins);
        }
        primitives::ScaleInPlace(sumRe, average, bins);
        primitives::ScaleInPlace(sumIm, average, bins);
        for (std::size_t c = 0; c < channels; ++c) {
            Channel& channel = channels_[c];
            ComplexMultiply(sumRe, sumIm, channel.impulseRe.Data(), channel.impulseIm.Data(),
                            channel.outputSpectrumRe.Data(), channel.outputSpectrumIm.Data(), bins);
        }
        return;
    }
    if (channels == 2) {
        // True stereo: each output hears its own input through its direct
        // response and the other input through a cross response.
        Channel& left = channels_[0];
        Channel& right = channels_[1];
        ComplexMultiplySum(left.inputSpectrumRe.Data(), left.inputSpectrumIm.Data(), left.impulseRe.Data(),
                           left.impulseIm.Data(), right.inputSpectrumRe.Data(), right.inputSpectrumIm.Data(),
                           crossRightToLeftRe_.Data(), crossRightToLeftIm_.Data(), left.outputSpectrumRe.Data(),
                           left.outputSpectrumIm.Data(), bins);
        ComplexMultiplySum(right.inputSpectrumRe.Data(), right.inputSpectrumIm.Data(), right.impulseRe.Data(),
                           right.impulseIm.Data(), left.inputSpectrumRe.Data(), left.inputSpectrumIm.Data(),
                           crossLeftToRightRe_.Data(), crossLeftToRightIm_.Data(), right.outputSpectrumRe.Data(),
                           right.outputSpectrumIm.Data(), bins);
        return;
    }
    for (std::size_t c = 0; c < channels; ++c) {
        Channel& channel = channels_[c];
        ComplexMultiply(channel.inputSpectrumRe.Data(), channel.inputSpectrumIm.Data(), channel.impulseRe.Data(),
                        channel.impulseIm.Data(), channel.outputSpectrumRe.Data(), channel.outputSpectrumIm.Data(),
                        bins);
    }
}

void ConvolutionReverbBase::RunStandardJob(bool sumInputs)
{
    std::lock_guard lock(engineMutex_);
    const std::size_t channels = std::min(ChannelCount(), sizedChannels_);
    if (channels == 0 || jobInput_[0] == nullptr) {
        jobDoneGate_.Open();
        return;
    }
    const std::size_t n = fftSize_;
    const std::size_t half = n / 2;
    const auto bins = static_cast<std::uint32_t>(half + 1);

    // Only bins 0 .. N/2 of the input spectra are needed: the products are
    // formed there and mirrored.
    std::size_t c = 0;
    for (; c + 1 < channels; c += 2) {
        Channel& first = channels_[c];
        Channel& second = channels_[c + 1];
        ForwardTwoReal(jobInput_[c], jobInput_[c + 1], first.inputSpectrumRe.Data(), first.inputSpectrumIm.Data(),
                       second.inputSpectrumRe.Data(), second.inputSpectrumIm.Data(), bins);
    }
    if (c < channels) {
        Channel& last = channels_[c];
        ForwardTwoReal(jobInput_[c], jobInput_[c], last.inputSpectrumRe.Data(), last.inputSpectrumIm.Data(),
                       last.inputSpectrumRe.Data(), last.inputSpectrumIm.Data(), bins);
    }

    MultiplySpectra(sumInputs, channels);

    // A real result has a Hermitian spectrum: the upper half of each product
    // mirrors the lower one, and is formed on the way into the inverse
    // transform. Its 1/N is applied there too: a power of two, so the result
    // is the same as scaling afterwards.
    const float scale = 1.0f / static_cast<float>(n);
    for (c = 0; c + 1 < channels; c += 2) {
        Channel& first = channels_[c];
        Channel& second = channels_[c + 1];
        InverseTwoRealFromHalf(jobOutput_[c], jobOutput_[c + 1], first.outputSpectrumRe.Data(),
                               first.outputSpectrumIm.Data(), second.outputSpectrumRe.Data(),
                               second.outputSpectrumIm.Data(), scale);
    }
    if (c < channels) {
        Channel& last = channels_[c];
        InverseTwoRealFromHalf(jobOutput_[c], jobOutput_[c], last.outputSpectrumRe.Data(),
                               last.outputSpectrumIm.Data(), last.outputSpectrumRe.Data(),
                               last.outputSpectrumIm.Data(), scale);
    }
    FinishJob(channels);
    jobDoneGate_.Open();
}

// ---------------------------------------------------------------------------
// Block boundary and worker

void ConvolutionReverbBase::AdvanceBlock()
{
    if (jobPending_) {
        if (!jobDoneGate_.Wait(kJobTimeout)) {
            // The worker is late: play this block's result again rather
            // than stall; the job stays pending.
            blockPosition_ = 0;
            return;
        }
        jobDoneGate_.Close();
        jobPending_ = false;
    }
    blockPosition_ = 0;
    if (!HasRoles())
        return;
    if (playBuffer_[0] != channels_[0].outputA.Data())
        UseBufferSetA();
    else
        UseBufferSetB();

    // The previous result's first B samples have been heard; its tail runs
    // on into the new one.
    const std::size_t channels = std::min(ChannelCount(), sizedChannels_);
    const std::size_t tail = fftSize_ - hopSize_;
    for (std::size_t c = 0; c < channels; ++c)
        primitives::AddInPlace(jobOutput_[c] + hopSize_, playBuffer_[c], tail);

    jobPending_ = true;
    if (worker_ && !stopRequested_.load(std::memory_order_relaxed))
        jobRequestGate_.Open();
    else
        ConvolveBlock(); // no worker (processing while suspended): do the job here
}

void ConvolutionReverbBase::PrepareHandOver()
{
    jobPending_ = false;
    jobRequestGate_.Close();
    jobDoneGate_.Close();
    threadExitedGate_.Close();
    stopRequested_.store(false, std::memory_order_relaxed);
}

void ConvolutionReverbBase::WorkerLoop()
{
    dsp::ScopedFlushDenormals flushDenormals;
    while (!stopRequested_.load(std::memory_order_relaxed)) {
        if (!jobRequestGate_.Wait(kWorkerPoll))
            continue;
        if (stopRequested_.load(std::memory_order_relaxed))
            break;
        jobRequestGate_.Close();
        ConvolveBlock();
    }
    threadExitedGate_.Open();
}

void ConvolutionReverbBase::StartConvolveThread()
{
    StopConvolveThread();
    threadExitedGate_.Close();
    stopRequested_.store(false, std::memory_order_relaxed);
    worker_ = core::threads::CreateNamedThread("ConvolveThread", [this] { WorkerLoop(); }, kWorkerPriority);
}

void ConvolutionReverbBase::StopConvolveThread()
{
    if (!worker_)
        return;
    stopRequested_.store(true, std::memory_order_relaxed);
    jobRequestGate_.Open(); // wakes an idle worker at once
    threadExitedGate_.Wait();
    worker_.reset(); // joins
    jobRequestGate_.Close();
}

} // namespace zoc::components

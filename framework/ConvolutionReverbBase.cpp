// Block FFT convolution on a worker thread, shared by the convolution reverbs.

#include "framework/ConvolutionReverbBase.h"

#include <algorithm>
#include <bit>
#include <chrono>

#include "dsp/Denormals.h"
#include "dsp/TargetClones.h"
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
/// Normal: a rebuild may take seconds and must not crowd out the jobs.
constexpr core::threads::ThreadPriority kImpulseWorkerPriority = 2;

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

/// Two channels' whole spectral step in one pass over bins 0 .. N/2, in
/// place: the split of Z, the forward transform of x0 + i x1; the products
/// (the average of both inputs through each channel's response when `kSum`,
/// else true stereo: each input through its own response plus the other
/// through a cross response); and the join of both results, scaled, into the
/// inverse transform's input, written over Z. Term for term the arithmetic
/// of SplitSpectra, AverageTimesTwo or ComplexMultiplySum, and
/// JoinHalfSpectra in turn, so the result is the same, without writing and
/// reading back six arrays; working in place keeps the job's spectra in
/// half the cache.
///
/// Bins 0 .. N/2 come as `lowRe`/`lowIm` (Z itself) and bins N/2 + 1 ..
/// N - 1 through `highRe`/`highIm` (Z + N/2, so bin N - k is at N/2 - k):
/// the two halves never overlap, which lets the loop be vectorised.
template <bool kSum>
ZOC_TARGET_CLONES void FusedStereoStep(float* __restrict lowRe, float* __restrict lowIm,
                                       float* __restrict highRe, float* __restrict highIm, std::size_t n,
                                       float factor, const float* __restrict h0Re, const float* __restrict h0Im,
                                       const float* __restrict h1Re, const float* __restrict h1Im,
                                       const float* __restrict rightToLeftRe, const float* __restrict rightToLeftIm,
                                       const float* __restrict leftToRightRe, const float* __restrict leftToRightIm,
                                       float scale)
{
    const std::size_t half = n / 2;
    const auto bin = [&](std::size_t k, float x0Re, float x0Im, float x1Re, float x1Im, float& o0Re, float& o0Im,
                         float& o1Re, float& o1Im) {
        if constexpr (kSum) {
            const float sumRe = (x0Re + x1Re) * factor;
            const float sumIm = (x0Im + x1Im) * factor;
            o0Re = sumRe * h0Re[k] - sumIm * h0Im[k];
            o0Im = sumRe * h0Im[k] + sumIm * h0Re[k];
            o1Re = sumRe * h1Re[k] - sumIm * h1Im[k];
            o1Im = sumRe * h1Im[k] + sumIm * h1Re[k];
        } else {
            o0Re = (x0Re * h0Re[k] - x0Im * h0Im[k]) + (x1Re * rightToLeftRe[k] - x1Im * rightToLeftIm[k]);
            o0Im = (x0Re * h0Im[k] + x0Im * h0Re[k]) + (x1Re * rightToLeftIm[k] + x1Im * rightToLeftRe[k]);
            o1Re = (x1Re * h1Re[k] - x1Im * h1Im[k]) + (x0Re * leftToRightRe[k] - x0Im * leftToRightIm[k]);
            o1Im = (x1Re * h1Im[k] + x1Im * h1Re[k]) + (x0Re * leftToRightIm[k] + x0Im * leftToRightRe[k]);
        }
    };
    float o0Re, o0Im, o1Re, o1Im;
    // Bin 0 of a real signal's spectrum is real.
    bin(0, lowRe[0], 0.0f, lowIm[0], 0.0f, o0Re, o0Im, o1Re, o1Im);
    lowRe[0] = (o0Re - o1Im) * scale;
    lowIm[0] = (o0Im + o1Re) * scale;
    for (std::size_t k = 1; k < half; ++k) {
        const float zRe = lowRe[k];
        const float zIm = lowIm[k];
        const float mirroredRe = highRe[half - k];
        const float mirroredIm = highIm[half - k];
        bin(k, 0.5f * (zRe + mirroredRe), 0.5f * (zIm - mirroredIm), 0.5f * (zIm + mirroredIm),
            0.5f * (mirroredRe - zRe), o0Re, o0Im, o1Re, o1Im);
        lowRe[k] = (o0Re - o1Im) * scale;
        lowIm[k] = (o0Im + o1Re) * scale;
        highRe[half - k] = (o0Re + o1Im) * scale;
        highIm[half - k] = (o1Re - o0Im) * scale;
    }
    if (half > 0) {
        const float zRe = lowRe[half];
        const float zIm = lowIm[half];
        bin(half, 0.5f * (zRe + zRe), 0.5f * (zIm - zIm), 0.5f * (zIm + zIm), 0.5f * (zRe - zRe), o0Re, o0Im, o1Re,
            o1Im);
        lowRe[half] = (o0Re - o1Im) * scale;
        lowIm[half] = (o0Im + o1Re) * scale;
    }
}

/// The overlap-add at a block boundary: `data` += `source`.
ZOC_TARGET_CLONES void AddTail(const float* __restrict source, float* __restrict data, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        data[i] = data[i] + source[i];
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
    // Snapshots are sized once, so taking and copying one never allocates.
    const auto count = static_cast<std::size_t>(parameterCount_);
    for (SettingsSnapshot* snapshot : {&current_, &snapshot_, &request_, &building_, &buffers_[0].builtFrom_,
                                       &buffers_[1].builtFrom_})
        snapshot->values.assign(count, 0.0f);
}

ConvolutionReverbBase::~ConvolutionReverbBase()
{
    // Derived classes stop the workers in their own destructors, while their
    // ConvolveBlock and BuildImpulse still exist; this only catches one that
    // did not.
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

void ConvolutionReverbBase::SetWorkerHooks(std::function<void()> jobHook, std::function<void()> buildHook)
{
    jobHook_ = std::move(jobHook);
    buildHook_ = std::move(buildHook);
}

// ---------------------------------------------------------------------------
// Buffers of one impulse

void ConvolutionReverbBase::EngineBuffers::SetSizes(std::uint32_t fftSize, std::uint32_t impulseLength,
                                                    std::uint32_t impulseChannels, std::size_t channels)
{
    fftSize_ = std::max<std::uint32_t>(fftSize, 2);
    impulseLength_ = std::min(impulseLength, fftSize_);
    hopSize_ = fftSize_ - impulseLength_ + 1;
    impulseChannels_ = impulseChannels;
    sizedChannels_ = std::min<std::size_t>(channels, kMaxChannels);
    built_ = false;
    fft_.Init(static_cast<int>(fftSize_));
    const std::size_t n = fftSize_;
    for (dsp::AlignedBuffer* buffer : {&scratchA_, &scratchB_, &scratchC_, &scratchD_})
        buffer->Resize(n);
    for (std::size_t c = 0; c < kMaxChannels; ++c) {
        Channel& channel = channels_[c];
        for (dsp::AlignedBuffer* buffer :
             {&channel.inputA, &channel.inputB, &channel.outputA, &channel.outputB, &channel.impulseRe,
              &channel.impulseIm, &channel.inputSpectrumRe, &channel.inputSpectrumIm, &channel.outputSpectrumRe,
              &channel.outputSpectrumIm}) {
            // Channels not processed give their memory back.
            if (c < sizedChannels_) {
                buffer->Resize(n);
                buffer->Zero();
            } else {
                buffer->Release();
            }
        }
    }
    for (dsp::AlignedBuffer* buffer :
         {&crossLeftToRightRe_, &crossLeftToRightIm_, &crossRightToLeftRe_, &crossRightToLeftIm_}) {
        buffer->Resize(n);
        buffer->Zero();
    }
    sumRe_.Resize(n / 2 + 1);
    sumIm_.Resize(n / 2 + 1);
    mixA_.Resize(2 * n);
    mixB_.Resize(2 * n);
    impulse_.Resize(static_cast<std::size_t>(impulseChannels_) * impulseLength_);
    impulse_.Zero();
}

void ConvolutionReverbBase::EngineBuffers::ZeroTimeBlocks()
{
    for (std::size_t c = 0; c < sizedChannels_; ++c) {
        Channel& channel = channels_[c];
        channel.inputA.Zero();
        channel.inputB.Zero();
        channel.outputA.Zero();
        channel.outputB.Zero();
    }
}

void ConvolutionReverbBase::EngineBuffers::ForwardTwoReal(const float* x, const float* y, float* xRe, float* xIm,
                                                          float* yRe, float* yIm, std::uint32_t bins)
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

void ConvolutionReverbBase::EngineBuffers::InverseTwoReal(float* x, float* y, const float* xRe, const float* xIm,
                                                          const float* yRe, const float* yIm, float scale)
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

void ConvolutionReverbBase::EngineBuffers::InverseTwoRealFromHalf(float* x, float* y, const float* xRe,
                                                                  const float* xIm, const float* yRe,
                                                                  const float* yIm, float scale)
{
    JoinHalfSpectra(xRe, xIm, yRe, yIm, scale, fftSize_, scratchC_.Data(), scratchD_.Data());
    InverseInto(x, y);
}

void ConvolutionReverbBase::EngineBuffers::InverseInto(float* x, float* y)
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
// Roles

void ConvolutionReverbBase::ClearRoleTables()
{
    std::lock_guard lock(engineMutex_);
    playBuffer_.fill(nullptr);
    playingHop_.store(0, std::memory_order_relaxed);
    fillBuffer_.fill(nullptr);
    jobInput_.fill(nullptr);
    jobOutput_.fill(nullptr);
    mix_ = nullptr;
}

void ConvolutionReverbBase::UseBufferSet(bool setA)
{
    std::lock_guard lock(engineMutex_);
    EngineBuffers& engine = *active_;
    // Buffers sized for another channel count than the one processed now
    // (a change not yet rebuilt) are not used.
    const bool usable = engine.built_ && engine.sizedChannels_ == ChannelCount();
    for (std::size_t c = 0; c < kMaxChannels; ++c) {
        EngineBuffers::Channel& channel = engine.channels_[c];
        const bool sized = usable && c < engine.sizedChannels_;
        playBuffer_[c] = sized ? (setA ? channel.outputA : channel.outputB).Data() : nullptr;
        jobOutput_[c] = sized ? (setA ? channel.outputB : channel.outputA).Data() : nullptr;
        fillBuffer_[c] = sized ? (setA ? channel.inputA : channel.inputB).Data() : nullptr;
        jobInput_[c] = sized ? (setA ? channel.inputB : channel.inputA).Data() : nullptr;
    }
    mix_ = usable ? (setA ? engine.mixA_ : engine.mixB_).Data() : nullptr;
    playingHop_.store(usable ? engine.hopSize_ : 0, std::memory_order_relaxed);
}

int ConvolutionReverbBase::PlayingLatency() const
{
    // Offline, a change takes effect at the next block, so the settings'
    // latency is what renders; suspended, nothing plays.
    if (!isProcessing_.load(std::memory_order_relaxed) || RendersOffline())
        return 0;
    return static_cast<int>(2 * playingHop_.load(std::memory_order_relaxed));
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
    active_->ZeroTimeBlocks();
}

// ---------------------------------------------------------------------------
// Impulse rebuilds

bool ConvolutionReverbBase::SameImpulse(const SettingsSnapshot& a, const SettingsSnapshot& b) const
{
    return a.sampleRate == b.sampleRate && a.channels == b.channels && a.values == b.values;
}

void ConvolutionReverbBase::TakeSnapshot(SettingsSnapshot& snapshot) const
{
    snapshot.sampleRate = GetSampleRate();
    snapshot.channels = ChannelCount();
    for (int index = 0; index < parameterCount_; ++index)
        snapshot.values[static_cast<std::size_t>(index)] = Value(index);
}

void ConvolutionReverbBase::CopySnapshot(const SettingsSnapshot& from, SettingsSnapshot& to)
{
    to.sampleRate = from.sampleRate;
    to.channels = from.channels;
    std::copy(from.values.begin(), from.values.end(), to.values.begin());
}

void ConvolutionReverbBase::BuildSpare(const SettingsSnapshot& settings)
{
    EngineBuffers& spare = *spare_;
    BuildImpulse(settings, spare);
    // Whatever the build left in the time-domain blocks, they start silent.
    spare.ZeroTimeBlocks();
    CopySnapshot(settings, spare.builtFrom_);
    spare.built_ = true;
}

void ConvolutionReverbBase::InstallSpare()
{
    std::lock_guard lock(engineMutex_);
    std::swap(active_, spare_);
    blockPosition_ = 0;
    jobPending_ = false;
    // The new impulse starts from silence, exactly as after Resume.
    UseBufferSetA();
    spareReady_.store(false, std::memory_order_release);
    // A change that came during the build is built next.
    rebuildPending_.store(requestWaiting_.load(std::memory_order_relaxed), std::memory_order_release);
}

bool ConvolutionReverbBase::InstallSpareInPlace()
{
    EngineBuffers& next = *spare_;
    EngineBuffers& now = *active_;
    if (next.fftSize_ != now.fftSize_ || next.hopSize_ != now.hopSize_ ||
        next.sizedChannels_ != now.sizedChannels_ || !HasRoles())
        return false;
    std::lock_guard lock(engineMutex_);
    // The time-domain blocks change owner, not place: the role tables stay
    // valid and the blocks go on. Moving them allocates nothing.
    for (std::size_t c = 0; c < now.sizedChannels_; ++c) {
        std::swap(now.channels_[c].inputA, next.channels_[c].inputA);
        std::swap(now.channels_[c].inputB, next.channels_[c].inputB);
        std::swap(now.channels_[c].outputA, next.channels_[c].outputA);
        std::swap(now.channels_[c].outputB, next.channels_[c].outputB);
    }
    std::swap(now.mixA_, next.mixA_);
    std::swap(now.mixB_, next.mixB_);
    std::swap(active_, spare_);
    spareReady_.store(false, std::memory_order_release);
    rebuildPending_.store(requestWaiting_.load(std::memory_order_relaxed), std::memory_order_release);
    return true;
}

void ConvolutionReverbBase::UpdateImpulse()
{
    if (!impulseDirty_.exchange(false, std::memory_order_acq_rel))
        return;
    TakeSnapshot(snapshot_);
    const bool running = impulseWorker_ != nullptr && !stopRequested_.load(std::memory_order_relaxed);
    if (!running || RendersOffline())
        RebuildImpulseNow(true);
    else
        RequestRebuild();
    RestartIfActiveFits();
}

void ConvolutionReverbBase::RequestRebuild()
{
    // The newest impulse installed or asked for already fits.
    if (active_->built_ && SameImpulse(snapshot_, current_))
        return;
    // The worker copies the request under this lock for a moment; when it
    // does, the change is taken up at the next block instead of waiting.
    std::unique_lock lock(requestMutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        impulseDirty_.store(true, std::memory_order_release);
        return;
    }
    CopySnapshot(snapshot_, request_);
    requestWaiting_.store(true, std::memory_order_relaxed);
    lock.unlock();
    CopySnapshot(snapshot_, current_);
    rebuildPending_.store(true, std::memory_order_release);
    rebuildGate_.Open();
}

void ConvolutionReverbBase::RestartIfActiveFits()
{
    // A rate or layout change cleared the role tables. When it came back
    // before this block, the impulse in use fits again and no install will
    // set the roles: the impulse plays on from silence, as after Resume. An
    // impulse built for another rate or layout never plays; the next
    // install sets the roles then.
    const EngineBuffers& engine = *active_;
    if (HasRoles() || !engine.built_ || engine.sizedChannels_ != ChannelCount() ||
        engine.builtFrom_.sampleRate != GetSampleRate())
        return;
    // The job in flight, if any, ran on the old roles; it is collected
    // before the blocks are cleared under it.
    if (jobPending_) {
        if (jobDoneGate_.Wait(kJobTimeout))
            jobDoneGate_.Close();
        jobPending_ = false;
    }
    ClearBuffers();
    UseBufferSetA();
}

void ConvolutionReverbBase::RebuildImpulseNow(bool keepBlocks)
{
    impulseDirty_.store(false, std::memory_order_relaxed);
    TakeSnapshot(snapshot_);
    // A job in flight finishes before its buffers change hands.
    if (jobPending_) {
        if (jobDoneGate_.Wait(kJobTimeout))
            jobDoneGate_.Close();
        jobPending_ = false;
    }
    {
        // Waits for a build the worker may be running, and keeps it from
        // starting another meanwhile.
        std::lock_guard build(buildMutex_);
        {
            std::lock_guard lock(requestMutex_);
            requestWaiting_.store(false, std::memory_order_relaxed);
        }
        const bool readyFits = spareReady_.load(std::memory_order_acquire) && spare_->built_ &&
                               SameImpulse(snapshot_, spare_->builtFrom_);
        const bool activeFits = active_->built_ && SameImpulse(snapshot_, active_->builtFrom_);
        if (readyFits || !activeFits) {
            if (!readyFits)
                BuildSpare(snapshot_);
            if (!keepBlocks || !InstallSpareInPlace())
                InstallSpare();
        } else {
            spareReady_.store(false, std::memory_order_release);
            if (!keepBlocks) {
                ClearBuffers();
                UseBufferSetA();
            }
        }
        CopySnapshot(snapshot_, current_);
        rebuildPending_.store(false, std::memory_order_release);
    }
}

void ConvolutionReverbBase::ImpulseWorkerLoop()
{
    dsp::ScopedFlushDenormals flushDenormals;
    while (!stopRequested_.load(std::memory_order_relaxed)) {
        if (!rebuildGate_.Wait(kWorkerPoll))
            continue;
        rebuildGate_.Close();
        if (stopRequested_.load(std::memory_order_relaxed))
            break;
        // A finished build waits for the audio thread to install it, which
        // opens the gate again.
        if (spareReady_.load(std::memory_order_acquire))
            continue;
        std::lock_guard build(buildMutex_);
        {
            std::lock_guard lock(requestMutex_);
            if (!requestWaiting_.load(std::memory_order_relaxed))
                continue;
            CopySnapshot(request_, building_);
            requestWaiting_.store(false, std::memory_order_relaxed);
        }
        if (buildHook_)
            buildHook_();
        BuildSpare(building_);
        spareReady_.store(true, std::memory_order_release);
    }
    threadExitedGate_.Open();
}

// ---------------------------------------------------------------------------
// The block job

void ConvolutionReverbBase::MultiplySpectra(bool sumInputs, std::size_t channels)
{
    EngineBuffers& engine = *active_;
    const std::size_t bins = engine.fftSize_ / 2 + 1;
    if (sumInputs) {
        // The average of the input spectra: channel 0, plus the others in
        // order, times 1/channels.
        const float average = 1.0f / static_cast<float>(channels);
        if (channels == 2) {
            // The common case in one pass, the average kept in registers.
            EngineBuffers::Channel& left = engine.channels_[0];
            EngineBuffers::Channel& right = engine.channels_[1];
            AverageTimesTwo(left.inputSpectrumRe.Data(), left.inputSpectrumIm.Data(), right.inputSpectrumRe.Data(),
                            right.inputSpectrumIm.Data(), average, left.impulseRe.Data(), left.impulseIm.Data(),
                            right.impulseRe.Data(), right.impulseIm.Data(), left.outputSpectrumRe.Data(),
                            left.outputSpectrumIm.Data(), right.outputSpectrumRe.Data(),
                            right.outputSpectrumIm.Data(), bins);
            return;
        }
        float* sumRe = engine.sumRe_.Data();
        float* sumIm = engine.sumIm_.Data();
        primitives::Copy(engine.channels_[0].inputSpectrumRe.Data(), sumRe, bins);
        primitives::Copy(engine.channels_[0].inputSpectrumIm.Data(), sumIm, bins);
        for (std::size_t c = 1; c < channels; ++c) {
            primitives::AddInPlace(engine.channels_[c].inputSpectrumRe.Data(), sumRe, bins);
            primitives::AddInPlace(engine.channels_[c].inputSpectrumIm.Data(), sumIm, bins);
        }
        primitives::ScaleInPlace(sumRe, average, bins);
        primitives::ScaleInPlace(sumIm, average, bins);
        for (std::size_t c = 0; c < channels; ++c) {
            EngineBuffers::Channel& channel = engine.channels_[c];
            ComplexMultiply(sumRe, sumIm, channel.impulseRe.Data(), channel.impulseIm.Data(),
                            channel.outputSpectrumRe.Data(), channel.outputSpectrumIm.Data(), bins);
        }
        return;
    }
    if (channels == 2) {
        // True stereo: each output hears its own input through its direct
        // response and the other input through a cross response.
        EngineBuffers::Channel& left = engine.channels_[0];
        EngineBuffers::Channel& right = engine.channels_[1];
        ComplexMultiplySum(left.inputSpectrumRe.Data(), left.inputSpectrumIm.Data(), left.impulseRe.Data(),
                           left.impulseIm.Data(), right.inputSpectrumRe.Data(), right.inputSpectrumIm.Data(),
                           engine.crossRightToLeftRe_.Data(), engine.crossRightToLeftIm_.Data(),
                           left.outputSpectrumRe.Data(), left.outputSpectrumIm.Data(), bins);
        ComplexMultiplySum(right.inputSpectrumRe.Data(), right.inputSpectrumIm.Data(), right.impulseRe.Data(),
                           right.impulseIm.Data(), left.inputSpectrumRe.Data(), left.inputSpectrumIm.Data(),
                           engine.crossLeftToRightRe_.Data(), engine.crossLeftToRightIm_.Data(),
                           right.outputSpectrumRe.Data(), right.outputSpectrumIm.Data(), bins);
        return;
    }
    for (std::size_t c = 0; c < channels; ++c) {
        EngineBuffers::Channel& channel = engine.channels_[c];
        ComplexMultiply(channel.inputSpectrumRe.Data(), channel.inputSpectrumIm.Data(), channel.impulseRe.Data(),
                        channel.impulseIm.Data(), channel.outputSpectrumRe.Data(), channel.outputSpectrumIm.Data(),
                        bins);
    }
}

void ConvolutionReverbBase::RunStandardJob(bool sumInputs, bool fuseProducts)
{
    std::lock_guard lock(engineMutex_);
    EngineBuffers& engine = *active_;
    const std::size_t channels = std::min(ChannelCount(), engine.sizedChannels_);
    if (channels == 0 || jobInput_[0] == nullptr) {
        jobDoneGate_.Open();
        return;
    }
    const std::size_t n = engine.fftSize_;
    if (fuseProducts && channels == 2) {
        // Forward transform, one pass over the bins, inverse transform.
        float* zr = engine.scratchA_.Data();
        float* zi = engine.scratchB_.Data();
        engine.fft_.Forward(jobInput_[0], jobInput_[1], zr, zi);
        const EngineBuffers::Channel& left = engine.channels_[0];
        const EngineBuffers::Channel& right = engine.channels_[1];
        const std::size_t half = n / 2;
        const auto step = sumInputs ? FusedStereoStep<true> : FusedStereoStep<false>;
        step(zr, zi, zr + half, zi + half, n, 0.5f, left.impulseRe.Data(), left.impulseIm.Data(),
             right.impulseRe.Data(), right.impulseIm.Data(), engine.crossRightToLeftRe_.Data(),
             engine.crossRightToLeftIm_.Data(), engine.crossLeftToRightRe_.Data(), engine.crossLeftToRightIm_.Data(),
             1.0f / static_cast<float>(n));
        engine.fft_.Inverse(zr, zi, jobOutput_[0], jobOutput_[1]);
        jobDoneGate_.Open();
        return;
    }
    const std::size_t half = n / 2;
    const auto bins = static_cast<std::uint32_t>(half + 1);

    // Only bins 0 .. N/2 of the input spectra are needed: the products are
    // formed there and mirrored.
    std::size_t c = 0;
    for (; c + 1 < channels; c += 2) {
        EngineBuffers::Channel& first = engine.channels_[c];
        EngineBuffers::Channel& second = engine.channels_[c + 1];
        engine.ForwardTwoReal(jobInput_[c], jobInput_[c + 1], first.inputSpectrumRe.Data(),
                              first.inputSpectrumIm.Data(), second.inputSpectrumRe.Data(),
                              second.inputSpectrumIm.Data(), bins);
    }
    if (c < channels) {
        EngineBuffers::Channel& last = engine.channels_[c];
        engine.ForwardTwoReal(jobInput_[c], jobInput_[c], last.inputSpectrumRe.Data(), last.inputSpectrumIm.Data(),
                              last.inputSpectrumRe.Data(), last.inputSpectrumIm.Data(), bins);
    }

    MultiplySpectra(sumInputs, channels);

    // A real result has a Hermitian spectrum: the upper half of each product
    // mirrors the lower one, and is formed on the way into the inverse
    // transform. Its 1/N is applied there too: a power of two, so the result
    // is the same as scaling afterwards.
    const float scale = 1.0f / static_cast<float>(n);
    for (c = 0; c + 1 < channels; c += 2) {
        EngineBuffers::Channel& first = engine.channels_[c];
        EngineBuffers::Channel& second = engine.channels_[c + 1];
        engine.InverseTwoRealFromHalf(jobOutput_[c], jobOutput_[c + 1], first.outputSpectrumRe.Data(),
                                      first.outputSpectrumIm.Data(), second.outputSpectrumRe.Data(),
                                      second.outputSpectrumIm.Data(), scale);
    }
    if (c < channels) {
        EngineBuffers::Channel& last = engine.channels_[c];
        engine.InverseTwoRealFromHalf(jobOutput_[c], jobOutput_[c], last.outputSpectrumRe.Data(),
                                      last.outputSpectrumIm.Data(), last.outputSpectrumRe.Data(),
                                      last.outputSpectrumIm.Data(), scale);
    }
    FinishJob(channels);
    jobDoneGate_.Open();
}


void ConvolutionReverbBase::TakeInput(const float* __restrict input, float* __restrict fill, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        fill[i] = AdmittedConvolutionInput(input[i]);
}

// ---------------------------------------------------------------------------
// Block boundary and workers

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
    if (spareReady_.load(std::memory_order_acquire)) {
        // With the same block grid the new spectra take over from the next
        // job on: what was played keeps ringing out through the old
        // response, new input goes through the new one, with neither a gap
        // nor a click. Otherwise (another hop, so another latency) a clean
        // switch: the blocks restart from silence, and the output from here
        // on is that of a component resumed with the new settings.
        const bool inPlace = InstallSpareInPlace();
        if (!inPlace)
            InstallSpare();
        if (rebuildPending_.load(std::memory_order_relaxed))
            rebuildGate_.Open();
        if (!inPlace)
            return;
    }
    if (!HasRoles())
        return;
    if (playBuffer_[0] != active_->channels_[0].outputA.Data())
        UseBufferSetA();
    else
        UseBufferSetB();

    // The previous result's first B samples have been heard; its tail runs
    // on into the new one.
    const EngineBuffers& engine = *active_;
    const std::size_t channels = std::min(ChannelCount(), engine.sizedChannels_);
    const std::size_t hop = engine.hopSize_;
    const std::size_t tail = engine.fftSize_ - hop;
    for (std::size_t c = 0; c < channels; ++c)
        AddTail(jobOutput_[c] + hop, playBuffer_[c], tail);

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
    rebuildGate_.Close();
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
        if (jobHook_)
            jobHook_();
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
    impulseWorker_ = core::threads::CreateNamedThread("ImpulseThread", [this] { ImpulseWorkerLoop(); },
                                                      kImpulseWorkerPriority);
}

void ConvolutionReverbBase::StopConvolveThread()
{
    if (!worker_ && !impulseWorker_)
        return;
    stopRequested_.store(true, std::memory_order_relaxed);
    jobRequestGate_.Open(); // wakes idle workers at once
    rebuildGate_.Open();
    // Both workers open the exit gate; joining is what waits for both.
    worker_.reset();
    impulseWorker_.reset();
    threadExitedGate_.Open();
    jobRequestGate_.Close();
    rebuildGate_.Close();
}

} // namespace zoc::components

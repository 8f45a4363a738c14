// Graphic equalizer kernel: frequency-sampled linear-phase FIR, partitioned
// FFT convolution, click-free redesigns and lock-free hand-over of rebuilt
// filters.

#include "dsp/Graphic.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>
#include <utility>

#include "dsp/FFT.h"
#include "dsp/PartitionedConvolver.h"

namespace zoc::dsp {

namespace {

constexpr std::array<double, 10> kOctaveCentres{31.5, 63, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};
constexpr std::array<double, 20> kHalfOctaveCentres{31.5, 45,   63,   90,   125,  180,  250,   355,   500,   710,
                                                    1000, 1400, 2000, 2800, 4000, 5600, 8000, 11200, 16000, 22400};
constexpr std::array<double, 30> kThirdOctaveCentres{25,   31.5, 40,   50,   63,   80,   100,  125,   160,   200,
                                                     250,  315,  400,  500,  630,  800,  1000, 1250,  1600,  2000,
                                                     2500, 3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000, 20000};

/// Kaiser shape 5.5: a step in the curve leaves ripple about 58 dB below the
/// step far from it (0.05 dB for a 15 dB step), and the main lobe is narrow
/// enough that the 25 and 31.5 Hz bands land within 1 dB of their sliders at
/// the default length and 48 kHz (a larger shape smears them: 0.9 dB at 7).
constexpr double kKaiserBeta = 5.5;
/// The design grid is this many times the filter length (rounded up to a
/// power of two), so the sampled curve's wrap-around stays far outside the taps.
constexpr int kDesignOversampling = 2;
/// Convolution block: 1/8 of the filter length rounded up to a power of two
/// (at least 64 frames), so about 8 partitions: the multiply-adds stay cheap
/// (8 complex per sample) for an extra delay of an eighth of the filter.
constexpr int kPartitionsWanted = 8;
constexpr int kMinBlock = 64;
constexpr int kMaxBlock = 32768;
/// The settings of the default preset: 0.121 of the Accuracy bounds (31944
/// points: 31943 taps, 0.67 s at 48 kHz, enough to keep the 25 and 31.5 Hz
/// bands apart) and 0.3924 of the Range bounds (+/-15 dB).
constexpr float kDefaultAccuracy = Graphic::kMinAccuracy + 0.121f * (Graphic::kMaxAccuracy - Graphic::kMinAccuracy);
constexpr float kDefaultRange = Graphic::kMinRangeDb + 0.3924f * (Graphic::kMaxRangeDb - Graphic::kMinRangeDb);

int TapsFor(float accuracy)
{
    const int points = static_cast<int>(std::lround(std::clamp(accuracy, Graphic::kMinAccuracy, Graphic::kMaxAccuracy)));
    return points % 2 == 0 ? points - 1 : points; // odd: the delay is a whole number of frames
}

int BlockFor(int taps)
{
    return std::clamp(static_cast<int>(std::bit_ceil(static_cast<unsigned>(taps))) / kPartitionsWanted, kMinBlock,
                      kMaxBlock);
}

float DecibelsToGain(double decibels) { return static_cast<float>(std::pow(10.0, decibels / 20.0)); }

} // namespace

// --- Design -----------------------------------------------------------------

/// Frequency-sampling design for one rate and length; owns its buffers, so
/// Design never allocates.
class Graphic::Designer {
public:
    Designer(int rate, int taps)
        : rate_(rate), taps_(taps),
          size_(kDesignOversampling * static_cast<int>(std::bit_ceil(static_cast<unsigned>(taps)))), fft_(size_),
          window_(static_cast<std::size_t>(taps / 2 + 1)), lower_(Bins()), blend_(Bins()), bins_(Bins()),
          time_(static_cast<std::size_t>(size_))
    {
        const int half = taps / 2;
        const double norm = std::cyl_bessel_i(0.0, kKaiserBeta);
        for (int k = 0; k <= half; ++k) {
            const double x = half == 0 ? 0.0 : static_cast<double>(k) / half;
            window_[static_cast<std::size_t>(k)] =
                static_cast<float>(std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(std::max(0.0, 1.0 - x * x))) / norm);
        }
    }

    int Taps() const { return taps_; }
    int Size() const { return size_; }
    std::size_t Bins() const { return static_cast<std::size_t>(size_ / 2 + 1); }
    RealFFT& Transform() { return fft_; }

    /// Writes Taps() coefficients: the zero-phase design centred on tap
    /// (Taps() - 1) / 2.
    void Design(const Curve& curve, float* impulse)
    {
        const int bandSet = GetBandCentres(curve.bandSet).empty() ? 0 : curve.bandSet;
        if (bandSet != tableBandSet_)
            BuildTable(bandSet);
        const float range = std::fabs(curve.range);
        std::array<float, kMaxBands> nodes{};
        for (int band = 0; band < nodeCount_; ++band)
            nodes[static_cast<std::size_t>(band)] = std::clamp(curve.gains[static_cast<std::size_t>(band)], -range, range);

        const int centre = taps_ / 2;
        std::fill(impulse, impulse + taps_, 0.0f);
        const bool flat = std::all_of(nodes.begin(), nodes.begin() + nodeCount_, [&](float g) { return g == nodes[0]; });
        if (flat) {
            // A flat curve is a pure delay: place it exactly rather than
            // through the rounding of a large transform.
            impulse[centre] = DecibelsToGain(static_cast<double>(nodes[0]) + curve.master);
            return;
        }
        const int last = nodeCount_ - 1;
        for (std::size_t bin = 0; bin < Bins(); ++bin) {
            const int low = lower_[bin];
            const float from = nodes[static_cast<std::size_t>(low)];
            const float to = nodes[static_cast<std::size_t>(std::min(low + 1, last))];
            const double decibels = from + static_cast<double>(blend_[bin]) * (to - from) + curve.master;
            bins_[bin] = {static_cast<float>(std::exp(decibels * (std::numbers::ln10 / 20.0))), 0.0f};
        }
        fft_.Inverse(bins_.data(), time_.data());
        const float scale = 1.0f / static_cast<float>(size_);
        for (int k = 0; k <= centre; ++k) {
            const float tap = time_[static_cast<std::size_t>(k)] * scale * window_[static_cast<std::size_t>(k)];
            impulse[centre + k] = tap;
            impulse[centre - k] = tap;
        }
    }

private:
    /// For every grid bin: the band centre at or below it and the raised-
    /// cosine weight of the next one, over log-frequency.
    void BuildTable(int bandSet)
    {
        const std::span<const double> centres = GetBandCentres(bandSet);
        const double nyquist = rate_ / 2.0;
        nodeCount_ = 0;
        while (nodeCount_ < static_cast<int>(centres.size()) && centres[static_cast<std::size_t>(nodeCount_)] < nyquist)
            ++nodeCount_;
        nodeCount_ = std::max(nodeCount_, 1);
        int low = 0;
        for (std::size_t bin = 0; bin < Bins(); ++bin) {
            const double frequency = static_cast<double>(bin) * rate_ / size_;
            while (low + 1 < nodeCount_ && frequency >= centres[static_cast<std::size_t>(low + 1)])
                ++low;
            double weight = 0.0;
            if (low + 1 < nodeCount_ && frequency > centres[static_cast<std::size_t>(low)]) {
                const double a = centres[static_cast<std::size_t>(low)];
                const double b = centres[static_cast<std::size_t>(low + 1)];
                const double t = std::log(frequency / a) / std::log(b / a);
                weight = 0.5 - 0.5 * std::cos(std::numbers::pi * t);
            }
            lower_[bin] = low;
            blend_[bin] = static_cast<float>(weight);
        }
        tableBandSet_ = bandSet;
    }

    int rate_;
    int taps_;
    int size_;
    RealFFT fft_;
    std::vector<float> window_; ///< Kaiser, from the centre tap outwards
    std::vector<int> lower_;
    std::vector<float> blend_;
    std::vector<std::complex<float>> bins_;
    std::vector<float> time_;
    int tableBandSet_ = -1;
    int nodeCount_ = 1;
};

// --- Running filter -----------------------------------------------------------

/// One filter with its convolution, blocks and design buffers, for one
/// rate, channel count and length.
struct Graphic::Engine {
    Engine(const Config& wanted)
        : config(wanted), block(BlockFor(wanted.taps)), designer(wanted.rate, wanted.taps),
          convolver(block, wanted.taps, wanted.channels, 2), impulse(static_cast<std::size_t>(wanted.taps)),
          input(Frames()), output(Frames()), older(static_cast<std::size_t>(block)), fadeIn(static_cast<std::size_t>(block))
    {
        // Raised-cosine crossfade over one block between old and new filter.
        for (int n = 0; n < block; ++n)
            fadeIn[static_cast<std::size_t>(n)] =
                static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * (n + 1) / block));
    }

    std::size_t Frames() const { return static_cast<std::size_t>(config.channels) * static_cast<std::size_t>(block); }

    /// Clears the history and designs slot 0 for `curve`.
    void Restart(const Curve& curve, std::uint32_t curveSerial)
    {
        convolver.Clear();
        std::fill(input.begin(), input.end(), 0.0f);
        std::fill(output.begin(), output.end(), 0.0f);
        position = 0;
        slot = 0;
        designer.Design(curve, impulse.data());
        convolver.SetFilter(slot, impulse.data(), config.taps);
        serial = curveSerial;
    }

    /// One frame of config.channels samples. True at a block boundary.
    bool Process(const float* in, float* out, const Graphic& owner)
    {
        const std::size_t stride = static_cast<std::size_t>(block);
        std::size_t at = static_cast<std::size_t>(position);
        for (int channel = 0; channel < config.channels; ++channel, at += stride) {
            input[at] = in[channel];
            out[channel] = output[at];
        }
        if (++position < block)
            return false;
        position = 0;
        RunBlock(owner);
        return true;
    }

    void RunBlock(const Graphic& owner)
    {
        const std::uint32_t wanted = owner.curveSerial_.load(std::memory_order_acquire);
        const bool redesign = wanted != serial;
        const int previous = slot;
        if (redesign) {
            designer.Design(owner.ReadCurve(), impulse.data());
            slot ^= 1;
            convolver.SetFilter(slot, impulse.data(), config.taps);
            serial = wanted;
        }
        const std::size_t stride = static_cast<std::size_t>(block);
        for (int channel = 0; channel < config.channels; ++channel) {
            float* blockIn = &input[static_cast<std::size_t>(channel) * stride];
            float* blockOut = &output[static_cast<std::size_t>(channel) * stride];
            convolver.PushBlock(channel, blockIn);
            convolver.FilterBlock(channel, slot, blockOut);
            if (redesign) {
                convolver.FilterBlock(channel, previous, older.data());
                for (std::size_t n = 0; n < stride; ++n)
                    blockOut[n] = older[n] + fadeIn[n] * (blockOut[n] - older[n]);
            }
        }
    }

    Config config;
    int block;
    Designer designer;
    PartitionedConvolver convolver;
    std::vector<float> impulse;
    std::vector<float> input;  ///< [channel][block], filling
    std::vector<float> output; ///< [channel][block], the previous block filtered
    std::vector<float> older;  ///< one channel's block through the replaced filter
    std::vector<float> fadeIn;
    int position = 0;
    int slot = 0;
    std::uint32_t serial = 0;
    Engine* nextRetired = nullptr; ///< the retired_ list
};

// --- Kernel -------------------------------------------------------------------

Graphic::Graphic() : accuracy_(kDefaultAccuracy), range_(kDefaultRange)
{
    built_ = WantedConfig();
    active_ = Build(built_).release();
    const std::uint32_t serial = curveSerial_.load(std::memory_order_acquire);
    active_->Restart(ReadCurve(), serial);
}

Graphic::~Graphic()
{
    delete active_;
    delete incoming_;
    delete pending_.exchange(nullptr);
    FreeRetired();
}

std::span<const double> Graphic::GetBandCentres(int bandSet)
{
    switch (bandSet) {
    case 0:
        return kOctaveCentres;
    case 1:
        return kHalfOctaveCentres;
    case 2:
        return kThirdOctaveCentres;
    default:
        return {};
    }
}

int Graphic::GetBandCount() const
{
    return static_cast<int>(GetBandCentres(bandSet_.load(std::memory_order_relaxed)).size());
}

void Graphic::SetSampleRate(int rate)
{
    if (rate >= 1)
        rate_.store(std::clamp(rate, 1000, 1536000), std::memory_order_relaxed);
}

void Graphic::SetChannels(int channels)
{
    channels_.store(std::clamp(channels, 1, kMaxChannels), std::memory_order_relaxed);
}

void Graphic::GetBounds(int index, float& lo, float& hi) const
{
    lo = 0.0f;
    hi = 0.0f;
    if (index == kAccuracy) {
        lo = kMinAccuracy;
        hi = kMaxAccuracy;
    } else if (index == kGain) {
        lo = -kMaxGainDb;
        hi = kMaxGainDb;
    } else if (index == kRange) {
        lo = kMinRangeDb;
        hi = kMaxRangeDb;
    } else if (index == kReset) {
        hi = 1.0f;
    } else if (index >= kFirstBand && index < kFirstBand + kMaxBands) {
        lo = -kMaxRangeDb;
        hi = kMaxRangeDb;
    } else if (index == kBandSet) {
        hi = 2.0f;
    }
}

void Graphic::SetParameter(int index, float value)
{
    if (std::isnan(value))
        return;
    float lo = 0.0f;
    float hi = 0.0f;
    GetBounds(index, lo, hi);
    value = std::clamp(value, lo, hi);
    if (index == kAccuracy) {
        accuracy_.store(value, std::memory_order_relaxed);
        return;
    }
    if (index == kGain) {
        master_.store(value, std::memory_order_relaxed);
    } else if (index == kRange) {
        range_.store(value, std::memory_order_relaxed);
    } else if (index == kReset) {
        if (value < 0.5f)
            return;
        for (auto& gain : gains_)
            gain.store(0.0f, std::memory_order_relaxed);
    } else if (index >= kFirstBand && index < kFirstBand + kMaxBands) {
        gains_[static_cast<std::size_t>(index - kFirstBand)].store(value, std::memory_order_relaxed);
    } else if (index == kBandSet) {
        bandSet_.store(static_cast<int>(std::lround(value)), std::memory_order_relaxed);
    } else {
        return;
    }
    CurveChanged();
}

float Graphic::GetParameter(int index) const
{
    if (index == kAccuracy)
        return accuracy_.load(std::memory_order_relaxed);
    if (index == kGain)
        return master_.load(std::memory_order_relaxed);
    if (index == kRange)
        return range_.load(std::memory_order_relaxed);
    if (index >= kFirstBand && index < kFirstBand + kMaxBands)
        return gains_[static_cast<std::size_t>(index - kFirstBand)].load(std::memory_order_relaxed);
    if (index == kBandSet)
        return static_cast<float>(bandSet_.load(std::memory_order_relaxed));
    return 0.0f;
}

int Graphic::GetLatency() const
{
    const int taps = TapsFor(accuracy_.load(std::memory_order_relaxed));
    return taps / 2 + BlockFor(taps);
}

Graphic::Config Graphic::WantedConfig() const
{
    return {rate_.load(std::memory_order_relaxed), channels_.load(std::memory_order_relaxed),
            TapsFor(accuracy_.load(std::memory_order_relaxed))};
}

Graphic::Curve Graphic::ReadCurve() const
{
    Curve curve;
    curve.bandSet = bandSet_.load(std::memory_order_relaxed);
    for (std::size_t band = 0; band < gains_.size(); ++band)
        curve.gains[band] = gains_[band].load(std::memory_order_relaxed);
    curve.master = master_.load(std::memory_order_relaxed);
    curve.range = range_.load(std::memory_order_relaxed);
    return curve;
}

std::unique_ptr<Graphic::Engine> Graphic::Build(const Config& config) const
{
    return std::make_unique<Engine>(config);
}

void Graphic::FreeRetired()
{
    Engine* engine = retired_.exchange(nullptr, std::memory_order_acq_rel);
    while (engine != nullptr)
        delete std::exchange(engine, engine->nextRetired);
}

void Graphic::Suspend()
{
    std::lock_guard lock(buildMutex_);
    FreeRetired();
}

void Graphic::Resume()
{
    std::lock_guard lock(buildMutex_);
    FreeRetired();
    // The audio thread is idle: settle any hand-over at once.
    Engine* newest = pending_.exchange(nullptr, std::memory_order_acq_rel);
    if (incoming_ != nullptr) {
        delete active_;
        active_ = incoming_;
        incoming_ = nullptr;
    }
    if (newest != nullptr) {
        delete active_;
        active_ = newest;
    }
    built_ = WantedConfig();
    if (!(active_->config == built_)) {
        delete active_;
        active_ = Build(built_).release();
    }
    // The serial first: the curve read after it is at least that new.
    const std::uint32_t serial = curveSerial_.load(std::memory_order_acquire);
    active_->Restart(ReadCurve(), serial);
}

void Graphic::UpdateImpulses()
{
    std::lock_guard lock(buildMutex_);
    FreeRetired();
    const Config wanted = WantedConfig();
    if (wanted == built_)
        return;
    std::unique_ptr<Engine> engine = Build(wanted);
    const std::uint32_t serial = curveSerial_.load(std::memory_order_acquire);
    engine->Restart(ReadCurve(), serial);
    built_ = wanted;
    // A filter the audio thread never took is simply replaced.
    delete pending_.exchange(engine.release(), std::memory_order_acq_rel);
    updates_.fetch_add(1, std::memory_order_relaxed);
}

void Graphic::StartHandOver(Engine* next)
{
    incoming_ = next;
    // The new filter runs unheard until its whole length holds signal...
    primeLeft_ = next->config.taps + next->block;
    // ...then takes over in a linear crossfade of at least 20 ms, so two
    // filters of different delay blend without a step.
    fadeLength_ = std::max(next->block, next->config.rate / 50);
    fadeLeft_ = fadeLength_;
}

void Graphic::ProcessOneSample(const float* in, float* out)
{
    const int channels = std::clamp(channels_.load(std::memory_order_relaxed), 1, kMaxChannels);
    if (incoming_ == nullptr && channels == active_->config.channels) {
        if (active_->Process(in, out, *this)) {
            // Block boundary: take a rebuilt filter, if one waits.
            if (Engine* next = pending_.exchange(nullptr, std::memory_order_acq_rel)) {
                StartHandOver(next);
            }
        }
        return;
    }

    // Channel counts differ or two filters run: go through zero-padded frames.
    std::copy(in, in + channels, frameIn_.begin());
    std::fill(frameIn_.begin() + channels, frameIn_.end(), 0.0f);
    frameOut_.fill(0.0f);
    const bool boundary = active_->Process(frameIn_.data(), frameOut_.data(), *this);
    if (incoming_ != nullptr) {
        frameNew_.fill(0.0f);
        incoming_->Process(frameIn_.data(), frameNew_.data(), *this);
        if (primeLeft_ > 0) {
            --primeLeft_;
        } else {
            const float weight = 1.0f - static_cast<float>(fadeLeft_) / static_cast<float>(fadeLength_);
            for (int channel = 0; channel < channels; ++channel) {
                float& sample = frameOut_[static_cast<std::size_t>(channel)];
                sample += weight * (frameNew_[static_cast<std::size_t>(channel)] - sample);
            }
            if (--fadeLeft_ == 0) {
                // The new filter has taken over; the old one is freed off this thread.
                std::copy(frameNew_.begin(), frameNew_.begin() + channels, frameOut_.begin());
                active_->nextRetired = retired_.load(std::memory_order_relaxed);
                while (!retired_.compare_exchange_weak(active_->nextRetired, active_, std::memory_order_release,
                                                       std::memory_order_relaxed)) {
                }
                active_ = incoming_;
                incoming_ = nullptr;
            }
        }
    } else if (boundary) {
        if (Engine* next = pending_.exchange(nullptr, std::memory_order_acq_rel)) {
            StartHandOver(next);
        }
    }
    std::copy(frameOut_.begin(), frameOut_.begin() + channels, out);
}

double Graphic::ComputeFilterResponse(double frequency)
{
    std::lock_guard lock(responseMutex_);
    const Config wanted = WantedConfig();
    const std::uint32_t serial = curveSerial_.load(std::memory_order_acquire);
    if (!responseDesigner_ || responseDesigner_->Taps() != wanted.taps || responseRate_ != wanted.rate) {
        responseDesigner_ = std::make_unique<Designer>(wanted.rate, wanted.taps);
        responseRate_ = wanted.rate;
        responseValid_ = false;
    }
    Designer& designer = *responseDesigner_;
    if (!responseValid_ || serial != responseSerial_) {
        std::vector<float> padded(static_cast<std::size_t>(designer.Size()), 0.0f);
        designer.Design(ReadCurve(), padded.data());
        std::vector<std::complex<float>> spectrum(designer.Bins());
        designer.Transform().Forward(padded.data(), spectrum.data());
        responseMagnitude_.resize(spectrum.size());
        for (std::size_t bin = 0; bin < spectrum.size(); ++bin)
            responseMagnitude_[bin] = std::abs(spectrum[bin]);
        responseSerial_ = serial;
        responseValid_ = true;
    }
    if (!(frequency >= 0.0))
        frequency = 0.0;
    const double position = std::min(frequency / wanted.rate * designer.Size(), static_cast<double>(designer.Bins() - 1));
    const auto below = static_cast<std::size_t>(position);
    const std::size_t above = std::min(below + 1, designer.Bins() - 1);
    const double fraction = position - static_cast<double>(below);
    return responseMagnitude_[below] + fraction * (responseMagnitude_[above] - responseMagnitude_[below]);
}

} // namespace zoc::dsp

// Center Channel Extractor: frequency-domain separation of center and side
// content with independent output levels.
//
// Each frame carries the left channel as the real part and the right channel
// as the imaginary part of one complex FFT. The two spectra are separated bin
// by bin; a bin whose channels agree in level and phase is center content,
// one where they differ is side content. The mask m (0 center, 1 side) picks
// the side part of the frame, and the output mixes center and side at their
// own gains before overlap-add.

#include "effects/spatial/CenterChannelExtract.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <cstring>
#include <limits>
#include <numbers>

#include "dsp/Denormals.h"
#include "dsp/FastMath.h"
#include "framework/Registration.h"
#include "framework/SampleRates.h"
#include "platform/core/Localizer.h"

namespace zoc::components {

const std::string kCenterChannelExtractComponentID =
    core::Guid{0x9DA3225A, 0xCF78, 0x4D61, {0xB3, 0xF1, 0x78, 0x86, 0x94, 0xC1, 0xBC, 0x11}}.AsString();

namespace {

constexpr core::Guid kDescriptorGuid{0xFB49AE70, 0x2214, 0x4E3B, {0xB6, 0xAB, 0xC8, 0xC7, 0xCB, 0x9E, 0xE1, 0xE6}};
constexpr const char* kTitleKey = "$$$/AudioComponents/CenterChannelExtractorTitle=Center Channel Extractor";

const ComponentRegistration<CenterChannelExtract> kRegistration{
    "CenterChannelExtract", kTitleKey, 0, kCenterChannelExtractComponentID, kDescriptorGuid,
    "Keeps or removes what is in the middle of a stereo mix (vocals) by frequency",
    "Karaoke (Drop Vocals 20dB)"};

using Self = CenterChannelExtract;
constexpr int kCount = Self::kParameterCount;

/// Lowest frequency of a band and narrowest band, in Hz.
constexpr float kMinFrequency = 20.0f;
constexpr float kMinWidth = 20.0f;
/// Highest frequency of the fixed voice bands, in Hz.
constexpr float kVoiceBandTop = 20000.0f;
/// Mask of a bin just outside the band: this share of its own mask, the
/// rest side content, so the band's edges do not cut hard.
constexpr float kEdgeOwnShare = 0.3f;
/// Phase discrimination eases towards the top of the spectrum, down to this
/// fraction of its setting at half the rate (high partials wander in phase).
constexpr float kTopDiscrimination = 0.1f;
/// Scale of the crossover bleed: 10^(bleed/10) times this weighs the phase
/// and level differences into the mask.
constexpr double kBleedScale = 0.011;
/// A pan factor this close to 0 is 0, so the input matrix is exactly the identity.
constexpr float kPanDeadZone = 0.0001f;
/// Largest input magnitude taken in; louder (or non-finite) samples are
/// clipped (or zeroed) so a frame's sums stay finite.
constexpr double kMaxInput = 1.0e6;

struct Row {
    const char* key;
    const char16_t* unit;
    float lo;
    float hi; ///< for the frequencies: replaced by half the sample rate
    float defaultValue;
    bool automatable;
};

// Defaults of the frame parameters (Interval, Window Width, Original Sample
// Rate) are derived from the rate in the constructor.
constexpr Row kRows[kCount] = {
    {"$$$/Effects/CenterChannelExtract/PhaseDegree=Phase Degree", u"°", -360.0f, 360.0f, 0.0f, true},
    {"$$$/Effects/CenterChannelExtract/Pan=Pan", u"%", -100.0f, 100.0f, 0.0f, true},
    {"$$$/Effects/CenterChannelExtract/Delay=Delay", u"ms", -5.0f, 5.0f, 0.0f, true},
    {"$$$/Effects/CenterChannelExtract/Extract=Extract", u"", 0.0f, 1.0f, 0.0f, false},
    {"$$$/Effects/CenterChannelExtract/CenterFrequency=Center Frequency", u"Hz", 20.0f, 22050.0f, 11025.0f, false},
    {"$$$/Effects/CenterChannelExtract/FrequencyWidth=Frequency Width", u"Hz", 20.0f, 22050.0f, 22030.0f, false},
    {"$$$/Effects/CenterChannelExtract/StartFrequency=Start Frequency", u"Hz", 20.0f, 22050.0f, 20.0f, true},
    {"$$$/Effects/CenterChannelExtract/EndFrequency=End Frequency", u"Hz", 20.0f, 22050.0f, 22050.0f, true},
    {"$$$/Effects/CenterChannelExtract/CrossoverBleed=Crossover Bleed", u"%", 0.0f, 100.0f, 50.0f, true},
    {"$$$/Effects/CenterChannelExtract/PhaseDiscrimination=Phase Discrimination", u"°", 0.0f, 20.0f, 5.0f, true},
    {"$$$/Effects/CenterChannelExtract/AmplitudeDiscrimination=Amplitude Discrimination", u"dB", 0.0f, 40.0f, 1.0f,
     true},
    {"$$$/Effects/CenterChannelExtract/AmplitudeBandwidth=Amplitude Bandwidth", u"dB", 0.0f, 40.0f, 4.0f, true},
    {"$$$/Effects/CenterChannelExtract/SpectralDecayRate=Spectral Decay Rate", u"ms/(60 dB)", 0.0f, 100.0f, 0.0f,
     true},
    {"$$$/Effects/CenterChannelExtract/CenterChannelLevel=Center Channel Level", u"dB", -48.0f, 48.0f, 0.0f, true},
    {"$$$/Effects/CenterChannelExtract/SideChannelLevels=Side Channel Levels", u"dB", -48.0f, 48.0f, -30.0f, true},
    {"$$$/Effects/CenterChannelExtract/FFTSize=FFT Size", u"", 0.0f, 1.0f, 4.0f, false},
    {"$$$/Effects/CenterChannelExtract/Interval=Interval", u"ms", 0.0f, 500.0f, 0.0f, false},
    {"$$$/Effects/CenterChannelExtract/Overlays=Overlays", u"", 0.0f, 1.0f, 1.0f, false},
    {"$$$/Effects/CenterChannelExtract/WindowWidth=Window Width", u"%", 10.0f, 100.0f, 0.0f, false},
    {"$$$/Effects/CenterChannelExtract/Spectrum=Spectrum", u"", 0.0f, 1.0f, 3.0f, false},
    {"$$$/Effects/CenterChannelExtract/IsProcessing=Is Processing", u"", -0.5f, 1.49f, 0.0f, false},
    {"$$$/Effects/CenterChannelExtract/OriginalSampleRate=Original Sample Rate", u"Hz", 0.0f, 192000.0f, 0.0f,
     false},
};

bool IsFrequency(int index) { return index >= Self::kCenterFrequency && index <= Self::kEndFrequency; }
bool IsChoice(int index)
{
    return index == Self::kExtract || index == Self::kFFTSize || index == Self::kOverlays || index == Self::kSpectrum;
}

using Preset = PresetRow<kCount>;
constexpr std::array<Preset, 8> kPresets = {{
    {kDefaultPresetKey,
     {0.5f, 0.5f, 0.5f, 0, 0.499546f, 1, -0.000907853f, 1, 0.5f, 0.25f, 0.025f, 0.1f, 0, 0.5f, 0.1875f, 4, 0.0509751f,
      1, 0.498698f, 3, 0, 0.229687f}},
    {"$$$/AudioComponents/CenterChannelExtractPresets/Acapella=Acapella",
     {0.5f, 0.5f, 0.5f, 0, 0.38754f, 0.765547f, 0.0043123f, 0.770767f, 0.68f, 0.3f, 0.075f, 0.175f, 0, 0.5f, 0, 4,
      0.0599632f, 2, 0.785556f, 4, 0, 0.229687f}},
    {"$$$/AudioComponents/CenterChannelExtractPresets/AmplifyVocals6dB=Amplify Vocals 6dB",
     {0.5f, 0.5f, 0.5f, 0, 0.455061f, 0.90286f, 0.00317749f, 0.906945f, 0.5f, 0.25f, 0.05f, 0.25f, 0, 0.5625f, 0.5f, 4,
      0.0659818f, 2, 0.875556f, 0, 0, 0.229687f}},
    {"$$$/AudioComponents/CenterChannelExtractPresets/BoostCenterChannelBass=Boost Center Channel Bass",
     {0.5f, 0.5f, 0.5f, 0, 0.00226963f, 0.00363141f, 0, 0.00453926f, 0.5f, 0.25f, 0.05f, 0.25f, 0, 0.604167f, 0.5f, 4,
      0.0659818f, 2, 0.875556f, 2, 0, 0.229687f}},
    {"$$$/AudioComponents/CenterChannelExtractPresets/Karaoke=Karaoke (Drop Vocals 20dB)",
     {0.5f, 0.5f, 0.5f, 0, 0.342374f, 0.674308f, 0.00476623f, 0.679982f, 0.8f, 0.3f, 0.025f, 0.125f, 0, 0.291667f,
      0.5f, 4, 0.0659818f, 2, 0.875556f, 4, 0, 0.229687f}},
    {"$$$/AudioComponents/CenterChannelExtractPresets/LiftVocals10dB=Lift Vocals 10dB",
     {0.5f, 0.5f, 0.5f, 0, 0.455061f, 0.90286f, 0.00317749f, 0.906945f, 0.77f, 0.25f, 0.05f, 0.1f, 0, 0.5f, 0.395833f,
      4, 0.0659818f, 2, 0.875556f, 0, 0, 0.229687f}},
    {"$$$/AudioComponents/CenterChannelExtractPresets/SingAlong=Sing Along (Drop Vocals 6dB)",
     {0.5f, 0.5f, 0.5f, 0, 0.455061f, 0.90286f, 0.00317749f, 0.906945f, 0.5f, 0.25f, 0.05f, 0.2f, 0, 0.4375f, 0.5f, 4,
      0.0500065f, 2, 0.636667f, 0, 0, 0.229687f}},
    {"$$$/AudioComponents/CenterChannelExtractPresets/VocalRemove=Vocal Remove",
     {0.5f, 0.5f, 0.5f, 0, 0.455742f, 0.901498f, 0.00453926f, 0.906945f, 0.9f, 0.25f, 0.15f, 0.225f, 0, 0.0833333f,
      0.5f, 4, 0.0743039f, 2, 1, 4, 0, 0.229687f}},
}};

int FFTPoints(int choice) { return 512 << choice; }
int OverlapCount(int choice) { return 3 + choice; }

/// Exponent of the synthesis window for an overlap count: enough overlap
/// for the raised-cosine power to add up to a constant.
int WindowExponent(int overlaps)
{
    if (overlaps <= 3)
        return 2;
    if (overlaps <= 6)
        return 3;
    if (overlaps <= 9)
        return 4;
    return 5;
}

double DbToGain(double decibels) { return std::pow(10.0, decibels / 20.0); }

} // namespace

// ------------------------------------------------------------------ kernel

/// Everything the audio thread owns: the frame geometry, windows, buffers
/// and the derived settings of the mask.
struct CenterChannelExtract::Kernel {
    dsp::ComplexFFTDouble* fft = nullptr;
    int points = 0;      // N
    int hop = 0;         // H', samples between frames
    int frameLength = 0; // F, samples analysed per frame (F <= N, rest zero-padded)
    int delayLeft = 0;   // samples the left channel is read later than the frame start
    int delayRight = 0;
    int delay = 0; // the larger of the two

    std::vector<double> analysis;        // four-term Blackman-Harris
    std::vector<double> inverseAnalysis; // 1 / (analysis * N): undoes the window and the unscaled inverse FFT
    std::vector<double> synthesis;       // raised-cosine power, overlap-adding to 1
    std::vector<double> inputA, inputB;  // matrixed input, F + D samples
    std::vector<double> outputLeft, outputRight; // overlap-add accumulators, F samples
    std::vector<float> history;                  // per-bin phase measure for spectral decay
    std::vector<float> powerRatio, phaseCosine, masks; // per bin, N/2 + 1
    int writeIndex = 0;
    int readIndex = 0;
    bool firstFrame = true;

    // Input matrix from the pan factor p: a = c*l + p/2*r, b = -p/2*l + c*r.
    double pan = 0.0;
    double matrixC = 1.0;
    double halfPan = 0.0;
    double correction = 1.0; // inverse of the matrix's determinant

    int startBin = 0;
    int endBin = 0;
    bool inverted = false;   // side level above center level
    float levelLimit = 0.0f; // g: ceiling (normal) or floor (inverted) of the mask
    float sideMask = 1.0f;   // mask of pure side content after the level limit
    double centerGain = 1.0;
    double sideGain = 1.0;
    double phaseCos = 1.0; // rotation by the phase offset
    double phaseSin = 0.0;
    float inverseHalf = 0.0f; // 1 / (N / 2)
    float bleedScale = 0.0f;
    float phaseExponent = 0.0f;
    float amplitudeDiscrimination = 0.0f;
    float amplitudeBandwidth = 0.0f;
    float inverseBandwidth = 0.0f; // 0 when the bandwidth is 0 (the glide is never used then)
    float decay = 0.0f;

    /// Separates the two channels' spectra over the band's bins into their
    /// power ratio and the cosine of their phase difference.
    void SeparateBand(int first, int last);
    /// The mask of every bin of the band.
    template <bool kDecay> void MaskBand(int first, int last);
    void MaskSpectrum();
};

void CenterChannelExtract::Kernel::SeparateBand(int first, int last)
{
    const std::complex<double>* spectrum = fft->Data();
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    for (int bin = first; bin <= last; ++bin) {
        const std::complex<double> upper = spectrum[bin];
        const std::complex<double> lower = spectrum[(points - bin) % points];
        // Two real signals in one transform: L = (X[k] + conj X[N-k]) / 2,
        // R = (X[k] - conj X[N-k]) / 2i. At DC and Nyquist this is L = Re X,
        // R = Im X.
        const double leftRe = (upper.real() + lower.real()) * 0.5;
        const double leftIm = (upper.imag() - lower.imag()) * 0.5;
        const double rightRe = (upper.imag() + lower.imag()) * 0.5;
        const double rightIm = (lower.real() - upper.real()) * 0.5;
        const double leftPower = leftRe * leftRe + leftIm * leftIm;
        const double rightPower = rightRe * rightRe + rightIm * rightIm;
        const auto at = static_cast<std::size_t>(bin);
        if (leftPower == 0.0 || rightPower == 0.0) {
            // A silent channel: the level difference is infinite, the phase
            // difference 0 (then offset).
            powerRatio[at] = leftPower == rightPower ? 1.0f : (leftPower == 0.0 ? 0.0f : kInfinity);
            phaseCosine[at] = static_cast<float>(phaseCos);
            continue;
        }
        // cos of the phase difference (minus the offset) from R * conj(L).
        const double dot = leftRe * rightRe + leftIm * rightIm;
        const double cross = leftRe * rightIm - leftIm * rightRe;
        powerRatio[at] = static_cast<float>(leftPower / rightPower);
        phaseCosine[at] = static_cast<float>((dot * phaseCos + cross * phaseSin) / std::sqrt(leftPower * rightPower));
    }
}

template <bool kDecay>
void CenterChannelExtract::Kernel::MaskBand(int first, int last)
{
    // Straight-line float code over the band, so the compiler vectorizes it:
    // which case applies changes from bin to bin at random in noisy
    // material, and mispredicted jumps would cost more than the arithmetic.
    // Settings are copied to locals and the arrays marked unaliased, or the
    // stores to the masks could overwrite them as far as the compiler knows.
    constexpr float kDbPerOctave = 3.01029996f; // 10 log10(2): dB per octave of power ratio
    constexpr float kLargestDifference = 1.0e6f;
    const float discrimination = amplitudeDiscrimination;
    const float keepSide = amplitudeDiscrimination + amplitudeBandwidth;
    const float glideScale = inverseBandwidth;
    const float binScale = inverseHalf;
    const float exponentScale = phaseExponent;
    const float bleed = bleedScale;
    // The level limit is a ceiling in normal mode and a floor in inverted mode.
    const float lowest = inverted ? levelLimit : 0.0f;
    const float highest = inverted ? 1.0f : levelLimit;
    const float release = decay;
    const float* __restrict ratios = powerRatio.data();
    const float* __restrict cosines = phaseCosine.data();
    float* __restrict held = history.data();
    float* __restrict out = masks.data();
    for (int bin = first; bin < last + 1; ++bin) {
        // Phase measure: 0 in phase, 1 in opposition.
        float measure = std::min(std::max((1.0f - cosines[bin]) * 0.5f, 0.0f), 1.0f);
        if constexpr (kDecay) {
            // Spectral decay: a bin that was center content stays so while
            // its measure rises, releasing at the decay rate.
            const float previous = held[bin];
            held[bin] = (1.0f - release) * measure + release * previous;
            measure = previous != 0.0f ? std::min(previous, measure) : measure;
        }
        // Level difference in dB; about 385 dB (side content) when a channel is silent.
        const float difference = kDbPerOctave * std::fabs(dsp::FastLog2(ratios[bin]));
        const float position = static_cast<float>(bin) * binScale;
        // Phase discrimination eases off towards the top of the spectrum.
        const float exponent = exponentScale * (1.0f - (1.0f - kTopDiscrimination) * position * position * position);
        const float raised = dsp::FastExp2(exponent * dsp::FastLog2(measure));
        const float powered = measure > 0.0f ? raised : (exponent == 0.0f ? 1.0f : 0.0f);
        const float spread = powered * std::min(difference, kLargestDifference) * bleed;
        const float phaseMask = spread / (spread + 1.0f);
        // Between the discrimination and its bandwidth the mask glides to
        // side; beyond it the bin is side content.
        const float glide = (keepSide - difference) * glideScale * (phaseMask - 1.0f) + 1.0f;
        float mask = difference > discrimination ? glide : phaseMask;
        mask = difference > keepSide ? 1.0f : mask;
        out[bin] = std::min(std::max(mask, lowest), highest);
    }
}

void CenterChannelExtract::Kernel::MaskSpectrum()
{
    std::complex<double>* spectrum = fft->Data();
    const int half = points / 2;
    const int first = std::max(0, startBin - 1);
    const int last = std::min(half, endBin + 1);
    if (first <= last) {
        SeparateBand(first, last);
        if (decay != 0.0f)
            MaskBand<true>(first, last);
        else
            MaskBand<false>(first, last);
        // The bins just outside the band soften its edge.
        for (const int edge : {startBin - 1, endBin + 1}) {
            if (edge >= 0 && edge <= half)
                masks[static_cast<std::size_t>(edge)] =
                    kEdgeOwnShare * masks[static_cast<std::size_t>(edge)] + (1.0f - kEdgeOwnShare) * sideMask;
        }
    }
    // Outside the band everything is side content. X[k] and X[N-k] take
    // the same real mask, which keeps the two channels apart.
    for (int bin = 0; bin <= half; ++bin) {
        const double mask = bin >= first && bin <= last ? masks[static_cast<std::size_t>(bin)] : sideMask;
        spectrum[bin] *= mask;
        if (bin != 0 && bin != half)
            spectrum[points - bin] *= mask;
    }
}

// --------------------------------------------------------------- component

CenterChannelExtract::CenterChannelExtract()
    : AudioFilter(kCenterChannelExtractComponentID, core::Localize(kTitleKey)), presets_(kPresets),
      kernel_(std::make_unique<Kernel>())
{
    AddInputBus(host::AudioFilterBusDescription::CreateStereo(core::Localize("$$$/Effects/StereoIn=Stereo In")));
    AddOutputBus(host::AudioFilterBusDescription::CreateStereo(core::Localize("$$$/Effects/StereoOut=Stereo Out")));
    SetHasHighCPU(true);
    for (int index = 0; index < kCount; ++index)
        Store(index, kRows[index].defaultValue);
    BuildParameterInfos();
    Store(kOriginalSampleRate, GetSampleRate());
    Store(kInterval, static_cast<float>(hop_.load() * 1000.0 / GetSampleRate()));
    ApplyIntervalLimits();
    UpdateWindowWidth();
    FFTFor(fftChoice_.load());
}

CenterChannelExtract::~CenterChannelExtract()
{
    for (auto& slot : ffts_)
        delete slot.load();
}

void CenterChannelExtract::BuildParameterInfos()
{
    for (int index = 0; index < kCount; ++index) {
        const Row& row = kRows[index];
        const float hi = IsFrequency(index) ? RateHalf() : row.hi;
        infos_[static_cast<std::size_t>(index)] = core::MakeRef<GenericParameterInfo>(
            core::Localize(row.key), row.unit, host::kUnitNumber, index, row.lo, hi, row.automatable, false, 1, 6);
    }
}

dsp::ComplexFFTDouble* CenterChannelExtract::FFTFor(int choice)
{
    std::atomic<dsp::ComplexFFTDouble*>& slot = ffts_[static_cast<std::size_t>(choice)];
    dsp::ComplexFFTDouble* fft = slot.load(std::memory_order_acquire);
    if (fft != nullptr)
        return fft;
    auto created = std::make_unique<dsp::ComplexFFTDouble>(FFTPoints(choice));
    if (slot.compare_exchange_strong(fft, created.get(), std::memory_order_acq_rel))
        return created.release();
    return fft; // planned meanwhile by the other thread
}

// --------------------------------------------------------------- parameters

void CenterChannelExtract::SetBand(float start, float end)
{
    start = std::min(start, end); // at rates below 40 Hz the fixed bands cross
    Store(kStartFrequency, start);
    Store(kEndFrequency, end);
    Store(kCenterFrequency, (start + end) / 2.0f);
    Store(kFrequencyWidth, std::max(kMinWidth, end - start));
}

void CenterChannelExtract::ApplySpectrum(int choice)
{
    const float top = RateHalf();
    switch (choice) {
    case 0:
        SetBand(std::min(90.0f, top), std::min(top, kVoiceBandTop));
        break;
    case 1:
        SetBand(std::min(140.0f, top), std::min(top, kVoiceBandTop));
        break;
    case 2:
        SetBand(kMinFrequency, std::min(120.0f, top));
        break;
    case 3:
        SetBand(kMinFrequency, top);
        break;
    default:
        break; // custom: the band parameters stand
    }
}

void CenterChannelExtract::ApplyExtract(int choice)
{
    // (phase in degrees, pan in percent); the delay is 0 for every fixed choice.
    static constexpr float kSettings[4][2] = {{0.0f, 0.0f}, {0.0f, -100.0f}, {0.0f, 100.0f}, {-180.0f, 0.0f}};
    if (choice == kExtractCustom)
        return;
    Store(kPhaseDegree, kSettings[choice][0]);
    Store(kPan, kSettings[choice][1]);
    Store(kDelay, 0.0f);
    panFactor_.store(kSettings[choice][1] / 100.0f, std::memory_order_relaxed);
}

void CenterChannelExtract::ApplyIntervalLimits()
{
    const double rate = GetSampleRate();
    const int points = FFTPoints(fftChoice_.load());
    const int overlaps = overlaps_.load();
    // Between a tenth of a frame and a whole one per overlap.
    const double shortest = points * 100.0 / overlaps / rate;
    const double interval = std::clamp(static_cast<double>(Value(kInterval)), shortest, 10.0 * shortest);
    Store(kInterval, static_cast<float>(interval));
    const long hop = std::lround(interval / 1000.0 * rate);
    hop_.store(static_cast<int>(std::clamp<long>(hop, 1, points / overlaps)));
}

void CenterChannelExtract::UpdateWindowWidth()
{
    const double frameMs = FFTPoints(fftChoice_.load()) / static_cast<double>(GetSampleRate()) * 1000.0;
    Store(kWindowWidth, static_cast<float>(Value(kInterval) / (frameMs / overlaps_.load()) * 100.0));
}

int CenterChannelExtract::DelayFrames(int& left, int& right) const
{
    const double milliseconds = Value(kDelay);
    const int frames = static_cast<int>(std::lround(std::fabs(milliseconds) / 1000.0 * GetSampleRate()));
    // A positive delay reads the right channel later than the left.
    left = milliseconds > 0.0 ? 0 : frames;
    right = milliseconds > 0.0 ? frames : 0;
    return frames;
}

void CenterChannelExtract::SetParameter(int index, float normalized)
{
    if (index < 0 || index >= kCount || index == kIsProcessing)
        return;
    if (std::isnan(normalized)) {
        AudioFilter::SetParameter(index, normalized);
        return;
    }
    const GenericParameterInfo& info = *infos_[static_cast<std::size_t>(index)];
    float value = info.FromNormalized(normalized);
    if (IsChoice(index))
        value = std::floor(value + 0.5f);
    else
        value = std::clamp(value, info.GetMinValue(), info.GetMaxValue());
    const int choice = IsChoice(index) ? static_cast<int>(std::clamp(value, -1.0f, 100.0f)) : 0;
    const float top = RateHalf();
    const bool custom = static_cast<int>(Value(kExtract)) == kExtractCustom;
    const bool customBand = static_cast<int>(Value(kSpectrum)) == kSpectrumCustom;

    int oldLeft = 0, oldRight = 0;
    DelayFrames(oldLeft, oldRight);
    const int oldHop = hop_.load(), oldChoice = fftChoice_.load(), oldOverlaps = overlaps_.load();

    bool accepted = true;
    switch (index) {
    case kPhaseDegree:
    case kDelay:
        accepted = custom;
        break;
    case kPan:
        accepted = custom;
        if (accepted)
            panFactor_.store(std::fabs(value) < kPanDeadZone * 100.0f ? 0.0f : value / 100.0f);
        break;
    case kExtract:
        accepted = choice >= 0 && choice <= kExtractCustom;
        if (accepted)
            ApplyExtract(choice);
        break;
    case kCenterFrequency:
    case kFrequencyWidth: {
        accepted = customBand;
        if (accepted) {
            const float center = index == kCenterFrequency ? value : Value(kCenterFrequency);
            const float width = index == kFrequencyWidth ? value : Value(kFrequencyWidth);
            Store(kStartFrequency, std::max(kMinFrequency, center - width / 2.0f));
            Store(kEndFrequency, std::min(top, center + width / 2.0f));
        }
        break;
    }
    case kStartFrequency:
    case kEndFrequency: {
        accepted = customBand;
        if (accepted) {
            float start = index == kStartFrequency ? value : Value(kStartFrequency);
            float end = index == kEndFrequency ? value : Value(kEndFrequency);
            if (index == kStartFrequency)
                end = std::max(end, start);
            else
                start = std::min(start, end);
            SetBand(start, end);
        }
        break;
    }
    case kFFTSize:
        accepted = choice >= 0 && choice < kFFTSizeChoices;
        if (accepted) {
            FFTFor(choice);
            fftChoice_.store(choice);
        }
        break;
    case kOverlays:
        accepted = choice >= 0 && choice < kOverlayChoices;
        if (accepted)
            overlaps_.store(OverlapCount(choice));
        break;
    case kWindowWidth: {
        const double frameMs = FFTPoints(fftChoice_.load()) / static_cast<double>(GetSampleRate()) * 1000.0;
        Store(kInterval, static_cast<float>(frameMs / overlaps_.load() * (value / 100.0)));
        break;
    }
    case kSpectrum:
        accepted = choice >= 0 && choice <= kSpectrumCustom;
        if (accepted)
            ApplySpectrum(choice);
        break;
    case kOriginalSampleRate: {
        // Settings saved at another rate keep their band in Hz: the band's
        // normalized values are read over that rate's range.
        if (customBand && std::round(value) != Value(kOriginalSampleRate)) {
            const float savedRange = std::round(value) / 2.0f - kMinFrequency;
            const float start =
                infos_[kStartFrequency]->ToNormalized(Value(kStartFrequency)) * savedRange + kMinFrequency;
            const float end = infos_[kEndFrequency]->ToNormalized(Value(kEndFrequency)) * savedRange + kMinFrequency;
            SetBand(std::min(start, top), std::min(end, top));
        }
        work_.RequestUpdate();
        AudioFilter::SetParameter(index, normalized);
        return;
    }
    default:
        break;
    }

    if (accepted) {
        Store(index, value);
        if (index >= kFFTSize && index <= kWindowWidth) {
            ApplyIntervalLimits();
            UpdateWindowWidth();
        }
        int left = 0, right = 0;
        DelayFrames(left, right);
        // A new frame geometry or channel delay restarts the frames.
        if (hop_.load() != oldHop || fftChoice_.load() != oldChoice || overlaps_.load() != oldOverlaps ||
            left != oldLeft || right != oldRight)
            work_.RequestReset();
        work_.RequestUpdate();
    }
    AudioFilter::SetParameter(index, normalized);
}

float CenterChannelExtract::GetParameter(int index)
{
    if (index < 0 || index >= kCount)
        return 0.0f;
    return infos_[static_cast<std::size_t>(index)]->ToNormalized(Value(index));
}

core::Ref<host::AudioFilterParameterInfo> CenterChannelExtract::GetParameterInfo(int index)
{
    if (index < 0 || index >= kCount)
        return nullptr;
    return infos_[static_cast<std::size_t>(index)];
}

core::UString CenterChannelExtract::GetParameterString(int index)
{
    if (index < 0 || index >= kCount)
        return {};
    return infos_[static_cast<std::size_t>(index)]->GetParameterString(GetParameter(index));
}

// ------------------------------------------------------- host operations

void CenterChannelExtract::SetSampleRate(float requested)
{
    const std::optional<float> accepted = AcceptedSampleRate(requested);
    if (!accepted || *accepted == GetSampleRate())
        return;
    const float rate = *accepted;
    AudioFilter::SetSampleRate(rate);
    const float top = RateHalf();
    for (int index = kCenterFrequency; index <= kEndFrequency; ++index)
        infos_[static_cast<std::size_t>(index)]->SetHiBound(top);
    const int spectrum = static_cast<int>(Value(kSpectrum));
    if (spectrum == kSpectrumCustom)
        SetBand(std::min(Value(kStartFrequency), top), std::min(Value(kEndFrequency), top));
    else
        ApplySpectrum(spectrum); // the fixed bands follow half the rate
    Store(kOriginalSampleRate, rate);
    Store(kInterval, static_cast<float>(hop_.load() * 1000.0 / rate));
    ApplyIntervalLimits();
    UpdateWindowWidth();
    work_.RequestReset();
    work_.RequestUpdate();
}

bool CenterChannelExtract::RequestIOConfiguration(const host::ChannelLayoutList& inputs,
                                                  const host::ChannelLayoutList& outputs)
{
    if (inputs.size() != 1 || outputs.size() != 1 || inputs[0].size() != 2 || outputs[0].size() != 2)
        return false;
    ClearBusConfiguration();
    AddInputBus(host::AudioFilterBusDescription(core::Localize("$$$/Effects/StereoIn=Stereo In"), inputs[0]));
    AddOutputBus(host::AudioFilterBusDescription(core::Localize("$$$/Effects/StereoOut=Stereo Out"), outputs[0]));
    return true;
}

void CenterChannelExtract::Resume()
{
    work_.TakeReset();
    work_.TakeUpdate();
    ReserveFrames();
    RebuildFrames();
    RecomputeRange();
    Store(kIsProcessing, 1.0f);
    BumpParameterDirtyCount();
    AudioFilter::Resume();
}

void CenterChannelExtract::Suspend()
{
    AudioFilter::Suspend();
    Store(kIsProcessing, 0.0f);
    BumpParameterDirtyCount();
}

int CenterChannelExtract::GetInitialDelay()
{
    int left = 0, right = 0;
    const int delay = DelayFrames(left, right);
    const int points = FFTPoints(fftChoice_.load());
    const int overlaps = overlaps_.load();
    const int hop = std::min(hop_.load(), points / overlaps);
    return delay + overlaps * hop / 2 * 2;
}

int CenterChannelExtract::GetNumFactoryPresets() { return presets_.Count(); }
core::UString CenterChannelExtract::GetFactoryPresetName(int index) { return presets_.Name(index); }

void CenterChannelExtract::SetFactoryPreset(int index)
{
    const std::span<const float> values = presets_.Values(index);
    if (values.empty())
        return;
    // The band parameters are taken only under the custom spectrum choice,
    // so the choice goes first.
    SetParameterAutomated(kSpectrum, values[kSpectrum]);
    presets_.Apply(*this, index);
}

bool CenterChannelExtract::LoadParams(const host::PresetData& preset)
{
    const std::vector<float>& values = preset.GetParamList();
    if (values.size() != static_cast<std::size_t>(kCount))
        return false;
    SetParameterAutomated(kSpectrum, values[kSpectrum]);
    return AudioFilter::LoadParams(preset);
}

// -------------------------------------------------------------- processing

void CenterChannelExtract::ReserveFrames()
{
    // A new FFT size, interval or delay rebuilds the frames on the audio
    // thread: make room for the largest the settings allow at this rate.
    Kernel& k = *kernel_;
    const auto frame = static_cast<std::size_t>(FFTPoints(kFFTSizeChoices - 1));
    const double longestDelay = std::max(-kRows[kDelay].lo, kRows[kDelay].hi);
    const auto delay = static_cast<std::size_t>(std::lround(longestDelay / 1000.0 * GetSampleRate()));
    for (std::vector<double>* buffer : {&k.analysis, &k.inverseAnalysis, &k.synthesis, &k.outputLeft, &k.outputRight})
        buffer->reserve(frame);
    k.inputA.reserve(frame + delay);
    k.inputB.reserve(frame + delay);
    for (std::vector<float>* buffer : {&k.history, &k.powerRatio, &k.phaseCosine, &k.masks})
        buffer->reserve(frame / 2 + 1);
}

void CenterChannelExtract::RebuildFrames()
{
    Kernel& k = *kernel_;
    const int choice = fftChoice_.load();
    const int overlaps = overlaps_.load();
    k.fft = FFTFor(choice);
    k.points = FFTPoints(choice);
    k.hop = std::max(1, std::min(hop_.load(), k.points / overlaps));
    k.frameLength = std::max(2, overlaps * k.hop / 2 * 2);
    k.hop = std::min(k.hop, k.frameLength - 1);
    k.delay = DelayFrames(k.delayLeft, k.delayRight);

    const auto frame = static_cast<std::size_t>(k.frameLength);
    k.analysis.assign(frame, 0.0);
    k.inverseAnalysis.assign(frame, 0.0);
    k.synthesis.assign(frame, 0.0);
    k.inputA.assign(frame + static_cast<std::size_t>(k.delay), 0.0);
    k.inputB.assign(frame + static_cast<std::size_t>(k.delay), 0.0);
    k.outputLeft.assign(frame, 0.0);
    k.outputRight.assign(frame, 0.0);
    const auto bins = static_cast<std::size_t>(k.points / 2 + 1);
    k.history.assign(bins, 0.0f);
    k.powerRatio.assign(bins, 1.0f);
    k.phaseCosine.assign(bins, 1.0f);
    k.masks.assign(bins, 1.0f);

    const double length = k.frameLength;
    const int exponent = WindowExponent(overlaps);
    for (std::size_t i = 0; i < frame; ++i) {
        const double x = 2.0 * std::numbers::pi * static_cast<double>(i) / length;
        k.analysis[i] = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2.0 * x) - 0.01168 * std::cos(3.0 * x);
        k.inverseAnalysis[i] = 1.0 / (k.analysis[i] * k.points);
        k.synthesis[i] = std::pow(std::cos(2.0 * std::numbers::pi * (static_cast<double>(i) / length + 0.5)) + 1.0,
                                  exponent);
    }
    // Scale the synthesis window so overlapped copies add up to 1.
    double sum = 0.0;
    for (int i = k.hop / 2; i < k.frameLength; i += k.hop)
        sum += k.synthesis[static_cast<std::size_t>(i)];
    for (double& value : k.synthesis)
        value /= sum;

    k.writeIndex = 0;
    k.readIndex = 0;
    k.firstFrame = true;
}

void CenterChannelExtract::RecomputeRange()
{
    Kernel& k = *kernel_;
    const double centerDb = Value(kCenterChannelLevel);
    const double sideDb = Value(kSideChannelLevels);
    k.inverted = sideDb > centerDb;
    k.levelLimit = static_cast<float>(k.inverted ? DbToGain(centerDb - sideDb) : 1.0 - DbToGain(sideDb - centerDb));
    k.sideMask = k.inverted ? 1.0f : k.levelLimit;
    k.centerGain = DbToGain(centerDb);
    k.sideGain = DbToGain(sideDb);

    k.pan = panFactor_.load();
    k.matrixC = 1.0 - std::fabs(k.pan) / 2.0;
    k.halfPan = k.pan / 2.0;
    k.correction = 1.0 / (1.0 - k.matrixC * std::fabs(k.pan));

    const double rate = GetSampleRate();
    const double low = std::min(Value(kStartFrequency), Value(kEndFrequency));
    const double high = std::max(Value(kStartFrequency), Value(kEndFrequency));
    const int half = k.points / 2;
    k.startBin = low == 0.0 ? 0 : static_cast<int>(std::clamp<long>(std::lround(k.points * low / rate), 0, half));
    k.endBin = high == 0.0 ? half : static_cast<int>(std::clamp<long>(std::lround(k.points * high / rate), 0, half));

    const double phaseDegree = Value(kPhaseDegree);
    const double offset = phaseDegree != 0.0 ? std::fmod(phaseDegree / 360.0 + 1.0, 1.0) : 0.0;
    k.phaseCos = std::cos(2.0 * std::numbers::pi * offset);
    k.phaseSin = std::sin(2.0 * std::numbers::pi * offset);
    k.inverseHalf = 2.0f / static_cast<float>(k.points);
    k.bleedScale = static_cast<float>(std::pow(10.0, Value(kCrossoverBleed) / 10.0) * kBleedScale);
    k.phaseExponent = Value(kPhaseDiscrimination);
    k.amplitudeDiscrimination = Value(kAmplitudeDiscrimination);
    k.amplitudeBandwidth = Value(kAmplitudeBandwidth);
    k.inverseBandwidth = k.amplitudeBandwidth > 0.0f ? 1.0f / k.amplitudeBandwidth : 0.0f;
    k.decay = Value(kSpectralDecayRate) / 100.0f;
}

void CenterChannelExtract::ProcessFrame()
{
    Kernel& k = *kernel_;
    const int frame = k.frameLength;
    const int keep = frame - k.hop; // samples each frame shares with the next
    const double* a = k.inputA.data() + k.delayLeft;
    const double* b = k.inputB.data() + k.delayRight;

    std::complex<double>* data = k.fft->Data();
    for (int i = 0; i < frame; ++i)
        data[i] = {a[i] * k.analysis[static_cast<std::size_t>(i)], b[i] * k.analysis[static_cast<std::size_t>(i)]};
    std::fill(data + frame, data + k.points, std::complex<double>{});
    k.fft->Forward();
    k.MaskSpectrum();
    k.fft->Inverse();

    for (int i = 0; i < frame; ++i) {
        const auto at = static_cast<std::size_t>(i);
        // The side part of the frame, unwindowed and scaled.
        const double sideA = data[i].real() * k.inverseAnalysis[at];
        const double sideB = data[i].imag() * k.inverseAnalysis[at];
        double left, right;
        if (k.inverted) {
            left = sideA * k.sideGain;
            right = sideB * k.sideGain;
        } else {
            left = (a[i] - sideA) * k.centerGain;
            right = (b[i] - sideB) * k.centerGain;
        }
        if (k.pan != 0.0) {
            const double unmixedLeft = (k.matrixC * left - k.halfPan * right) * k.correction;
            right = (k.matrixC * right + k.halfPan * left) * k.correction;
            left = unmixedLeft;
        }
        left *= k.synthesis[at];
        right *= k.synthesis[at];
        if (i < keep) {
            k.outputLeft[at] = k.outputLeft[at + static_cast<std::size_t>(k.hop)] + left;
            k.outputRight[at] = k.outputRight[at + static_cast<std::size_t>(k.hop)] + right;
        } else {
            k.outputLeft[at] = left;
            k.outputRight[at] = right;
        }
    }

    if (k.firstFrame) {
        // The frames before the first one never existed; their share of the
        // overlap-add comes from the dry input, so the output starts with the
        // input itself and crossfades into the processed signal.
        for (int i = 0; i < keep; ++i) {
            double missing = 0.0;
            for (int t = i + k.hop; t < frame; t += k.hop)
                missing += k.synthesis[static_cast<std::size_t>(t)];
            const double dryLeft = (k.matrixC * a[i] - k.halfPan * b[i - k.delayRight + k.delayLeft]) * k.correction;
            const double dryRight = (k.matrixC * b[i] + k.halfPan * a[i - k.delayLeft + k.delayRight]) * k.correction;
            k.outputLeft[static_cast<std::size_t>(i)] += missing * dryLeft;
            k.outputRight[static_cast<std::size_t>(i)] += missing * dryRight;
        }
        k.firstFrame = false;
    }

    const std::size_t kept = static_cast<std::size_t>(keep + k.delay);
    std::memmove(k.inputA.data(), k.inputA.data() + k.hop, kept * sizeof(double));
    std::memmove(k.inputB.data(), k.inputB.data() + k.hop, kept * sizeof(double));
    k.writeIndex = static_cast<int>(kept);
    k.readIndex = 0;
}

void CenterChannelExtract::Process(float** inputs, float** outputs, int frames)
{
    dsp::ScopedFlushDenormals flushDenormals;
    if (frames <= 0)
        return;
    const bool rebuild = work_.TakeReset();
    const bool update = work_.TakeUpdate();
    if (rebuild)
        RebuildFrames();
    if (rebuild || update)
        RecomputeRange();

    Kernel& k = *kernel_;
    const float* inLeft = inputs[0];
    const float* inRight = inputs[1];
    float* outLeft = outputs[0];
    float* outRight = outputs[1];
    const int frameEnd = k.frameLength + k.delay;
    for (int done = 0; done < frames;) {
        const int run = std::min(frames - done, frameEnd - k.writeIndex);
        // Input first: the host may pass the same arrays for input and output.
        double* a = k.inputA.data() + k.writeIndex;
        double* b = k.inputB.data() + k.writeIndex;
        for (int i = 0; i < run; ++i) {
            double left = inLeft[done + i];
            double right = inRight[done + i];
            left = std::isfinite(left) ? std::clamp(left, -kMaxInput, kMaxInput) : 0.0;
            right = std::isfinite(right) ? std::clamp(right, -kMaxInput, kMaxInput) : 0.0;
            a[i] = k.matrixC * left + k.halfPan * right;
            b[i] = k.matrixC * right - k.halfPan * left;
        }
        if (k.firstFrame) {
            std::fill(outLeft + done, outLeft + done + run, 0.0f);
            std::fill(outRight + done, outRight + done + run, 0.0f);
        } else {
            for (int i = 0; i < run; ++i) {
                outLeft[done + i] = static_cast<float>(k.outputLeft[static_cast<std::size_t>(k.readIndex + i)]);
                outRight[done + i] = static_cast<float>(k.outputRight[static_cast<std::size_t>(k.readIndex + i)]);
            }
        }
        k.readIndex += run;
        k.writeIndex += run;
        done += run;
        if (k.writeIndex == frameEnd)
            ProcessFrame();
    }
}

} // namespace zoc::components

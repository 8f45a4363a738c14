#include "effects/spatial/CenterChannelExtract.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <numbers>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "contracts/host/PresetData.h"
#include "dsp/FFT.h"
#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using test::Rms;
using test::Signal;
using Self = CenterChannelExtract;

constexpr float kRate = 48000.0f;
constexpr int kAcapella = 1;    // five overlays
constexpr int kVocalRemove = 7; // center at -40 dB, side at 0 dB

/// RMS of out[i] - gain * in[i - delay] over [from, to), relative to the
/// RMS of the scaled input, in dB.
double ErrorDb(const std::vector<float>& out, const std::vector<float>& in, double gain, std::size_t delay,
               std::size_t from, std::size_t to)
{
    double error = 0.0, reference = 0.0;
    for (std::size_t i = from; i < to; ++i) {
        const double expected = gain * in[i - delay];
        error += (out[i] - expected) * (out[i] - expected);
        reference += expected * expected;
    }
    return test::Db(std::sqrt(error / reference));
}

struct CenterFixture : ::testing::Test {
    core::Ref<Self> extractor{new Self};
    test::TestHost host{extractor};

    void SetUp() override { host.Configure(2, kRate); }

    void SetReal(int index, float value)
    {
        extractor->SetParameter(index, extractor->GetParameterInfo(index)->ToNormalized(value));
    }
    float Real(int index) { return extractor->GetParameterInfo(index)->FromNormalized(extractor->GetParameter(index)); }
    void SetLevels(float centerDb, float sideDb)
    {
        SetReal(Self::kCenterChannelLevel, centerDb);
        SetReal(Self::kSideChannelLevels, sideDb);
    }
};

Signal Stereo(std::vector<float> left, std::vector<float> right) { return {std::move(left), std::move(right)}; }

std::vector<float> Scaled(std::vector<float> x, float gain)
{
    for (float& v : x)
        v *= gain;
    return x;
}

TEST_F(CenterFixture, SharedContentComesOutAtTheCenterLevelAndOneChannelAtTheSideLevel)
{
    // (center dB, side dB): normal mode when the center is louder, inverted otherwise.
    const std::pair<float, float> levels[] = {{0.0f, -30.0f}, {-40.0f, 0.0f}, {6.0f, -12.0f}, {-12.0f, 6.0f}};
    // Forty tones from 100 Hz to 20 kHz at random phases: broadband, and
    // all of it well inside the default band (20 Hz up), window main lobes included.
    const std::size_t frames = 48000;
    const std::vector<float> phases = test::Noise(40, 11);
    std::vector<float> tones(frames, 0.0f);
    for (int tone = 0; tone < 40; ++tone) {
        const double frequency = 100.0 * std::pow(200.0, tone / 39.0);
        for (std::size_t i = 0; i < frames; ++i)
            tones[i] += 0.05f * static_cast<float>(std::sin(2.0 * std::numbers::pi * frequency * i / kRate +
                                                            std::numbers::pi * phases[tone]));
    }
    const std::vector<float> silence(frames, 0.0f);
    for (const auto& [centerDb, sideDb] : levels) {
        SetLevels(centerDb, sideDb);
        const auto latency = static_cast<std::size_t>(extractor->GetInitialDelay());
        const std::size_t from = latency + 10000; // past the crossfade from the dry input
        const Signal shared = host.Run(Stereo(tones, tones));
        for (std::size_t channel = 0; channel < 2; ++channel)
            EXPECT_LT(ErrorDb(shared[channel], tones, test::FromDb(centerDb), latency, from, frames), -40.0)
                << "center " << centerDb << " side " << sideDb << " channel " << channel;

        const Signal single = host.Run(Stereo(tones, silence));
        EXPECT_LT(ErrorDb(single[0], tones, test::FromDb(sideDb), latency, from, frames), -40.0)
            << "center " << centerDb << " side " << sideDb;
        EXPECT_LT(Rms(single[1], from, frames), 1e-5 * Rms(tones, 0, frames)) << "the silent channel stays silent";
        const Signal mirrored = host.Run(Stereo(silence, tones));
        EXPECT_LT(ErrorDb(mirrored[1], tones, test::FromDb(sideDb), latency, from, frames), -40.0) << "right only";
    }
}

TEST_F(CenterFixture, EveryFrameGeometryReproducesItsInputFromTheFirstSampleAtTheReportedLatency)
{
    // With both levels at 0 dB the output is the input, delayed: this checks
    // windows, overlap-add, the start from the dry input and the latency.
    SetLevels(0.0f, 0.0f);
    const std::vector<float> left = Scaled(test::Noise(80000, 21), 0.5f);
    const std::vector<float> right = Scaled(test::Noise(80000, 22), 0.5f);
    for (int size = 0; size < Self::kFFTSizeChoices; ++size) {
        for (int overlays : {0, 4, 9}) {
            extractor->SetParameter(Self::kFFTSize, static_cast<float>(size));
            extractor->SetParameter(Self::kOverlays, static_cast<float>(overlays));
            const auto latency = static_cast<std::size_t>(extractor->GetInitialDelay());
            // The start from the dry input, then a few steady frames.
            const std::size_t frames = std::min(left.size(), 3 * latency + 2000);
            const Signal output = host.Run(Stereo({left.begin(), left.begin() + static_cast<std::ptrdiff_t>(frames)},
                                                  {right.begin(), right.begin() + static_cast<std::ptrdiff_t>(frames)}),
                                           1000);
            float worst = 0.0f;
            for (std::size_t i = 0; i < frames; ++i) {
                const float expectedLeft = i < latency ? 0.0f : left[i - latency];
                const float expectedRight = i < latency ? 0.0f : right[i - latency];
                worst = std::max({worst, std::fabs(output[0][i] - expectedLeft),
                                  std::fabs(output[1][i] - expectedRight)});
            }
            EXPECT_LT(worst, 2e-3f) << (512 << size) << " points, " << overlays + 3 << " overlays, latency "
                                    << latency;
        }
    }
}

TEST_F(CenterFixture, ReportedLatencyIsWhereAnAlignedClickComesOut)
{
    struct Case {
        const char* what;
        int preset;
        float delayMs; // custom extract with this channel delay when not 0
    };
    for (const Case& c : {Case{"default", 0, 0.0f}, Case{"right 2 ms late", 0, 2.0f},
                          Case{"left 1.5 ms late", 0, -1.5f}, Case{"five overlays", kAcapella, 0.0f}}) {
        host.GetSession().ApplyPreset(c.preset);
        if (c.delayMs != 0.0f) {
            extractor->SetParameter(Self::kExtract, static_cast<float>(Self::kExtractCustom));
            SetReal(Self::kDelay, c.delayMs);
        }
        // The same click in both channels, the later channel as late as the
        // delay setting expects, so it is center content.
        const std::size_t at = 30000;
        const auto lag = static_cast<std::size_t>(std::lround(std::fabs(c.delayMs) * kRate / 1000.0f));
        Signal input = test::ConstantSignal(2, 60000, 0.0f);
        input[c.delayMs >= 0.0f ? 0 : 1][at] = 1.0f;
        input[c.delayMs >= 0.0f ? 1 : 0][at + lag] = 1.0f;
        const Signal output = host.Run(input);
        const int latency = extractor->GetInitialDelay();
        for (std::size_t channel = 0; channel < 2; ++channel) {
            const auto peak = std::max_element(output[channel].begin(), output[channel].end(),
                                               [](float a, float b) { return std::fabs(a) < std::fabs(b); });
            EXPECT_EQ(peak - output[channel].begin() - static_cast<std::ptrdiff_t>(at), latency)
                << c.what << " channel " << channel;
            EXPECT_GT(std::fabs(*peak), 0.5f) << c.what;
        }
    }
    // 2 ms at 48 kHz, 4 overlays of 1124 samples.
    host.GetSession().ApplyPreset(0);
    extractor->SetParameter(Self::kExtract, static_cast<float>(Self::kExtractCustom));
    SetReal(Self::kDelay, 2.0f);
    EXPECT_EQ(extractor->GetInitialDelay(), 96 + 4496);
}

/// Power of `x` in Welch-averaged Hann-windowed 4096-point spectra.
std::vector<double> PowerSpectrum(const std::vector<float>& x, std::size_t from, std::size_t to)
{
    constexpr int kSize = 4096;
    dsp::RealFFT fft(kSize);
    std::vector<float> window(kSize), segment(kSize);
    dsp::GetFFTWindow(dsp::WindowType::Hann, window.data(), kSize);
    std::vector<std::complex<float>> bins(kSize / 2 + 1);
    std::vector<double> power(bins.size(), 0.0);
    for (std::size_t start = from; start + kSize <= to; start += kSize / 2) {
        for (int i = 0; i < kSize; ++i)
            segment[i] = x[start + i] * window[i];
        fft.Forward(segment.data(), bins.data());
        for (std::size_t k = 0; k < bins.size(); ++k)
            power[k] += std::norm(bins[k]);
    }
    return power;
}

TEST_F(CenterFixture, VocalRemoveDropsACentredVoiceAndKeepsTheWideMix)
{
    // A voice-like tone (220 Hz with harmonics falling 6 dB per octave) in
    // the center, decorrelated noise in the two channels around it.
    const std::size_t frames = 4 * 48000;
    constexpr double kPitch = 220.0;
    std::vector<float> voice(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        double sum = 0.0;
        for (int harmonic = 1; harmonic <= 15; ++harmonic)
            sum += std::sin(2.0 * std::numbers::pi * kPitch * harmonic * static_cast<double>(i) / kRate) / harmonic;
        voice[i] = static_cast<float>(0.25 * sum);
    }
    const std::vector<float> wideLeft = Scaled(test::Noise(frames, 31), 0.1f);
    const std::vector<float> wideRight = Scaled(test::Noise(frames, 32), 0.1f);
    Signal mix = Stereo(voice, voice);
    for (std::size_t i = 0; i < frames; ++i) {
        mix[0][i] += wideLeft[i];
        mix[1][i] += wideRight[i];
    }

    host.GetSession().ApplyPreset(kVocalRemove);
    const Signal output = host.Run(mix);
    const auto latency = static_cast<std::size_t>(extractor->GetInitialDelay());
    const std::size_t from = latency + 20000;

    // Harmonic bins (with the Hann main lobe) carry the voice; the rest the wide part.
    const double binHz = kRate / 4096.0;
    auto isVoiceBin = [&](std::size_t k) {
        const double harmonic = std::round(k * binHz / kPitch);
        return harmonic >= 1 && harmonic <= 15 && std::fabs(k * binHz - harmonic * kPitch) < 2.5 * binHz;
    };
    for (std::size_t channel = 0; channel < 2; ++channel) {
        const std::vector<float>& wide = channel == 0 ? wideLeft : wideRight;
        const auto before = PowerSpectrum(mix[channel], from - latency, frames - latency);
        const auto after = PowerSpectrum(output[channel], from, frames);
        const auto wideBefore = PowerSpectrum(wide, from - latency, frames - latency);
        double voiceIn = 0.0, voiceOut = 0.0, wideIn = 0.0, wideOut = 0.0;
        for (std::size_t k = 1; k < before.size(); ++k) {
            if (isVoiceBin(k)) {
                voiceIn += before[k];
                voiceOut += after[k];
            } else {
                wideIn += wideBefore[k];
                wideOut += after[k];
            }
        }
        const double voiceDrop = 10.0 * std::log10(voiceOut / voiceIn);
        const double wideChange = 10.0 * std::log10(wideOut / wideIn);
        EXPECT_LT(voiceDrop, -20.0) << "channel " << channel;
        EXPECT_LT(std::fabs(wideChange), 2.0) << "channel " << channel;
        RecordProperty(channel == 0 ? "VoiceDropLeftDb" : "VoiceDropRightDb", std::to_string(voiceDrop));
        RecordProperty(channel == 0 ? "WideChangeLeftDb" : "WideChangeRightDb", std::to_string(wideChange));
    }
}

TEST_F(CenterFixture, ExtractChoicesSteerWhatCountsAsCenter)
{
    const std::size_t frames = 48000;
    const std::vector<float> toneA = test::SineSignal(1, frames, kRate, 1000.0f, 0.3f)[0];
    const std::vector<float> toneB = test::SineSignal(1, frames, kRate, 3000.0f, 0.3f)[0];
    const std::vector<float> silence(frames, 0.0f);
    auto levelOf = [&](const std::vector<float>& x, double frequency, std::size_t from) {
        std::vector<float> tail(x.begin() + static_cast<std::ptrdiff_t>(from), x.end());
        return test::Db(test::MagnitudeAt(tail, frequency / kRate) * 2.0 / static_cast<double>(tail.size()) / 0.3);
    };
    struct Case {
        const char* what;
        Self::Extract extract;
        Signal input;      // tone A is the source to extract, tone B the rest
        std::size_t probe; // output channel where both tones are measured
    };
    std::vector<float> invertedA = Scaled(toneA, -1.0f);
    std::vector<float> aPlusB = toneA, bOnly = toneB;
    for (std::size_t i = 0; i < frames; ++i)
        aPlusB[i] += toneB[i];
    const Case cases[] = {
        {"center", Self::kExtractCenter, Stereo(aPlusB, toneA), 0},
        {"left", Self::kExtractLeft, Stereo(aPlusB, toneB), 0},
        {"right", Self::kExtractRight, Stereo(toneB, aPlusB), 1},
        {"out of phase", Self::kExtractOutOfPhase, Stereo(aPlusB, invertedA), 0},
        {"3 dB apart", Self::kExtractCenter, Stereo(aPlusB, Scaled(toneA, 0.708f)), 0},
    };
    for (const Case& c : cases) {
        host.GetSession().ApplyPreset(0);
        extractor->SetParameter(Self::kExtract, static_cast<float>(c.extract));
        SetLevels(0.0f, -40.0f);
        SetReal(Self::kAmplitudeDiscrimination, 4.0f); // a level difference up to 4 dB is center
        SetReal(Self::kAmplitudeBandwidth, 0.0f);
        const Signal output = host.Run(c.input);
        const std::size_t from = static_cast<std::size_t>(extractor->GetInitialDelay()) + 10000;
        EXPECT_NEAR(levelOf(output[c.probe], 1000.0, from), 0.0, 0.5) << c.what;
        EXPECT_LT(levelOf(output[c.probe], 3000.0, from), -30.0) << c.what;
    }
}

// The soft parts of the mask on partly correlated noise, pinned: crossover
// bleed, spectral decay and the band's edge bins all move these levels.
TEST_F(CenterFixture, BleedDecayAndBandEdgesShapeWhatPasses)
{
    const std::size_t frames = 48000;
    std::vector<float> left = Scaled(test::Noise(frames, 41), 0.3f), right = left;
    const std::vector<float> apart = Scaled(test::Noise(frames, 42), 0.3f);
    for (std::size_t i = 0; i < frames; ++i) {
        left[i] += apart[i];
        right[i] -= 0.5f * apart[i];
    }
    SetLevels(0.0f, -20.0f);
    SetReal(Self::kCrossoverBleed, 30.0f);
    SetReal(Self::kSpectralDecayRate, 30.0f);
    SetReal(Self::kStartFrequency, 200.0f);
    SetReal(Self::kEndFrequency, 6000.0f);
    const Signal output = host.Run(Stereo(left, right));
    const std::size_t from = static_cast<std::size_t>(extractor->GetInitialDelay()) + 10000;
    EXPECT_NEAR(Rms(output[0], from, frames), 0.0864917309, 1e-6);
    EXPECT_NEAR(Rms(output[1], from, frames), 0.0850709792, 1e-6);
    // Under the custom spectrum a centred tone four bins (of 8192) above the
    // band's end, its main lobe clear of the softened edge bin, is side
    // content: it comes out at the side level.
    extractor->SetParameter(Self::kSpectrum, Self::kSpectrumCustom);
    SetReal(Self::kEndFrequency, 6000.0f);
    std::vector<float> tone(frames);
    for (std::size_t i = 0; i < frames; ++i)
        tone[i] = 0.3f * static_cast<float>(std::sin(2.0 * std::numbers::pi * (6000 + 4 * kRate / 8192) * i / kRate));
    EXPECT_NEAR(test::Db(Rms(host.Run(Stereo(tone, tone))[0], from, frames) / Rms(tone, from, frames)), -20.0, 0.5);
}

TEST_F(CenterFixture, ParametersFollowTheirRules)
{
    // Fixed extract choices set phase, pan and delay; those are taken only under "custom".
    extractor->SetParameter(Self::kExtract, static_cast<float>(Self::kExtractCustom));
    SetReal(Self::kPan, 40.0f);
    SetReal(Self::kDelay, 3.0f);
    extractor->SetParameter(Self::kExtract, static_cast<float>(Self::kExtractLeft));
    EXPECT_FLOAT_EQ(Real(Self::kPan), -100.0f);
    EXPECT_FLOAT_EQ(Real(Self::kDelay), 0.0f);
    SetReal(Self::kPan, 50.0f);
    SetReal(Self::kPhaseDegree, 90.0f);
    EXPECT_FLOAT_EQ(Real(Self::kPan), -100.0f);
    EXPECT_FLOAT_EQ(Real(Self::kPhaseDegree), 0.0f);

    // Band parameters move only under the custom spectrum; the band stays
    // inside 20 Hz to half the rate and at least 20 Hz wide.
    SetReal(Self::kStartFrequency, 500.0f);
    EXPECT_FLOAT_EQ(Real(Self::kStartFrequency), 20.0f);
    extractor->SetParameter(Self::kSpectrum, 4.0f);
    SetReal(Self::kEndFrequency, 3000.0f);
    SetReal(Self::kStartFrequency, 5000.0f);
    EXPECT_FLOAT_EQ(Real(Self::kEndFrequency), 5000.0f);
    EXPECT_FLOAT_EQ(Real(Self::kFrequencyWidth), 20.0f);
    SetReal(Self::kFrequencyWidth, 30000.0f); // around 5010 Hz
    EXPECT_FLOAT_EQ(Real(Self::kStartFrequency), 20.0f);
    EXPECT_FLOAT_EQ(Real(Self::kEndFrequency), 17000.0f);
    SetReal(Self::kCenterFrequency, 20000.0f);
    EXPECT_FLOAT_EQ(Real(Self::kEndFrequency), 24000.0f);
    host.Configure(2, 22050.0f);
    EXPECT_FLOAT_EQ(Real(Self::kEndFrequency), 11025.0f);
    EXPECT_FLOAT_EQ(extractor->GetParameterInfo(Self::kCenterFrequency)->FromNormalized(1.0f), 11025.0f);
    host.Configure(2, kRate);

    // Presets saved at 44.1 kHz keep their band in Hz at 48 kHz.
    host.GetSession().ApplyPreset(kVocalRemove);
    EXPECT_NEAR(Real(Self::kStartFrequency), 120.0f, 0.1f);
    EXPECT_NEAR(Real(Self::kEndFrequency), 20000.0f, 0.1f);
    EXPECT_FLOAT_EQ(Real(Self::kOriginalSampleRate), kRate);

    // Bad values are ignored: NaN, FFT size and overlay choices off the table, the output-only flag.
    const float latency = static_cast<float>(extractor->GetInitialDelay());
    for (const auto& [index, value] : {std::pair{Self::kFFTSize, 7.0f}, {Self::kFFTSize, -1.0f},
                                       {Self::kOverlays, 10.0f}, {Self::kFFTSize, std::nanf("")},
                                       {Self::kIsProcessing, 1.0f}, {Self::kExtract, 5.0f}}) {
        extractor->SetParameter(index, value);
        EXPECT_EQ(static_cast<float>(extractor->GetInitialDelay()), latency) << index << " " << value;
    }
    EXPECT_EQ(extractor->GetParameter(Self::kIsProcessing), extractor->GetParameterInfo(20)->ToNormalized(0.0f));
    host.Resume();
    EXPECT_EQ(extractor->GetParameter(Self::kIsProcessing), extractor->GetParameterInfo(20)->ToNormalized(1.0f));
}

TEST_F(CenterFixture, SavedSettingsLoadBackIntoAFreshComponent)
{
    host.GetSession().ApplyPreset(kAcapella);
    host::PresetData saved;
    extractor->SaveSettings(saved);
    ASSERT_EQ(saved.GetParamList().size(), 22u);

    // A fresh component loads them back, band included (the spectrum choice goes first).
    core::Ref<Self> other{new Self};
    test::TestHost otherHost{other};
    otherHost.Configure(2, kRate);
    EXPECT_TRUE(other->LoadSettings(saved));
    for (int index = 0; index < Self::kParameterCount; ++index)
        EXPECT_FLOAT_EQ(other->GetParameter(index), extractor->GetParameter(index)) << index;
}

TEST_F(CenterFixture, BadInputDoesNotPoisonLaterOutputAndRunsRepeatExactly)
{
    host.GetSession().ApplyPreset(0);
    SetReal(Self::kSpectralDecayRate, 30.0f); // the decay history must not keep a NaN either
    Signal input = Stereo(test::Noise(60000, 41), test::Noise(60000, 42));
    input[0][1000] = std::nanf("");
    input[1][1001] = INFINITY;
    input[0][1002] = 1e30f;
    const Signal first = host.Run(input);
    for (std::size_t channel = 0; channel < 2; ++channel)
        for (std::size_t i = 0; i < first[channel].size(); ++i)
            ASSERT_TRUE(std::isfinite(first[channel][i])) << "channel " << channel << " frame " << i;
    EXPECT_EQ(test::MaxDifference(host.Run(input), first), 0.0f);
}

TEST(CenterChannelExtractThreaded, SettingsChangeWhileTheAudioThreadRuns)
{
    // The control thread changes mask settings and the frame size while the
    // audio thread processes; the audio thread takes them in at block starts.
    core::Ref<Self> extractor{new Self};
    test::TestHost host{extractor};
    host.Configure(2, kRate);
    host.GetSession().ApplyPreset(kVocalRemove);
    const Signal input = Stereo(test::Noise(512, 51), test::Noise(512, 52));
    Signal output = input;
    host.Resume();
    const float loud = extractor->GetParameterInfo(Self::kCenterChannelLevel)->ToNormalized(3.0f);
    const float quiet = extractor->GetParameterInfo(Self::kCenterChannelLevel)->ToNormalized(-20.0f);
    std::atomic<bool> done{false};
    std::thread control([&] {
        for (int round = 0; !done.load(); ++round) {
            extractor->SetParameter(Self::kCenterChannelLevel, round % 2 ? quiet : loud);
            extractor->SetParameter(Self::kPhaseDiscrimination, static_cast<float>(round % 10) / 10.0f);
            extractor->SetParameter(Self::kStartFrequency, static_cast<float>(round % 7) / 70.0f);
            if (round % 50 == 0)
                extractor->SetParameter(Self::kFFTSize, static_cast<float>(2 + round / 50 % 2));
            std::this_thread::yield();
        }
    });
    bool finite = true;
    for (int block = 0; block < 400; ++block) {
        host.ProcessBlock(input, output, 0, 512);
        finite = finite && std::isfinite(output[0][511]) && std::isfinite(output[1][511]);
    }
    done = true;
    control.join();
    EXPECT_TRUE(finite);
}

} // namespace
} // namespace zoc::components

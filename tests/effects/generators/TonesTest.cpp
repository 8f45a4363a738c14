// Generate Tones measured as a listener would: pitch, chord spectra, sweep
// tracking, levels and edges of every preset, tremolo depth and rate; then the
// component's host contract.

#include "effects/generators/Tones.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "dsp/FFT.h"
#include "framework/Library.h"
#include "platform/host/OfflineSession.h"
#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using test::Signal;
using Tone = dsp::tones::TonesDSP;

constexpr int kRate = 48000;

class MemoryReader : public OfflineIInterface {
public:
    explicit MemoryReader(const Signal& signal) : signal_(signal) {}
    long GetChannelCount() const override { return static_cast<long>(signal_.size()); }
    long GetAudio(float** destination, long channels, std::int64_t position, long frames) override
    {
        const auto length = static_cast<std::int64_t>(signal_[0].size());
        const long delivered = static_cast<long>(std::clamp<std::int64_t>(length - position, 0, frames));
        for (long channel = 0; channel < channels; ++channel)
            std::copy_n(signal_[static_cast<std::size_t>(channel)].begin() + position, delivered, destination[channel]);
        return delivered;
    }

private:
    const Signal& signal_;
};

struct RenderSetup {
    int preset = 0;
    double seconds = 1.0;
    std::size_t channels = 2;
    std::vector<std::pair<int, float>> normalized = {}; ///< after the preset
};

/// Renders through the host's offline session, as zoc does.
Signal Render(const RenderSetup& setup, const Signal* input = nullptr)
{
    auto tones = core::MakeRef<Tones>();
    host::OfflineSession session(tones);
    EXPECT_TRUE(session.Configure(setup.channels, static_cast<float>(kRate)));
    session.Configuration().ApplyPreset(setup.preset);
    for (auto [index, value] : setup.normalized)
        session.Configuration().SetParameter(index, value);
    if (input != nullptr)
        session.SetReader(core::MakeRef<MemoryReader>(*input));
    const auto frames = static_cast<std::int64_t>(setup.seconds * kRate);
    session.SetSelection(0, frames);
    Signal output(setup.channels, std::vector<float>(static_cast<std::size_t>(frames)));
    EXPECT_TRUE(session.Start());
    std::int64_t done = 0;
    Signal block(setup.channels, std::vector<float>(4096));
    std::vector<float*> pointers;
    for (auto& channel : block)
        pointers.push_back(channel.data());
    // Until the run says it is over, not just until the frames are in.
    while (const long got = session.Read(pointers.data(), 4096)) {
        for (std::size_t c = 0; c < setup.channels; ++c)
            std::copy_n(block[c].begin(), std::min<std::int64_t>(got, frames - done), output[c].begin() + done);
        done += got;
    }
    EXPECT_EQ(done, frames);
    EXPECT_TRUE(session.Finished());
    return output;
}

/// Times (in frames) of the upward zero crossings, linearly interpolated.
std::vector<double> UpwardCrossings(const std::vector<float>& x, std::size_t from, std::size_t to)
{
    std::vector<double> times;
    for (std::size_t n = from + 1; n < to; ++n)
        if (x[n - 1] < 0.0f && x[n] >= 0.0f)
            times.push_back(static_cast<double>(n - 1) + x[n - 1] / (x[n - 1] - x[n]));
    return times;
}

/// Magnitudes in dB relative to the strongest bin, Blackman-Harris window.
std::vector<double> SpectrumDb(const std::vector<float>& x, std::size_t offset, int size)
{
    std::vector<float> windowed(static_cast<std::size_t>(size));
    for (int n = 0; n < size; ++n) {
        const double phase = 2.0 * std::numbers::pi * n / size;
        const double w = 0.35875 - 0.48829 * std::cos(phase) + 0.14128 * std::cos(2 * phase) -
                         0.01168 * std::cos(3 * phase);
        windowed[static_cast<std::size_t>(n)] = static_cast<float>(w * x[offset + static_cast<std::size_t>(n)]);
    }
    dsp::RealFFT fft(size);
    std::vector<std::complex<float>> bins(static_cast<std::size_t>(fft.BinCount()));
    fft.Forward(windowed.data(), bins.data());
    std::vector<double> db(bins.size());
    double peak = 0.0;
    for (const auto& bin : bins)
        peak = std::max(peak, static_cast<double>(std::abs(bin)));
    for (std::size_t k = 0; k < bins.size(); ++k)
        db[k] = test::Db(std::max(static_cast<double>(std::abs(bins[k])), 1e-30) / peak);
    return db;
}

/// Frequencies (Hz) of the bins above `floorDb` that are not within `slack`
/// Hz of one of `expected`; and which expected ones have no bin above it.
struct SpectrumCheck { std::vector<double> unexpected; std::vector<double> missing; };
SpectrumCheck CheckPeaks(const std::vector<double>& db, int size, const std::vector<double>& expected,
                         double floorDb, double slack)
{
    SpectrumCheck check;
    const double binHz = static_cast<double>(kRate) / size;
    std::vector<bool> found(expected.size(), false);
    for (std::size_t k = 0; k < db.size(); ++k) {
        if (db[k] < floorDb)
            continue;
        const double hz = static_cast<double>(k) * binHz;
        bool near = false;
        for (std::size_t e = 0; e < expected.size(); ++e)
            if (std::fabs(hz - expected[e]) <= slack) {
                near = true;
                found[e] = true;
            }
        if (!near)
            check.unexpected.push_back(hz);
    }
    for (std::size_t e = 0; e < expected.size(); ++e)
        if (!found[e])
            check.missing.push_back(expected[e]);
    return check;
}

class TonesThreaded : public ::testing::Test {
protected:
    void SetUp() override { Initialize(); }
    void TearDown() override { Terminate(); }
};

TEST_F(TonesThreaded, DefaultIs440HertzAtFortyEightKilohertz)
{
    const Signal out = Render({0, 4.0});
    const std::vector<double> crossings = UpwardCrossings(out[0], kRate / 10, out[0].size() - kRate / 10);
    ASSERT_GT(crossings.size(), 1000u);
    const double hz = kRate * static_cast<double>(crossings.size() - 1) / (crossings.back() - crossings.front());
    // The preset stores 439.990 Hz (0.018332925 of 24 kHz).
    EXPECT_NEAR(hz, 440.0, 0.01);
    RecordProperty("measured_hz", std::to_string(hz));
    EXPECT_EQ(out[0], out[1]);
    // -9 dB sine.
    EXPECT_NEAR(*std::max_element(out[0].begin(), out[0].end()), test::FromDb(-9.03), 1e-3);
}

TEST_F(TonesThreaded, ChordsHaveTheirNotesAndNothingElseAboveMinus60Decibels)
{
    constexpr int kSize = 65536;
    // 220 Hz at 44.1 kHz original rate, ratios 1, 1.259, 1.498, 2; minor: 1.189.
    const struct {
        int preset;
        std::vector<double> ratios;
    } chords[] = {{7, {1.0, 1.2590909, 1.4981818, 2.0}}, {8, {1.0, 1.1890001, 1.4981818, 2.0}}};
    for (const auto& chord : chords) {
        const Signal out = Render({chord.preset, 2.0});
        const double base = 0.009976875 * 22050.0;
        std::vector<double> expected;
        for (double ratio : chord.ratios)
            expected.push_back(base * ratio);
        const SpectrumCheck check = CheckPeaks(SpectrumDb(out[0], 10000, kSize), kSize, expected, -60.0, 3.0);
        EXPECT_TRUE(check.unexpected.empty()) << "preset " << chord.preset << ": " << check.unexpected.size()
                                              << " bins, first at " << check.unexpected.front() << " Hz";
        EXPECT_TRUE(check.missing.empty()) << "preset " << chord.preset;
    }
}

TEST_F(TonesThreaded, SweepsTrackTheirLineFrom20HzTo20kHz)
{
    for (const int preset : {5, 6}) {
        const bool logarithmic = preset == 6;
        const Signal out = Render({preset, 5.0, 1});
        const std::vector<float>& x = out[0];
        const std::vector<double> crossings = UpwardCrossings(x, kRate / 50, x.size() - kRate / 50);
        // Frequency over windows of at least 5 ms (and 2 cycles), at the
        // window's middle.
        std::vector<std::pair<double, double>> points; // seconds, Hz
        for (std::size_t i = 0; i + 2 < crossings.size();) {
            std::size_t j = i + 2;
            while (j + 1 < crossings.size() && crossings[j] - crossings[i] < 0.005 * kRate)
                ++j;
            const double span = crossings[j] - crossings[i];
            points.emplace_back(0.5 * (crossings[i] + crossings[j]) / kRate,
                                kRate * static_cast<double>(j - i) / span);
            i = j;
        }
        ASSERT_GT(points.size(), 100u);
        // Least-squares line through Hz (linear) or log Hz (log) over time.
        const auto value = [logarithmic](double hz) { return logarithmic ? std::log(hz) : hz; };
        double st = 0, sv = 0, stt = 0, stv = 0;
        for (auto [t, hz] : points) {
            st += t;
            sv += value(hz);
            stt += t * t;
            stv += t * value(hz);
        }
        const double n = static_cast<double>(points.size());
        const double slope = (n * stv - st * sv) / (n * stt - st * st);
        const double intercept = (sv - slope * st) / n;
        const auto line = [&](double t) {
            const double v = intercept + slope * t;
            return logarithmic ? std::exp(v) : v;
        };
        EXPECT_NEAR(line(0.0) / 20.0, 1.0, 0.01) << "preset " << preset << " starts at " << line(0.0);
        EXPECT_NEAR(line(5.0) / 20000.0, 1.0, 0.01) << "preset " << preset << " ends at " << line(5.0);
        double worst = 0.0;
        for (auto [t, hz] : points)
            worst = std::max(worst, std::fabs(hz / line(t) - 1.0));
        EXPECT_LT(worst, 0.01) << "preset " << preset;
        RecordProperty("sweep_" + std::to_string(preset), std::to_string(line(0.0)) + " Hz to " +
                                                             std::to_string(line(5.0)) + " Hz, worst " +
                                                             std::to_string(100.0 * worst) + " %");
    }
}

TEST_F(TonesThreaded, EveryPresetStaysBelowFullScaleAndStartsAndEndsQuietly)
{
    const Signal input = test::SineSignal(2, 2 * kRate, kRate, 300.0f, 0.5f);
    for (int preset = 0; preset < 14; ++preset) {
        auto probe = core::MakeRef<Tones>();
        probe->SetFactoryPreset(preset);
        const bool modulating = probe->GetParameter(Tone::kInteractionMode) > 0.0f;
        const Signal out = Render({preset, 2.0}, modulating ? &input : nullptr);
        for (std::size_t c = 0; c < out.size(); ++c) {
            const std::vector<float>& x = out[c];
            const float peak = test::TailPeak(x, x.size());
            EXPECT_LE(peak, 1.0f) << "preset " << preset;
            if (c == 0)
                RecordProperty("peak_" + std::to_string(preset), std::to_string(test::Db(peak)));
            EXPECT_GT(peak, 0.01f) << "preset " << preset;
            // The first and last samples join the silence (or the untouched
            // input) around the selection, and the change fades in and out:
            // within 1 ms of either edge it stays under 5 % of its peak.
            const std::vector<float>* reference = modulating ? &input[c] : nullptr;
            const auto change = [&](std::size_t n) { return std::fabs(x[n] - (reference ? (*reference)[n] : 0.0f)); };
            float changePeak = 0.0f;
            for (std::size_t n = 0; n < x.size(); ++n)
                changePeak = std::max(changePeak, change(n));
            EXPECT_LT(change(0), 1e-4f) << "preset " << preset;
            EXPECT_LT(change(x.size() - 1), 1e-4f) << "preset " << preset;
            float edge = 0.0f;
            for (std::size_t n = 0; n < kRate / 1000; ++n)
                edge = std::max({edge, change(n), change(x.size() - 1 - n)});
            EXPECT_LT(edge, 0.05f * changePeak) << "preset " << preset;
        }
    }
}

TEST_F(TonesThreaded, TremoloSwingsTheInputAtNineHertz)
{
    const Signal input = test::ConstantSignal(2, 2 * kRate, 0.5f);
    const Signal out = Render({13, 2.0}, &input);
    const auto [low, high] = std::minmax_element(out[0].begin() + kRate / 10, out[0].end() - kRate / 10);
    // Level -1 dB: the gain swings between 1 - 0.891 and 1.
    EXPECT_NEAR(*high, 0.5f, 1e-3f);
    EXPECT_NEAR(*low, 0.5f * (1.0f - static_cast<float>(test::FromDb(-1.0))), 2e-3f);
    std::vector<float> centred(out[0]);
    for (float& v : centred)
        v -= 0.5f * (*high + *low);
    const std::vector<double> crossings = UpwardCrossings(centred, kRate / 10, centred.size() - kRate / 10);
    ASSERT_GT(crossings.size(), 5u);
    const double hz = kRate * static_cast<double>(crossings.size() - 1) / (crossings.back() - crossings.front());
    EXPECT_NEAR(hz, 9.0, 0.02);
    EXPECT_NEAR(out[0][kRate / 36], *high, 0.01) << "the swing starts upward";
}

TEST_F(TonesThreaded, PhaseDifferenceOffsetsTheRightChannel)
{
    // Default tone, 90 degrees between the channels, no drift.
    const Signal out = Render({0, 0.5, 2, {{Tone::kPhaseDiff, 0.25f}}});
    const std::vector<double> left = UpwardCrossings(out[0], 4800, 20000);
    const std::vector<double> right = UpwardCrossings(out[1], 4800, 20000);
    ASSERT_FALSE(left.empty());
    ASSERT_FALSE(right.empty());
    const double period = kRate / 440.0;
    // The right channel leads: it crosses a quarter period earlier.
    double lead = std::fmod(left[1] - right[1] + 10 * period, period);
    EXPECT_NEAR(lead / period, 0.25, 0.002);
}

TEST_F(TonesThreaded, SameSettingsRenderTheSameSamples)
{
    const RenderSetup setup{12, 1.0};
    EXPECT_EQ(Render(setup), Render(setup));
}

TEST(TonesComponent, NewOneHoldsTheDefaultPresetAndIgnoresBadIndices)
{
    auto tones = core::MakeRef<Tones>();
    EXPECT_FLOAT_EQ(tones->GetParameter(1), 0.018332925f);
    EXPECT_EQ(tones->GetFactoryPresetName(14), u"");
    EXPECT_EQ(tones->GetParameterInfo(45), nullptr);
    const float before = tones->GetParameter(1);
    tones->SetFactoryPreset(14);
    tones->SetFactoryPreset(-1);
    tones->SetParameter(1, std::nanf(""));
    tones->SetParameter(99, 0.5f);
    tones->SetParameter(-1, 0.5f);
    EXPECT_EQ(tones->GetParameter(1), before);
    host::Session session(tones);
    EXPECT_FALSE(session.Configure(40, 48000.0f)) << "more channels than it takes";
    tones->SetCurrentDuration(std::nan(""));
    EXPECT_EQ(tones->GetProcessedDuration(), 0.0);
}

TEST(TonesComponent, LoadedSettingsApplyAtTheEndWithTheOriginalRateLast)
{
    auto tones = core::MakeRef<Tones>();
    tones->SetSampleRate(48000.0f);
    host::PresetData preset;
    std::vector<float> values(45);
    for (int i = 0; i < 45; ++i)
        values[static_cast<std::size_t>(i)] = tones->GetParameter(i);
    values[1] = 0.1f;
    values[43] = 0.5f;
    preset.SetParamList(values);
    ASSERT_TRUE(tones->LoadSettings(preset));
    EXPECT_FLOAT_EQ(tones->GetParameter(1), 0.1f);
    EXPECT_FLOAT_EQ(tones->GetParameter(43), 0.5f);

    // Not from a file: the original rate becomes the current one.
    tones->StartLoadingSettings();
    tones->SetParameter(1, 0.2f);
    EXPECT_FLOAT_EQ(tones->GetParameter(1), 0.1f) << "held until the load finishes";
    tones->FinishLoadingSettings(false);
    EXPECT_FLOAT_EQ(tones->GetParameter(1), 0.2f);
    EXPECT_FLOAT_EQ(tones->GetParameter(43), 0.25f);
}

TEST(TonesComponent, RateChangesMoveFrequencyBoundsAndKeepFractions)
{
    auto tones = core::MakeRef<Tones>();
    tones->SetSampleRate(48000.0f);
    tones->SetParameter(1, 0.02f);
    tones->SetParameter(24, 0.001f);
    tones->SetSampleRate(96000.0f);
    tones->SetSampleRate(0.0f); // ignored, as is NaN
    tones->SetSampleRate(std::nanf(""));
    auto* info = dynamic_cast<GenericParameterInfo*>(tones->GetParameterInfo(1).get());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->GetHiBound(), 48000.0f);
    EXPECT_FLOAT_EQ(tones->GetParameter(1), 0.02f);
    EXPECT_FLOAT_EQ(tones->GetParameter(24), 0.001f);
    EXPECT_FLOAT_EQ(tones->GetParameterInfo(24)->FromNormalized(1.0f), 48000.0f);
}

TEST(TonesComponent, PositionsMapBetweenOriginalAndProcessedDurations)
{
    auto tones = core::MakeRef<Tones>();
    EXPECT_EQ(tones->GetOriginalPosition(100.0), 0.0);
    tones->SetCurrentDuration(1000.0);
    tones->SetCurrentDuration(4000.0);
    EXPECT_EQ(tones->GetProcessedDuration(), 4000.0);
    EXPECT_EQ(tones->GetOriginalPosition(2000.0), 500.0);
    EXPECT_EQ(tones->GetProcessedPosition(500.0), 2000.0);
}

} // namespace
} // namespace zoc::components

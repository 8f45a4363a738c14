// zoc demo: renders a built-in test signal through every real-time component,
// each with the preset it is shown with, renders the generators, prints how
// each one did and writes a page to listen and compare.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <optional>
#include <sstream>

#include "framework/LogicalKeyframeEditor.h"
#include "platform/host/Session.h"
#include "tools/zoc/AudioFile.h"
#include "tools/zoc/Commands.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Curve.h"
#include "tools/zoc/DemoPage.h"
#include "tools/zoc/Errors.h"
#include "tools/zoc/OfflineRender.h"
#include "tools/zoc/Progress.h"
#include "tools/zoc/Render.h"
#include "tools/zoc/Table.h"

namespace zoc::tool {

namespace {

constexpr int kRate = 48000;
constexpr std::size_t kChannels = 2;
constexpr double kSeconds = 10.0;

/// Deterministic white noise in -1..1 (xorshift), so every run is identical.
class Noise {
public:
    explicit Noise(std::uint64_t seed) : state_(seed) {}
    float Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<float>(static_cast<double>(state_ >> 11) * 0x1.0p-52 - 1.0);
    }

private:
    std::uint64_t state_;
};

double Gain(double decibels) { return std::pow(10.0, decibels / 20.0); }

/// Raised-cosine edges of `fade` seconds at both ends of a segment.
double Envelope(double t, double length, double fade)
{
    if (t < fade)
        return 0.5 - 0.5 * std::cos(std::numbers::pi * t / fade);
    if (t > length - fade)
        return 0.5 - 0.5 * std::cos(std::numbers::pi * (length - t) / fade);
    return 1.0;
}

/// Ten seconds of stereo test signal: tone bursts (0-2 s), a logarithmic
/// sweep from 20 Hz to 20 kHz (2-5 s), noise (5-7 s), clicks (7-9 s) and a
/// quiet fading tone (9-10 s). The channels differ slightly so channel
/// handling shows in the result. Peaks stay near -9 dBFS, leaving the
/// headroom that boosting presets and echoes need.
std::vector<std::vector<float>> TestSignal()
{
    const auto frames = static_cast<std::size_t>(kSeconds * kRate);
    std::vector<std::vector<float>> signal(kChannels, std::vector<float>(frames, 0.0f));
    std::vector<Noise> noise{Noise(0x9E3779B97F4A7C15ull), Noise(0xD1B54A32D192ED03ull)};
    const double twoPi = 2.0 * std::numbers::pi;
    const double sweepStart = 20.0;
    const double sweepEnd = 20000.0;
    const double sweepLength = 3.0;
    const double sweepRate = std::log(sweepEnd / sweepStart);
    for (std::size_t channel = 0; channel < kChannels; ++channel) {
        std::vector<float>& out = signal[channel];
        double clickLevel = 0.0;
        for (std::size_t frame = 0; frame < frames; ++frame) {
            const double t = static_cast<double>(frame) / kRate;
            double sample = 0.0;
            if (t < 2.0) {
                const double inBurst = std::fmod(t, 0.5);
                const double frequency = channel == 0 ? 440.0 : 660.0;
                if (inBurst < 0.25)
                    sample = Gain(-12.0) * Envelope(inBurst, 0.25, 0.005) * std::sin(twoPi * frequency * t);
            } else if (t < 5.0) {
                const double u = t - 2.0;
                // Phase of an exponential sweep: f(u) = f0 * e^(k u / T).
                const double phase = twoPi * sweepStart * sweepLength / sweepRate *
                                     (std::exp(sweepRate * u / sweepLength) - 1.0);
                sample = Gain(channel == 0 ? -18.0 : -20.0) * Envelope(u, sweepLength, 0.01) * std::sin(phase);
            } else if (t < 7.0) {
                sample = Gain(-24.0) * Envelope(t - 5.0, 2.0, 0.01) * noise[channel].Next();
            } else if (t < 9.0) {
                const std::size_t sinceStart = frame - static_cast<std::size_t>(7 * kRate);
                const std::size_t period = kRate / 10;
                const std::size_t offset = channel == 0 ? 0 : kRate / 200;
                if (sinceStart % period == offset)
                    clickLevel = Gain(-9.0);
                sample = clickLevel * noise[channel].Next();
                clickLevel *= std::exp(-1.0 / (0.005 * kRate));
            } else {
                sample = Gain(-46.0) * (10.0 - t) * std::sin(twoPi * 1000.0 * t);
            }
            out[frame] = static_cast<float>(sample);
        }
    }
    return signal;
}

std::string Decibels(double amplitude)
{
    const double decibels = ToDecibels(amplitude);
    if (!std::isfinite(decibels))
        return "-inf";
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(1);
    text << decibels;
    return text.str();
}

std::string Fixed(double value, int decimals)
{
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(decimals);
    text << value;
    return text.str();
}

double Rms(double sumSquares, std::int64_t frames)
{
    return frames > 0 ? std::sqrt(sumSquares / (static_cast<double>(frames) * kChannels)) : 0.0;
}

constexpr double kTailSeconds = 2.0;
constexpr double kGeneratedSeconds = 3.0;
/// Level plots show the RMS of windows this long (a click train of 10 Hz
/// then reads as a steady level).
constexpr double kWindowSeconds = 0.1;
constexpr double kLevelFloor = -80.0;

/// Level in dBFS of each window of the audio (RMS over all channels).
std::vector<double> LevelProfile(const std::vector<std::vector<float>>& planar, std::size_t frames)
{
    const auto window = static_cast<std::size_t>(kWindowSeconds * kRate);
    std::vector<double> levels;
    for (std::size_t start = 0; start < frames; start += window) {
        const std::size_t end = std::min(frames, start + window);
        double sum = 0.0;
        for (const std::vector<float>& channel : planar)
            for (std::size_t frame = start; frame < end; ++frame)
                sum += static_cast<double>(channel[frame]) * channel[frame];
        levels.push_back(ToDecibels(std::sqrt(sum / static_cast<double>((end - start) * planar.size()))));
    }
    return levels;
}

std::vector<double> LevelProfile(const std::filesystem::path& path)
{
    AudioReader reader(path);
    std::vector<std::vector<float>> planar;
    const std::int64_t frames = reader.Read(planar, reader.Frames());
    return LevelProfile(planar, static_cast<std::size_t>(frames));
}

PlotSeries LevelSeries(const std::string& label, const std::string& colour, const std::vector<double>& levels)
{
    PlotSeries series{label, colour, {}, levels, false};
    for (std::size_t k = 0; k < levels.size(); ++k)
        series.x.push_back((static_cast<double>(k) + 0.5) * kWindowSeconds);
    return series;
}

/// Input (if any) and output level over the output's length.
Plot LevelPlot(const std::vector<double>* input, const std::vector<double>& output)
{
    Plot plot;
    plot.xLabel = "seconds";
    plot.yLabel = "dBFS";
    plot.xMax = std::max(1.0, static_cast<double>(output.size()) * kWindowSeconds);
    plot.yMin = kLevelFloor;
    plot.yMax = 0.0;
    if (input)
        plot.series.push_back(LevelSeries("in", "#9a9a9a", *input));
    plot.series.push_back(LevelSeries("out", "#1a66c9", output));
    return plot;
}

/// The preset a component is shown with: its own choice, else the first.
int DemoPreset(host::AudioFilter& filter, const Component& component)
{
    if (!component.info.demoPreset.empty())
        return FindPreset(filter, component.title, component.info.demoPreset);
    return filter.GetNumFactoryPresets() > 0 ? 0 : -1;
}

std::string PresetName(host::AudioFilter& filter, int index)
{
    return index < 0 ? std::string("(none)") : core::ToUtf8(filter.GetFactoryPresetName(index));
}

/// The component's curve for the preset, drawn over the test signal's length
/// for an envelope; none for a component without one.
std::optional<Plot> DemoCurve(const Component& component, host::AudioFilter& filter, const std::string& preset)
{
    if (!HasCurve(component))
        return std::nullopt;
    CurveRequest request;
    request.preset = preset;
    request.points = 200;
    if (dynamic_cast<LogicalKeyframeEditor*>(&filter))
        request.seconds = kSeconds;
    const std::optional<CurveData> curve = DrawCurve(component, request);
    if (!curve)
        return std::nullopt;
    Plot plot = CurvePlot(*curve);
    plot.width = 300;
    return plot;
}

} // namespace

int RunDemo(const Words& words, Context& context)
{
    ArgumentScanner scanner("demo", words, {}, {"--quiet"});
    std::filesystem::path directory = "demo-out";
    bool quiet = false;
    bool haveDirectory = false;
    while (scanner.Next()) {
        if (scanner.IsOption()) {
            quiet = true;
        } else if (haveDirectory) {
            throw UsageError("demo takes one directory, got also '" + scanner.Word() + "'");
        } else {
            directory = scanner.Word();
            haveDirectory = true;
        }
    }
    // Only DIR itself is made: a mistyped parent should not become a chain
    // of new folders.
    std::error_code error;
    std::filesystem::create_directory(directory, error);
    if (error)
        throw IoError("cannot create '" + directory.string() + "': " + error.message());
    if (!std::filesystem::is_directory(directory, error))
        throw IoError("cannot create '" + directory.string() + "': a file of that name exists");

    // 16-bit WAV, which every browser plays.
    const std::filesystem::path inputPath = directory / "input.wav";
    const OutputFormat format = ChooseOutputFormat(inputPath, "16");
    std::vector<double> inputLevels;
    {
        const std::vector<std::vector<float>> signal = TestSignal();
        AudioWriter writer(inputPath, format, kChannels, kRate);
        writer.Write(signal, 0, static_cast<std::int64_t>(signal[0].size()));
        writer.Commit();
        inputLevels = LevelProfile(signal, signal[0].size());
    }
    const std::string signal = "10 s of 48 kHz stereo: tone bursts, a sweep, noise, clicks and a quiet tone";
    context.out << "Test signal: " << inputPath.string() << " (" << signal << ")\n\n";

    Table table({"COMPONENT", "PRESET", "LATENCY", "IN PEAK", "IN RMS", "OUT PEAK", "OUT RMS", "SECONDS", "REALTIME"});
    std::vector<DemoRow> rows;
    for (const Component& component : AllComponents()) {
        core::Ref<host::AudioFilter> filter = CreateComponent(component);
        const bool generator = filter->IsOfflineProcess();
        DemoRow row;
        row.className = component.info.className;
        row.title = component.title;
        row.description = component.info.description.empty() ? component.title : component.info.description;
        host::Session session(filter);
        if (!session.Configure(kChannels, static_cast<float>(kRate))) {
            row.skipped = "it does not take stereo";
            table.Add({component.info.className, "-", "-", "-", "-", "-", "-", "-", "-"});
            rows.push_back(std::move(row));
            continue;
        }
        const int preset = DemoPreset(*filter, component);
        if (preset >= 0)
            session.ApplyPreset(preset);
        row.preset = PresetName(*filter, preset);
        row.outputFile = component.info.className + ".wav";
        const std::filesystem::path outputPath = directory / row.outputFile;
        AudioWriter writer(outputPath, format, kChannels, kRate);
        RenderOptions options;
        options.measureLevels = true;
        RenderStats stats;
        if (generator) {
            stats = RenderOffline(session, nullptr, static_cast<std::int64_t>(kGeneratedSeconds * kRate), writer,
                                  options);
        } else {
            AudioReader reader(inputPath);
            ProgressBar progress(context.err, context.interactive && !quiet, component.title);
            options.progress = [&progress](double fraction) { progress.Update(fraction); };
            options.tailFrames = static_cast<std::int64_t>(kTailSeconds * kRate);
            stats = Render(session, reader, writer, options);
            progress.Finish();
        }
        writer.Commit();
        const double audioSeconds = static_cast<double>(generator ? stats.framesOut : stats.framesIn) / kRate;
        row.latency = stats.latency;
        row.output = {ToDecibels(stats.outputPeak), ToDecibels(Rms(stats.outputSumSquares, stats.framesOut))};
        if (!generator) {
            row.input = {ToDecibels(stats.inputPeak), ToDecibels(Rms(stats.inputSumSquares, stats.framesIn))};
            row.inputFile = inputPath.filename().string();
        }
        row.realTime = audioSeconds / std::max(stats.seconds, 1e-9);
        row.levels = LevelPlot(generator ? nullptr : &inputLevels, LevelProfile(outputPath));
        row.curve = DemoCurve(component, *filter, row.preset);
        table.Add({component.info.className, row.preset, std::to_string(stats.latency),
                   generator ? "-" : Decibels(stats.inputPeak),
                   generator ? "-" : Decibels(Rms(stats.inputSumSquares, stats.framesIn)), Decibels(stats.outputPeak),
                   Decibels(Rms(stats.outputSumSquares, stats.framesOut)), Fixed(stats.seconds, 3),
                   Fixed(row.realTime, 0) + "x"});
        rows.push_back(std::move(row));
    }
    const std::filesystem::path page = directory / "index.html";
    WriteDemoPage(page, signal, kRate, rows);
    table.Print(context.out);
    context.out << "\nLevels in dBFS; REALTIME is audio seconds rendered per wall-clock second.\n"
                << "Open " << page.string() << " in a browser to listen and compare.\n";
    return kExitOk;
}

} // namespace zoc::tool

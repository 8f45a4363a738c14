// zoc demo: renders a built-in test signal through every real-time component
// and prints how each one did.

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <optional>
#include <sstream>

#include "platform/host/Session.h"
#include "tools/zoc/AudioFile.h"
#include "tools/zoc/Commands.h"
#include "tools/zoc/ComponentLookup.h"
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
/// handling shows in the result.
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
                    sample = Gain(-6.0) * Envelope(inBurst, 0.25, 0.005) * std::sin(twoPi * frequency * t);
            } else if (t < 5.0) {
                const double u = t - 2.0;
                // Phase of an exponential sweep: f(u) = f0 * e^(k u / T).
                const double phase = twoPi * sweepStart * sweepLength / sweepRate *
                                     (std::exp(sweepRate * u / sweepLength) - 1.0);
                sample = Gain(channel == 0 ? -12.0 : -14.0) * Envelope(u, sweepLength, 0.01) * std::sin(phase);
            } else if (t < 7.0) {
                sample = Gain(-18.0) * Envelope(t - 5.0, 2.0, 0.01) * noise[channel].Next();
            } else if (t < 9.0) {
                const std::size_t sinceStart = frame - static_cast<std::size_t>(7 * kRate);
                const std::size_t period = kRate / 10;
                const std::size_t offset = channel == 0 ? 0 : kRate / 200;
                if (sinceStart % period == offset)
                    clickLevel = Gain(-3.0);
                sample = clickLevel * noise[channel].Next();
                clickLevel *= std::exp(-1.0 / (0.005 * kRate));
            } else {
                sample = Gain(-40.0) * (10.0 - t) * std::sin(twoPi * 1000.0 * t);
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

/// Presets the demo shows for offline components: one to generate three
/// seconds of, one to run over the test signal (empty: none).
struct OfflineDemo {
    const char* generate;
    const char* overSignal;
};
OfflineDemo OfflineDemoFor(const std::string& className)
{
    if (className == "Tones")
        return {"Major Chord", "Tremolo"};
    if (className == "Noise")
        return {"Pink Spatial Stereo 700 Delay", ""};
    return {"0", ""};
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

    const std::filesystem::path inputPath = directory / "input.wav";
    const OutputFormat format = ChooseOutputFormat(inputPath, "32f");
    {
        const std::vector<std::vector<float>> signal = TestSignal();
        AudioWriter writer(inputPath, format, kChannels, kRate);
        writer.Write(signal, 0, static_cast<std::int64_t>(signal[0].size()));
        writer.Commit();
    }
    context.out << "Test signal: " << inputPath.string() << " (10 s, 48 kHz stereo: tone bursts, sweep, noise, "
                << "clicks, quiet tone)\n\n";

    Table table({"COMPONENT", "LATENCY", "IN PEAK", "IN RMS", "OUT PEAK", "OUT RMS", "SECONDS", "REALTIME", "OUTPUT"});
    for (const Component& component : AllComponents()) {
        core::Ref<host::AudioFilter> filter = CreateComponent(component);
        if (filter->IsOfflineProcess() || filter->IsGenerator())
            continue;
        host::Session session(filter);
        if (!session.Configure(kChannels, static_cast<float>(kRate))) {
            table.Add({component.info.className, "-", "-", "-", "-", "-", "-", "-", "skipped: not stereo"});
            continue;
        }
        if (filter->GetNumFactoryPresets() > 0)
            session.ApplyPreset(0);
        const std::filesystem::path outputPath = directory / (component.info.className + ".wav");
        AudioReader reader(inputPath);
        AudioWriter writer(outputPath, format, kChannels, kRate);
        ProgressBar progress(context.err, context.interactive && !quiet, component.title);
        RenderOptions options;
        options.measureLevels = true;
        options.progress = [&progress](double fraction) { progress.Update(fraction); };
        const RenderStats stats = Render(session, reader, writer, options);
        writer.Commit();
        progress.Finish();
        const double audioSeconds = static_cast<double>(stats.framesIn) / kRate;
        table.Add({component.info.className, std::to_string(stats.latency), Decibels(stats.inputPeak),
                   Decibels(Rms(stats.inputSumSquares, stats.framesIn)), Decibels(stats.outputPeak),
                   Decibels(Rms(stats.outputSumSquares, stats.framesOut)), Fixed(stats.seconds, 3),
                   Fixed(audioSeconds / std::max(stats.seconds, 1e-9), 0) + "x", outputPath.string()});
    }
    // Offline components: a generated section, and a run over the test signal.
    for (const Component& component : AllComponents()) {
        core::Ref<host::AudioFilter> probe = CreateComponent(component);
        if (!probe->IsOfflineProcess())
            continue;
        const OfflineDemo demo = OfflineDemoFor(component.info.className);
        for (const bool overSignal : {false, true}) {
            const std::string preset = overSignal ? demo.overSignal : demo.generate;
            if (preset.empty())
                continue;
            core::Ref<host::AudioFilter> filter = CreateComponent(component);
            host::Session session(filter);
            if (!session.Configure(kChannels, static_cast<float>(kRate)))
                continue;
            session.ApplyPreset(FindPreset(*filter, component.title, preset));
            const std::string name = component.info.className + (overSignal ? "" : "-generated");
            const std::filesystem::path outputPath = directory / (name + ".wav");
            std::optional<AudioReader> reader;
            if (overSignal)
                reader.emplace(inputPath);
            AudioWriter writer(outputPath, format, kChannels, kRate);
            RenderOptions options;
            options.measureLevels = true;
            const std::int64_t frames = overSignal ? reader->Frames() : 3 * kRate;
            const RenderStats stats = RenderOffline(session, reader ? &*reader : nullptr, frames, writer, options);
            writer.Commit();
            const double audioSeconds = static_cast<double>(stats.framesOut) / kRate;
            table.Add({name + " (" + preset + ")", "0", "-", "-", Decibels(stats.outputPeak),
                       Decibels(Rms(stats.outputSumSquares, stats.framesOut)), Fixed(stats.seconds, 3),
                       Fixed(audioSeconds / std::max(stats.seconds, 1e-9), 0) + "x", outputPath.string()});
        }
    }
    table.Print(context.out);
    context.out << "\nLevels in dBFS; REALTIME is audio seconds rendered per wall-clock second.\n";
    return kExitOk;
}

} // namespace zoc::tool

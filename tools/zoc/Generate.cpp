// zoc generate: renders a generator over a selection of silence of the given
// length and writes the result atomically, as apply does.

#include <cmath>
#include <optional>

#include <nlohmann/json.hpp>

#include "platform/host/Session.h"
#include "tools/zoc/AudioFile.h"
#include "tools/zoc/Commands.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Errors.h"
#include "tools/zoc/OfflineRender.h"
#include "tools/zoc/OutputLevel.h"
#include "tools/zoc/Progress.h"
#include "tools/zoc/UserPresets.h"

namespace zoc::tool {

namespace {

constexpr double kDefaultSeconds = 5.0;
constexpr int kDefaultRate = 48000;
constexpr int kDefaultChannels = 2;
constexpr double kLongestSeconds = 86400.0;

struct Setting {
    bool normalized = false;
    std::string parameter;
    std::string value;
};

struct GenerateOptions {
    std::vector<std::string> positional;
    std::optional<std::string> preset;
    std::vector<Setting> settings;
    double seconds = kDefaultSeconds;
    int rate = kDefaultRate;
    int channels = kDefaultChannels;
    std::string bits;
    std::string report;
    std::optional<double> normalize;
    bool quiet = false;
};

GenerateOptions ParseOptions(const Words& words)
{
    ArgumentScanner scanner("generate", words,
                            {"--preset", "--set", "--set-normalized", "--duration", "--rate", "--channels", "--bits",
                             "--report", "--normalize"},
                            {"--quiet"});
    GenerateOptions options;
    while (scanner.Next()) {
        if (!scanner.IsOption()) {
            options.positional.push_back(scanner.Word());
            continue;
        }
        const std::string& name = scanner.Name();
        if (name == "--quiet") {
            options.quiet = true;
        } else if (name == "--preset") {
            options.preset = scanner.Value();
        } else if (name == "--set" || name == "--set-normalized") {
            const std::string text = scanner.Value();
            const std::size_t equals = text.rfind('=');
            if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
                throw UsageError(name + " expects PARAM=VALUE, got '" + text + "'");
            options.settings.push_back({name == "--set-normalized", text.substr(0, equals), text.substr(equals + 1)});
        } else if (name == "--duration") {
            options.seconds = RequireNumber(scanner.Value(), "--duration");
            if (!(options.seconds > 0.0) || options.seconds > kLongestSeconds)
                throw UsageError("--duration must be more than 0 and at most 86400 seconds");
        } else if (name == "--rate") {
            options.rate = static_cast<int>(RequireInteger(scanner.Value(), "--rate", 1000, 384000));
        } else if (name == "--channels") {
            options.channels = static_cast<int>(RequireInteger(scanner.Value(), "--channels", 1, 32));
        } else if (name == "--bits") {
            options.bits = scanner.Value();
        } else if (name == "--report") {
            options.report = scanner.Value();
        } else if (name == "--normalize") {
            options.normalize = ParseNormalizePeak(scanner.Value());
        }
    }
    return options;
}

} // namespace

int RunGenerate(const Words& words, Context& context)
{
    const GenerateOptions options = ParseOptions(words);
    if (options.positional.size() != 2)
        throw UsageError(options.positional.size() < 2
                             ? "generate needs a generator and an output file: zoc generate NAME OUT"
                             : "generate takes NAME OUT; unexpected '" + options.positional[2] + "'");
    const Component component = FindComponent(options.positional[0]);
    core::Ref<host::AudioFilter> filter = CreateComponent(component);
    if (!filter->IsGenerator())
        throw UsageError(component.title + " is not a generator; run it over a file with 'zoc apply'");

    const std::filesystem::path outputPath = options.positional[1];
    const OutputFormat format = ChooseOutputFormat(outputPath, options.bits);
    const auto channels = static_cast<std::size_t>(options.channels);
    host::Session session(filter);
    if (!session.Configure(channels, static_cast<float>(options.rate)))
        throw UsageError(component.title + " does not take " + std::to_string(channels) + " channels");
    if (options.preset)
        ApplyNamedPreset(session, component, *options.preset);
    std::vector<SettingText> texts;
    for (const Setting& setting : options.settings)
        texts.push_back({setting.parameter, setting.value, setting.normalized});
    for (const auto& [index, normalized] : ResolveSettings(*filter, component, texts))
        session.SetParameter(index, normalized);
    CheckOutputFormat(format, channels, options.rate, outputPath);

    const std::int64_t frames = std::max<std::int64_t>(1, std::llround(options.seconds * options.rate));
    ProgressBar progress(context.err, context.interactive && !options.quiet, component.title);
    RenderOptions renderOptions;
    renderOptions.progress = [&progress](double fraction) { progress.Update(fraction); };
    AudioWriter writer(outputPath, format, channels, options.rate);
    const RenderStats stats = RenderAtLevel(
        [&](AudioWriter& target) { return RenderOffline(session, nullptr, frames, target, renderOptions); }, writer,
        channels, options.rate, options.normalize);
    writer.Commit();
    progress.Finish();
    WarnIfClipped(writer, outputPath, context.err);
    if (!options.report.empty()) {
        const double seconds = static_cast<double>(stats.framesOut) / options.rate;
        const nlohmann::json report = {{"frames_out", stats.framesOut},
                                       {"sample_rate", options.rate},
                                       {"channels", channels},
                                       {"seconds", stats.seconds},
                                       {"realtime_factor", seconds / std::max(stats.seconds, 1e-9)}};
        WriteFileAtomically(options.report, report.dump(2) + "\n");
    }
    return kExitOk;
}

} // namespace zoc::tool

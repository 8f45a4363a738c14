// zoc curve: prints the curve a component draws for its settings (a transfer
// curve, a response), or an envelope's gain over time, as text columns or JSON.

#include <algorithm>
#include <cmath>
#include <optional>

#include <nlohmann/json.hpp>

#include "api/Curve.h"
#include "framework/LogicalKeyframeEditor.h"
#include "platform/host/Session.h"
#include "tools/zoc/Commands.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Errors.h"
#include "tools/zoc/Keyframes.h"
#include "tools/zoc/MissingComponent.h"
#include "tools/zoc/SettingsFile.h"
#include "tools/zoc/UserPresets.h"

namespace zoc::tool {

namespace {

constexpr long long kDefaultPoints = 101;
constexpr long long kMaxPoints = 65536;
constexpr double kLongestSeconds = 86400.0;

/// The rate at which curves are drawn.
constexpr float kCurveRate = 48000.0f;

struct CurveOptions {
    std::optional<std::string> name;
    std::optional<std::string> preset;
    std::string loadSettings;
    std::vector<std::pair<std::string, std::string>> settings;
    std::optional<std::vector<KeyframeEntry>> keyframes;
    std::optional<double> seconds;
    long long points = kDefaultPoints;
    bool json = false;
};

CurveOptions ParseOptions(const Words& words)
{
    ArgumentScanner scanner("curve", words,
                            {"--preset", "--set", "--points", "--load-settings", "--keyframes", "--duration"},
                            {"--json"});
    CurveOptions options;
    while (scanner.Next()) {
        if (!scanner.IsOption()) {
            if (options.name)
                throw UsageError("curve takes one component; unexpected '" + scanner.Word() + "'");
            options.name = scanner.Word();
        } else if (scanner.Name() == "--json") {
            options.json = true;
        } else if (scanner.Name() == "--preset") {
            options.preset = scanner.Value();
        } else if (scanner.Name() == "--points") {
            options.points = RequireInteger(scanner.Value(), "--points", 1, kMaxPoints);
        } else if (scanner.Name() == "--load-settings") {
            options.loadSettings = scanner.Value();
            if (options.loadSettings.empty())
                throw UsageError("--load-settings needs a file name");
        } else if (scanner.Name() == "--keyframes") {
            options.keyframes = ParseKeyframes(scanner.Value());
        } else if (scanner.Name() == "--duration") {
            options.seconds = RequireNumber(scanner.Value(), "--duration");
            if (!(*options.seconds > 0.0) || *options.seconds > kLongestSeconds)
                throw UsageError("--duration must be more than 0 and at most 86400 seconds");
        } else {
            const std::string text = scanner.Value();
            const std::size_t equals = text.rfind('=');
            if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
                throw UsageError("--set expects PARAM=VALUE, got '" + text + "'");
            options.settings.emplace_back(text.substr(0, equals), text.substr(equals + 1));
        }
    }
    if (!options.name && !options.loadSettings.empty()) {
        // Saved settings name their component.
        if (const std::optional<SettingsOwner> owner = TryReadSettingsOwner(options.loadSettings)) {
            if (owner->IsMissing())
                throw MissingComponentError(options.loadSettings, *owner);
            if (owner->component)
                options.name = owner->component->info.className;
        }
    }
    if (!options.name)
        throw UsageError("curve needs a component: zoc curve NAME [--preset P] [--set PARAM=VALUE] [--points N]");
    return options;
}

/// An envelope's gain over the selection, measured rather than modelled: a
/// constant 1 goes through the configured component and the output is read
/// at each point. Long durations are drawn at a lower rate, so the work
/// stays under a few million frames.
void DrawEnvelope(host::Session& session, double seconds, std::size_t count, std::vector<double>& x,
                  std::vector<float>& values)
{
    const auto rate = static_cast<float>(session.Filter().GetSampleRate());
    const std::int64_t frames = std::max<std::int64_t>(1, std::llround(seconds * rate));
    std::vector<std::int64_t> wanted;
    for (std::size_t k = 0; k < count; ++k) {
        const double fraction = count == 1 ? 0.0 : static_cast<double>(k) / static_cast<double>(count - 1);
        x.push_back(fraction * seconds);
        wanted.push_back(std::llround(fraction * static_cast<double>(frames)));
    }
    // Position 1 is the frame just after the selection, so one more is drawn.
    host::AudioFilter& filter = session.Filter();
    filter.SetSelectionLeft(0.0);
    filter.SetCurrentDuration(static_cast<double>(frames));
    session.Resume();
    constexpr std::int64_t kChunk = 8192;
    std::vector<float> ones(kChunk, 1.0f);
    std::vector<float> gains(kChunk);
    float* input = ones.data();
    float* output = gains.data();
    std::size_t next = 0;
    for (std::int64_t done = 0; done <= frames && next < count; done += kChunk) {
        const std::int64_t length = std::min(kChunk, frames + 1 - done);
        session.Process(&input, &output, length);
        for (; next < count && wanted[next] < done + length; ++next)
            values.push_back(gains[static_cast<std::size_t>(wanted[next] - done)]);
    }
    session.Suspend();
}

/// The rate an envelope of `seconds` is drawn at.
float EnvelopeRate(double seconds)
{
    constexpr double kMostFrames = 1 << 21;
    return static_cast<float>(std::clamp(std::floor(kMostFrames / seconds), 1.0, static_cast<double>(kCurveRate)));
}

} // namespace

int RunCurve(const Words& words, Context& context)
{
    const CurveOptions options = ParseOptions(words);
    const Component component = FindComponent(*options.name);
    host::Session session(CreateComponent(component));
    host::AudioFilter& filter = session.Filter();
    auto* envelope = dynamic_cast<LogicalKeyframeEditor*>(&filter);
    if (!envelope && (options.keyframes || options.seconds))
        throw UsageError(component.title + " is not an envelope; --keyframes and --duration apply to envelopes only");
    if (options.keyframes && KeyframesNeedLength(*options.keyframes) && !options.seconds)
        throw UsageError("--keyframes in seconds need --duration SECONDS");
    // Curves depend on the settings only; a stereo 48 kHz layout stands in.
    // Envelopes are drawn on one channel over the duration (1 s without one).
    const double seconds = options.seconds.value_or(1.0);
    session.Configure(envelope ? 1 : 2, envelope ? EnvelopeRate(seconds) : kCurveRate);
    if (options.preset)
        ApplyNamedPreset(session, component, *options.preset);
    if (!options.loadSettings.empty())
        LoadSettingsFile(options.loadSettings, filter, component);
    if (options.keyframes)
        envelope->SetLogicalKeyframes(ResolveKeyframes(*options.keyframes, seconds, "the curve's --duration"));
    std::vector<SettingText> texts;
    for (const auto& [parameter, value] : options.settings)
        texts.push_back({parameter, value});
    for (const auto& [index, normalized] : ResolveSettings(filter, component, texts))
        session.SetParameter(index, normalized);

    const auto count = static_cast<std::size_t>(options.points);
    if (envelope) {
        std::vector<double> x;
        std::vector<float> values;
        DrawEnvelope(session, seconds, count, x, values);
        if (options.json) {
            const nlohmann::json document = {{"component", component.info.className}, {"values", values}, {"x", x}};
            context.out << document.dump(2) << "\n";
            return kExitOk;
        }
        context.out << "# " << component.title << ": " << (options.seconds ? "seconds" : "position") << ", gain\n";
        for (std::size_t k = 0; k < count; ++k)
            context.out << FormatNumber(x[k]) << " " << FormatNumber(values[k]) << "\n";
        return kExitOk;
    }
    Curve curve;
    bool hasCurve = false;
    if (!api::DrawCurve(filter, component.info.className, count, curve, hasCurve)) {
        // A component with a curve can still have nothing to draw (a curve
        // without points); anything else has no curve at all.
        throw UsageError(component.title + (hasCurve ? " draws no curve with these settings"
                                                     : " offers no curve; 'zoc curve' needs a component that draws one"));
    }
    const bool axis = !curve.axis.empty();
    const std::vector<float>& values = curve.values;
    const std::vector<double>& x = curve.x;
    if (options.json) {
        nlohmann::json document = {{"component", component.info.className}, {"values", values}};
        if (axis)
            document["x"] = x;
        context.out << document.dump(2) << "\n";
        return kExitOk;
    }
    context.out << "# " << component.title << ": " << (axis ? curve.axis : "index") << ", value\n";
    for (std::size_t k = 0; k < count; ++k)
        context.out << (axis ? FormatNumber(x[k]) : std::to_string(k)) << " " << FormatNumber(values[k]) << "\n";
    return kExitOk;
}

} // namespace zoc::tool

// zoc curve: prints the curve a component draws for its settings (a transfer
// curve, a response), or an envelope's gain over time, as text columns, JSON
// or an SVG plot.

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>

#include <nlohmann/json.hpp>

#include "api/Curve.h"
#include "framework/LogicalKeyframeEditor.h"
#include "platform/host/Session.h"
#include "tools/zoc/AudioFile.h"
#include "tools/zoc/Commands.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Curve.h"
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
    std::optional<std::filesystem::path> svg;
};

CurveOptions ParseOptions(const Words& words)
{
    ArgumentScanner scanner("curve", words,
                            {"--preset", "--set", "--points", "--load-settings", "--keyframes", "--duration", "--svg"},
                            {"--json"});
    CurveOptions options;
    while (scanner.Next()) {
        if (!scanner.IsOption()) {
            if (options.name)
                throw UsageError("curve takes one component; unexpected '" + scanner.Word() + "'");
            options.name = scanner.Word();
        } else if (scanner.Name() == "--json") {
            options.json = true;
        } else if (scanner.Name() == "--svg") {
            options.svg = scanner.Value();
            if (options.svg->empty())
                throw UsageError("--svg needs a file name ('-' for standard output)");
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

bool HasCurve(const Component& component)
{
    host::Session session(CreateComponent(component));
    if (dynamic_cast<LogicalKeyframeEditor*>(&session.Filter()))
        return true;
    session.Configure(2, kCurveRate);
    Curve curve;
    bool hasCurve = false;
    api::DrawCurve(session.Filter(), component.info.className, 2, curve, hasCurve);
    return hasCurve;
}

std::optional<CurveData> DrawCurve(const Component& component, const CurveRequest& request)
{
    host::Session session(CreateComponent(component));
    host::AudioFilter& filter = session.Filter();
    auto* envelope = dynamic_cast<LogicalKeyframeEditor*>(&filter);
    if (!envelope && (request.keyframes || request.seconds))
        throw UsageError(component.title + " is not an envelope; --keyframes and --duration apply to envelopes only");
    if (request.keyframes && KeyframesNeedLength(*request.keyframes) && !request.seconds)
        throw UsageError("--keyframes in seconds need --duration SECONDS");
    // Curves depend on the settings only; a stereo 48 kHz layout stands in.
    // Envelopes are drawn on one channel over the duration (1 s without one).
    const double seconds = request.seconds.value_or(1.0);
    session.Configure(envelope ? 1 : 2, envelope ? EnvelopeRate(seconds) : kCurveRate);
    if (request.preset)
        ApplyNamedPreset(session, component, *request.preset);
    if (!request.loadSettings.empty())
        LoadSettingsFile(request.loadSettings, filter, component);
    if (request.keyframes)
        envelope->SetLogicalKeyframes(ResolveKeyframes(*request.keyframes, seconds, "the curve's --duration"));
    for (const auto& [index, normalized] : ResolveSettings(filter, component, request.settings))
        session.SetParameter(index, normalized);

    CurveData curve;
    curve.title = component.title;
    const std::size_t count = request.points;
    if (envelope) {
        curve.kind = CurveData::Kind::kEnvelope;
        curve.xLabel = request.seconds ? "seconds" : "position";
        curve.yLabel = "gain";
        DrawEnvelope(session, seconds, count, curve.x, curve.values);
        return curve;
    }
    // Transfer curves and responses come from the library, with their axis,
    // so zoc, the public interface and the bindings draw the same curve.
    Curve drawn;
    bool hasCurve = false;
    if (!api::DrawCurve(filter, component.info.className, count, drawn, hasCurve))
        return std::nullopt;
    curve.values = std::move(drawn.values);
    if (drawn.axis.empty()) {
        curve.xLabel = "index";
        curve.yLabel = "value";
        for (std::size_t k = 0; k < count; ++k)
            curve.x.push_back(static_cast<double>(k));
        return curve;
    }
    curve.kind = drawn.axis == "Hz" ? CurveData::Kind::kResponse : CurveData::Kind::kTransfer;
    curve.xLabel = drawn.axis;
    curve.yLabel = curve.kind == CurveData::Kind::kResponse ? "dB" : "output dB";
    curve.x = std::move(drawn.x);
    return curve;
}

Plot CurvePlot(const CurveData& curve)
{
    Plot plot;
    plot.xLabel = curve.xLabel;
    plot.yLabel = curve.yLabel;
    PlotSeries line{curve.title, "#c0392b", curve.x, std::vector<double>(curve.values.begin(), curve.values.end()), false};
    const auto [low, high] = curve.values.empty() ? std::pair{0.0f, 0.0f}
                                                  : std::pair{*std::min_element(curve.values.begin(), curve.values.end()),
                                                              *std::max_element(curve.values.begin(), curve.values.end())};
    if (!curve.x.empty()) {
        plot.xMin = curve.x.front();
        plot.xMax = curve.x.back() > curve.x.front() ? curve.x.back() : curve.x.front() + 1.0;
    }
    switch (curve.kind) {
    case CurveData::Kind::kTransfer:
        // Input against output level, with the unchanged level for reference.
        plot.yMin = -100.0;
        plot.yMax = std::max(0.0, std::ceil(static_cast<double>(high) / 10.0) * 10.0);
        plot.series.push_back({"unchanged", "#999", {plot.xMin, plot.xMax}, {plot.xMin, plot.xMax}, true});
        break;
    case CurveData::Kind::kResponse:
        // At least +-12 dB, in steps of 6 dB, so a flat response looks flat.
        plot.logX = plot.xMin > 0.0;
        plot.yMin = std::min(-12.0, std::floor(static_cast<double>(low) / 6.0) * 6.0);
        plot.yMax = std::max(12.0, std::ceil(static_cast<double>(high) / 6.0) * 6.0);
        break;
    case CurveData::Kind::kEnvelope:
        plot.yMin = 0.0;
        plot.yMax = std::max(1.0, std::ceil(static_cast<double>(high) * 2.0) / 2.0);
        break;
    case CurveData::Kind::kOther:
        plot.yMin = std::floor(static_cast<double>(low));
        plot.yMax = std::max(plot.yMin + 1.0, std::ceil(static_cast<double>(high)));
        break;
    }
    // A lower bound of -inf dB (a gate) is drawn at the bottom edge.
    if (!std::isfinite(plot.yMin))
        plot.yMin = -100.0;
    if (!std::isfinite(plot.yMax))
        plot.yMax = plot.yMin + 1.0;
    plot.series.push_back(std::move(line));
    return plot;
}

int RunCurve(const Words& words, Context& context)
{
    const CurveOptions options = ParseOptions(words);
    const Component component = FindComponent(*options.name);
    CurveRequest request;
    request.preset = options.preset;
    request.loadSettings = options.loadSettings;
    for (const auto& [parameter, value] : options.settings)
        request.settings.push_back({parameter, value});
    request.keyframes = options.keyframes;
    request.seconds = options.seconds;
    request.points = static_cast<std::size_t>(options.points);
    const std::optional<CurveData> curve = DrawCurve(component, request);
    if (!curve) {
        // A component with a curve can still have nothing to draw (a curve
        // without points); anything else has no curve at all.
        throw UsageError(component.title + (HasCurve(component)
                                                ? " draws no curve with these settings"
                                                : " offers no curve; 'zoc curve' needs a component that draws one"));
    }
    if (options.svg) {
        const std::string svg = SvgPlot(CurvePlot(*curve), true);
        if (*options.svg == "-")
            context.out << svg;
        else
            WriteFileAtomically(*options.svg, svg);
        return kExitOk;
    }
    if (options.json) {
        nlohmann::json document = {{"component", component.info.className}, {"values", curve->values}};
        if (curve->xLabel != "index")
            document["x"] = curve->x;
        context.out << document.dump(2) << "\n";
        return kExitOk;
    }
    const bool integerX = curve->xLabel == "index";
    context.out << "# " << component.title << ": " << curve->xLabel << ", "
                << (curve->kind == CurveData::Kind::kEnvelope ? "gain" : "value") << "\n";
    for (std::size_t k = 0; k < curve->values.size(); ++k)
        context.out << (integerX ? std::to_string(k) : FormatNumber(curve->x[k])) << " "
                    << FormatNumber(curve->values[k]) << "\n";
    return kExitOk;
}

} // namespace zoc::tool

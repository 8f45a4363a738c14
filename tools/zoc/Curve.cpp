// zoc curve: prints the curve a component draws for its settings (a transfer
// curve, a response), as text columns or JSON.

#include <optional>

#include <nlohmann/json.hpp>

#include "framework/ResponseCurve.h"
#include "platform/host/Session.h"
#include "tools/zoc/Commands.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Errors.h"

namespace zoc::tool {

namespace {

constexpr long long kDefaultPoints = 101;
constexpr long long kMaxPoints = 65536;

/// The rate at which curves are drawn.
constexpr float kCurveRate = 48000.0f;

/// The abscissa of curves whose axis is known. Linear axes run evenly from
/// `first` to `last` (just `first` for one value); frequency axes are the
/// equalizers' response points at the curve rate.
struct CurveAxis {
    enum class Kind { kLinear, kFrequency };
    const char* className;
    const char* label;
    Kind kind;
    double first = 0.0;
    double last = 0.0;
};
constexpr CurveAxis kAxes[] = {
    {"Dynamics", "input dB", CurveAxis::Kind::kLinear, -100.0, 0.0},
    {"ParametricEQ", "Hz", CurveAxis::Kind::kFrequency},
    {"GraphicEQ10Bands", "Hz", CurveAxis::Kind::kFrequency},
    {"GraphicEQ20Bands", "Hz", CurveAxis::Kind::kFrequency},
    {"GraphicEQ30Bands", "Hz", CurveAxis::Kind::kFrequency},
};

double AxisValue(const CurveAxis& axis, std::size_t k, std::size_t count)
{
    if (axis.kind == CurveAxis::Kind::kFrequency)
        return ResponseCurveFrequency(k, count, kCurveRate);
    if (count == 1)
        return axis.first;
    return axis.first + (axis.last - axis.first) * static_cast<double>(k) / static_cast<double>(count - 1);
}

const CurveAxis* AxisOf(const Component& component)
{
    for (const CurveAxis& axis : kAxes)
        if (component.info.className == axis.className)
            return &axis;
    return nullptr;
}

struct CurveOptions {
    std::optional<std::string> name;
    std::optional<std::string> preset;
    std::vector<std::pair<std::string, std::string>> settings;
    long long points = kDefaultPoints;
    bool json = false;
};

CurveOptions ParseOptions(const Words& words)
{
    ArgumentScanner scanner("curve", words, {"--preset", "--set", "--points"}, {"--json"});
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
        } else {
            const std::string text = scanner.Value();
            const std::size_t equals = text.rfind('=');
            if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
                throw UsageError("--set expects PARAM=VALUE, got '" + text + "'");
            options.settings.emplace_back(text.substr(0, equals), text.substr(equals + 1));
        }
    }
    if (!options.name)
        throw UsageError("curve needs a component: zoc curve NAME [--preset P] [--set PARAM=VALUE] [--points N]");
    return options;
}

} // namespace

int RunCurve(const Words& words, Context& context)
{
    const CurveOptions options = ParseOptions(words);
    const Component component = FindComponent(*options.name);
    host::Session session(CreateComponent(component));
    // The curve depends on the settings only; a stereo 48 kHz layout stands in.
    session.Configure(2, kCurveRate);
    host::AudioFilter& filter = session.Filter();
    if (options.preset)
        session.ApplyPreset(FindPreset(filter, component.title, *options.preset));
    for (const auto& [parameter, value] : options.settings) {
        const int index = FindParameter(filter, component.title, parameter, true);
        session.SetParameter(index, NormalizedFromText(filter, component.title, index, value));
    }

    const auto count = static_cast<std::size_t>(options.points);
    std::vector<float> values;
    const CurveAxis* axis = AxisOf(component);
    if (!filter.GetCurveData(0, count, values) || values.size() != count) {
        // A component with a curve can still have nothing to draw (a curve
        // without points); anything else has no curve at all.
        throw UsageError(component.title + (axis ? " draws no curve with these settings"
                                                 : " offers no curve; 'zoc curve' needs a component that draws one"));
    }

    std::vector<double> x;
    if (axis) {
        for (std::size_t k = 0; k < count; ++k)
            x.push_back(AxisValue(*axis, k, count));
    }
    if (options.json) {
        nlohmann::json document = {{"component", component.info.className}, {"values", values}};
        if (axis)
            document["x"] = x;
        context.out << document.dump(2) << "\n";
        return kExitOk;
    }
    context.out << "# " << component.title << ": " << (axis ? axis->label : "index") << ", value\n";
    for (std::size_t k = 0; k < count; ++k)
        context.out << (axis ? FormatNumber(x[k]) : std::to_string(k)) << " " << FormatNumber(values[k]) << "\n";
    return kExitOk;
}

} // namespace zoc::tool

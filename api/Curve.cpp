#include "api/Curve.h"

#include "framework/ResponseCurve.h"

namespace zoc::api {

namespace {

/// The abscissa of the curves whose axis is known. Linear axes run evenly
/// from `first` to `last` (just `first` for one point); frequency axes are
/// the equalizers' response points at the component's rate.
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

double AxisValue(const CurveAxis& axis, std::size_t k, std::size_t count, double sampleRate)
{
    if (axis.kind == CurveAxis::Kind::kFrequency)
        return ResponseCurveFrequency(k, count, sampleRate);
    if (count == 1)
        return axis.first;
    return axis.first + (axis.last - axis.first) * static_cast<double>(k) / static_cast<double>(count - 1);
}

const CurveAxis* AxisOf(const std::string& className)
{
    for (const CurveAxis& axis : kAxes)
        if (className == axis.className)
            return &axis;
    return nullptr;
}

} // namespace

bool DrawCurve(host::AudioFilter& filter, const std::string& className, std::size_t count, Curve& curve,
               bool& hasCurve)
{
    const CurveAxis* axis = AxisOf(className);
    curve = Curve{};
    if (!filter.GetCurveData(0, count, curve.values) || curve.values.size() != count) {
        curve.values.clear();
        hasCurve = axis != nullptr;
        return false;
    }
    hasCurve = true;
    if (axis) {
        curve.axis = axis->label;
        for (std::size_t k = 0; k < count; ++k)
            curve.x.push_back(AxisValue(*axis, k, count, filter.GetSampleRate()));
    }
    return true;
}

} // namespace zoc::api

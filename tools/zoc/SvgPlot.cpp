#include "tools/zoc/SvgPlot.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace zoc::tool {

namespace {

// Room around the plotting area for tick labels and the axis labels.
constexpr double kLeft = 40.0;
constexpr double kRight = 8.0;
constexpr double kTop = 16.0;
constexpr double kBottom = 30.0;

/// A round step giving about `wanted` intervals over `span`: 1, 2, 2.5 or 5
/// times a power of ten.
double NiceStep(double span, int wanted)
{
    const double raw = span / wanted;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double factor : {1.0, 2.0, 2.5, 5.0})
        if (raw <= factor * power)
            return factor * power;
    return 10.0 * power;
}

/// A tick value as people write it on an axis: 1000 as "1k" on a frequency
/// axis, no trailing zeros.
std::string TickText(double value, bool thousands)
{
    if (std::abs(value) < 1e-9)
        value = 0.0;
    std::ostringstream text;
    if (thousands && std::abs(value) >= 1000.0)
        text << value / 1000.0 << "k";
    else
        text << value;
    return text.str();
}

std::string Number(double value)
{
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(1);
    text << value;
    return text.str();
}

class Frame {
public:
    explicit Frame(const Plot& plot) : plot_(plot) {}
    double Left() const { return kLeft; }
    double Right() const { return plot_.width - kRight; }
    double Top() const { return kTop; }
    double Bottom() const { return plot_.height - kBottom; }
    double X(double x) const
    {
        const double fraction = plot_.logX ? std::log(x / plot_.xMin) / std::log(plot_.xMax / plot_.xMin)
                                           : (x - plot_.xMin) / (plot_.xMax - plot_.xMin);
        return Left() + fraction * (Right() - Left());
    }
    double Y(double y) const
    {
        const double clamped = std::clamp(y, plot_.yMin, plot_.yMax);
        return Bottom() - (clamped - plot_.yMin) / (plot_.yMax - plot_.yMin) * (Bottom() - Top());
    }

private:
    const Plot& plot_;
};

/// Where the x grid lines go: round steps, or on a log axis 1, 2 and 5 times
/// each power of ten with labels on the powers of ten only.
struct Tick {
    double value;
    bool labelled;
};
std::vector<Tick> XTicks(const Plot& plot)
{
    std::vector<Tick> ticks;
    if (plot.logX) {
        for (double decade = std::pow(10.0, std::floor(std::log10(plot.xMin))); decade <= plot.xMax; decade *= 10.0)
            for (const double factor : {1.0, 2.0, 5.0})
                if (const double value = factor * decade; value >= plot.xMin && value <= plot.xMax)
                    ticks.push_back({value, factor == 1.0});
        return ticks;
    }
    const double step = NiceStep(plot.xMax - plot.xMin, 6);
    for (double value = std::ceil(plot.xMin / step - 1e-9) * step; value <= plot.xMax + step * 1e-9; value += step)
        ticks.push_back({value, true});
    return ticks;
}

std::vector<Tick> YTicks(const Plot& plot)
{
    std::vector<Tick> ticks;
    const double step = NiceStep(plot.yMax - plot.yMin, 4);
    for (double value = std::ceil(plot.yMin / step - 1e-9) * step; value <= plot.yMax + step * 1e-9; value += step)
        ticks.push_back({value, true});
    return ticks;
}

} // namespace

std::string EscapeXml(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

std::string SvgPlot(const Plot& plot, bool standalone)
{
    const Frame frame(plot);
    std::ostringstream svg;
    if (standalone)
        svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg << "<svg";
    if (standalone)
        svg << " xmlns=\"http://www.w3.org/2000/svg\"";
    svg << " width=\"" << plot.width << "\" height=\"" << plot.height << "\" viewBox=\"0 0 " << plot.width << ' '
        << plot.height << "\" font-family=\"sans-serif\" font-size=\"10\" role=\"img\">\n";
    svg << "<rect x=\"" << Number(frame.Left()) << "\" y=\"" << Number(frame.Top()) << "\" width=\""
        << Number(frame.Right() - frame.Left()) << "\" height=\"" << Number(frame.Bottom() - frame.Top())
        << "\" fill=\"#fff\" stroke=\"#999\"/>\n";

    svg << "<g stroke=\"#e3e3e3\">\n";
    for (const Tick& tick : XTicks(plot))
        svg << "<line x1=\"" << Number(frame.X(tick.value)) << "\" y1=\"" << Number(frame.Top()) << "\" x2=\""
            << Number(frame.X(tick.value)) << "\" y2=\"" << Number(frame.Bottom()) << "\"/>\n";
    for (const Tick& tick : YTicks(plot))
        svg << "<line x1=\"" << Number(frame.Left()) << "\" y1=\"" << Number(frame.Y(tick.value)) << "\" x2=\""
            << Number(frame.Right()) << "\" y2=\"" << Number(frame.Y(tick.value)) << "\"/>\n";
    svg << "</g>\n<g fill=\"#555\">\n";
    for (const Tick& tick : XTicks(plot))
        if (tick.labelled)
            svg << "<text x=\"" << Number(frame.X(tick.value)) << "\" y=\"" << Number(frame.Bottom() + 12)
                << "\" text-anchor=\"middle\">" << TickText(tick.value, plot.logX) << "</text>\n";
    for (const Tick& tick : YTicks(plot))
        svg << "<text x=\"" << Number(frame.Left() - 4) << "\" y=\"" << Number(frame.Y(tick.value) + 3.5)
            << "\" text-anchor=\"end\">" << TickText(tick.value, false) << "</text>\n";
    svg << "<text x=\"" << Number(frame.Right()) << "\" y=\"" << Number(frame.Bottom() + 25)
        << "\" text-anchor=\"end\">" << EscapeXml(plot.xLabel) << "</text>\n";
    svg << "<text x=\"" << Number(frame.Left()) << "\" y=\"" << Number(frame.Top() - 5) << "\">"
        << EscapeXml(plot.yLabel) << "</text>\n";
    svg << "</g>\n";

    for (const PlotSeries& series : plot.series) {
        // One polyline per finite stretch of points.
        std::string points;
        const auto flush = [&] {
            if (!points.empty())
                svg << "<polyline fill=\"none\" stroke=\"" << EscapeXml(series.colour) << "\" stroke-width=\"1.5\""
                    << (series.dashed ? " stroke-dasharray=\"4 3\"" : "") << " points=\"" << points << "\"/>\n";
            points.clear();
        };
        const std::size_t count = std::min(series.x.size(), series.y.size());
        for (std::size_t k = 0; k < count; ++k) {
            const double x = series.x[k];
            const double y = series.y[k];
            if (!std::isfinite(x) || std::isnan(y) || (plot.logX && x <= 0.0)) {
                flush();
                continue;
            }
            if (!points.empty())
                points += ' ';
            points.append(Number(frame.X(x))).append(1, ',').append(Number(frame.Y(y)));
        }
        flush();
    }
    // A legend, top right, when the lines need telling apart.
    if (plot.series.size() > 1) {
        double y = frame.Top() - 5;
        double x = frame.Right();
        for (auto series = plot.series.rbegin(); series != plot.series.rend(); ++series) {
            if (series->label.empty())
                continue;
            svg << "<text x=\"" << Number(x) << "\" y=\"" << Number(y) << "\" text-anchor=\"end\" fill=\""
                << EscapeXml(series->colour) << "\">" << EscapeXml(series->label) << "</text>\n";
            x -= 8.0 + 6.0 * static_cast<double>(series->label.size());
        }
    }
    svg << "</svg>\n";
    return svg.str();
}

} // namespace zoc::tool

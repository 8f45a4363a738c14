#pragma once
// Line plots as SVG: a framed area with labelled grid lines and one line per
// series, small enough to sit inline in a page or stand alone in a file.

#include <string>
#include <vector>

namespace zoc::tool {

struct PlotSeries {
    std::string label; ///< shown in the legend when there are several series
    std::string colour; ///< any SVG colour
    std::vector<double> x;
    std::vector<double> y;
    bool dashed = false;
};

struct Plot {
    std::string xLabel;
    std::string yLabel;
    double xMin = 0.0;
    double xMax = 1.0;
    double yMin = 0.0;
    double yMax = 1.0;
    bool logX = false; ///< xMin must then be above 0
    int width = 360;
    int height = 180;
    std::vector<PlotSeries> series;
};

/// The plot as an <svg> element. Values outside the y range are drawn at its
/// edge, points that are not finite are left out. `standalone` adds what a
/// file of its own needs (XML declaration, namespace).
std::string SvgPlot(const Plot& plot, bool standalone);

/// `text` with the characters that HTML and XML reserve escaped.
std::string EscapeXml(const std::string& text);

} // namespace zoc::tool

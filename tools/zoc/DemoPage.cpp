#include "tools/zoc/DemoPage.h"

#include <cmath>
#include <sstream>

#include "tools/zoc/AudioFile.h"

namespace zoc::tool {

namespace {

constexpr const char* kStyle = R"(
body { font: 14px/1.45 system-ui, sans-serif; color: #222; background: #f6f6f4; margin: 0 auto; max-width: 1120px; padding: 1em 1.5em; }
h1 { font-size: 1.5em; margin: .3em 0; }
.row { display: grid; grid-template-columns: 340px 360px 300px; gap: 1.2em; background: #fff; border: 1px solid #ddd; border-radius: 6px; padding: .8em 1em; margin: 1em 0; }
@media (max-width: 1100px) { .row { grid-template-columns: 1fr; } }
h2 { font-size: 1.15em; margin: 0; }
h2 small { color: #888; font-weight: normal; font-size: .75em; margin-left: .4em; }
p { margin: .3em 0; }
.preset { color: #555; }
table { border-collapse: collapse; font-variant-numeric: tabular-nums; margin: .4em 0; }
th, td { padding: 0 .8em 0 0; text-align: right; }
th:first-child { text-align: left; font-weight: normal; color: #666; }
audio { width: 100%; height: 32px; }
.player { font-size: .85em; color: #666; margin-top: .3em; }
figure { margin: 0; }
figcaption { font-size: .85em; color: #666; }
)";

std::string Fixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return value < 0.0 ? "-inf" : "inf";
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(decimals);
    text << value;
    return text.str();
}

void Player(std::ostringstream& html, const std::string& label, const std::string& file)
{
    html << "<div class=\"player\">" << label << "</div>\n<audio controls preload=\"none\" src=\"" << EscapeXml(file)
         << "\"></audio>\n";
}

void Row(std::ostringstream& html, const DemoRow& row, int rate)
{
    html << "<section class=\"row\" id=\"" << EscapeXml(row.className) << "\">\n<div>\n<h2>" << EscapeXml(row.title)
         << "<small>" << EscapeXml(row.className) << "</small></h2>\n<p>" << EscapeXml(row.description) << "</p>\n";
    if (!row.skipped.empty()) {
        html << "<p>Not rendered: " << EscapeXml(row.skipped) << "</p>\n</div>\n</section>\n";
        return;
    }
    html << "<p class=\"preset\">Preset: <b>" << EscapeXml(row.preset) << "</b></p>\n";
    html << "<table>\n<tr><th></th><th>in</th><th>out</th></tr>\n";
    const auto levels = [&](const char* name, double in, double out) {
        html << "<tr><th>" << name << "</th><td>" << (row.input ? Fixed(in, 1) : "") << "</td><td>" << Fixed(out, 1)
             << "</td></tr>\n";
    };
    levels("peak dBFS", row.input ? row.input->peak : 0.0, row.output.peak);
    levels("RMS dBFS", row.input ? row.input->rms : 0.0, row.output.rms);
    html << "<tr><th>latency</th><td colspan=\"2\">" << row.latency << " frames ("
         << Fixed(1000.0 * row.latency / rate, 1) << " ms)</td></tr>\n";
    html << "<tr><th>speed</th><td colspan=\"2\">" << Fixed(row.realTime, 0) << "&times; real time</td></tr>\n";
    html << "</table>\n";
    if (!row.inputFile.empty())
        Player(html, "Input", row.inputFile);
    Player(html, row.inputFile.empty() ? "Generated" : "Output", row.outputFile);
    html << "</div>\n<figure>\n" << SvgPlot(row.levels, false) << "<figcaption>Level over time (RMS of 100 ms)"
         << "</figcaption>\n</figure>\n";
    if (row.curve)
        html << "<figure>\n" << SvgPlot(*row.curve, false) << "<figcaption>" << EscapeXml(row.curve->yLabel) << " over "
             << EscapeXml(row.curve->xLabel) << " for this preset</figcaption>\n</figure>\n";
    html << "</section>\n";
}

} // namespace

void WriteDemoPage(const std::filesystem::path& path, const std::string& signal, int rate,
                   const std::vector<DemoRow>& rows)
{
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         << "<title>ZoAudioComponents demo</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n"
         << "<h1>ZoAudioComponents demo</h1>\n<p>Every component on the same input: " << EscapeXml(signal)
         << ". Each plays a preset chosen to be heard; levels are in dBFS, speed is seconds of audio rendered per "
         << "second on the machine that made this page (reading and writing the files included).</p>\n";
    for (const DemoRow& row : rows)
        Row(html, row, rate);
    html << "</body>\n</html>\n";
    WriteFileAtomically(path, html.str());
}

} // namespace zoc::tool

#pragma once
// The page `zoc demo` writes beside its audio files: one row per component
// with what it does, the preset, its numbers, players for input and output
// and plots. Plain HTML and CSS that a browser opens from the file system.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/zoc/SvgPlot.h"

namespace zoc::tool {

struct DemoLevels {
    double peak = 0.0; ///< dBFS
    double rms = 0.0;  ///< dBFS
};

struct DemoRow {
    std::string className;
    std::string title;
    std::string description;
    std::string preset;
    /// Why the component was not rendered; the fields below are then unset.
    std::string skipped;
    int latency = 0; ///< frames
    std::optional<DemoLevels> input; ///< none for a generator
    DemoLevels output;
    double realTime = 0.0; ///< audio seconds rendered per wall-clock second
    std::string inputFile; ///< relative to the page; empty for a generator
    std::string outputFile;
    Plot levels;
    std::optional<Plot> curve;
};

/// Writes the page to `path` (through a temporary file). `signal` says what
/// the input is; `rate` gives latencies in milliseconds.
void WriteDemoPage(const std::filesystem::path& path, const std::string& signal, int rate,
                   const std::vector<DemoRow>& rows);

} // namespace zoc::tool

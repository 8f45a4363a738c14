#pragma once
// The level of what zoc writes: a warning when an encoding that stops at full
// scale clipped samples, and --normalize, which scales the whole output to a
// chosen sample peak.

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "tools/zoc/AudioFile.h"
#include "tools/zoc/Render.h"

namespace zoc::tool {

/// Lowest peak --normalize takes, in dBFS.
inline constexpr double kLowestNormalizePeak = -100.0;

/// The value of --normalize: a peak in dBFS from -100 to 0, with or without
/// "dB"/"dBFS" after it. Usage error otherwise.
double ParseNormalizePeak(const std::string& text);

/// Runs `render` into `writer`. With a target peak it renders into a private
/// temporary float file first, measures the peak there and copies the whole,
/// scaled so its peak lands on the target, into `writer` chunk by chunk, so
/// memory stays flat however long the output. Silence stays silence.
RenderStats RenderAtLevel(const std::function<RenderStats(AudioWriter&)>& render, AudioWriter& writer,
                          std::size_t channels, int sampleRate, std::optional<double> peakDecibels);

/// One warning line when `writer` clipped samples: how many, the peak, and
/// how to keep them. Nothing otherwise.
void WarnIfClipped(const AudioWriter& writer, const std::filesystem::path& output, std::ostream& err);

} // namespace zoc::tool

#pragma once
// --keyframes "POS:GAIN,...": envelope points as people think of them. POS
// is a fraction of the whole (0 start, 1 end), seconds from the start ("2s")
// or seconds before the end ("-3s", "end-3s"); GAIN a linear gain ("0.5") or
// a level in dB ("-6dB"). Seconds become fractions once the length is known.

#include <optional>
#include <string>
#include <vector>

#include "framework/LogicalKeyframeEditor.h"

namespace zoc::tool {

struct KeyframeEntry {
    enum class Anchor { kFraction, kFromStart, kBeforeEnd };
    Anchor anchor = Anchor::kFraction;
    double position = 0.0; ///< the fraction, or the seconds from the anchor
    float gain = 1.0f;     ///< linear
    std::string text;      ///< the position as typed, for messages
};

/// Parses the whole list strictly; usage error naming the bad entry. Entries
/// given as fractions only are checked for order here already.
std::vector<KeyframeEntry> ParseKeyframes(const std::string& text);

/// True when some position is in seconds, so the length must be known.
bool KeyframesNeedLength(const std::vector<KeyframeEntry>& entries);

/// The envelope over `seconds` of audio (`what` names it in messages, such as
/// "in.wav"). Usage error when a position lies outside it or positions do not
/// increase. `seconds` may be left out when every position is a fraction.
std::vector<LogicalKeyframe> ResolveKeyframes(const std::vector<KeyframeEntry>& entries,
                                              std::optional<double> seconds, const std::string& what);

} // namespace zoc::tool

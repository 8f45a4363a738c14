#include "tools/zoc/Keyframes.h"

#include <cmath>
#include <string_view>

#include "tools/zoc/Cli.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Errors.h"

namespace zoc::tool {

namespace {

constexpr const char* kSyntax = "--keyframes expects POS:GAIN,... (POS 0..1, 2s or -3s; GAIN >= 0 or in dB)";

bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix)
{
    return text.size() > suffix.size() && EqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

/// The position part, or nullopt when it is not one of the accepted forms.
std::optional<KeyframeEntry> ParsePosition(std::string_view text)
{
    KeyframeEntry entry;
    entry.text = std::string(text);
    if (!EndsWithIgnoreCase(text, "s")) {
        const std::optional<double> fraction = ParseNumber(text);
        if (!fraction)
            return std::nullopt;
        entry.position = *fraction;
        return entry;
    }
    text.remove_suffix(1);
    entry.anchor = KeyframeEntry::Anchor::kFromStart;
    if (text.starts_with("end-") || text.starts_with("END-")) {
        text.remove_prefix(4);
        entry.anchor = KeyframeEntry::Anchor::kBeforeEnd;
    } else if (text.starts_with("-")) {
        text.remove_prefix(1);
        entry.anchor = KeyframeEntry::Anchor::kBeforeEnd;
    }
    // The sign is the anchor; the seconds themselves carry none.
    if (text.empty() || text.front() == '-' || text.front() == '+')
        return std::nullopt;
    const std::optional<double> seconds = ParseNumber(text);
    if (!seconds)
        return std::nullopt;
    entry.position = *seconds;
    return entry;
}

std::optional<double> ParseGain(std::string_view text)
{
    if (EndsWithIgnoreCase(text, "dB")) {
        const std::optional<double> decibels = ParseNumber(text.substr(0, text.size() - 2));
        if (!decibels)
            return std::nullopt;
        return std::pow(10.0, *decibels / 20.0);
    }
    return ParseNumber(text);
}

void RequireIncreasing(const std::vector<double>& positions, const std::vector<KeyframeEntry>& entries)
{
    for (std::size_t i = 1; i < positions.size(); ++i) {
        if (!(positions[i] > positions[i - 1]))
            throw UsageError("--keyframes positions must increase: " + entries[i].text + " comes after " +
                             entries[i - 1].text);
    }
}

} // namespace

std::vector<KeyframeEntry> ParseKeyframes(const std::string& text)
{
    const auto fail = [&text](const std::string& why) {
        return UsageError(std::string(kSyntax) + ": " + why + " in '" + text + "'");
    };
    std::vector<KeyframeEntry> entries;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos)
            throw fail("'" + item + "' has no ':'");
        std::optional<KeyframeEntry> entry = ParsePosition(std::string_view(item).substr(0, colon));
        const std::optional<double> gain = ParseGain(std::string_view(item).substr(colon + 1));
        if (!entry || !gain)
            throw fail("'" + item + "' is not a position and a gain");
        if (entry->anchor == KeyframeEntry::Anchor::kFraction && (entry->position < 0.0 || entry->position > 1.0))
            throw fail("position " + entry->text + " is outside 0..1 (seconds are written " + entry->text + "s)");
        if (*gain < 0.0)
            throw fail("gain " + item.substr(colon + 1) + " is negative");
        entry->gain = static_cast<float>(*gain);
        entries.push_back(std::move(*entry));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (!KeyframesNeedLength(entries)) {
        std::vector<double> positions;
        for (const KeyframeEntry& entry : entries)
            positions.push_back(entry.position);
        RequireIncreasing(positions, entries);
    }
    return entries;
}

bool KeyframesNeedLength(const std::vector<KeyframeEntry>& entries)
{
    for (const KeyframeEntry& entry : entries) {
        if (entry.anchor != KeyframeEntry::Anchor::kFraction)
            return true;
    }
    return false;
}

std::vector<LogicalKeyframe> ResolveKeyframes(const std::vector<KeyframeEntry>& entries,
                                              std::optional<double> seconds, const std::string& what)
{
    if (KeyframesNeedLength(entries) && !(seconds && *seconds > 0.0))
        throw UsageError("--keyframes in seconds need the length of " + what);
    std::vector<double> positions;
    for (const KeyframeEntry& entry : entries) {
        double position = entry.position;
        if (entry.anchor != KeyframeEntry::Anchor::kFraction) {
            const double fromStart = entry.anchor == KeyframeEntry::Anchor::kFromStart ? entry.position
                                                                                       : *seconds - entry.position;
            if (fromStart < 0.0 || fromStart > *seconds)
                throw UsageError("--keyframes position " + entry.text + " lies outside " + what + " (" +
                                 FormatNumber(*seconds) + " s)");
            position = fromStart / *seconds;
        }
        positions.push_back(position);
    }
    RequireIncreasing(positions, entries);
    std::vector<LogicalKeyframe> keyframes;
    for (std::size_t i = 0; i < entries.size(); ++i)
        keyframes.push_back({static_cast<float>(positions[i]), entries[i].gain});
    return keyframes;
}

} // namespace zoc::tool

#include "api/Text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace zoc::api {

std::optional<double> ParseNumber(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string ToLower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) { return ToLower(a) == ToLower(b); }

std::size_t EditDistance(std::string_view a, std::string_view b)
{
    const std::string x = ToLower(a);
    const std::string y = ToLower(b);
    std::vector<std::size_t> row(y.size() + 1);
    for (std::size_t j = 0; j <= y.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= x.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= y.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[y.size()];
}

std::vector<std::string> CloseMatches(std::string_view query, const std::vector<std::string>& candidates)
{
    const std::string lowerQuery = ToLower(query);
    const std::size_t allowed = std::max<std::size_t>(1, lowerQuery.size() / 3);
    std::vector<std::pair<std::size_t, std::string>> scored;
    for (const std::string& candidate : candidates) {
        const std::string lowerCandidate = ToLower(candidate);
        const bool prefix = !lowerQuery.empty() && (lowerCandidate.starts_with(lowerQuery) ||
                                                    (lowerQuery.size() >= 3 && lowerQuery.starts_with(lowerCandidate)));
        // The length difference is a lower bound of the distance: a word far
        // longer or shorter than a name needs no table to be ruled out.
        const std::size_t gap = lowerQuery.size() > lowerCandidate.size() ? lowerQuery.size() - lowerCandidate.size()
                                                                           : lowerCandidate.size() - lowerQuery.size();
        const std::size_t distance = gap > allowed ? gap : EditDistance(lowerQuery, lowerCandidate);
        if (prefix || distance <= allowed)
            scored.emplace_back(prefix ? 0 : distance, candidate);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> matches;
    for (auto& entry : scored) {
        if (std::find(matches.begin(), matches.end(), entry.second) == matches.end())
            matches.push_back(std::move(entry.second));
    }
    return matches;
}

std::string SuggestionText(std::string_view query, const std::vector<std::string>& candidates)
{
    if (candidates.empty())
        return {};
    constexpr std::size_t kMaxShown = 12;
    const std::vector<std::string> matches = CloseMatches(query, candidates);
    std::string text;
    if (!matches.empty()) {
        text = "; did you mean ";
        const std::size_t shown = std::min<std::size_t>(matches.size(), 3);
        for (std::size_t i = 0; i < shown; ++i) {
            if (i > 0)
                text += i + 1 == shown ? " or " : ", ";
            text += "'" + matches[i] + "'";
        }
        return text + "?";
    }
    text = "; choose from ";
    for (std::size_t i = 0; i < candidates.size() && i < kMaxShown; ++i) {
        if (i > 0)
            text += ", ";
        text += "'" + candidates[i] + "'";
    }
    if (candidates.size() > kMaxShown)
        text += ", ... (" + std::to_string(candidates.size()) + " in all)";
    return text;
}

std::string FormatNumber(double value)
{
    if (!std::isfinite(value))
        return std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value));
    return std::string(buffer, result.ptr);
}

} // namespace zoc::api

#include "tools/zoc/Cli.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "tools/zoc/Errors.h"

namespace zoc::tool {

ArgumentScanner::ArgumentScanner(std::string command, const std::vector<std::string>& words,
                                 std::vector<std::string> options, std::vector<std::string> flags)
    : command_(std::move(command)), words_(words), options_(std::move(options)), flags_(std::move(flags))
{
}

bool ArgumentScanner::Next()
{
    if (inlineValue_)
        throw UsageError(name_ + " takes no value");
    isOption_ = false;
    name_.clear();
    word_.clear();
    while (next_ < words_.size()) {
        const std::string& word = words_[next_++];
        // "--" ends the options, so a file may be called "--x".
        if (!onlyPositional_ && word == "--") {
            onlyPositional_ = true;
            continue;
        }
        const bool looksLikeOption =
            !onlyPositional_ && word.size() > 1 && word[0] == '-' && !ParseNumber(word).has_value();
        if (!looksLikeOption) {
            word_ = word;
            return true;
        }
        const std::size_t equals = word.find('=');
        name_ = word.substr(0, equals);
        if (equals != std::string::npos)
            inlineValue_ = word.substr(equals + 1);
        const bool isFlag = std::find(flags_.begin(), flags_.end(), name_) != flags_.end();
        const bool isValued = std::find(options_.begin(), options_.end(), name_) != options_.end();
        if (!isFlag && !isValued) {
            std::vector<std::string> known = options_;
            known.insert(known.end(), flags_.begin(), flags_.end());
            throw UsageError("unknown option '" + name_ + "' for " + command_ + SuggestionText(name_, known));
        }
        if (isFlag && inlineValue_)
            throw UsageError(name_ + " takes no value");
        isOption_ = true;
        return true;
    }
    return false;
}

std::string ArgumentScanner::Value()
{
    if (inlineValue_) {
        std::string value = std::move(*inlineValue_);
        inlineValue_.reset();
        return value;
    }
    if (next_ >= words_.size())
        throw UsageError(name_ + " needs a value");
    return words_[next_++];
}

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

double RequireNumber(std::string_view text, const std::string& what)
{
    if (auto value = ParseNumber(text))
        return *value;
    throw UsageError(what + ": '" + std::string(text) + "' is not a number");
}

long long RequireInteger(std::string_view text, const std::string& what, long long lo, long long hi)
{
    const double value = RequireNumber(text, what);
    if (value != std::floor(value) || value < static_cast<double>(lo) || value > static_cast<double>(hi))
        throw UsageError(what + ": '" + std::string(text) + "' is not a whole number in " + std::to_string(lo) +
                         ".." + std::to_string(hi));
    return static_cast<long long>(value);
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
        const std::size_t distance = EditDistance(lowerQuery, lowerCandidate);
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

} // namespace zoc::tool

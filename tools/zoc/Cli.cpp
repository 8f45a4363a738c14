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

} // namespace zoc::tool

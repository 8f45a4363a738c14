#pragma once
// Command-line scanning shared by the commands: options as "--name VALUE" or
// "--name=VALUE", positional words, and strict number parsing.

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/Text.h"

namespace zoc::tool {

/// Where the command's output goes and whether a person is watching stderr.
struct Context {
    std::ostream& out;
    std::ostream& err;
    bool interactive = false; ///< stderr is a terminal: progress may be drawn
};

/// Walks the words after the command name.
class ArgumentScanner {
public:
    /// `options` and `flags` are the long options the command knows (with
    /// "--"); options take a value, flags do not.
    ArgumentScanner(std::string command, const std::vector<std::string>& words, std::vector<std::string> options,
                    std::vector<std::string> flags);

    /// Advances to the next word; false at the end.
    bool Next();
    /// True when the current word is an option or flag (its name in Name()).
    bool IsOption() const { return isOption_; }
    const std::string& Name() const { return name_; }
    /// The current positional word.
    const std::string& Word() const { return word_; }
    /// The value of the current option, from "--name=VALUE" or the next word.
    std::string Value();

private:
    std::string command_;
    const std::vector<std::string>& words_;
    std::vector<std::string> options_;
    std::vector<std::string> flags_;
    std::size_t next_ = 0;
    bool onlyPositional_ = false;
    bool isOption_ = false;
    std::string name_;
    std::string word_;
    std::optional<std::string> inlineValue_;
};

// Number parsing, name matching and suggestions are the library's own, so
// zoc reads names and numbers as every other front end does.
using api::ParseNumber;
/// Like ParseNumber, or a usage error naming `what`.
double RequireNumber(std::string_view text, const std::string& what);
/// A whole number in [lo, hi], or a usage error naming `what`.
long long RequireInteger(std::string_view text, const std::string& what, long long lo, long long hi);

using api::CloseMatches;
using api::EditDistance;
using api::EqualsIgnoreCase;
using api::SuggestionText;
using api::ToLower;

} // namespace zoc::tool

#pragma once
// Text helpers behind every name lookup: strict numbers, case-insensitive
// comparison, close-match suggestions and shortest round-trip formatting.
// The command line, the public interface and the bindings share them, so a
// name or a number reads the same everywhere.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zoc::api {

/// A finite decimal number filling the whole text; nullopt otherwise.
std::optional<double> ParseNumber(std::string_view text);

std::string ToLower(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
/// Case-insensitive edit distance.
std::size_t EditDistance(std::string_view a, std::string_view b);
/// Candidates close to `query`: within a small edit distance or starting with
/// it (case-insensitive), best first.
std::vector<std::string> CloseMatches(std::string_view query, const std::vector<std::string>& candidates);
/// "; did you mean 'a' or 'b'?" for close matches, else "; choose from a, b, c"
/// (the first few when there are many). Empty when there are no candidates.
std::string SuggestionText(std::string_view query, const std::vector<std::string>& candidates);

/// Shortest text that reads back as the same float.
std::string FormatNumber(double value);

} // namespace zoc::api

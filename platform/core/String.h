#pragma once
// UTF-16 text as the host exchanges it, and the number formatting helpers.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>
#include <string>
#include <string_view>

namespace zoc::core {

using UString = std::u16string;

/// Converts UTF-8 to UTF-16; invalid bytes become U+FFFD.
UString FromUtf8(std::string_view text);
/// Converts UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);

enum NumberFormatFlags : unsigned {
    kNoNumberFlags = 0,
    kAlwaysShowSign = 1u << 0, ///< "+1.50" for positive values
};

/// Formats `value` with exactly `decimals` decimals (rounded half away from
/// zero), at least `leadingDigits` digits before the point, and at most
/// `maxLength` characters (longer results fall back to fewer decimals).
/// NaN gives "nan", infinities "inf" and "-inf".
UString NumberToString(double value, std::size_t leadingDigits, std::size_t decimals,
                       unsigned flags = kNoNumberFlags, std::size_t maxLength = 31);

/// Parses a decimal number (optional sign, digits, point, exponent) with
/// surrounding white space allowed; nothing else may follow.
std::optional<double> StringToNumber(std::u16string_view text);

/// Replaces every occurrence of `from` in `text` by `to`; returns the count.
std::size_t ReplaceInString(UString& text, std::u16string_view from, std::u16string_view to);

/// Value of one hexadecimal digit, -1 for any other character.
int HexDigitValue(char32_t c);
/// Lower-case hexadecimal text of the bytes, two digits each.
std::string ToHex(std::span<const std::uint8_t> bytes);
/// The bytes of hexadecimal text; nullopt for odd length or a non-hex character.
std::optional<std::vector<std::uint8_t>> FromHex(std::u16string_view text);
std::optional<std::vector<std::uint8_t>> FromHex(std::string_view text);

} // namespace zoc::core

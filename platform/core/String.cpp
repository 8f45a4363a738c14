#include "platform/core/String.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <system_error>

namespace zoc::core {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(UString& out, char32_t codePoint)
{
    if (codePoint < 0x10000) {
        out.push_back(static_cast<char16_t>(codePoint));
    } else {
        codePoint -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
    }
}

void AppendUtf8(std::string& out, char32_t codePoint)
{
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

bool IsAsciiSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

/// The exact decimal expansion of a finite double in fixed notation, without
/// sign. 1074 fractional digits hold every double exactly (the smallest
/// subnormal is 2^-1074), so the digits past any rounding position are exact
/// and a tie can be told apart from a value just below or above it.
std::string ExactDecimalExpansion(double magnitude)
{
    constexpr int kExactDigits = 1074;
    // 309 integer digits at most, the point, the fraction and the terminator.
    char text[309 + 1 + kExactDigits + 1];
    const int length = std::snprintf(text, sizeof text, "%.*f", kExactDigits, magnitude);
    return std::string(text, static_cast<std::size_t>(std::clamp(length, 0, static_cast<int>(sizeof text) - 1)));
}

/// Rounds the exact expansion to `decimals` decimals, half away from zero.
/// Returns the integer digits and the fraction digits separately.
void RoundExpansion(const std::string& exact, std::size_t decimals, std::string& integerDigits,
                    std::string& fractionDigits)
{
    const std::size_t point = exact.find('.');
    integerDigits = exact.substr(0, point);
    const std::string fraction = point == std::string::npos ? std::string() : exact.substr(point + 1);
    fractionDigits = fraction.substr(0, std::min(decimals, fraction.size()));
    fractionDigits.resize(decimals, '0');

    // With exact digits, "half or more" is simply: the next digit is 5 or above.
    const bool roundUp = decimals < fraction.size() && fraction[decimals] >= '5';
    if (!roundUp)
        return;
    for (std::size_t i = fractionDigits.size(); i-- > 0;) {
        if (fractionDigits[i] != '9') {
            ++fractionDigits[i];
            return;
        }
        fractionDigits[i] = '0';
    }
    for (std::size_t i = integerDigits.size(); i-- > 0;) {
        if (integerDigits[i] != '9') {
            ++integerDigits[i];
            return;
        }
        integerDigits[i] = '0';
    }
    integerDigits.insert(integerDigits.begin(), '1');
}

std::string FormatFinite(const std::string& exact, bool negative, std::size_t leadingDigits,
                         std::size_t decimals, unsigned flags)
{
    std::string integerDigits;
    std::string fractionDigits;
    RoundExpansion(exact, decimals, integerDigits, fractionDigits);

    const std::size_t firstNonZero = integerDigits.find_first_not_of('0');
    integerDigits.erase(0, firstNonZero == std::string::npos ? integerDigits.size() : firstNonZero);
    const bool isZero = integerDigits.empty() && fractionDigits.find_first_not_of('0') == std::string::npos;
    if (integerDigits.size() < leadingDigits)
        integerDigits.insert(0, leadingDigits - integerDigits.size(), '0');
    if (integerDigits.empty() && fractionDigits.empty())
        integerDigits.push_back('0');

    std::string result;
    // A value that rounds to zero shows no sign: "-0.00" would only confuse.
    if (!isZero && negative)
        result.push_back('-');
    else if (!isZero && (flags & kAlwaysShowSign))
        result.push_back('+');
    result += integerDigits;
    if (!fractionDigits.empty()) {
        result.push_back('.');
        result += fractionDigits;
    }
    return result;
}

} // namespace

UString FromUtf8(std::string_view text)
{
    UString out;
    out.reserve(text.size());
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = byteAt(i);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t codePoint = 0;
        char32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1F;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0F;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07;
            minimum = 0x10000;
        } else {
            out.push_back(static_cast<char16_t>(kReplacement));
            ++i;
            continue;
        }
        // Consume continuation bytes while they fit; a broken sequence is
        // replaced once and decoding resumes at the offending byte.
        std::size_t consumed = 1;
        while (consumed < length && i + consumed < text.size() && (byteAt(i + consumed) & 0xC0) == 0x80) {
            codePoint = (codePoint << 6) | (byteAt(i + consumed) & 0x3F);
            ++consumed;
        }
        const bool valid = consumed == length && codePoint >= minimum && codePoint <= 0x10FFFF &&
                           !(codePoint >= 0xD800 && codePoint <= 0xDFFF);
        AppendUtf16(out, valid ? codePoint : kReplacement);
        i += consumed;
    }
    return out;
}

std::string ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            const char32_t codePoint = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
            AppendUtf8(out, codePoint);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

UString NumberToString(double value, std::size_t leadingDigits, std::size_t decimals, unsigned flags,
                       std::size_t maxLength)
{
    if (std::isnan(value))
        return u"nan";
    if (std::isinf(value))
        return value < 0 ? u"-inf" : u"inf";

    // Beyond this every digit of the exact expansion is already shown.
    decimals = std::min<std::size_t>(decimals, 1074);
    const std::string exact = ExactDecimalExpansion(std::fabs(value));
    const bool negative = std::signbit(value);
    std::string text;
    // Too long: give up decimals one at a time. Without decimals the integer
    // part cannot shrink any further, so that result stands even if too long.
    for (std::size_t shown = decimals + 1; shown-- > 0;) {
        text = FormatFinite(exact, negative, leadingDigits, shown, flags);
        if (text.size() <= maxLength)
            break;
    }
    return UString(text.begin(), text.end());
}

std::optional<double> StringToNumber(std::u16string_view text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsAsciiSpace(text[begin]))
        ++begin;
    while (end > begin && IsAsciiSpace(text[end - 1]))
        --end;

    std::string ascii;
    ascii.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i) {
        if (text[i] >= 0x80)
            return std::nullopt;
        ascii.push_back(static_cast<char>(text[i]));
    }

    // Check the grammar ourselves: from_chars would also take "inf", "nan"
    // and hexadecimal forms, which are not numbers a user types in.
    std::size_t i = 0;
    bool negative = false;
    if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) {
        negative = ascii[i] == '-';
        ++i;
    }
    const std::size_t numberStart = i;
    std::size_t mantissaDigits = 0;
    while (i < ascii.size() && IsDigit(ascii[i])) {
        ++i;
        ++mantissaDigits;
    }
    if (i < ascii.size() && ascii[i] == '.') {
        ++i;
        while (i < ascii.size() && IsDigit(ascii[i])) {
            ++i;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < ascii.size() && (ascii[i] == 'e' || ascii[i] == 'E')) {
        ++i;
        if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-'))
            ++i;
        std::size_t exponentDigits = 0;
        while (i < ascii.size() && IsDigit(ascii[i])) {
            ++i;
            ++exponentDigits;
        }
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != ascii.size())
        return std::nullopt;

    double magnitude = 0.0;
    const char* first = ascii.data() + numberStart;
    const char* last = ascii.data() + ascii.size();
    const auto [stop, error] = std::from_chars(first, last, magnitude, std::chars_format::general);
    if (error != std::errc() || stop != last)
        return std::nullopt;
    return negative ? -magnitude : magnitude;
}

std::size_t ReplaceInString(UString& text, std::u16string_view from, std::u16string_view to)
{
    if (from.empty())
        return 0;
    std::size_t count = 0;
    std::size_t position = 0;
    while ((position = text.find(from, position)) != UString::npos) {
        text.replace(position, from.size(), to);
        position += to.size();
        ++count;
    }
    return count;
}

int HexDigitValue(char32_t c)
{
    if (c >= U'0' && c <= U'9')
        return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f')
        return static_cast<int>(c - U'a') + 10;
    if (c >= U'A' && c <= U'F')
        return static_cast<int>(c - U'A') + 10;
    return -1;
}

std::string ToHex(std::span<const std::uint8_t> bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

namespace {

template <class Text>
std::optional<std::vector<std::uint8_t>> BytesFromHex(Text text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigitValue(static_cast<char32_t>(text[i]));
        const int low = HexDigitValue(static_cast<char32_t>(text[i + 1]));
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

} // namespace

std::optional<std::vector<std::uint8_t>> FromHex(std::u16string_view text) { return BytesFromHex(text); }
std::optional<std::vector<std::uint8_t>> FromHex(std::string_view text) { return BytesFromHex(text); }

} // namespace zoc::core

#include "platform/core/Guid.h"

#include "platform/core/String.h"

#include <cstdio>

namespace zoc::core {

namespace {

/// Reads `digits` hex digits at `position`; false when any is not hex.
bool ReadHex(std::string_view text, std::size_t position, std::size_t digits, std::uint64_t& value)
{
    value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const int digit = HexDigitValue(static_cast<unsigned char>(text[position + i]));
        if (digit < 0)
            return false;
        value = (value << 4) | static_cast<std::uint64_t>(digit);
    }
    return true;
}

} // namespace

std::string Guid::AsString() const
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(data1), static_cast<unsigned>(data2), static_cast<unsigned>(data3),
                  data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
    return text;
}

std::optional<Guid> Guid::FromString(std::string_view text)
{
    if (!text.empty() && text.front() == '{') {
        if (text.back() != '}')
            return std::nullopt;
        text = text.substr(1, text.size() - 2);
    }
    // XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return std::nullopt;

    Guid guid;
    std::uint64_t value = 0;
    if (!ReadHex(text, 0, 8, value))
        return std::nullopt;
    guid.data1 = static_cast<std::uint32_t>(value);
    if (!ReadHex(text, 9, 4, value))
        return std::nullopt;
    guid.data2 = static_cast<std::uint16_t>(value);
    if (!ReadHex(text, 14, 4, value))
        return std::nullopt;
    guid.data3 = static_cast<std::uint16_t>(value);
    static constexpr std::size_t kBytePositions[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (std::size_t i = 0; i < 8; ++i) {
        if (!ReadHex(text, kBytePositions[i], 2, value))
            return std::nullopt;
        guid.data4[i] = static_cast<std::uint8_t>(value);
    }
    return guid;
}

} // namespace zoc::core

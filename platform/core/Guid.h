#pragma once
// 128-bit identifiers with the usual text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zoc::core {

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    /// Upper-case text form in braces.
    std::string AsString() const;
    /// Parses the text form, with or without braces; nullopt when malformed.
    static std::optional<Guid> FromString(std::string_view text);

    friend bool operator==(const Guid&, const Guid&) = default;
};

} // namespace zoc::core

#pragma once
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace harvolin
{

// A 128-bit identifier of interfaces, classes and stream types, in the usual layout. Its text form is
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": D1, D2, D3, then D4[0..1] and D4[2..7], each as hex digits.
// The null identifier (all zero) means "no type".
struct TGUID
{
    std::uint32_t D1;
    std::uint16_t D2, D3;
    std::uint8_t D4[8];

    [[nodiscard]] constexpr bool IsNull() const noexcept;

    friend constexpr bool operator==(const TGUID&, const TGUID&) noexcept = default;
    // Field by field, D1 first; any total order serves as a map key.
    friend constexpr std::strong_ordering operator<=>(const TGUID&, const TGUID&) noexcept = default;
};

inline constexpr TGUID kNullGuid{};

constexpr bool TGUID::IsNull() const noexcept
{
    return *this == kNullGuid;
}

// The identifier written in text, or nothing when the text is not exactly the braced form. Hex digits may be
// of either case; nothing may surround the braces.
[[nodiscard]] constexpr std::optional<TGUID> TryParseGuid(std::string_view text) noexcept
{
    constexpr std::size_t kLength = 38;
    if (text.size() != kLength || text.front() != '{' || text.back() != '}')
        return std::nullopt;
    // Positions of the hex digits in the text, in the order of the identifier's bytes as written.
    std::uint8_t bytes[16] = {};
    std::size_t byte = 0;
    for (std::size_t i = 1; i + 1 < kLength; ++i)
    {
        if (i == 9 || i == 14 || i == 19 || i == 24)
        {
            if (text[i] != '-')
                return std::nullopt;
            continue;
        }
        char c = text[i];
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                           : -1;
        if (digit < 0)
            return std::nullopt;
        bytes[byte / 2] = static_cast<std::uint8_t>(bytes[byte / 2] << 4 | digit);
        ++byte;
    }
    TGUID guid{};
    guid.D1 = static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
              static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    guid.D2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    guid.D3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    for (std::size_t i = 0; i < 8; ++i)
        guid.D4[i] = bytes[8 + i];
    return guid;
}

// Not constexpr on purpose: reaching it while a literal is evaluated stops the compilation at the bad
// literal.
void GuidLiteralIsMalformed();

// Identifier literals, checked by the compiler:
//   constexpr TGUID kIID_Foo = MakeGuid("{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}");
consteval TGUID MakeGuid(std::string_view text)
{
    std::optional<TGUID> guid = TryParseGuid(text);
    if (!guid)
        GuidLiteralIsMalformed();
    return *guid;
}

// Upper-case braced form.
[[nodiscard]] std::string GuidToString(const TGUID& guid);

// Raises EConvertError naming the text when it is not the braced form.
[[nodiscard]] TGUID StringToGuid(std::string_view text);

// Writes the braced form, for diagnostics and test output.
std::ostream& operator<<(std::ostream& stream, const TGUID& guid);

}   // namespace harvolin

template <>
struct std::hash<harvolin::TGUID>
{
    std::size_t operator()(const harvolin::TGUID& guid) const noexcept;
};

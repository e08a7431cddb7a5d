#include "rtl/Guid.h"
#include "rtl/Exceptions.h"
#include <ostream>

namespace harvolin
{

void GuidLiteralIsMalformed()
{
    throw EConvertError("malformed identifier literal");
}

std::string GuidToString(const TGUID& guid)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(38);
    auto append = [&text](std::uint64_t value, int digits)
    {
        for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
            text.push_back(kHex[(value >> shift) & 0xF]);
    };
    text.push_back('{');
    append(guid.D1, 8);
    text.push_back('-');
    append(guid.D2, 4);
    text.push_back('-');
    append(guid.D3, 4);
    text.push_back('-');
    append(guid.D4[0], 2);
    append(guid.D4[1], 2);
    text.push_back('-');
    for (int i = 2; i < 8; ++i)
        append(guid.D4[i], 2);
    text.push_back('}');
    return text;
}

TGUID StringToGuid(std::string_view text)
{
    std::optional<TGUID> guid = TryParseGuid(text);
    if (!guid)
        throw EConvertError("'" + std::string(text) +
                            "' is not a valid identifier: expected {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");
    return *guid;
}

std::ostream& operator<<(std::ostream& stream, const TGUID& guid)
{
    return stream << GuidToString(guid);
}

}   // namespace harvolin

std::size_t std::hash<harvolin::TGUID>::operator()(const harvolin::TGUID& guid) const noexcept
{
    std::uint64_t high =
        static_cast<std::uint64_t>(guid.D1) << 32 | static_cast<std::uint64_t>(guid.D2) << 16 | guid.D3;
    std::uint64_t low = 0;
    for (std::uint8_t byte : guid.D4)
        low = low << 8 | byte;
    // Mixes both halves through a 64-bit finaliser so that identifiers differing in one byte spread apart.
    std::uint64_t h = high * 0x9E3779B97F4A7C15ULL ^ low;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDULL;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ULL;
    h ^= h >> 33;
    return static_cast<std::size_t>(h);
}

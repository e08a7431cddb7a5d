#include "rtl/Exceptions.h"
#include <cctype>
#include <charconv>
#include <system_error>
#include <utility>

namespace harvolin
{

Exception::Exception(std::string message) : FMessage(std::make_shared<const std::string>(std::move(message)))
{
}

EOSError::EOSError(int errorCode, std::string_view context)
    : Exception(std::string(context) + ": " + std::system_category().message(errorCode)),
      FErrorCode(errorCode)
{
}

namespace
{

// A width or precision this large is a typing error, not a layout; refusing it keeps a stray digit from
// asking for gigabytes.
constexpr std::size_t kMaxFieldSize = 65535;

[[noreturn]] void RaiseInvalid(std::string_view pattern)
{
    throw EConvertError("Format '" + std::string(pattern) + "' invalid or incompatible with argument");
}

[[noreturn]] void RaiseMissing(std::string_view pattern)
{
    throw EConvertError("No argument for format '" + std::string(pattern) + "'");
}

// Code points of UTF-8 text: every byte except continuation bytes starts one.
std::size_t CharacterCount(std::string_view text)
{
    std::size_t count = 0;
    for (unsigned char c : text)
        count += (c & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

// The first `characters` characters of UTF-8 text, whole characters only.
std::string_view LeadingCharacters(std::string_view text, std::size_t characters)
{
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
        {
            if (seen == characters)
                return text.substr(0, i);
            ++seen;
        }
    }
    return text;
}

std::string Digits(std::uint64_t value, int base)
{
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, base);
    std::string digits(buffer, result.ptr);
    for (char& c : digits)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return digits;
}

std::string ZeroPadded(std::string digits, std::size_t minimumDigits)
{
    if (digits.size() < minimumDigits)
        digits.insert(0, minimumDigits - digits.size(), '0');
    return digits;
}

// %u and %x show a value by the width it was passed with, so a negative 32-bit value keeps 32 bits.
std::uint64_t UnsignedValue(const TFormatArg& arg)
{
    switch (arg.Kind())
    {
    case TFormatArg::TKind::Int32:
        return static_cast<std::uint32_t>(arg.Signed());
    case TFormatArg::TKind::Int64:
        return static_cast<std::uint64_t>(arg.Signed());
    default:
        return arg.Unsigned();
    }
}

bool IsInteger(const TFormatArg& arg)
{
    switch (arg.Kind())
    {
    case TFormatArg::TKind::Int32:
    case TFormatArg::TKind::UInt32:
    case TFormatArg::TKind::Int64:
    case TFormatArg::TKind::UInt64:
        return true;
    default:
        return false;
    }
}

bool ParseNumber(std::string_view pattern, std::size_t& pos, std::size_t& number)
{
    std::size_t start = pos;
    number = 0;
    while (pos < pattern.size() && pattern[pos] >= '0' && pattern[pos] <= '9')
    {
        number = number * 10 + static_cast<std::size_t>(pattern[pos] - '0');
        if (number > kMaxFieldSize)
            RaiseInvalid(pattern);
        ++pos;
    }
    return pos > start;
}

std::string FormatOne(std::string_view pattern, char type, bool hasPrecision, std::size_t precision,
                      const TFormatArg& arg)
{
    switch (type)
    {
    case 'd':
    {
        if (!IsInteger(arg))
            RaiseInvalid(pattern);
        bool isSigned = arg.Kind() == TFormatArg::TKind::Int32 || arg.Kind() == TFormatArg::TKind::Int64;
        bool negative = isSigned && arg.Signed() < 0;
        // Negating in unsigned arithmetic keeps the most negative 64-bit value exact.
        std::uint64_t magnitude = !isSigned  ? arg.Unsigned()
                                  : negative ? 0 - static_cast<std::uint64_t>(arg.Signed())
                                             : static_cast<std::uint64_t>(arg.Signed());
        std::string digits = ZeroPadded(Digits(magnitude, 10), hasPrecision ? precision : 0);
        return negative ? "-" + digits : digits;
    }
    case 'u':
    case 'x':
        if (!IsInteger(arg))
            RaiseInvalid(pattern);
        return ZeroPadded(Digits(UnsignedValue(arg), type == 'u' ? 10 : 16), hasPrecision ? precision : 0);
    case 's':
        if (arg.Kind() != TFormatArg::TKind::Text)
            RaiseInvalid(pattern);
        return std::string(hasPrecision ? LeadingCharacters(arg.Text(), precision) : arg.Text());
    case 'p':
        if (arg.Kind() != TFormatArg::TKind::Pointer)
            RaiseInvalid(pattern);
        return ZeroPadded(Digits(reinterpret_cast<std::uintptr_t>(arg.Pointer()), 16), 2 * sizeof(void*));
    default:
        RaiseInvalid(pattern);
    }
}

}   // namespace

std::string Format(std::string_view pattern, std::initializer_list<TFormatArg> args)
{
    std::string result;
    result.reserve(pattern.size() + 16 * args.size());
    const TFormatArg* nextArg = args.begin();
    std::size_t pos = 0;
    while (pos < pattern.size())
    {
        std::size_t percent = pattern.find('%', pos);
        if (percent == std::string_view::npos)
        {
            result.append(pattern.substr(pos));
            break;
        }
        result.append(pattern.substr(pos, percent - pos));
        pos = percent + 1;
        if (pos < pattern.size() && pattern[pos] == '%')
        {
            result.push_back('%');
            ++pos;
            continue;
        }

        bool leftAligned = pos < pattern.size() && pattern[pos] == '-';
        if (leftAligned)
            ++pos;
        std::size_t width = 0;
        ParseNumber(pattern, pos, width);
        std::size_t precision = 0;
        bool hasPrecision = pos < pattern.size() && pattern[pos] == '.';
        if (hasPrecision)
        {
            ++pos;
            if (!ParseNumber(pattern, pos, precision))
                RaiseInvalid(pattern);
        }
        if (pos >= pattern.size())
            RaiseInvalid(pattern);
        char type = static_cast<char>(std::tolower(static_cast<unsigned char>(pattern[pos])));
        ++pos;
        if (type != 'd' && type != 'u' && type != 'x' && type != 's' && type != 'p')
            RaiseInvalid(pattern);
        if (nextArg == args.end())
            RaiseMissing(pattern);

        std::string field = FormatOne(pattern, type, hasPrecision, precision, *nextArg++);
        std::size_t length = CharacterCount(field);
        std::size_t padding = width > length ? width - length : 0;
        if (!leftAligned)
            result.append(padding, ' ');
        result.append(field);
        if (leftAligned)
            result.append(padding, ' ');
    }
    return result;
}

}   // namespace harvolin

#pragma once
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace harvolin
{

// Base of the program's exceptions: a message for the user or the record of a failed thread.
// Copying never throws (the text is shared), as std::exception requires.
class Exception : public std::exception
{
public:
    explicit Exception(std::string message);

    [[nodiscard]] const std::string& Message() const noexcept { return *FMessage; }
    [[nodiscard]] const char* what() const noexcept override { return FMessage->c_str(); }
private:
    std::shared_ptr<const std::string> FMessage;
};

// An index or count outside the valid range of a buffer or list.
class ERangeError : public Exception
{
public:
    using Exception::Exception;
};

// A text that does not convert (identifiers, numbers) or a Format pattern that does not fit its arguments.
class EConvertError : public Exception
{
public:
    using Exception::Exception;
};

// An internal consistency check failed: the program's own code broke a contract that no input can break
// ("Assertion failure", "Lock = nil !"). Raised where a caller can still unwind, never from a call that
// reports result codes.
class EAssertionFailed : public Exception
{
public:
    using Exception::Exception;
};

// A platform call failed. The message is "<context>: <the system's text for the code>", where the context
// names the object and the operation: "thread 'clock 10 ms': cannot create: Resource temporarily
// unavailable".
class EOSError : public Exception
{
public:
    EOSError(int errorCode, std::string_view context);

    [[nodiscard]] int ErrorCode() const noexcept { return FErrorCode; }
private:
    int FErrorCode;
};

// One argument of Format(). It refers to the caller's text without copying, so it lives only for the call.
// Integers keep their width and signedness: %u and %x show a negative 32-bit value as 32 bits and a negative
// 64-bit value as 64 bits. Floating-point, Boolean and character arguments are refused at compile time, as
// no directive prints them.
class TFormatArg
{
public:
    enum class TKind
    {
        Int32,
        UInt32,
        Int64,
        UInt64,
        Text,
        Pointer
    };

    TFormatArg(int value) noexcept : FKind(TKind::Int32), FInt(value) {}
    TFormatArg(unsigned value) noexcept : FKind(TKind::UInt32), FUInt(value) {}
    TFormatArg(long value) noexcept : FKind(TKind::Int64), FInt(value) {}
    TFormatArg(unsigned long value) noexcept : FKind(TKind::UInt64), FUInt(value) {}
    TFormatArg(long long value) noexcept : FKind(TKind::Int64), FInt(value) {}
    TFormatArg(unsigned long long value) noexcept : FKind(TKind::UInt64), FUInt(value) {}
    TFormatArg(const char* text) noexcept : FKind(TKind::Text), FText(text == nullptr ? "" : text) {}
    TFormatArg(char* text) noexcept : TFormatArg(static_cast<const char*>(text)) {}
    TFormatArg(std::string_view text) noexcept : FKind(TKind::Text), FText(text) {}
    TFormatArg(const std::string& text) noexcept : FKind(TKind::Text), FText(text) {}
    TFormatArg(const void* pointer) noexcept : FKind(TKind::Pointer), FPointer(pointer) {}
    TFormatArg(std::nullptr_t) noexcept : FKind(TKind::Pointer), FPointer(nullptr) {}
    TFormatArg(bool) = delete;
    TFormatArg(char) = delete;
    TFormatArg(double) = delete;

    [[nodiscard]] TKind Kind() const noexcept { return FKind; }
    [[nodiscard]] std::int64_t Signed() const noexcept { return FInt; }
    [[nodiscard]] std::uint64_t Unsigned() const noexcept { return FUInt; }
    [[nodiscard]] std::string_view Text() const noexcept { return FText; }
    [[nodiscard]] const void* Pointer() const noexcept { return FPointer; }
private:
    TKind FKind;
    union
    {
        std::int64_t FInt;
        std::uint64_t FUInt;
        const void* FPointer;
    };
    std::string_view FText;
};

// Formats like the Pascal run-time's Format. Directives are %[-][width][.precision]type with type
//   d  signed decimal          u  unsigned decimal          x  hexadecimal, upper-case digits
//   s  text (precision = most characters shown)             p  pointer, 16 upper-case hex digits
// and %% for a percent sign; type letters may also be upper-case. Width pads with spaces on the left, or on
// the right after '-'; for d, u and x the precision is the least number of digits (zero-padded). Width and
// precision count characters of UTF-8 text, and a cut never splits a character. Other text is copied as it
// stands. Arguments left over are ignored.
// Raises EConvertError quoting the pattern for a missing argument ("No argument for format '...'"), and for a
// malformed directive or an argument of the wrong kind ("Format '...' invalid or incompatible with
// argument").
[[nodiscard]] std::string Format(std::string_view pattern, std::initializer_list<TFormatArg> args = {});

}   // namespace harvolin

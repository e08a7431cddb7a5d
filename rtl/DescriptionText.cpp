#include "rtl/DescriptionText.h"
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace harvolin
{
namespace
{

constexpr std::size_t kWrapColumn = 100;
constexpr std::size_t kBytesPerLine = 32;
// Longer tokens are cut in messages: a message must stay readable whatever the text holds.
constexpr std::size_t kMaxQuotedToken = 40;

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsPartChar(char c)
{
    return IsLetter(c) || IsDigit(c);
}

int HexDigit(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsPart(std::string_view text)
{
    if (text.empty() || !IsLetter(text.front()))
        return false;
    for (char c : text)
        if (!IsPartChar(c))
            return false;
    return true;
}

bool IsKeyword(std::string_view text)
{
    return text == "object" || text == "end";
}

std::vector<std::string> SplitPath(std::string_view path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t dot = path.find('.'); dot != std::string_view::npos; dot = path.find('.', start))
    {
        parts.emplace_back(path.substr(start, dot - start));
        start = dot + 1;
    }
    parts.emplace_back(path.substr(start));
    return parts;
}

// The length of the valid UTF-8 sequence (overlong forms and surrogates excluded) that starts at text[i];
// 0 when none does.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead == 0xE0)
        length = 3, low = 0xA0;
    else if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF)
        length = 3;
    else if (lead == 0xED)
        length = 3, high = 0x9F;
    else if (lead == 0xF0)
        length = 4, low = 0x90;
    else if (lead >= 0xF1 && lead <= 0xF3)
        length = 4;
    else if (lead == 0xF4)
        length = 4, high = 0x8F;
    else
        return 0;
    if (text.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k)
    {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

class TParser
{
public:
    explicit TParser(std::string_view text) : FText(text) {}

    TDescObject ParseAll()
    {
        SkipSpace();
        if (Word() != "object")
            Fail("'object'");
        TDescObject object = ParseObject(1);
        SkipSpace();
        if (!AtEnd())
            Fail("end of text");
        return object;
    }
private:
    [[nodiscard]] bool AtEnd() const noexcept { return FPos >= FText.size(); }
    [[nodiscard]] char Peek(std::size_t ahead = 0) const noexcept
    {
        return FPos + ahead < FText.size() ? FText[FPos + ahead] : '\0';
    }
    [[nodiscard]] TTextPosition Position() const noexcept
    {
        return {FLine, static_cast<int>(FPos - FLineStart + 1)};
    }

    // The identifier characters (dots included) at the current position, not consumed.
    [[nodiscard]] std::string_view Word() const noexcept
    {
        std::size_t end = FPos;
        while (end < FText.size() && (IsPartChar(FText[end]) || FText[end] == '.'))
            ++end;
        return FText.substr(FPos, end - FPos);
    }

    // How the token at the current position reads in a message.
    [[nodiscard]] std::string Found() const
    {
        if (AtEnd())
            return "end of text";
        const char c = Peek();
        if (c == '\n' || c == '\r')
            return "a line break";
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F)
        {
            static constexpr char kHex[] = "0123456789ABCDEF";
            return std::string("the byte 0x") + kHex[byte >> 4] + kHex[byte & 0xF];
        }
        std::string_view token = IsPartChar(c) ? Word() : FText.substr(FPos, 1);
        if (IsDigit(c) || ((c == '+' || c == '-') && FPos + 1 < FText.size()))
        {
            std::size_t end = FPos + 1;
            while (end < FText.size() &&
                   (IsPartChar(FText[end]) || FText[end] == '.' || FText[end] == '+' || FText[end] == '-'))
                ++end;
            token = FText.substr(FPos, end - FPos);
        }
        if (token.size() > kMaxQuotedToken)
            return "'" + std::string(token.substr(0, kMaxQuotedToken)) + "...'";
        return "'" + std::string(token) + "'";
    }

    [[noreturn]] void Fail(std::string_view expected) const { FailAt(Position(), expected, Found()); }
    [[noreturn]] static void FailAt(TTextPosition at, std::string_view expected, std::string_view found)
    {
        throw EReadError("line " + std::to_string(at.Line) + ", column " + std::to_string(at.Column) +
                         ": expected " + std::string(expected) + ", found " + std::string(found));
    }

    void CheckNesting(std::size_t depth) const
    {
        if (depth > kMaxDescriptionNesting)
            Fail("at most " + std::to_string(kMaxDescriptionNesting) + " nested objects and lists");
    }

    void Advance() noexcept
    {
        if (FText[FPos] == '\n')
        {
            ++FLine;
            FLineStart = FPos + 1;
        }
        ++FPos;
    }

    void SkipSpace() noexcept
    {
        while (!AtEnd())
        {
            const char c = Peek();
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
                Advance();
            else if (c == '/' && Peek(1) == '/')
                while (!AtEnd() && Peek() != '\n')
                    ++FPos;
            else
                return;
        }
    }

    // A single part, or a dotted path when dots are allowed.
    std::string_view TakeName(std::string_view expected, bool dotted)
    {
        if (!IsLetter(Peek()))
            Fail(expected);
        const std::size_t start = FPos;
        while (true)
        {
            while (IsPartChar(Peek()))
                ++FPos;
            if (Peek() != '.')
                break;
            if (!dotted)
                Fail(expected);
            ++FPos;
            if (!IsLetter(Peek()))
                Fail("a name after '.'");
        }
        return FText.substr(start, FPos - start);
    }

    void Expect(char symbol)
    {
        SkipSpace();
        if (Peek() != symbol)
            Fail(std::string("'") + symbol + "'");
        ++FPos;
    }

    TDescObject ParseObject(std::size_t depth)
    {
        CheckNesting(depth);
        TDescObject object;
        object.Position = Position();
        FPos += 6;   // "object", checked by the caller
        SkipSpace();
        const std::string_view first = TakeName("an object name or a class name", false);
        SkipSpace();
        if (Peek() == ':')
        {
            ++FPos;
            SkipSpace();
            object.Name = first;
            object.ClassName = TakeName("a class name", false);
        }
        else
            object.ClassName = first;
        while (true)
        {
            SkipSpace();
            const std::string_view word = IsLetter(Peek()) ? Word() : std::string_view();
            if (word == "end")
            {
                FPos += 3;
                return object;
            }
            if (word == "object")
            {
                object.Children.push_back(ParseObject(depth + 1));
                continue;
            }
            if (!object.Children.empty())
                Fail("'object' or 'end'");
            if (word.empty())
                Fail("a property name, 'object' or 'end'");
            object.Assignments.push_back(ParseAssignment(depth));
        }
    }

    // An assignment of an object or an item at depth; the caller has checked that a name starts here.
    TDescAssignment ParseAssignment(std::size_t depth)
    {
        TDescAssignment assignment;
        assignment.Position = Position();
        assignment.Path = SplitPath(TakeName("a property name", true));
        Expect('=');
        SkipSpace();
        assignment.Value = ParseValue(depth);
        return assignment;
    }

    TDescValue ParseValue(std::size_t depth)
    {
        const char c = Peek();
        if (IsDigit(c) || ((c == '+' || c == '-') && (IsDigit(Peek(1)) || Peek(1) == 'I' || Peek(1) == 'N')))
            return ParseNumber();
        if (c == '\'' || c == '#')
            return ParseString();
        if (IsLetter(c))
        {
            const std::string_view name = TakeName("a value", true);
            if (name == "True" || name == "False")
                return TDescValue::Boolean(name == "True");
            return TDescValue::Identifier(std::string(name));
        }
        if (c == '[')
            return ParseSet();
        if (c == '(')
            return ParseList(depth + 1);
        if (c == '{')
            return ParseBinary();
        if (c == '<')
            return ParseCollection(depth + 1);
        Fail("a value");
    }

    TDescValue ParseNumber()
    {
        const TTextPosition at = Position();
        const std::string found = Found();
        const std::size_t start = FPos;
        const bool negative = Peek() == '-';
        if (Peek() == '+' || Peek() == '-')
            ++FPos;
        if (!IsDigit(Peek()))
        {
            const std::string_view word = Word();
            if (word != "Inf" && word != "NaN")
                FailAt(at, "a number", found);
            FPos += 3;
            const double magnitude = word == "Inf" ? std::numeric_limits<double>::infinity()
                                                   : std::numeric_limits<double>::quiet_NaN();
            return TDescValue::Float(negative ? -magnitude : magnitude);
        }
        while (IsDigit(Peek()))
            ++FPos;
        bool isFloat = false;
        if (Peek() == '.')
        {
            isFloat = true;
            ++FPos;
            if (!IsDigit(Peek()))
                FailAt(at, "a number", found);
            while (IsDigit(Peek()))
                ++FPos;
        }
        if (Peek() == 'e' || Peek() == 'E')
        {
            isFloat = true;
            ++FPos;
            if (Peek() == '+' || Peek() == '-')
                ++FPos;
            if (!IsDigit(Peek()))
                FailAt(at, "a number", found);
            while (IsDigit(Peek()))
                ++FPos;
        }
        if (IsPartChar(Peek()) || Peek() == '.')
            FailAt(at, "a number", found);
        // from_chars takes a '-' but no '+'.
        const char* first = FText.data() + start + (FText[start] == '+' ? 1 : 0);
        const char* last = FText.data() + FPos;
        const std::string text(FText.substr(start, FPos - start));
        if (isFloat)
        {
            double value = 0;
            const auto [end, error] = std::from_chars(first, last, value);
            if (error != std::errc() || end != last)
                FailAt(at, "a number within the range of a double", "'" + text + "'");
            return TDescValue::Float(value);
        }
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(first, last, value);
        if (error != std::errc() || end != last)
            FailAt(at, "an integer within the 64-bit range", "'" + text.substr(0, kMaxQuotedToken) + "'");
        return TDescValue::Integer(value);
    }

    TDescValue ParseString()
    {
        std::string text;
        while (true)
        {
            if (Peek() == '\'')
            {
                ++FPos;
                while (true)
                {
                    if (AtEnd())
                        Fail("a closing quote");
                    const char c = Peek();
                    const auto byte = static_cast<unsigned char>(c);
                    if (byte < 0x20 || byte == 0x7F)
                        Fail("a closing quote");
                    ++FPos;
                    if (c == '\'')
                    {
                        if (Peek() != '\'')
                            break;
                        ++FPos;
                    }
                    text.push_back(c);
                }
            }
            else if (Peek() == '#')
            {
                ++FPos;
                if (!IsDigit(Peek()))
                    Fail("a byte number after '#'");
                const TTextPosition at = Position();
                const std::string found = Found();
                unsigned value = 0;
                while (IsDigit(Peek()))
                {
                    value = value * 10 + static_cast<unsigned>(Peek() - '0');
                    if (value > 255)
                        FailAt(at, "a byte number from 0 to 255", found);
                    ++FPos;
                }
                text.push_back(static_cast<char>(value));
            }
            else
                return TDescValue::String(std::move(text));
        }
    }

    TDescValue ParseSet()
    {
        ++FPos;
        std::vector<std::string> elements;
        SkipSpace();
        if (Peek() == ']')
        {
            ++FPos;
            return TDescValue::Set(std::move(elements));
        }
        while (true)
        {
            SkipSpace();
            elements.emplace_back(TakeName("a set element", false));
            SkipSpace();
            if (Peek() == ']')
            {
                ++FPos;
                return TDescValue::Set(std::move(elements));
            }
            if (Peek() != ',')
                Fail("',' or ']'");
            ++FPos;
        }
    }

    TDescValue ParseList(std::size_t depth)
    {
        CheckNesting(depth);
        ++FPos;
        std::vector<TDescValue> items;
        while (true)
        {
            SkipSpace();
            if (Peek() == ')')
            {
                ++FPos;
                return TDescValue::List(std::move(items));
            }
            if (AtEnd())
                Fail("a value or ')'");
            items.push_back(ParseValue(depth));
        }
    }

    TDescValue ParseCollection(std::size_t depth)
    {
        CheckNesting(depth);
        ++FPos;
        std::vector<TDescItem> items;
        while (true)
        {
            SkipSpace();
            if (Peek() == '>')
            {
                ++FPos;
                return TDescValue::Collection(std::move(items));
            }
            if (!IsLetter(Peek()) || Word() != "item")
                Fail("'item' or '>'");
            TDescItem item;
            item.Position = Position();
            FPos += 4;
            while (true)
            {
                SkipSpace();
                const std::string_view word = IsLetter(Peek()) ? Word() : std::string_view();
                if (word == "end")
                {
                    FPos += 3;
                    break;
                }
                // An item holds no objects; "object" here would otherwise read as a property path.
                if (word.empty() || word == "object")
                    Fail("a property name or 'end'");
                item.Assignments.push_back(ParseAssignment(depth));
            }
            items.push_back(std::move(item));
        }
    }

    TDescValue ParseBinary()
    {
        ++FPos;
        std::vector<std::uint8_t> bytes;
        while (true)
        {
            SkipSpace();
            if (Peek() == '}')
            {
                ++FPos;
                return TDescValue::Binary(std::move(bytes));
            }
            const int high = HexDigit(Peek());
            if (high < 0)
                Fail("a hex digit or '}'");
            ++FPos;
            const int low = HexDigit(Peek());
            if (low < 0)
                Fail("a second hex digit");
            ++FPos;
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        }
    }

    std::string_view FText;
    std::size_t FPos = 0;
    int FLine = 1;
    std::size_t FLineStart = 0;
};

[[noreturn]] void Unprintable(const std::string& what)
{
    throw EConvertError("cannot write a stored description: " + what);
}

void CheckPart(const std::string& name, std::string_view role)
{
    if (!IsPart(name))
        Unprintable(std::string(role) + " '" + name + "' is not an identifier");
}

void CheckPath(const std::string& path, std::string_view role)
{
    for (const std::string& part : SplitPath(path))
        if (!IsPart(part))
            Unprintable(std::string(role) + " '" + path + "' is not a dotted identifier");
}

std::string PrintFloat(double value)
{
    if (std::isnan(value))
        return std::signbit(value) ? "-NaN" : "+NaN";
    if (std::isinf(value))
        return value < 0 ? "-Inf" : "+Inf";
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)error;   // 64 characters hold any double
    std::string text(buffer, end);
    if (text.find_first_of(".e") == std::string::npos)
        text += ".0";
    return text;
}

std::string PrintString(const std::string& text)
{
    if (text.empty())
        return "''";
    std::string out;
    bool quoted = false;
    const auto quote = [&](bool open)
    {
        if (quoted != open)
            out.push_back('\'');
        quoted = open;
    };
    for (std::size_t i = 0; i < text.size();)
    {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F)
        {
            quote(true);
            out.push_back(text[i]);
            if (text[i] == '\'')
                out.push_back('\'');
            ++i;
            continue;
        }
        const std::size_t length = byte >= 0x80 ? Utf8SequenceLength(text, i) : 0;
        if (length > 0)
        {
            quote(true);
            out.append(text, i, length);
            i += length;
            continue;
        }
        quote(false);
        out += '#' + std::to_string(byte);
        ++i;
    }
    quote(false);
    return out;
}

void AppendHex(std::string& out, std::uint8_t byte)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0xF]);
}

void CheckNestingToPrint(std::size_t depth)
{
    if (depth > kMaxDescriptionNesting)
        Unprintable("lists and objects nest deeper than " + std::to_string(kMaxDescriptionNesting));
}

// The dotted path of an assignment, refused when it would not read back as one.
std::string PrintPath(const std::vector<std::string>& parts)
{
    std::string path;
    for (const std::string& part : parts)
    {
        CheckPart(part, "the property name");
        path += (path.empty() ? "" : ".") + part;
    }
    // "end.x" and "objects" are paths, "end" and "object" are not.
    if (path.empty() || IsKeyword(path))
        Unprintable("the property path '" + path + "' cannot start an assignment");
    return path;
}

std::string PrintValue(const TDescValue& value, std::size_t depth)
{
    using enum TDescValue::TKind;
    switch (value.Kind())
    {
    case vkInteger:
        return std::to_string(value.AsInteger());
    case vkFloat:
        return PrintFloat(value.AsFloat());
    case vkString:
        return PrintString(value.AsString());
    case vkIdentifier:
        CheckPath(value.AsIdentifier(), "the identifier");
        if (value.AsIdentifier() == "True" || value.AsIdentifier() == "False")
            Unprintable("the identifier '" + value.AsIdentifier() + "' would read back as a Boolean");
        return value.AsIdentifier();
    case vkBoolean:
        return value.AsBoolean() ? "True" : "False";
    case vkSet:
    {
        std::string out = "[";
        for (const std::string& element : value.AsSet())
        {
            CheckPart(element, "the set element");
            if (out.size() > 1)
                out += ", ";
            out += element;
        }
        return out + "]";
    }
    case vkList:
    {
        CheckNestingToPrint(depth + 1);
        std::string out = "(";
        for (const TDescValue& item : value.AsList())
        {
            if (out.size() > 1)
                out += ' ';
            out += PrintValue(item, depth + 1);
        }
        return out + ")";
    }
    case vkBinary:
    {
        std::string out = "{";
        for (std::uint8_t byte : value.AsBinary())
            AppendHex(out, byte);
        return out + "}";
    }
    case vkCollection:
    {
        CheckNestingToPrint(depth + 1);
        std::string out = "<";
        for (const TDescItem& item : value.AsCollection())
        {
            out += out.size() > 1 ? " item" : "item";
            for (const TDescAssignment& assignment : item.Assignments)
                out += ' ' + PrintPath(assignment.Path) + " = " + PrintValue(assignment.Value, depth + 1);
            out += " end";
        }
        return out + ">";
    }
    }
    return {};
}

std::size_t CurrentColumn(const std::string& out)
{
    const std::size_t lineStart = out.rfind('\n');
    return lineStart == std::string::npos ? out.size() : out.size() - lineStart - 1;
}

void AppendAssignment(std::string& out, const TDescAssignment& assignment, std::size_t indent,
                      std::size_t depth);

// Appends value at the end of out, wrapped when it would reach beyond kWrapColumn; the items of a wrapped
// list go on lines of their own, indent + 2 deep. The items of a collection always do, whatever its length.
void AppendValue(std::string& out, const TDescValue& value, std::size_t indent, std::size_t depth)
{
    std::string single = PrintValue(value, depth);
    const bool wraps = CurrentColumn(out) + single.size() > kWrapColumn;
    const std::string inner(indent + 2, ' ');
    if (value.Kind() == TDescValue::TKind::vkCollection && !value.AsCollection().empty())
    {
        out += '<';
        for (const TDescItem& item : value.AsCollection())
        {
            out += '\n' + inner + "item\n";
            for (const TDescAssignment& assignment : item.Assignments)
                AppendAssignment(out, assignment, indent + 4, depth + 1);
            out += inner + "end";
        }
        out += '>';
    }
    else if (wraps && value.Kind() == TDescValue::TKind::vkList && !value.AsList().empty())
    {
        out += '(';
        for (const TDescValue& item : value.AsList())
        {
            out += '\n';
            out += inner;
            AppendValue(out, item, indent + 2, depth + 1);
        }
        out += ')';
    }
    else if (wraps && value.Kind() == TDescValue::TKind::vkBinary && !value.AsBinary().empty())
    {
        out += '{';
        const std::vector<std::uint8_t>& bytes = value.AsBinary();
        for (std::size_t i = 0; i < bytes.size(); ++i)
        {
            if (i % kBytesPerLine == 0)
            {
                out += '\n';
                out += inner;
            }
            AppendHex(out, bytes[i]);
        }
        out += '}';
    }
    else
        out += single;
}

// One line (more for a wrapped value) at indent; depth is that of the object or collection it belongs to.
void AppendAssignment(std::string& out, const TDescAssignment& assignment, std::size_t indent,
                      std::size_t depth)
{
    out += std::string(indent, ' ') + PrintPath(assignment.Path) + " = ";
    AppendValue(out, assignment.Value, indent, depth);
    out += '\n';
}

void AppendObject(std::string& out, const TDescObject& object, std::size_t indent, std::size_t depth)
{
    CheckNestingToPrint(depth);
    if (!object.Name.empty())
        CheckPart(object.Name, "the object name");
    CheckPart(object.ClassName, "the class name");
    const std::string pad(indent, ' ');
    out += pad + "object ";
    if (!object.Name.empty())
        out += object.Name + ": ";
    out += object.ClassName + '\n';
    for (const TDescAssignment& assignment : object.Assignments)
        AppendAssignment(out, assignment, indent + 2, depth);
    for (const TDescObject& child : object.Children)
        AppendObject(out, child, indent + 2, depth + 1);
    out += pad + "end\n";
}

}   // namespace

TDescObject ParseDescription(std::string_view text)
{
    return TParser(text).ParseAll();
}

std::string PrintDescription(const TDescObject& object)
{
    std::string out;
    AppendObject(out, object, 0, 1);
    return out;
}

std::string PrintDescriptionValue(const TDescValue& value)
{
    return PrintValue(value, 0);
}

}   // namespace harvolin

#pragma once
#include "rtl/Persistent.h"
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace harvolin
{

// The text of a stored description, without meaning: what objects it holds, which class each names and
// which values it assigns. The reader (DescriptionReader) gives it meaning.
//
// Grammar (tokens may be separated by any white space, line breaks included; "//" starts a comment that
// runs to the end of the line):
//
//   description = object                                   nothing but white space and comments after it
//   object      = "object" [ name ":" ] class { assignment } { object } "end"
//   name, class = part
//   assignment  = path "=" value
//   path        = part { "." part }                         no white space around the dots
//   part        = ( letter | "_" ) { letter | digit | "_" } ASCII letters and digits
//   value       = integer | float | string | identifier | "True" | "False" | set | list | binary
//               | collection
//   integer     = [ "+" | "-" ] digit { digit }             signed 64-bit; anything beyond is an error
//   float       = [ "+" | "-" ] digits ( "." digits [ exponent ] | exponent )
//               | ( "+" | "-" ) ( "Inf" | "NaN" )
//   exponent    = ( "e" | "E" ) [ "+" | "-" ] digits
//   string      = segment { segment }                       adjacent segments are one string
//   segment     = "'" { any byte but "'" and control bytes | "''" } "'" | "#" digits
//   identifier  = path                                      "True" and "False" are Booleans instead
//   set         = "[" [ part { "," part } ] "]"
//   list        = "(" { value } ")"
//   binary      = "{" { hex hex } "}"                       white space allowed between the bytes
//   collection  = "<" { item } ">"
//   item        = "item" { assignment } "end"               paths relative to the item
//
// "#n" is the byte n (0 to 255); the printer writes it for control bytes, DEL and bytes that are not part
// of a valid UTF-8 sequence, and writes valid UTF-8 sequences as they are, so any byte string round-trips
// and the text stays valid UTF-8. A list needs white space between two items only where they would run
// together ("'a' 'b'" is two strings, "'a''b'" is one); the printer always puts one space.
//
// A float is printed as the shortest text that reads back to the same bits, always with a "." or an
// exponent so that it does not read back as an integer; infinities and NaN are "+Inf", "-Inf", "+NaN" and
// "-NaN" (a NaN keeps its sign, not its payload). A decimal float beyond the range of a double, or so small
// that it would read as zero, is an error rather than a silent infinity or 0.
//
// "object" and "end" are keywords where an object or an assignment may start, so neither is a property path
// of its own ("end.x" is one); "item" is a keyword only where an item may start, inside "<" and ">".
//
// The printer writes a collection with items over several lines, "item" two columns deeper than the
// assignment, the item's assignments two deeper again, and the closing ">" right after the last "end"; an
// empty collection is "<>".
//
// Objects, lists and collections nest at most kMaxDescriptionNesting deep together (an item is no level of
// its own), so that parsing, printing and destroying a tree never run out of stack.
inline constexpr std::size_t kMaxDescriptionNesting = 100;

struct TDescObject
{
    std::string Name;   // empty when the text gives none
    std::string ClassName;
    TTextPosition Position;   // of the keyword "object"
    std::vector<TDescAssignment> Assignments;
    std::vector<TDescObject> Children;
};

// The tree of a description text. Raises EReadError "line L, column C: expected ..., found ..." for text
// that does not follow the grammar; runs in time linear in the length of the text.
[[nodiscard]] TDescObject ParseDescription(std::string_view text);

// The text of a tree: two spaces of indentation per level, one assignment per line; a list or binary value
// that would make its line longer than 100 columns is wrapped, one item (or 32 bytes) per line; a collection
// with items always takes several lines. Raises
// EConvertError for a tree no text can express (a name that is no identifier, "True" as an identifier,
// nesting beyond kMaxDescriptionNesting).
[[nodiscard]] std::string PrintDescription(const TDescObject& object);

// The text of one value as it appears on the right of "=", without wrapping (a collection on one line too).
[[nodiscard]] std::string PrintDescriptionValue(const TDescValue& value);

}   // namespace harvolin

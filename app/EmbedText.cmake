# Writes a C++ source that holds a text file's bytes, so that the program carries the file without reading
# it at run time:  cmake -DINPUT=<file> -DOUTPUT=<source> -DNAME=<function> -P EmbedText.cmake
# The source defines `std::string_view harvolin::<function>()`. Bytes go in as hexadecimal escapes, so that
# no text in the file can end the literal early.
file(READ "${INPUT}" bytes HEX)
string(LENGTH "${bytes}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Made from ${INPUT} by EmbedText.cmake; edit that file instead.
#include <string_view>

namespace harvolin
{

std::string_view ${NAME}()
{
    static constexpr char kText[] =
    \"${escaped}\";
    return {kText, ${size}};
}

}   // namespace harvolin
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")

#include "tests/support/CommandLineFuzzTarget.h"
#include <cstddef>
#include <cstdint>
#include <string_view>

// Feeds arbitrary command lines (arguments separated by NUL bytes) to both programs' parsers. A broken
// promise (std::logic_error) or any fault ends the run as a finding.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    harvolin::ExerciseCommandLines(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}

#include "tests/support/DescriptionFuzzTarget.h"
#include <cstddef>
#include <cstdint>
#include <string_view>

// Feeds arbitrary bytes to the description parser and reader. Anything but EReadError leaving
// ExerciseDescriptionReader ends the run as a finding.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    harvolin::ExerciseDescriptionReader(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}

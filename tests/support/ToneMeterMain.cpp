// harvolin_tone_meter: the tone, its level and the strongest other component of each channel of a
// recording (a WAV file of 16-bit PCM, or raw frames), measured as the tests measure what left the program.
#include "tests/support/ToneMeter.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return harvolin::RunToneMeter(arguments, std::cout, std::cerr);
}

#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

namespace harvolin::testing
{

inline constexpr char kAlsaTestPcm[] = "harvtest";
inline constexpr char kAlsaTestPcmDescription[] = "Harvolin test device";

// Points ALSA at a configuration of the tests' own: the system's, plus a playback PCM "harvtest" that
// discards what it is given (ALSA's null PCM) and shows in the name hints. ALSA reads its configuration at
// its first call, so a test program registers this environment, whose SetUp runs before any test:
//   const auto* alsa = ::testing::AddGlobalTestEnvironment(new TAlsaTestEnvironment);
class TAlsaTestEnvironment final : public ::testing::Environment
{
public:
    void SetUp() override
    {
        FFolder = std::filesystem::temp_directory_path() / ("harvolin-alsa-" + std::to_string(::getpid()));
        std::filesystem::create_directories(FFolder);
        const std::filesystem::path file = FFolder / "asound.conf";
        std::ofstream(file) << "<confdir:alsa.conf>\n"
                            << "pcm." << kAlsaTestPcm << " {\n"
                            << "    type null\n"
                            << "    hint { show on description \"" << kAlsaTestPcmDescription << "\" }\n"
                            << "}\n";
        ASSERT_EQ(::setenv("ALSA_CONFIG_PATH", file.c_str(), 1), 0);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }
private:
    std::filesystem::path FFolder;
};

}   // namespace harvolin::testing

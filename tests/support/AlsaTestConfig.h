#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace harvolin::testing
{

inline constexpr char kAlsaTestPcm[] = "harvtest";
inline constexpr char kAlsaTestPcmDescription[] = "Harvolin test device";

// Points ALSA at a configuration of the test program's own: the system's, a playback PCM "harvtest" that
// discards what it is given (ALSA's null PCM) and shows in the name hints, then the program's own
// definitions (ALSA configuration text; files its PCMs write belong in Folder()). ALSA reads its
// configuration at its first call, once per process, so a test program registers this environment, whose
// SetUp runs before any test:
//   const auto* alsa = ::testing::AddGlobalTestEnvironment(new TAlsaTestEnvironment(definitions));
// TearDown removes the folder and all in it.
class TAlsaTestEnvironment final : public ::testing::Environment
{
public:
    explicit TAlsaTestEnvironment(std::string definitions = {}) : FDefinitions(std::move(definitions)) {}

    // The process's own folder for the configuration and what its PCMs record; known before SetUp, so
    // that the definitions can name files in it.
    [[nodiscard]] static std::filesystem::path Folder()
    {
        return std::filesystem::temp_directory_path() / ("harvolin-alsa-" + std::to_string(::getpid()));
    }

    void SetUp() override
    {
        std::filesystem::create_directories(Folder());
        const std::filesystem::path file = Folder() / "asound.conf";
        std::ofstream conf(file);
        conf << "<confdir:alsa.conf>\n"
             << "pcm." << kAlsaTestPcm << " {\n"
             << "    type null\n"
             << "    hint { show on description \"" << kAlsaTestPcmDescription << "\" }\n"
             << "}\n"
             << FDefinitions;
        conf.close();
        ASSERT_TRUE(conf) << "cannot write the ALSA configuration " << file;
        ASSERT_EQ(::setenv("ALSA_CONFIG_PATH", file.c_str(), 1), 0);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(Folder(), ignored);
    }
private:
    const std::string FDefinitions;
};

// A machine without a sound card, for TAlsaTestEnvironment: a playback device in the hints whose card is not
// there (kBrokenDevice), a `default` that cannot be opened either, and a file device that is lost at its first
// write, as a device unplugged while it plays (kUnwritableDevice: ALSA's file PCM opens and takes the format,
// and makes its file only when it is first written).
inline constexpr char kBrokenDevice[] = "Harvolin broken device";
inline constexpr char kUnwritableDevice[] = "Harvolin unwritable recorder";

inline std::string NoSoundCardAlsaDefinitions()
{
    return "pcm.harvbroken {\n"
           "    type hw\n"
           "    card 99\n"
           "    hint { show on description \"" +
           std::string(kBrokenDevice) +
           "\" }\n"
           "}\n"
           "pcm.!default { type hw; card 99 }\n"
           "pcm.harvunwritable { type file; slave.pcm \"null\"; file \"/nonexistent/folder/out.raw\"; format "
           "\"raw\"; hint { show on description \"" +
           std::string(kUnwritableDevice) + "\" } }\n";
}

}   // namespace harvolin::testing

#include "media/WavWriter.h"
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace harvolin
{
namespace
{

class WavWriterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FFolder = std::filesystem::temp_directory_path() /
                  ("harvolin-wav-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(FFolder);
    }
    void TearDown() override { std::filesystem::remove_all(FFolder); }

    static std::vector<std::uint8_t> Read(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::uint32_t U32(const std::vector<std::uint8_t>& bytes, std::size_t at)
    {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
               static_cast<std::uint32_t>(bytes[at + 3]) << 24;
    }
    static std::uint16_t U16(const std::vector<std::uint8_t>& bytes, std::size_t at)
    {
        return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
    }
    static std::string Tag(const std::vector<std::uint8_t>& bytes, std::size_t at)
    {
        return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                           bytes.begin() + static_cast<std::ptrdiff_t>(at) + 4);
    }

    std::filesystem::path FFolder;
};

TEST_F(WavWriterTest, TheFileHoldsTheStreamsExactBytesBehindAPlainHeaderKeptUpToDate)
{
    const auto path = FFolder / "tone.wav";
    TWavWriter writer(path, {2, 16, 100000});
    EXPECT_EQ(writer.HeaderBytes(), 44u);
    const std::vector<std::uint8_t> first{1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<std::uint8_t> second{0xFF, 0x7F, 0x00, 0x80};
    writer.Append(first);

    // Read while the writer is still open, as after a crash: the header already counts the first append.
    std::vector<std::uint8_t> file = Read(path);
    ASSERT_EQ(file.size(), 52u);
    EXPECT_EQ(U32(file, 40), 8u);
    EXPECT_EQ(U32(file, 4), 44u);

    writer.Append(second);
    file = Read(path);
    ASSERT_EQ(file.size(), 56u);
    EXPECT_EQ(Tag(file, 0), "RIFF");
    EXPECT_EQ(U32(file, 4), 48u);
    EXPECT_EQ(Tag(file, 8), "WAVE");
    EXPECT_EQ(Tag(file, 12), "fmt ");
    EXPECT_EQ(U32(file, 16), 16u);
    EXPECT_EQ(U16(file, 20), 1u);        // PCM
    EXPECT_EQ(U16(file, 22), 2u);        // channels
    EXPECT_EQ(U32(file, 24), 100000u);   // frames per second
    EXPECT_EQ(U32(file, 28), 400000u);   // bytes per second
    EXPECT_EQ(U16(file, 32), 4u);        // block align
    EXPECT_EQ(U16(file, 34), 16u);       // bits
    EXPECT_EQ(Tag(file, 36), "data");
    EXPECT_EQ(U32(file, 40), 12u);
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 44, file.begin() + 52), first);
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 52, file.end()), second);
    EXPECT_EQ(writer.DataBytes(), 12u);
}

TEST_F(WavWriterTest, MoreThanTwoChannelsOrSixteenBitsTakeTheExtensibleRecord)
{
    const auto path = FFolder / "six.wav";
    {
        TWavWriter writer(path, {6, 24, 48000});
        EXPECT_EQ(writer.HeaderBytes(), 68u);
    }
    const std::vector<std::uint8_t> file = Read(path);
    ASSERT_EQ(file.size(), 68u);
    EXPECT_EQ(U32(file, 4), 60u);   // an empty stream still reads
    EXPECT_EQ(U32(file, 16), 40u);
    EXPECT_EQ(U16(file, 20), 0xFFFEu);
    EXPECT_EQ(U16(file, 32), 18u);     // block align: 6 x 3 bytes
    EXPECT_EQ(U16(file, 36), 22u);     // cbSize
    EXPECT_EQ(U16(file, 38), 24u);     // valid bits
    EXPECT_EQ(U32(file, 40), 0x3Fu);   // six front speakers
    EXPECT_EQ(file[44], 0x01);         // the PCM subformat
    EXPECT_EQ(file[59], 0x71);
    EXPECT_EQ(Tag(file, 60), "data");
    EXPECT_EQ(U32(file, 64), 0u);
}

TEST_F(WavWriterTest, AFileThatCannotBeMadeNamesItselfAndWhy)
{
    const auto path = FFolder / "missing" / "tone.wav";
    try
    {
        TWavWriter writer(path, {2, 16, 100000});
        FAIL() << "no error for a folder that does not exist";
    }
    catch (const std::system_error& error)
    {
        EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos) << error.what();
        EXPECT_EQ(error.code().value(), ENOENT);
    }
    EXPECT_THROW(TWavWriter(FFolder / "x.wav", {0, 16, 100000}), std::invalid_argument);
}

}   // namespace
}   // namespace harvolin

#include "tests/audioout/SoundQualityTestSupport.h"
#include "tests/support/AlsaTestConfig.h"
#include "tests/support/PulseServer.h"
#include <gtest/gtest.h>

#include <memory>

// The pulse plugin's own threads share its context without this program's locks; their races are not ours.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libpulsecommon\nrace:libpulse.so\n";
}

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

// ALSA's `default` is the pulse plugin on the server the test starts.
const auto* const GAlsaConfig = ::testing::AddGlobalTestEnvironment(
    new testing::TAlsaTestEnvironment(TPulseServer::AlsaDefinitions("!default")));

class ALDSAudioOutSoundQualitySoundServerTest : public testing::TQualityFixture
{
protected:
    void SetUp() override
    {
        TQualityFixture::SetUp();
        if (!TPulseServer::Installed())
            GTEST_SKIP() << "pulseaudio is not installed: no sound server to play into";
        FServer = std::make_unique<TPulseServer>();
        FServer->ServeThisProcess();
    }
    void TearDown() override
    {
        TQualityFixture::TearDown();
        FServer.reset();
    }

    std::unique_ptr<TPulseServer> FServer;
};

TEST_F(ALDSAudioOutSoundQualitySoundServerTest, TheServersSinkGetsEveryToneCleanlyAtItsLevel)
{
    const auto cases = testing::QualityCases();
    FServer->StartRecording();
    // A server may take its time to take and pass on what was written, beyond real time.
    PlaySequence(cases, "Default", 10s);
    const TPcmRecording recorded{TPulseServer::kRate, TPulseServer::kChannels, FServer->StopRecording()};

    const auto rows = testing::MeasureQualitySequence(recorded, cases);
    testing::ReportQuality(rows, "sound-server", recorded.Rate,
                           std::filesystem::path(HARVOLIN_BINARY_DIR) / "quality");
    testing::ExpectQuality(rows, "sound server", 0.1, testing::TGaps::Report);
}

}   // namespace
}   // namespace harvolin

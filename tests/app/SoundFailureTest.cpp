#include "app/SoundFailure.h"
#include <gtest/gtest.h>

namespace harvolin
{
namespace
{

using TKind = TSoundFailure::TKind;

constexpr std::int32_t kNoAudioHardware = static_cast<std::int32_t>(0x80040256);

TEST(SoundFailureTest, AnUnopenableDeviceIsNamedWithTheSystemsReasonAndWhatToDo)
{
    const TSoundFailure failure =
        ClassifySoundFailure("Can't render audio output.", kNoAudioHardware, "Default",
                             "audio device 'default': snd_pcm_open: No such file or directory");
    EXPECT_EQ(failure.Kind, TKind::CannotOpen);
    EXPECT_EQ(DescribeSoundFailure(failure),
              "No sound device could be opened: the default sound device (audio device 'default': snd_pcm_open: "
              "No such file or directory). Choose another device with --device, or check the sound settings.");
}

TEST(SoundFailureTest, ABusyDeviceSaysAnotherProgramHasIt)
{
    const TSoundFailure failure = ClassifySoundFailure(
        "Can't render audio output.", kNoAudioHardware, "HDA Intel PCH, ALC892 Analog",
        "audio device 'hw:0,0': snd_pcm_open: Device or resource busy");
    EXPECT_EQ(DescribeSoundFailure(failure),
              "The sound device \"HDA Intel PCH, ALC892 Analog\" is in use by another program (audio device "
              "'hw:0,0': snd_pcm_open: Device or resource busy). Close that program, or choose another device "
              "with --device.");
}

TEST(SoundFailureTest, ALostDeviceTakesItsReasonFromTheMessageWhenTheRendererIsGone)
{
    const TSoundFailure failure = ClassifySoundFailure(
        "Audio device lost. audio device 'hw:1,0': snd_pcm_writei: No such device", 31, "USB Audio", "");
    EXPECT_EQ(failure.Kind, TKind::Lost);
    EXPECT_EQ(failure.Reason, "audio device 'hw:1,0': snd_pcm_writei: No such device");
    EXPECT_EQ(DescribeSoundFailure(failure),
              "The sound device \"USB Audio\" stopped working while the tone played (audio device 'hw:1,0': "
              "snd_pcm_writei: No such device). The tone is stopped; check the device, then press Start to "
              "play again.");
    // Without a window there is no Start to press.
    EXPECT_EQ(DescribeSoundFailure(failure, TPlayAgain::StartTheProgram),
              "The sound device \"USB Audio\" stopped working while the tone played (audio device 'hw:1,0': "
              "snd_pcm_writei: No such device). The tone is stopped; check the device, then start the program "
              "again.");
}

TEST(SoundFailureTest, AnAbortAndOtherStepsKeepTheirCodeAndText)
{
    EXPECT_EQ(ClassifySoundFailure("Audio playback aborted.", 3, "Default", "").Kind, TKind::Aborted);
    EXPECT_EQ(DescribeSoundFailure(ClassifySoundFailure("Audio playback aborted.", 3, "Default", "")),
              "Playing on the default sound device stopped because of an error. Press Start to play again.");
    const TSoundFailure other =
        ClassifySoundFailure("Can't start render.", static_cast<std::int32_t>(0x80004005), "Default", "");
    EXPECT_EQ(other.Kind, TKind::Other);
    EXPECT_EQ(DescribeSoundFailure(other), "The tone could not be played on the default sound device: Can't "
                                           "start render (error 0x80004005). The tone is stopped.");
}

}   // namespace
}   // namespace harvolin

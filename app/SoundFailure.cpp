#include "app/SoundFailure.h"
#include "audioout/DSErrors.h"
#include "media/ComObject.h"
#include <cinttypes>
#include <cstdio>
#include <string_view>
#include <utility>

namespace harvolin
{
namespace
{

std::string DeviceWords(const std::string& name)
{
    if (name.empty() || name == "Default")
        return "the default sound device";
    return "the sound device \"" + name + "\"";
}

// " (reason)" when there is one.
std::string InParentheses(const std::string& reason)
{
    return reason.empty() ? std::string() : " (" + reason + ")";
}

std::string Capitalised(std::string text)
{
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

}   // namespace

TSoundFailure ClassifySoundFailure(const std::string& text, std::int32_t code, std::string deviceName,
                                   std::string rendererReason)
{
    TSoundFailure failure{TSoundFailure::TKind::Other, std::move(deviceName), std::move(rendererReason), text,
                          code};
    std::string_view lead;
    if (text.starts_with(kDSDeviceLost))
    {
        failure.Kind = TSoundFailure::TKind::Lost;
        lead = kDSDeviceLost;
    }
    else if (text.starts_with(kDSPlaybackAborted))
    {
        failure.Kind = TSoundFailure::TKind::Aborted;
        lead = kDSPlaybackAborted;
    }
    else if (code == VFW_E_NO_AUDIO_HARDWARE || text == kDSCannotRenderOutput || text == kDSCannotCreateRenderer ||
             text == kDSCannotAddRenderer)
        failure.Kind = TSoundFailure::TKind::CannotOpen;
    if (failure.Reason.empty() && !lead.empty())
    {
        const std::size_t start = text.find_first_not_of(' ', lead.size());
        if (start != std::string::npos)
            failure.Reason = text.substr(start);
    }
    return failure;
}

std::string DescribeSoundFailure(const TSoundFailure& failure, TPlayAgain playAgain)
{
    // The window plays again on Start; the program without one is started again.
    const std::string again = playAgain == TPlayAgain::PressStart ? "press Start to play again"
                                                                 : "start the program again";
    const std::string device = DeviceWords(failure.DeviceName);
    const std::string reason = InParentheses(failure.Reason);
    switch (failure.Kind)
    {
    case TSoundFailure::TKind::CannotOpen:
        if (failure.Reason.find("busy") != std::string::npos)
            return Capitalised(device) + " is in use by another program" + reason +
                   ". Close that program, or choose another device with --device.";
        return "No sound device could be opened: " + device + reason +
               ". Choose another device with --device, or check the sound settings.";
    case TSoundFailure::TKind::Lost:
        return Capitalised(device) + " stopped working while the tone played" + reason +
               ". The tone is stopped; check the device, then " + again + ".";
    case TSoundFailure::TKind::Aborted:
        return "Playing on " + device + " stopped because of an error" + reason +
               ". " + Capitalised(again) + ".";
    case TSoundFailure::TKind::Other:
        break;
    }
    char code[16];
    std::snprintf(code, sizeof code, "%08" PRIX32, static_cast<std::uint32_t>(failure.Code));
    std::string text = failure.Text;
    if (text.ends_with('.'))
        text.pop_back();
    return "The tone could not be played on " + device + ": " + text + reason + " (error 0x" + code +
           "). The tone is stopped.";
}

}   // namespace harvolin

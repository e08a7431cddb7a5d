#pragma once
#include "media/Monikers.h"
#include "media/NullAudioDevice.h"
#include <string_view>
#include <vector>

namespace harvolin
{

// The catalogue of audio renderers: every device the media layer can play on, as monikers that bind to a
// renderer filter (TAudioRenderer) and whose property bag gives the device's "FriendlyName".
//
// In order: one renderer per ALSA playback PCM that ALSA's hints list (friendly name the hint's
// description, or the PCM's name when it has none; display name "@device:alsa:{category}\" and the PCM's
// name), then the null renderer ("Null renderer", "@device:null:{category}\null"). The default renderer,
// "@device:*:{category}", is not listed: it is what MkParseDisplayName gives for that name and what the
// capture graph builder renders to when it is given no renderer. It plays on ALSA's `default`; on a machine
// without a sound card whose `default` cannot be opened it plays on the null renderer instead, decided each
// time it is connected (and so opened) and reported to the diagnostics sink.
//
// Listing asks ALSA afresh each time; binding makes a new filter each time. Any thread.

inline constexpr TGUID CLSID_AudioRendererCategory = MakeGuid("{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}");
// The class identifiers of the renderers, which their monikers' GetClassID and the filters' GetClassID
// give; the default renderer is an ALSA renderer that may fall back.
inline constexpr TGUID CLSID_AlsaAudioRenderer = MakeGuid("{BFA0ED81-8F95-41CC-BACC-29F508D69DEB}");
inline constexpr TGUID CLSID_NullAudioRenderer = MakeGuid("{0889F7A0-DFF7-4EDC-AEE1-7B5172CD0E41}");

inline constexpr char kDefaultAudioRendererDisplayName[] = "@device:*:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}";
inline constexpr char kDefaultAudioRendererFriendlyName[] = "Default audio renderer";
inline constexpr char kNullAudioRendererDisplayName[] =
    "@device:null:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\null";
inline constexpr char kNullAudioRendererFriendlyName[] = "Null renderer";

// How every null renderer made from now on plays: paced or not, and into which WAV file it records (the
// default options: paced, nothing recorded). Process-wide, because renderers are made only through monikers,
// which take no options; a renderer already made keeps the options it was made with. Any thread.
void SetNullRendererOptions(TNullAudioDevice::TOptions options);
[[nodiscard]] TNullAudioDevice::TOptions NullRendererOptions();

// The catalogue's monikers in order (never empty: the null renderer is always there).
[[nodiscard]] std::vector<TRefPtr<IMoniker>> ListAudioRenderers();
[[nodiscard]] TRefPtr<IMoniker> DefaultAudioRendererMoniker();
// The moniker a display name names (the default renderer's, or one the catalogue gives), or null.
[[nodiscard]] TRefPtr<IMoniker> ParseAudioRendererDisplayName(std::string_view displayName);

}   // namespace harvolin

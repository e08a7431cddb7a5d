#include "media/DeviceEnumerator.h"
#include "media/AudioDevices.h"
#include "media/ComEnumerator.h"
#include "media/MediaTypes.h"

namespace harvolin
{
namespace
{

using TEnumMonikers = TListEnumerator<IEnumMoniker, IMoniker>;

bool Matches(const TGUID& wanted, const TGUID& offered)
{
    return wanted == GUID_NULL || wanted == offered;
}

// Whether an audio renderer's input pin takes one of count (major, sub) pairs.
bool RendererTakesOneOf(std::uint32_t count, const TGUID* types)
{
    if (count == 0)
        return true;
    if (types == nullptr)
        return false;
    for (std::uint32_t i = 0; i < count; ++i)
        if (Matches(types[2 * i], MEDIATYPE_Audio) && Matches(types[2 * i + 1], MEDIASUBTYPE_PCM))
            return true;
    return false;
}

}   // namespace

HRESULT TSystemDeviceEnum::CreateClassEnumerator(const TGUID& category, IEnumMoniker** monikers,
                                                 std::uint32_t flags)
{
    (void)flags;
    if (monikers == nullptr)
        return E_POINTER;
    *monikers = nullptr;
    if (category != CLSID_AudioRendererCategory)
        return S_FALSE;
    *monikers = MakeComObject<TEnumMonikers, IEnumMoniker>(ListAudioRenderers()).Detach();
    return S_OK;
}

HRESULT TFilterMapper::EnumMatchingFilters(IEnumMoniker** monikers, std::uint32_t flags, bool exactMatch,
                                           std::uint32_t minMerit, bool inputNeeded,
                                           std::uint32_t inputTypeCount, const TGUID* inputTypes,
                                           const REGPINMEDIUM* inputMedium, const TGUID* inputPinCategory,
                                           bool render, bool outputNeeded, std::uint32_t outputTypeCount,
                                           const TGUID* outputTypes, const REGPINMEDIUM* outputMedium,
                                           const TGUID* outputPinCategory)
{
    (void)exactMatch;
    (void)render;
    (void)outputTypeCount;
    (void)outputTypes;
    (void)outputMedium;
    (void)outputPinCategory;
    if (monikers == nullptr)
        return E_POINTER;
    *monikers = nullptr;
    if (flags != 0)
        return E_INVALIDARG;
    const bool inputMatches = !inputNeeded || (RendererTakesOneOf(inputTypeCount, inputTypes) &&
                                               inputMedium == nullptr && inputPinCategory == nullptr);
    const bool listed = minMerit <= MERIT_NORMAL && inputMatches && !outputNeeded;
    *monikers = MakeComObject<TEnumMonikers, IEnumMoniker>(listed ? ListAudioRenderers()
                                                                  : std::vector<TRefPtr<IMoniker>>{})
                    .Detach();
    return S_OK;
}

}   // namespace harvolin

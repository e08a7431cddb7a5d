#pragma once
#include "media/ComObject.h"
#include "media/Monikers.h"
#include <cstdint>

namespace harvolin
{

// The two ways to the catalogue of devices and filters (AudioDevices): by device category, and by the
// requirements a filter must meet. Both hand out monikers that bind to the filters. Every call lists
// afresh; any thread.

inline constexpr TGUID CLSID_SystemDeviceEnum = MakeGuid("{62BE5D10-60EB-11D0-BD3B-00A0C911CE86}");
inline constexpr TGUID CLSID_FilterMapper2 = MakeGuid("{CDA42200-BD88-11D0-BD4E-00A0C911CE86}");

// Filter merits: how eagerly a filter is picked. MERIT_DO_NOT_USE is the least a caller asks for to see
// every usable filter.
inline constexpr std::uint32_t MERIT_DO_NOT_USE = 0x200000;
inline constexpr std::uint32_t MERIT_NORMAL = 0x600000;

class ICreateDevEnum : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{29840822-5B84-11D0-BD3B-00A0C911CE86}");
    using TParent = IUnknown;

    // The devices of category, S_OK; for a category with no devices (or one not known here) S_FALSE and no
    // enumerator, so a caller goes on only on S_OK. Flags are ignored. A null enumerator pointer is
    // E_POINTER.
    virtual HRESULT CreateClassEnumerator(const TGUID& category, IEnumMoniker** monikers,
                                          std::uint32_t flags) = 0;
};

// A medium a pin connects through (a bus, a wire); none of the filters here has one.
struct REGPINMEDIUM
{
    TGUID clsMedium;
    std::uint32_t dw1;
    std::uint32_t dw2;
};

class IFilterMapper2 : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{B79BB0B0-33C1-11D1-ABE1-00A0C905F375}");
    using TParent = IUnknown;

    // The registered filters that meet the requirements, S_OK (an empty enumerator when none does). The
    // filters are the audio renderers, each of merit MERIT_NORMAL with one input pin that renders
    // MEDIATYPE_Audio / MEDIASUBTYPE_PCM and no output pin. A filter is listed when its merit is at least
    // minMerit, and, if inputNeeded, its input pin takes one of the inputTypeCount (major, sub) pairs of
    // inputTypes (GUID_NULL matches any; no pairs match any) and has no medium or pin category asked for;
    // outputNeeded lists nothing. exactMatch and render change nothing: the renderers' types are exact and
    // they render. Flags other than 0 are E_INVALIDARG; a null enumerator pointer E_POINTER.
    virtual HRESULT EnumMatchingFilters(IEnumMoniker** monikers, std::uint32_t flags, bool exactMatch,
                                        std::uint32_t minMerit, bool inputNeeded,
                                        std::uint32_t inputTypeCount, const TGUID* inputTypes,
                                        const REGPINMEDIUM* inputMedium, const TGUID* inputPinCategory,
                                        bool render, bool outputNeeded, std::uint32_t outputTypeCount,
                                        const TGUID* outputTypes, const REGPINMEDIUM* outputMedium,
                                        const TGUID* outputPinCategory) = 0;
};

class TSystemDeviceEnum final : public TComObject<ICreateDevEnum>
{
public:
    HRESULT CreateClassEnumerator(const TGUID& category, IEnumMoniker** monikers,
                                  std::uint32_t flags) override;
};

class TFilterMapper final : public TComObject<IFilterMapper2>
{
public:
    HRESULT EnumMatchingFilters(IEnumMoniker** monikers, std::uint32_t flags, bool exactMatch,
                                std::uint32_t minMerit, bool inputNeeded, std::uint32_t inputTypeCount,
                                const TGUID* inputTypes, const REGPINMEDIUM* inputMedium,
                                const TGUID* inputPinCategory, bool render, bool outputNeeded,
                                std::uint32_t outputTypeCount, const TGUID* outputTypes,
                                const REGPINMEDIUM* outputMedium, const TGUID* outputPinCategory) override;
};

}   // namespace harvolin

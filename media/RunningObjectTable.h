#pragma once
#include "media/ComObject.h"
#include "media/Monikers.h"
#include <cstdint>

namespace harvolin
{

// The registration holds a counted reference on the object, which keeps it alive until it is revoked.
inline constexpr std::uint32_t ROTFLAGS_REGISTRATIONKEEPSALIVE = 0x1;

// The process's table of running objects, each registered under a moniker and found again by the moniker's
// display name, so that tools inside the process can reach, say, a running filter graph. Nothing outside the
// process sees it.
//
// Without ROTFLAGS_REGISTRATIONKEEPSALIVE the table holds no reference on the object: whoever registered
// it must revoke the registration before the object goes, or GetObject hands out a dangling object. The
// moniker is always held.
//
// Any thread; one lock guards the registrations, and no object is released or called while it is held.
class IRunningObjectTable : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{00000010-0000-0000-C000-000000000046}");
    using TParent = IUnknown;

    // Registers object under name and gives a cookie (never 0) for Revoke. A name registered already is
    // registered again, with a cookie of its own and MK_S_MONIKERALREADYREGISTERED; GetObject then finds the
    // earlier one. Unknown flags are E_INVALIDARG; null arguments E_POINTER.
    virtual HRESULT Register(std::uint32_t flags, IUnknown* object, IMoniker* name,
                             std::uint32_t* cookie) = 0;
    // Ends the registration; a cookie the table does not hold is E_INVALIDARG.
    virtual HRESULT Revoke(std::uint32_t cookie) = 0;
    // S_OK when an object is registered under the moniker's display name, S_FALSE otherwise.
    virtual HRESULT IsRunning(IMoniker* name) = 0;
    // The object registered under the moniker's display name with a new reference, or MK_E_UNAVAILABLE and
    // null.
    virtual HRESULT GetObject(IMoniker* name, IUnknown** object) = 0;
};

// The process's one table, with a new reference; reserved must be 0 (E_INVALIDARG otherwise). The table
// lives until the process ends.
HRESULT GetRunningObjectTable(std::uint32_t reserved, IRunningObjectTable** table);

}   // namespace harvolin

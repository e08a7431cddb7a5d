#include "media/RunningObjectTable.h"
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

class TRunningObjectTable final : public TComObject<IRunningObjectTable>
{
public:
    HRESULT Register(std::uint32_t flags, IUnknown* object, IMoniker* name, std::uint32_t* cookie) override
    {
        if (cookie != nullptr)
            *cookie = 0;
        if (object == nullptr || name == nullptr || cookie == nullptr)
            return E_POINTER;
        if ((flags & ~ROTFLAGS_REGISTRATIONKEEPSALIVE) != 0)
            return E_INVALIDARG;
        TEntry entry;
        entry.DisplayName = MonikerDisplayName(*name);
        entry.Name = TRefPtr<IMoniker>(name);
        entry.Object = object;
        if ((flags & ROTFLAGS_REGISTRATIONKEEPSALIVE) != 0)
            entry.KeptAlive = TRefPtr<IUnknown>(object);
        std::lock_guard lock(FLock);
        const bool known = Find(entry.DisplayName) != FEntries.end();
        // Cookies are not reused while the process lives, so a stale cookie cannot revoke a newer entry.
        entry.Cookie = ++FLastCookie;
        *cookie = entry.Cookie;
        FEntries.push_back(std::move(entry));
        return known ? MK_S_MONIKERALREADYREGISTERED : S_OK;
    }

    HRESULT Revoke(std::uint32_t cookie) override
    {
        TEntry revoked;
        {
            std::lock_guard lock(FLock);
            auto found = std::find_if(FEntries.begin(), FEntries.end(),
                                      [&](const TEntry& entry) { return entry.Cookie == cookie; });
            if (found == FEntries.end())
                return E_INVALIDARG;
            revoked = std::move(*found);
            FEntries.erase(found);
        }
        // revoked goes here, outside the lock: the object's last release may run a destructor that
        // registers or revokes in turn.
        return S_OK;
    }

    HRESULT IsRunning(IMoniker* name) override
    {
        if (name == nullptr)
            return E_POINTER;
        const std::string displayName = MonikerDisplayName(*name);
        std::lock_guard lock(FLock);
        return Find(displayName) != FEntries.end() ? S_OK : S_FALSE;
    }

    HRESULT GetObject(IMoniker* name, IUnknown** object) override
    {
        if (object != nullptr)
            *object = nullptr;
        if (name == nullptr || object == nullptr)
            return E_POINTER;
        const std::string displayName = MonikerDisplayName(*name);
        std::lock_guard lock(FLock);
        auto found = Find(displayName);
        if (found == FEntries.end())
            return MK_E_UNAVAILABLE;
        *object = found->Object;
        (*object)->AddRef();
        return S_OK;
    }
private:
    struct TEntry
    {
        std::uint32_t Cookie = 0;
        std::string DisplayName;
        TRefPtr<IMoniker> Name;
        IUnknown* Object = nullptr;    // counted only through KeptAlive
        TRefPtr<IUnknown> KeptAlive;   // set for ROTFLAGS_REGISTRATIONKEEPSALIVE
    };

    // The earliest registration under displayName; FLock held.
    std::vector<TEntry>::iterator Find(const std::string& displayName)
    {
        return std::find_if(FEntries.begin(), FEntries.end(),
                            [&](const TEntry& entry) { return entry.DisplayName == displayName; });
    }

    std::mutex FLock;
    std::vector<TEntry> FEntries;    // in order of registration; guarded by FLock
    std::uint32_t FLastCookie = 0;   // guarded by FLock
};

}   // namespace

HRESULT GetRunningObjectTable(std::uint32_t reserved, IRunningObjectTable** table)
{
    if (table == nullptr)
        return E_POINTER;
    *table = nullptr;
    if (reserved != 0)
        return E_INVALIDARG;
    // Never freed: objects kept alive by registrations nobody revoked stay reachable until the process ends,
    // and no release runs during static destruction.
    static IRunningObjectTable* const processTable =
        MakeComObject<TRunningObjectTable, IRunningObjectTable>().Detach();
    *table = processTable;
    processTable->AddRef();
    return S_OK;
}

}   // namespace harvolin

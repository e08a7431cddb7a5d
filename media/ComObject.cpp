#include "media/ComObject.h"
#include "rtl/Diagnostics.h"
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>

namespace harvolin
{
namespace
{

thread_local std::int32_t GInitializeCount = 0;
std::atomic<std::int64_t> GTaskMemBlocks{0};

struct TClassRegistry
{
    std::mutex Lock;
    std::map<TGUID, TComClassFactory> Classes;   // guarded by Lock
};

TClassRegistry& ClassRegistry()
{
    // Made on first use, so that units registering from their own static initialisation find it built.
    static TClassRegistry registry;
    return registry;
}

TComClassFactory FindClass(const TGUID& clsid)
{
    static const bool mediaClassesRegistered = (RegisterMediaClasses(), true);
    (void)mediaClassesRegistered;
    TClassRegistry& registry = ClassRegistry();
    std::lock_guard lock(registry.Lock);
    auto found = registry.Classes.find(clsid);
    return found == registry.Classes.end() ? nullptr : found->second;
}

}   // namespace

HRESULT CoInitialize(void* reserved)
{
    (void)reserved;
    return GInitializeCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize()
{
    // An unbalanced call is the caller's error; the count never goes below zero for it.
    if (GInitializeCount > 0)
        --GInitializeCount;
}

std::int32_t CoInitializeCount() noexcept
{
    return GInitializeCount;
}

void RegisterComClass(const TGUID& clsid, TComClassFactory create)
{
    if (create == nullptr)
        throw std::invalid_argument("object model: class " + GuidToString(clsid) +
                                    " registered without a factory");
    TClassRegistry& registry = ClassRegistry();
    std::lock_guard lock(registry.Lock);
    auto [found, added] = registry.Classes.emplace(clsid, create);
    if (!added && found->second != create)
        throw std::invalid_argument("object model: class " + GuidToString(clsid) +
                                    " is registered with another factory already");
}

HRESULT CoCreateInstance(const TGUID& clsid, IUnknown* outer, std::uint32_t context, const TGUID& iid,
                         void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    TComClassFactory create = (context & CLSCTX_INPROC) != 0 ? FindClass(clsid) : nullptr;
    if (create == nullptr)
        return REGDB_E_CLASSNOTREG;
    IUnknown* made = nullptr;
    try
    {
        made = create();
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        // A factory that raises breaks its contract; the caller hears a result code, the sink why.
        ReportCurrentException([&] { return "class " + GuidToString(clsid); },
                               [] { return "CoCreateInstance"; });
        return E_FAIL;
    }
    if (made == nullptr)
        return E_OUTOFMEMORY;
    const HRESULT result = made->QueryInterface(iid, object);
    made->Release();
    return result;
}

void* CoTaskMemAlloc(std::size_t size) noexcept
{
    // A zero-byte request still gives a block of its own, as the callers free what they get.
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr)
        GTaskMemBlocks.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void CoTaskMemFree(void* block) noexcept
{
    if (block == nullptr)
        return;
    GTaskMemBlocks.fetch_sub(1, std::memory_order_relaxed);
    std::free(block);
}

char* CoTaskMemCopyText(std::string_view text) noexcept
{
    auto* copy = static_cast<char*>(CoTaskMemAlloc(text.size() + 1));
    if (copy != nullptr)
    {
        std::memcpy(copy, text.data(), text.size());
        copy[text.size()] = '\0';
    }
    return copy;
}

std::int64_t CoTaskMemLiveBlocks() noexcept
{
    return GTaskMemBlocks.load(std::memory_order_relaxed);
}

}   // namespace harvolin

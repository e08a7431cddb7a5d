#pragma once
#include "rtl/Guid.h"
#include "rtl/RefCount.h"
#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace harvolin
{

// The object model the media layer speaks: reference-counted objects reached through interfaces that are
// queried by identifier, and calls that report a result code instead of raising. The names, identifiers and
// code values are the platform's, so that the audio output reads as its design is written.

using HRESULT = std::int32_t;

[[nodiscard]] constexpr HRESULT MakeResult(std::uint32_t code) noexcept
{
    return static_cast<HRESULT>(code);
}

[[nodiscard]] constexpr bool SUCCEEDED(HRESULT result) noexcept
{
    return result >= 0;
}

[[nodiscard]] constexpr bool FAILED(HRESULT result) noexcept
{
    return result < 0;
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeResult(0x80004003);
inline constexpr HRESULT E_FAIL = MakeResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeResult(0x80040110);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeResult(0x80040154);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeResult(0x800401F0);

inline constexpr HRESULT VFW_S_NO_MORE_ITEMS = MakeResult(0x00040103);
inline constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = MakeResult(0x80040203);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeResult(0x80040204);
inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeResult(0x80040207);
inline constexpr HRESULT VFW_E_INVALID_DIRECTION = MakeResult(0x80040208);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = MakeResult(0x80040209);
inline constexpr HRESULT VFW_E_NO_ALLOCATOR = MakeResult(0x8004020A);
inline constexpr HRESULT VFW_E_NOT_COMMITTED = MakeResult(0x80040211);
inline constexpr HRESULT VFW_E_NO_CLOCK = MakeResult(0x80040213);
inline constexpr HRESULT VFW_E_NOT_FOUND = MakeResult(0x80040216);
inline constexpr HRESULT VFW_E_NOT_STOPPED = MakeResult(0x80040224);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeResult(0x8004022A);
// An audio device that cannot be opened (missing, busy, refusing the format).
inline constexpr HRESULT VFW_E_NO_AUDIO_HARDWARE = MakeResult(0x80040256);

// The root of every interface. QueryInterface stores the interface of identifier iid with a new reference
// in *object, or null and E_NOINTERFACE; a null object is E_POINTER. AddRef and Release return the new count,
// for diagnostics only. Any thread.
class IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{00000000-0000-0000-C000-000000000046}");

    virtual ~IUnknown() = default;
    virtual HRESULT QueryInterface(const TGUID& iid, void** object) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;
};

// An interface names its parent as TParent, so that an object answers the queries for every ancestor of
// the interfaces it implements; IUnknown itself is answered by every object.
template <class I>
concept ComInterface = std::derived_from<I, IUnknown> && requires
{
    I::kIID;
};

// The interface I of object with a new reference, or null when the object does not answer it.
template <ComInterface I>
[[nodiscard]] TRefPtr<I> QueryAs(IUnknown* object) noexcept
{
    void* found = nullptr;
    if (object == nullptr || FAILED(object->QueryInterface(I::kIID, &found)) || found == nullptr)
        return nullptr;
    TRefPtr<I> result(static_cast<I*>(found));
    static_cast<I*>(found)->Release();   // the query's own reference: result holds one now
    return result;
}

// Takes over a reference that a call handed out through an out parameter.
template <class I>
[[nodiscard]] TRefPtr<I> AdoptRef(I* object) noexcept
{
    TRefPtr<I> result(object);
    if (object != nullptr)
        object->Release();
    return result;
}

namespace detail
{

template <class I>
void* FindInterface(I* self, const TGUID& iid) noexcept
{
    if (iid == I::kIID)
        return self;
    if constexpr (std::same_as<I, IUnknown>)
        return nullptr;
    else if constexpr (requires { typename I::TParent; })
        return FindInterface<typename I::TParent>(static_cast<typename I::TParent*>(self), iid);
    else
        return nullptr;
}

}   // namespace detail

// An object implementing the interfaces TInterfaces (and, through their TParent, their ancestors): counts
// its references with atomics and deletes itself when the last one goes. Made with MakeComObject(), which
// hands out the first reference. The first interface answers IUnknown, so identity comparisons through
// IUnknown hold.
template <ComInterface... TInterfaces>
class TComObject : public TInterfaces...
{
public:
    TComObject(const TComObject&) = delete;
    TComObject& operator=(const TComObject&) = delete;

    HRESULT QueryInterface(const TGUID& iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = FindOwnInterface(iid);
        if (*object == nullptr)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    // relaxed: whoever adds a reference already holds one.
    std::uint32_t AddRef() override { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }
    // acq_rel: the thread that deletes must see every other owner's writes.
    std::uint32_t Release() override
    {
        const std::uint32_t left = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            delete this;
        return left;
    }
protected:
    TComObject() = default;
    ~TComObject() override = default;

    // Answers the listed interfaces and their ancestors; a derived class extends it for interfaces it
    // answers through other objects.
    virtual void* FindOwnInterface(const TGUID& iid) noexcept
    {
        if (iid == IUnknown::kIID)
            return static_cast<IUnknown*>(static_cast<First*>(this));
        void* found = nullptr;
        ((found = found != nullptr
                      ? found
                      : detail::FindInterface<TInterfaces>(static_cast<TInterfaces*>(this), iid)),
         ...);
        return found;
    }
private:
    using First = std::tuple_element_t<0, std::tuple<TInterfaces...>>;

    std::atomic<std::uint32_t> FRefCount{0};
};

// Makes a T and returns it as its interface I with the first reference.
template <class T, class I = T, class... TArgs>
[[nodiscard]] TRefPtr<I> MakeComObject(TArgs&&... args)
{
    return TRefPtr<I>(static_cast<I*>(new T(std::forward<TArgs>(args)...)));
}

// Counted initialisation of the object model on the calling thread: S_OK the first time, S_FALSE when the
// thread had initialised it already; every successful call is balanced by one CoUninitialize. The object
// model has no apartments and nothing to set up, so creation works whether or not a thread initialised it;
// the count exists because callers remember whether their CoInitialize succeeded.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
// The calling thread's count of initialisations not yet balanced.
[[nodiscard]] std::int32_t CoInitializeCount() noexcept;

// Creation contexts; this object model has only in-process objects, so every context that includes the
// in-process server creates, and the others are refused with REGDB_E_CLASSNOTREG.
inline constexpr std::uint32_t CLSCTX_INPROC_SERVER = 0x1;
inline constexpr std::uint32_t CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr std::uint32_t CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

// Makes an object of a registered class and answers it as IUnknown with the first reference; null when it
// cannot be made (the caller reports E_OUTOFMEMORY).
using TComClassFactory = IUnknown* (*)();

// Registers the class clsid; registering the same factory again changes nothing, another one for a
// registered identifier raises std::invalid_argument. Any thread.
void RegisterComClass(const TGUID& clsid, TComClassFactory create);

// Registers the media layer's own classes (the memory allocator, ...). CoCreateInstance does it before its
// first look-up, so that no class depends on its unit being linked for its own sake; repeating it changes
// nothing.
void RegisterMediaClasses();

// Creates an object of class clsid and queries it for iid. An outer object (aggregation) is refused with
// CLASS_E_NOAGGREGATION, an unknown class with REGDB_E_CLASSNOTREG, a null object pointer with E_POINTER;
// *object is null after any failure.
HRESULT CoCreateInstance(const TGUID& clsid, IUnknown* outer, std::uint32_t context, const TGUID& iid,
                         void** object);

// Task memory: blocks that one side allocates and the other frees (names, media types). CoTaskMemAlloc
// returns null when memory runs out; CoTaskMemFree takes null.
[[nodiscard]] void* CoTaskMemAlloc(std::size_t size) noexcept;
void CoTaskMemFree(void* block) noexcept;
// Blocks of task memory alive in the process, for tests that check nothing leaks.
[[nodiscard]] std::int64_t CoTaskMemLiveBlocks() noexcept;
// A terminated copy of text in task memory, for the calls that hand names out; null when memory runs out.
[[nodiscard]] char* CoTaskMemCopyText(std::string_view text) noexcept;

// Copies text into a fixed name field of an info record, cut to fit and always terminated.
template <std::size_t N>
void CopyToNameField(char (&field)[N], std::string_view text) noexcept
{
    static_assert(N > 0);
    const std::size_t length = text.size() < N - 1 ? text.size() : N - 1;
    for (std::size_t i = 0; i < length; ++i)
        field[i] = text[i];
    field[length] = '\0';
}

}   // namespace harvolin

#pragma once
#include "media/ComObject.h"
#include "media/MediaInterfaces.h"
#include <cstdint>
#include <string>

namespace harvolin
{

// Monikers: objects that name another object by a display name and make (bind) it on demand. Here they name
// the audio renderers of the device catalogue ("@device:alsa:{category}\default") and the entries of the
// running object table ("!FilterGraph ..."). There are no composite monikers: every call that takes a left
// moniker refuses one with E_INVALIDARG. Names are UTF-8; a name handed out is task memory, which the caller
// frees with CoTaskMemFree. Monikers never change once made, so any thread may call them.

inline constexpr HRESULT MK_E_UNAVAILABLE = MakeResult(0x800401E3);
inline constexpr HRESULT MK_E_SYNTAX = MakeResult(0x800401E4);
inline constexpr HRESULT MK_S_MONIKERALREADYREGISTERED = MakeResult(0x000401E7);

inline constexpr TGUID CLSID_ItemMoniker = MakeGuid("{00000304-0000-0000-C000-000000000046}");

// The context of a binding. Binding here has no options and keeps nothing bound, so the context carries
// nothing: it exists because the callers make one and pass it.
class IBindCtx : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{0000000E-0000-0000-C000-000000000046}");
    using TParent = IUnknown;
};

// Named properties of an object that has not been made: a device's "FriendlyName".
//
// A property's value is read into a std::string: the one property anyone reads is a text, and a string the
// caller owns needs no variant type and no freeing protocol beside it. An unknown name is E_INVALIDARG
// (value untouched); a null name or value E_POINTER.
class IPropertyBag : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{55272A00-42CB-11CE-8135-00AA004BB851}");
    using TParent = IUnknown;

    virtual HRESULT Read(const char* name, std::string* value) = 0;
};

class IMoniker : public IPersist
{
public:
    static constexpr TGUID kIID = MakeGuid("{0000000F-0000-0000-C000-000000000046}");
    using TParent = IPersist;

    // The display name, in task memory. The bind context may be null.
    virtual HRESULT GetDisplayName(IBindCtx* context, IMoniker* left, char** name) = 0;
    // Makes (or finds) the named object and queries it for iid; *object is null after a failure.
    virtual HRESULT BindToObject(IBindCtx* context, IMoniker* left, const TGUID& iid, void** object) = 0;
    // The named object's storage, such as its IPropertyBag, without making the object.
    virtual HRESULT BindToStorage(IBindCtx* context, IMoniker* left, const TGUID& iid, void** object) = 0;
};

class IEnumMoniker : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{00000102-0000-0000-C000-000000000046}");
    using TParent = IUnknown;

    virtual HRESULT Next(std::uint32_t count, IMoniker** monikers, std::uint32_t* fetched) = 0;
    virtual HRESULT Skip(std::uint32_t count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMoniker** copy) = 0;
};

// A new bind context; reserved must be 0 (E_INVALIDARG otherwise), a null out parameter is E_POINTER.
HRESULT CreateBindCtx(std::uint32_t reserved, IBindCtx** context);

// A moniker whose display name is delimiter followed by item. It binds to the object that the running
// object table holds under that name (MK_E_UNAVAILABLE when none is registered) and has no storage
// (E_NOTIMPL). Null texts are E_POINTER; the delimiter may be empty.
HRESULT CreateItemMoniker(const char* delimiter, const char* item, IMoniker** moniker);

// The moniker of a display name: "@device:*:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}" names the default audio
// renderer, and every display name the device enumerator hands out names its device again. Anything else is
// MK_E_SYNTAX with *eaten 0 and no moniker; on success *eaten is the whole name's length. The bind context
// may be null; a null name, eaten or moniker is E_POINTER.
HRESULT MkParseDisplayName(IBindCtx* context, const char* name, std::uint32_t* eaten, IMoniker** moniker);

// The base of the monikers here: a display name and a class identifier fixed when it is made; a subclass
// binds. GetDisplayName refuses a left moniker with E_INVALIDARG.
class TNamedMoniker : public TComObject<IMoniker>
{
public:
    HRESULT GetClassID(TGUID* classId) override;
    HRESULT GetDisplayName(IBindCtx* context, IMoniker* left, char** name) override;
protected:
    TNamedMoniker(std::string displayName, const TGUID& classId);
    ~TNamedMoniker() override = default;

    // The checks a bind starts with: E_POINTER for a null object, else *object is cleared and a left
    // moniker is E_INVALIDARG; S_OK lets the bind go on.
    static HRESULT BeginBind(IMoniker* left, void** object);
private:
    const std::string FDisplayName;
    const TGUID FClassId;
};

// The display name of a moniker as a string ("" when it cannot say); for the table and the look-ups that
// compare monikers by name.
[[nodiscard]] std::string MonikerDisplayName(IMoniker& moniker);

}   // namespace harvolin

#include "media/Monikers.h"
#include "media/AudioDevices.h"
#include "media/RunningObjectTable.h"
#include <string_view>

namespace harvolin
{
namespace
{

class TBindCtx final : public TComObject<IBindCtx>
{
};

class TItemMoniker final : public TNamedMoniker
{
public:
    explicit TItemMoniker(std::string displayName) : TNamedMoniker(std::move(displayName), CLSID_ItemMoniker)
    {
    }

    HRESULT BindToObject(IBindCtx* context, IMoniker* left, const TGUID& iid, void** object) override
    {
        (void)context;
        if (const HRESULT begun = BeginBind(left, object); begun != S_OK)
            return begun;
        IRunningObjectTable* table = nullptr;
        const HRESULT got = GetRunningObjectTable(0, &table);
        if (FAILED(got))
            return got;
        IUnknown* running = nullptr;
        const HRESULT found = AdoptRef(table)->GetObject(this, &running);
        if (FAILED(found))
            return found;
        return AdoptRef(running)->QueryInterface(iid, object);
    }
    HRESULT BindToStorage(IBindCtx* context, IMoniker* left, const TGUID& iid, void** object) override
    {
        (void)context;
        (void)iid;
        if (const HRESULT begun = BeginBind(left, object); begun != S_OK)
            return begun;
        // An item is a name in the table, with nothing stored behind it.
        return E_NOTIMPL;
    }
};

}   // namespace

HRESULT CreateBindCtx(std::uint32_t reserved, IBindCtx** context)
{
    if (context == nullptr)
        return E_POINTER;
    *context = nullptr;
    if (reserved != 0)
        return E_INVALIDARG;
    *context = MakeComObject<TBindCtx, IBindCtx>().Detach();
    return S_OK;
}

HRESULT CreateItemMoniker(const char* delimiter, const char* item, IMoniker** moniker)
{
    if (moniker == nullptr)
        return E_POINTER;
    *moniker = nullptr;
    if (delimiter == nullptr || item == nullptr)
        return E_POINTER;
    *moniker = MakeComObject<TItemMoniker, IMoniker>(std::string(delimiter) + item).Detach();
    return S_OK;
}

HRESULT MkParseDisplayName(IBindCtx* context, const char* name, std::uint32_t* eaten, IMoniker** moniker)
{
    (void)context;
    if (moniker != nullptr)
        *moniker = nullptr;
    if (eaten != nullptr)
        *eaten = 0;
    if (name == nullptr || eaten == nullptr || moniker == nullptr)
        return E_POINTER;
    const std::string_view text(name);
    TRefPtr<IMoniker> parsed = ParseAudioRendererDisplayName(text);
    if (!parsed)
        return MK_E_SYNTAX;
    *eaten = static_cast<std::uint32_t>(text.size());
    *moniker = parsed.Detach();
    return S_OK;
}

TNamedMoniker::TNamedMoniker(std::string displayName, const TGUID& classId)
    : FDisplayName(std::move(displayName)), FClassId(classId)
{
}

HRESULT TNamedMoniker::GetClassID(TGUID* classId)
{
    if (classId == nullptr)
        return E_POINTER;
    *classId = FClassId;
    return S_OK;
}

HRESULT TNamedMoniker::GetDisplayName(IBindCtx* context, IMoniker* left, char** name)
{
    (void)context;
    if (name == nullptr)
        return E_POINTER;
    *name = nullptr;
    if (left != nullptr)
        return E_INVALIDARG;
    *name = CoTaskMemCopyText(FDisplayName);
    return *name != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT TNamedMoniker::BeginBind(IMoniker* left, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    return left != nullptr ? E_INVALIDARG : S_OK;
}

std::string MonikerDisplayName(IMoniker& moniker)
{
    char* name = nullptr;
    if (FAILED(moniker.GetDisplayName(nullptr, nullptr, &name)) || name == nullptr)
        return {};
    std::string copy(name);
    CoTaskMemFree(name);
    return copy;
}

}   // namespace harvolin

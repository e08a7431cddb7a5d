#include "media/MediaTypes.h"
#include <cstring>

namespace harvolin
{

void FreeMediaType(AM_MEDIA_TYPE& type) noexcept
{
    CoTaskMemFree(type.pbFormat);
    type.pbFormat = nullptr;
    type.cbFormat = 0;
    if (type.pUnk != nullptr)
    {
        type.pUnk->Release();
        type.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* type) noexcept
{
    if (type == nullptr)
        return;
    FreeMediaType(*type);
    CoTaskMemFree(type);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE& target, const AM_MEDIA_TYPE& source) noexcept
{
    target = source;
    target.pbFormat = nullptr;
    target.pUnk = nullptr;
    if (source.cbFormat != 0 && source.pbFormat != nullptr)
    {
        target.pbFormat = static_cast<std::uint8_t*>(CoTaskMemAlloc(source.cbFormat));
        if (target.pbFormat == nullptr)
        {
            target.cbFormat = 0;
            return E_OUTOFMEMORY;
        }
        std::memcpy(target.pbFormat, source.pbFormat, source.cbFormat);
    }
    else
        target.cbFormat = 0;
    if (source.pUnk != nullptr)
    {
        target.pUnk = source.pUnk;
        target.pUnk->AddRef();
    }
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE& source) noexcept
{
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (type == nullptr)
        return nullptr;
    if (FAILED(CopyMediaType(*type, source)))
    {
        CoTaskMemFree(type);
        return nullptr;
    }
    return type;
}

}   // namespace harvolin

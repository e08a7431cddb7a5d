#pragma once
#include "media/ComObject.h"
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace harvolin
{

// An enumerator (IEnumPins, IEnumMoniker, ...) over a list fixed when it is made: each item is handed out
// with a new reference. Next gives S_FALSE when fewer than count remain (fetched says how many came; it may
// be null only for a count of 1); Skip past the end stops at the end with S_FALSE; Clone copies the
// position. The list never changes, so the enumerator is never out of sync. One thread at a time, as
// enumerators are.
template <ComInterface TEnum, ComInterface TItem>
class TListEnumerator final : public TComObject<TEnum>
{
public:
    explicit TListEnumerator(std::vector<TRefPtr<TItem>> items, std::size_t position = 0)
        : FItems(std::move(items)), FPosition(position)
    {
    }

    HRESULT Next(std::uint32_t count, TItem** items, std::uint32_t* fetched) override
    {
        if (items == nullptr)
            return E_POINTER;
        if (fetched == nullptr && count > 1)
            return E_INVALIDARG;
        std::uint32_t given = 0;
        while (given < count && FPosition < FItems.size())
        {
            items[given] = FItems[FPosition++].Get();
            items[given]->AddRef();
            ++given;
        }
        if (fetched != nullptr)
            *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(std::uint32_t count) override
    {
        const std::size_t left = FItems.size() - FPosition;
        FPosition += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override
    {
        FPosition = 0;
        return S_OK;
    }
    HRESULT Clone(TEnum** copy) override
    {
        if (copy == nullptr)
            return E_POINTER;
        *copy = MakeComObject<TListEnumerator, TEnum>(FItems, FPosition).Detach();
        return S_OK;
    }
private:
    const std::vector<TRefPtr<TItem>> FItems;
    std::size_t FPosition;
};

}   // namespace harvolin

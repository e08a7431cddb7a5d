#include "audioout/ALDSOutputDevice.h"
#include <vector>

namespace harvolin
{

namespace
{

// A name given this often is never chosen for a new item: past it the counts stop meaning anything.
constexpr std::size_t kMostNamings = 22000;

}   // namespace

const TClassInfo& TDSAudioOutputDeviceItem::StaticClassInfo()
{
    static const TClassInfo info("TDSAudioOutputDeviceItem", &TDSDeviceItem::StaticClassInfo(), {});
    return info;
}

void TDSAudioOutputDeviceItem::SetDeviceName(const std::string& value)
{
    std::string deviceName = DeviceName();
    std::string displayName = StoredDisplayName();
    const TGUID category = CLSID_AudioRendererCategory;
    if (DSChooseListed(value, deviceName, displayName, &category))
        StoreNames(std::move(displayName), std::move(deviceName));
}

TDSAudioOutputDeviceItem& TDSAudioOutputDeviceItems::Add()
{
    auto& item = TCollection::Add<TDSAudioOutputDeviceItem>();
    // The first naming announces the item, and ItemAdded picks its renderer.
    item.SetDisplayName(item.DeviceName());
    return item;
}

TDSAudioOutputDeviceItem& TDSAudioOutputDeviceItems::Items(std::size_t index) const
{
    return static_cast<TDSAudioOutputDeviceItem&>(TCollection::Items(index));
}

void TDSAudioOutputDeviceItems::ItemAdded(TOWExtCollectionItem& added)
{
    TOWExtCollection::ItemAdded(added);
    auto* item = dynamic_cast<TDSAudioOutputDeviceItem*>(&added);
    if (item == nullptr)
        return;
    TVLDSCapDeviceList list;
    list.EnumerateCategory(CLSID_AudioRendererCategory);
    if (list.Count() == 0)
        return item->SetDeviceName("Default");
    std::vector<std::size_t> namings(list.Count(), 0);
    for (std::size_t i = 0; i < Count(); ++i)
        for (std::size_t d = 0; d < list.Count(); ++d)
            if (Items(i).DeviceName() == list.Items(d).UniqueFriendlyName)
                ++namings[d];
    std::size_t fewest = kMostNamings;
    const TVLDSCapDeviceInfo* chosen = nullptr;
    for (std::size_t d = 0; d < list.Count(); ++d)
        if (namings[d] < fewest)
        {
            fewest = namings[d];
            chosen = &list.Items(d);
        }
    if (chosen != nullptr)
        item->SetDeviceName(chosen->UniqueFriendlyName);
}

TDSAudioOutputDevice::TDSAudioOutputDevice(TPersistent* owner, TOWObject* lock, TChangeEvent onChange)
    : TDSDevice(owner, lock, std::move(onChange)), FAlternativeDevices(this)
{
}

const TClassInfo& TDSAudioOutputDevice::StaticClassInfo()
{
    static const TClassInfo info(
        "TDSAudioOutputDevice", &TDSDevice::StaticClassInfo(),
        TPropertyList<TDSAudioOutputDevice>()
            .Object("AlternativeDevices", [](TDSAudioOutputDevice& d) { return &d.FAlternativeDevices; })
            .Take());
    return info;
}

TRefPtr<IMoniker> TDSAudioOutputDevice::ResolveMoniker()
{
    TVLDSCapDeviceList list;
    TRefPtr<IMoniker> moniker;
    if (DSUpperCase(DeviceName()) != "DEFAULT")
    {
        list.EnumerateCategory(Category());
        moniker = list.MonikerByDisplayName(StoredDisplayName());
        if (!moniker)
            moniker = list.MonikerByFriendlyName(DeviceName());
    }
    else
    {
        IBindCtx* context = nullptr;
        if (SUCCEEDED(CreateBindCtx(0, &context)))
        {
            const TRefPtr<IBindCtx> owned = AdoptRef(context);
            std::uint32_t eaten = 0;
            IMoniker* parsed = nullptr;
            if (SUCCEEDED(MkParseDisplayName(context, kDefaultAudioRendererDisplayName, &eaten, &parsed)))
                moniker = AdoptRef(parsed);
        }
    }
    for (std::size_t i = 0; !moniker && i < FAlternativeDevices.Count(); ++i)
    {
        if (list.Count() == 0)
            list.EnumerateCategory(Category());
        moniker = list.MonikerByDisplayName(FAlternativeDevices.Items(i).StoredDisplayName());
    }
    if (!moniker)
        return nullptr;
    void* storage = nullptr;
    if (moniker->BindToStorage(nullptr, nullptr, IPropertyBag::kIID, &storage) == S_OK && storage != nullptr)
    {
        const TRefPtr<IPropertyBag> bag = AdoptRef(static_cast<IPropertyBag*>(storage));
        std::string friendlyName;
        if (FAILED(bag->Read("FriendlyName", &friendlyName)))
            friendlyName.clear();
        char* displayName = nullptr;
        std::string display;
        if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &displayName)) && displayName != nullptr)
            display = displayName;
        CoTaskMemFree(displayName);
        SetResolved(std::move(friendlyName), std::move(display));
    }
    return moniker;
}

void TDSAudioOutputDevice::Assign(const TPersistent& source)
{
    TDSDevice::Assign(source);
    if (const auto* device = dynamic_cast<const TDSAudioOutputDevice*>(&source))
        FAlternativeDevices.Assign(device->FAlternativeDevices);
}

}   // namespace harvolin

#include "audioout/DSCaptureDevice.h"
#include "media/DeviceEnumerator.h"
#include "rtl/Exceptions.h"
#include <algorithm>

namespace harvolin
{

namespace
{

constexpr char kDataProperty[] = "Data";
constexpr char kFriendlyNameProperty[] = "FriendlyName";

// The entry a moniker names, or false when its property bag or friendly name cannot be had.
bool ReadEntry(IMoniker& moniker, TVLDSCapDeviceInfo& info)
{
    void* storage = nullptr;
    if (FAILED(moniker.BindToStorage(nullptr, nullptr, IPropertyBag::kIID, &storage)) || storage == nullptr)
        return false;
    const TRefPtr<IPropertyBag> bag = AdoptRef(static_cast<IPropertyBag*>(storage));
    if (FAILED(bag->Read(kFriendlyNameProperty, &info.FriendlyName)))
        return false;
    info.DisplayName = MonikerDisplayName(moniker);
    if (FAILED(moniker.GetClassID(&info.ClassId)))
        info.ClassId = TGUID{};
    info.TrimmedFriendlyName = DSTrim(info.FriendlyName);
    return true;
}

}   // namespace

std::string DSUpperCase(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return result;
}

std::string DSTrim(std::string_view text)
{
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

void ReadDSNamePair(const TDescValue& value, std::string& displayName, std::string& name)
{
    const std::vector<TDescValue>& items = value.AsList();
    if (items.size() != 2)
        throw EReadError("Data must hold a display name and a name, not " + std::to_string(items.size()) +
                         " values");
    // Read both before storing either, so a bad second value leaves the names as they were.
    std::string display = items[0].AsString();
    std::string stored = items[1].AsString();
    displayName = std::move(display);
    name = std::move(stored);
}

TDescValue WriteDSNamePair(const std::string& displayName, const std::string& name)
{
    return TDescValue::List({TDescValue::String(displayName), TDescValue::String(name)});
}

bool DSChooseListed(const std::string& value, std::string& name, std::string& displayName,
                    const TGUID* category)
{
    if (value == name)
        return false;
    if (value.empty())
    {
        name.clear();
        displayName.clear();
        return true;
    }
    TVLDSCapDeviceList list;
    if (category != nullptr)
        list.EnumerateCategory(*category);
    else
        list.EnumerateAllFilters();
    displayName = list.DisplayNameByFriendlyName(value);
    if (!displayName.empty())
        name = value;
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// TVLDSCapDeviceList

void TVLDSCapDeviceList::EnumerateCategory(const TGUID& category)
{
    Clear();
    void* object = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC, ICreateDevEnum::kIID, &object)))
        return;
    const TRefPtr<ICreateDevEnum> devices = AdoptRef(static_cast<ICreateDevEnum*>(object));
    IEnumMoniker* monikers = nullptr;
    // S_FALSE is an empty category without an enumerator: only S_OK goes on.
    if (devices->CreateClassEnumerator(category, &monikers, 0) != S_OK || monikers == nullptr)
        return;
    Fill(*AdoptRef(monikers));
}

void TVLDSCapDeviceList::EnumerateAllFilters()
{
    Clear();
    void* object = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC, IFilterMapper2::kIID, &object)))
        return;
    const TRefPtr<IFilterMapper2> mapper = AdoptRef(static_cast<IFilterMapper2*>(object));
    IEnumMoniker* monikers = nullptr;
    if (mapper->EnumMatchingFilters(&monikers, 0, false, MERIT_DO_NOT_USE, false, 0, nullptr, nullptr,
                                    nullptr, false, false, 0, nullptr, nullptr, nullptr) != S_OK ||
        monikers == nullptr)
        return;
    Fill(*AdoptRef(monikers));
}

void TVLDSCapDeviceList::Fill(IEnumMoniker& monikers)
{
    IMoniker* next = nullptr;
    std::uint32_t fetched = 0;
    while (monikers.Next(1, &next, &fetched) == S_OK && fetched == 1)
    {
        TRefPtr<IMoniker> moniker = AdoptRef(next);
        auto info = std::make_unique<TVLDSCapDeviceInfo>();
        if (!ReadEntry(*moniker, *info) || info->TrimmedFriendlyName.empty())
            continue;
        // The new name is compared untrimmed against the trimmed names already listed, so "X " after "X"
        // stays "X " while "X" after "X" becomes "X (2)".
        const auto count = std::count_if(FItems.begin(), FItems.end(), [&](const auto& listed)
                                         { return listed->TrimmedFriendlyName == info->FriendlyName; });
        info->UniqueFriendlyName = info->FriendlyName;
        if (count > 0)
            info->UniqueFriendlyName += Format(" (%d)", {static_cast<long long>(count + 1)});
        info->Moniker = std::move(moniker);
        FItems.push_back(std::move(info));
    }
}

const TVLDSCapDeviceInfo* TVLDSCapDeviceList::FindDisplayName(std::string_view displayName) const
{
    for (const auto& info : FItems)
        if (info->DisplayName == displayName)
            return info.get();
    return nullptr;
}

const TVLDSCapDeviceInfo* TVLDSCapDeviceList::FindFriendlyName(std::string_view uniqueFriendlyName) const
{
    for (const auto& info : FItems)
        if (info->UniqueFriendlyName == uniqueFriendlyName)
            return info.get();
    return nullptr;
}

TRefPtr<IMoniker> TVLDSCapDeviceList::MonikerByDisplayName(std::string_view displayName) const
{
    const TVLDSCapDeviceInfo* info = FindDisplayName(displayName);
    return info != nullptr ? info->Moniker : nullptr;
}

TRefPtr<IMoniker> TVLDSCapDeviceList::MonikerByFriendlyName(std::string_view uniqueFriendlyName) const
{
    const TVLDSCapDeviceInfo* info = FindFriendlyName(uniqueFriendlyName);
    return info != nullptr ? info->Moniker : nullptr;
}

std::string TVLDSCapDeviceList::DisplayNameByFriendlyName(std::string_view uniqueFriendlyName) const
{
    const TVLDSCapDeviceInfo* info = FindFriendlyName(uniqueFriendlyName);
    return info != nullptr ? info->DisplayName : std::string();
}

std::string TVLDSCapDeviceList::FriendlyNameByDisplayName(std::string_view displayName) const
{
    const TVLDSCapDeviceInfo* info = FindDisplayName(displayName);
    return info != nullptr ? info->UniqueFriendlyName : std::string();
}

// ---------------------------------------------------------------------------------------------------------
// TDSDevice

TDSDevice::TDSDevice(TPersistent* owner, TOWObject* lock, TChangeEvent onChange)
    : FOwner(owner), FLock(lock), FOnChange(std::move(onChange))
{
}

const TClassInfo& TDSDevice::StaticClassInfo()
{
    // DeviceName is published but not stored: "Data" stores it together with the display name.
    static const TClassInfo info(
        "TDSDevice", &TPersistent::StaticClassInfo(),
        TPropertyList<TDSDevice>()
            .String("DeviceName", [](const TDSDevice& d) { return d.DeviceName(); },
                    [](TDSDevice& d, const std::string& v) { d.SetDeviceName(v); })
            .StoredWhen([](const TDSDevice&) { return false; })
            .Take());
    return info;
}

TRefPtr<IOWLockSection> TDSDevice::LockNames() const
{
    return FLock != nullptr ? FLock->GetWriteLockSection() : nullptr;
}

void TDSDevice::SetDeviceName(const std::string& value)
{
    const TRefPtr<IOWLockSection> section = LockNames();
    if (value == FDeviceName)
        return;
    const std::string upper = DSUpperCase(value);
    if (value.empty() || upper == "NONE")
    {
        FDeviceName = "None";
        FDisplayName.clear();
        return;
    }
    if (upper == "DEFAULT")
    {
        FDisplayName.clear();
        FDeviceName = value;
    }
    else
    {
        TVLDSCapDeviceList list;
        list.EnumerateCategory(Category());
        FDisplayName = list.DisplayNameByFriendlyName(value);
        FDeviceName = FDisplayName.empty() ? "None" : value;
    }
    if (FOnChange)
        FOnChange();
}

void TDSDevice::ListDeviceNames(std::vector<std::string>& names) const
{
    ListDevices(names, TDSDeviceListMode::dlmFriendlyName);
}

void TDSDevice::ListDevices(std::vector<std::string>& lines, TDSDeviceListMode mode) const
{
    TVLDSCapDeviceList list;
    list.EnumerateCategory(Category());
    for (std::size_t i = 0; i < list.Count(); ++i)
    {
        const TVLDSCapDeviceInfo& info = list.Items(i);
        switch (mode)
        {
        case TDSDeviceListMode::dlmFriendlyName: lines.push_back(info.UniqueFriendlyName); break;
        case TDSDeviceListMode::dlmDisplayName: lines.push_back(info.DisplayName); break;
        case TDSDeviceListMode::dlmBoth: lines.push_back(info.UniqueFriendlyName + " - " + info.DisplayName); break;
        }
    }
}

void TDSDevice::Assign(const TPersistent& source)
{
    const auto* device = dynamic_cast<const TDSDevice*>(&source);
    if (device == nullptr)
        return TPersistent::Assign(source);
    const TRefPtr<IOWLockSection> section = LockNames();
    FDeviceName = device->FDeviceName;
    FDisplayName = device->FDisplayName;
}

void TDSDevice::DefineProperties(TFiler& filer)
{
    filer.DefineProperty(
        kDataProperty, [this](const TDescValue& value) { ReadData(value); },
        [this] { return WriteDSNamePair(FDisplayName, FDeviceName); }, DSUpperCase(FDeviceName) != "DEFAULT");
}

void TDSDevice::ReadData(const TDescValue& value)
{
    const TRefPtr<IOWLockSection> section = LockNames();
    ReadDSNamePair(value, FDisplayName, FDeviceName);
}

void TDSDevice::SetResolved(std::string friendlyName, std::string displayName)
{
    FResolvedFriendlyName = std::move(friendlyName);
    FResolvedDisplayName = std::move(displayName);
}

void TDSDevice::ClearResolvedNames()
{
    FResolvedFriendlyName.clear();
    FResolvedDisplayName.clear();
}

// ---------------------------------------------------------------------------------------------------------
// TDSDeviceItem

TDSDeviceItem::TDSDeviceItem(TCollection& collection) : TOWExtCollectionItem(collection) {}

const TClassInfo& TDSDeviceItem::StaticClassInfo()
{
    static const TClassInfo info(
        "TDSDeviceItem", &TCollectionItem::StaticClassInfo(),
        TPropertyList<TDSDeviceItem>()
            .String("DeviceName", [](const TDSDeviceItem& d) { return d.DeviceName(); },
                    [](TDSDeviceItem& d, const std::string& v) { d.SetDeviceName(v); })
            .StoredWhen([](const TDSDeviceItem&) { return false; })
            .Take());
    return info;
}

void TDSDeviceItem::SetDeviceName(const std::string& value)
{
    StoreNames(FDisplayName, value);
}

void TDSDeviceItem::StoreNames(std::string displayName, std::string deviceName)
{
    FDisplayName = std::move(displayName);
    FDeviceName = std::move(deviceName);
    SetDisplayName(FDeviceName);
}

void TDSDeviceItem::Assign(const TPersistent& source)
{
    const auto* item = dynamic_cast<const TDSDeviceItem*>(&source);
    if (item == nullptr)
        return TCollectionItem::Assign(source);
    StoreNames(item->FDisplayName, item->FDeviceName);
}

void TDSDeviceItem::DefineProperties(TFiler& filer)
{
    filer.DefineProperty(
        kDataProperty,
        [this](const TDescValue& value)
        {
            std::string displayName;
            std::string deviceName;
            ReadDSNamePair(value, displayName, deviceName);
            StoreNames(std::move(displayName), std::move(deviceName));
        },
        [this] { return WriteDSNamePair(FDisplayName, FDeviceName); }, !FDisplayName.empty());
}

// ---------------------------------------------------------------------------------------------------------
// TDSFilterItem

TDSFilterItem::TDSFilterItem(TCollection& collection) : TOWExtCollectionItem(collection) {}

const TClassInfo& TDSFilterItem::StaticClassInfo()
{
    static const TClassInfo info(
        "TDSFilterItem", &TCollectionItem::StaticClassInfo(),
        TPropertyList<TDSFilterItem>()
            .String("FilterName", [](const TDSFilterItem& f) { return f.FilterName(); },
                    [](TDSFilterItem& f, const std::string& v) { f.SetFilterName(v); })
            .StoredWhen([](const TDSFilterItem&) { return false; })
            .Take());
    return info;
}

void TDSFilterItem::SetFilterName(const std::string& value)
{
    DSChooseListed(value, FFilterName, FDisplayName, nullptr);
}

std::string TDSFilterItem::EditorName() const
{
    return "Filter " + std::to_string(Index() + 1);
}

void TDSFilterItem::Assign(const TPersistent& source)
{
    const auto* item = dynamic_cast<const TDSFilterItem*>(&source);
    if (item == nullptr)
        return TCollectionItem::Assign(source);
    FDisplayName = item->FDisplayName;
    FFilterName = item->FFilterName;
}

void TDSFilterItem::DefineProperties(TFiler& filer)
{
    filer.DefineProperty(
        kDataProperty, [this](const TDescValue& value) { ReadDSNamePair(value, FDisplayName, FFilterName); },
        [this] { return WriteDSNamePair(FDisplayName, FFilterName); }, DSUpperCase(FFilterName) != "NONE");
}

TDSFilterItem& TDSFilterItems::Add()
{
    TDSFilterItem& item = TCollection::Add<TDSFilterItem>();
    item.SetDisplayName(item.EditorName());
    return item;
}

TDSFilterItem& TDSFilterItems::Items(std::size_t index) const
{
    return static_cast<TDSFilterItem&>(TCollection::Items(index));
}

}   // namespace harvolin

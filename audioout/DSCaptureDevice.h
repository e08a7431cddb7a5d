#pragma once
#include "media/Monikers.h"
#include "pins/OWLockGroups.h"
#include "pins/OWPinList.h"
#include "rtl/Persistent.h"
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace harvolin
{

// Device and filter choices by name, and the snapshots of the catalogue they are resolved against.
//
// Names are compared as the user typed them; only the words "None" and "Default" are recognised in any case
// (ASCII upper-casing). Every look-up lists the catalogue afresh, so a device plugged in since the last call
// is found. Nothing here raises for a device that is missing: the name falls back to "None" and look-ups
// answer nothing.

// The name as the catalogue's comparisons see it: ASCII letters upper-cased.
[[nodiscard]] std::string DSUpperCase(std::string_view text);
// The name without leading and trailing control characters and spaces.
[[nodiscard]] std::string DSTrim(std::string_view text);

// One entry of a catalogue snapshot. The unique friendly name tells apart entries that share a friendly
// name: the second is "X (2)", the third "X (3)".
struct TVLDSCapDeviceInfo
{
    std::string DisplayName;
    std::string FriendlyName;
    std::string UniqueFriendlyName;
    std::string TrimmedFriendlyName;
    TRefPtr<IMoniker> Moniker;
    TGUID ClassId{};
};

// A snapshot of the devices of one category, or of every registered filter. Enumeration failures leave the
// list empty; entries whose friendly name is blank or whose property bag cannot be had are skipped. Not
// shared between threads: each caller lists into a list of its own.
class TVLDSCapDeviceList
{
public:
    TVLDSCapDeviceList() = default;
    TVLDSCapDeviceList(const TVLDSCapDeviceList&) = delete;
    TVLDSCapDeviceList& operator=(const TVLDSCapDeviceList&) = delete;

    // Replaces the list with the devices of category (empty when the category has none or is unknown).
    void EnumerateCategory(const TGUID& category);
    // Replaces the list with every registered filter of at least the lowest usable merit.
    void EnumerateAllFilters();
    void Clear() noexcept { FItems.clear(); }

    [[nodiscard]] std::size_t Count() const noexcept { return FItems.size(); }
    [[nodiscard]] const TVLDSCapDeviceInfo& Items(std::size_t index) const { return *FItems.at(index); }

    // The first entry in list order that matches; null or "" when none does.
    [[nodiscard]] TRefPtr<IMoniker> MonikerByDisplayName(std::string_view displayName) const;
    [[nodiscard]] TRefPtr<IMoniker> MonikerByFriendlyName(std::string_view uniqueFriendlyName) const;
    [[nodiscard]] std::string DisplayNameByFriendlyName(std::string_view uniqueFriendlyName) const;
    [[nodiscard]] std::string FriendlyNameByDisplayName(std::string_view displayName) const;
private:
    void Fill(IEnumMoniker& monikers);
    [[nodiscard]] const TVLDSCapDeviceInfo* FindDisplayName(std::string_view displayName) const;
    [[nodiscard]] const TVLDSCapDeviceInfo* FindFriendlyName(std::string_view uniqueFriendlyName) const;

    std::vector<std::unique_ptr<TVLDSCapDeviceInfo>> FItems;
};

// What a device list shows of each entry.
enum class TDSDeviceListMode
{
    dlmFriendlyName = 0,
    dlmDisplayName = 1,
    dlmBoth = 2   // "friendly - display"
};

// A device chosen by its unique friendly name, remembered with the display name it had when chosen, so that
// the same device is found again after others were plugged in or out.
//
// Thread: the window thread sets names and reads stored descriptions; the setters and the "Data" reader take
// a write-lock section of the lock object (the audio output's input pin), which serialises them with the
// output's own processing. A null lock object locks nothing (for a device standing alone).
class TDSDevice : public TPersistent
{
public:
    using TChangeEvent = std::function<void()>;

    // owner is the object this device belongs to (not owned); lock may be null.
    TDSDevice(TPersistent* owner, TOWObject* lock, TChangeEvent onChange);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] TPersistent* Owner() const noexcept { return FOwner; }
    // The device category the names are looked up in.
    [[nodiscard]] virtual TGUID Category() const = 0;

    [[nodiscard]] const std::string& DeviceName() const noexcept { return FDeviceName; }
    // "None" (any case) or "" choose no device; "Default" (any case) the platform's default; any other
    // value is looked up among the category's unique friendly names and becomes "None" when nothing
    // matches. Does nothing for the current value. The change callback runs, under the section, after a
    // change to "Default" or to a looked-up name, never after a change to "None".
    virtual void SetDeviceName(const std::string& value);
    // The display name of the device DeviceName named when it was chosen; empty for "None" and "Default".
    [[nodiscard]] const std::string& StoredDisplayName() const noexcept { return FDisplayName; }
    // The device actually used, as ResolveMoniker of a derived class found it.
    [[nodiscard]] const std::string& ResolvedFriendlyName() const noexcept { return FResolvedFriendlyName; }
    [[nodiscard]] const std::string& ResolvedDisplayName() const noexcept { return FResolvedDisplayName; }

    // Appends the unique friendly names of the category's devices to names.
    virtual void ListDeviceNames(std::vector<std::string>& names) const;
    // Appends one line per device of the category in the given form.
    virtual void ListDevices(std::vector<std::string>& lines, TDSDeviceListMode mode) const;

    void Assign(const TPersistent& source) override;
    // "Data": the stored display name and DeviceName, stored unless DeviceName is "Default".
    void DefineProperties(TFiler& filer) override;
protected:
    // A write-lock section of the lock object, or null without one; the caller keeps it for its scope.
    [[nodiscard]] TRefPtr<IOWLockSection> LockNames() const;
    void SetResolved(std::string friendlyName, std::string displayName);
    void ClearResolvedNames();
private:
    void ReadData(const TDescValue& value);

    TPersistent* const FOwner;
    TOWObject* const FLock;
    const TChangeEvent FOnChange;
    std::string FDeviceName{"Default"};   // changed under the lock object's write section
    std::string FDisplayName;             // changed under the lock object's write section
    std::string FResolvedFriendlyName;
    std::string FResolvedDisplayName;
};

// Reads a "Data" value of two strings (display name, name) for the items and devices that store one; raises
// EReadError for any other shape.
void ReadDSNamePair(const TDescValue& value, std::string& displayName, std::string& name);
[[nodiscard]] TDescValue WriteDSNamePair(const std::string& displayName, const std::string& name);

// The name setter of the stored choices, only for a changed value: "" clears name and displayName; any
// other value is looked up among the unique friendly names of category (of every registered filter when
// category is null): displayName becomes the match's display name, or empty, and name becomes value only
// when there was a match. Returns whether anything changed.
bool DSChooseListed(const std::string& value, std::string& name, std::string& displayName,
                    const TGUID* category);

// A device remembered in a collection (the alternatives of an output device). DeviceName is shown as the
// item's name in editors.
class TDSDeviceItem : public TOWExtCollectionItem
{
public:
    explicit TDSDeviceItem(TCollection& collection);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] const std::string& DeviceName() const noexcept { return FDeviceName; }
    // Stores the name as given; derived items look it up.
    virtual void SetDeviceName(const std::string& value);
    [[nodiscard]] const std::string& StoredDisplayName() const noexcept { return FDisplayName; }

    void Assign(const TPersistent& source) override;
    // "Data": the stored display name and DeviceName, stored while the display name is not empty.
    void DefineProperties(TFiler& filer) override;
protected:
    // Sets both names and shows the device name as the item's name.
    void StoreNames(std::string displayName, std::string deviceName);
private:
    std::string FDisplayName;
    std::string FDeviceName;
};

// A filter added to every graph built, chosen by its unique friendly name among all registered filters.
class TDSFilterItem : public TOWExtCollectionItem
{
public:
    explicit TDSFilterItem(TCollection& collection);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] const std::string& FilterName() const noexcept { return FFilterName; }
    // Only for a changed value: "" clears both names; otherwise the filter's display name is looked up and
    // stored (empty when none matches), and FilterName changes only when one was found.
    void SetFilterName(const std::string& value);
    [[nodiscard]] const std::string& StoredDisplayName() const noexcept { return FDisplayName; }
    // "Filter 1" for the first item: what editors show.
    [[nodiscard]] std::string EditorName() const;

    void Assign(const TPersistent& source) override;
    // "Data": the stored display name and FilterName, stored unless FilterName is "None".
    void DefineProperties(TFiler& filer) override;
private:
    std::string FDisplayName;
    std::string FFilterName{"None"};
};

// The filters added to every graph, owned by the graph object.
class TDSFilterItems final : public TOWExtCollection
{
public:
    explicit TDSFilterItems(TPersistent* owner) : TOWExtCollection(owner) {}

    TDSFilterItem& Add();
    // Add(), for the reader of a stored description.
    TDSFilterItem& AddItem() override { return Add(); }
    [[nodiscard]] TDSFilterItem& Items(std::size_t index) const;
};

}   // namespace harvolin

#pragma once
#include "audioout/DSCaptureDevice.h"
#include "media/AudioDevices.h"
#include <cstddef>
#include <string>

namespace harvolin
{

// The audio device the output plays on: a renderer chosen by name, with alternatives tried in order when it
// is missing. Threads and locks as TDSDevice.

// An alternative renderer, looked up among the audio renderers when named.
class TDSAudioOutputDeviceItem final : public TDSDeviceItem
{
public:
    using TDSDeviceItem::TDSDeviceItem;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // Only for a changed value: "" clears both names; otherwise the renderer's display name is looked up and
    // stored (empty when none matches), and DeviceName changes only when one was found.
    void SetDeviceName(const std::string& value) override;
};

// The alternatives, owned by the output device. An item added here is set to the renderer the list names
// fewest times, so that adding alternatives walks through the devices.
class TDSAudioOutputDeviceItems final : public TOWExtCollection
{
public:
    explicit TDSAudioOutputDeviceItems(TPersistent* owner) : TOWExtCollection(owner) {}

    // Appends an item naming the renderer named fewest times (the first of equals in catalogue order), or
    // "Default" when the catalogue lists none.
    TDSAudioOutputDeviceItem& Add();
    // Add(), for the reader of a stored description: naming the item first runs the preset now, so that the
    // stored "Data" read next is what stays (an item named only later would be preset over its data).
    TDSAudioOutputDeviceItem& AddItem() override { return Add(); }
    [[nodiscard]] TDSAudioOutputDeviceItem& Items(std::size_t index) const;
protected:
    void ItemAdded(TOWExtCollectionItem& item) override;
};

class TDSAudioOutputDevice final : public TDSDevice
{
public:
    TDSAudioOutputDevice(TPersistent* owner, TOWObject* lock, TChangeEvent onChange);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] TGUID Category() const override { return CLSID_AudioRendererCategory; }
    [[nodiscard]] TDSAudioOutputDeviceItems& AlternativeDevices() noexcept { return FAlternativeDevices; }
    [[nodiscard]] const TDSAudioOutputDeviceItems& AlternativeDevices() const noexcept
    {
        return FAlternativeDevices;
    }
    void SetAlternativeDevices(const TDSAudioOutputDeviceItems& items) { FAlternativeDevices.Assign(items); }

    // The moniker of the renderer to play on: the chosen one (by stored display name, else by name), the
    // default renderer for "Default", else the first alternative still listed; null when none is found (the
    // caller then renders to the default choice). Records the found device's friendly and display names as
    // the resolved names.
    [[nodiscard]] TRefPtr<IMoniker> ResolveMoniker();
    void ClearResolved() { ClearResolvedNames(); }

    // Copies the name, stored display name and alternatives.
    void Assign(const TPersistent& source) override;
private:
    TDSAudioOutputDeviceItems FAlternativeDevices;
};

}   // namespace harvolin

#pragma once
#include "controls/VrSystem.h"
#include "rtl/Component.h"
#include "rtl/Exceptions.h"
#include <QImage>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace harvolin
{

// The shared value of every control class's Version property.
inline constexpr const char* kVrVersion = "1.3";

// A bitmap list's stream or file that is not one: a wrong signature ("Invalid file format"), a stream that
// ends early or an image that does not decode.
class EInvalidGraphic : public Exception
{
public:
    using Exception::Exception;
};

// The Version property of the library's classes: published for the designer's sake, it always reads
// kVrVersion, ignores what is set and is never stored.
template <class T>
std::vector<TPropertyInfo> VersionProperty()
{
    return TPropertyList<T>()
        .String(
            "Version", [](const T&) { return std::string(kVrVersion); }, [](T&, const std::string&) {})
        .StoredWhen([](const T&) { return false; })
        .Take();
}

// A component of the control library: it publishes Version, which is never stored and ignores what is set.
class TVrComponent : public TComponent
{
public:
    explicit TVrComponent(TComponent* owner) : TComponent(owner) {}

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

class TVrSharedComponent;

// A client's registration with a shared component: the component calls OnChange when it changes and
// OnSenderRemoved when it goes away. Destroying the link removes it from its sender. Window thread.
class TVrChangeLink
{
public:
    TVrChangeLink() = default;
    TVrChangeLink(const TVrChangeLink&) = delete;
    TVrChangeLink& operator=(const TVrChangeLink&) = delete;
    ~TVrChangeLink();

    [[nodiscard]] TVrSharedComponent* Sender() const noexcept { return FSender; }

    std::function<void(TVrSharedComponent& sender)> OnChange;
    // After the sender has let go of this link while being destroyed.
    std::function<void()> OnSenderRemoved;
private:
    friend class TVrSharedComponent;
    TVrSharedComponent* FSender = nullptr;   // not owning; cleared by the sender when it lets go
};

// A component that clients share through change links (a bitmap list).
class TVrSharedComponent : public TVrComponent
{
public:
    explicit TVrSharedComponent(TComponent* owner) : TVrComponent(owner) {}
    // Lets go of every link, last first, and tells each client.
    ~TVrSharedComponent() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // Registers the link with this component, taking it from any other it was registered with.
    void InsertLink(TVrChangeLink& link);
    // Nothing when the link is not registered here.
    void RemoveLink(TVrChangeLink& link) noexcept;
    // Calls each link's OnChange with this component, in registration order.
    void NotifyClients();
    [[nodiscard]] std::size_t LinkCount() const noexcept { return FLinks.size(); }
protected:
    // Lets go of every link, last first, and tells each client. A derived component calls it first in its
    // own destructor, so that a client told of the going may still look at the whole component.
    void ReleaseLinks() noexcept;
private:
    std::vector<TVrChangeLink*> FLinks;   // not owning
};

// A persistent value object of a control (bevel, palette, bitmaps) that tells its owner of every change
// through OnChange, unless an update is open. Window thread.
class TVrPersistent : public TPersistent
{
public:
    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    void BeginUpdate() noexcept { ++FUpdateCount; }
    // Closes one update and notifies when none is left open.
    void EndUpdate();
    [[nodiscard]] std::int32_t UpdateCount() const noexcept { return FUpdateCount; }

    std::function<void(TVrPersistent& sender)> OnChange;
protected:
    // Calls OnChange when no update is open.
    void Notify();
private:
    std::int32_t FUpdateCount = 0;
};

enum class TVrBevelStyle : std::uint8_t
{
    bsNone,
    bsLowered,
    bsRaised
};

enum class TVrBevelOutlineStyle : std::uint8_t
{
    osOuter,
    osInner,
    osNone
};

class TVrCanvas;

// The values of a bevel, with the bevel's own defaults; owners start from these and change a few.
struct TVrBevelValues
{
    int BorderWidth = 0;
    TColor BorderColor = clBtnFace;
    TColor InnerShadow = clBtnShadow;
    TColor InnerHighlight = clBtnHighlight;
    int InnerWidth = 1;
    TVrBevelStyle InnerStyle = TVrBevelStyle::bsLowered;
    TVrBevelOutlineStyle InnerOutline = TVrBevelOutlineStyle::osNone;
    int InnerSpace = 1;
    TColor InnerColor = clBtnFace;
    TColor OuterShadow = clBtnShadow;
    TColor OuterHighlight = clBtnHighlight;
    int OuterWidth = 1;
    TVrBevelStyle OuterStyle = TVrBevelStyle::bsRaised;
    TVrBevelOutlineStyle OuterOutline = TVrBevelOutlineStyle::osOuter;
    int OuterSpace = 0;
    TColor OuterColor = clBtnFace;
    bool Visible = true;

    friend bool operator==(const TVrBevelValues&, const TVrBevelValues&) = default;
};

// Nested 3-D frames around a control's content. The values it was made with are its defaults: a
// description stores only what differs from them. Widths and spaces out of range raise ERangeError
// naming the property and the value, and change nothing.
class TVrBevel final : public TVrPersistent
{
public:
    explicit TVrBevel(const TVrBevelValues& defaults = {}) : FValues(defaults), FDefaults(defaults) {}

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    // Copies every value of another bevel, with one notification.
    void Assign(const TPersistent& source) override;

    [[nodiscard]] const TVrBevelValues& Values() const noexcept { return FValues; }
    [[nodiscard]] const TVrBevelValues& Defaults() const noexcept { return FDefaults; }

    [[nodiscard]] int BorderWidth() const noexcept { return FValues.BorderWidth; }   // 0 and up
    void SetBorderWidth(int value);
    [[nodiscard]] TColor BorderColor() const noexcept { return FValues.BorderColor; }
    void SetBorderColor(TColor value);
    [[nodiscard]] TColor InnerShadow() const noexcept { return FValues.InnerShadow; }
    void SetInnerShadow(TColor value);
    [[nodiscard]] TColor InnerHighlight() const noexcept { return FValues.InnerHighlight; }
    void SetInnerHighlight(TColor value);
    [[nodiscard]] int InnerWidth() const noexcept { return FValues.InnerWidth; }   // 1 and up
    void SetInnerWidth(int value);
    [[nodiscard]] TVrBevelStyle InnerStyle() const noexcept { return FValues.InnerStyle; }
    void SetInnerStyle(TVrBevelStyle value);
    [[nodiscard]] TVrBevelOutlineStyle InnerOutline() const noexcept { return FValues.InnerOutline; }
    void SetInnerOutline(TVrBevelOutlineStyle value);
    [[nodiscard]] int InnerSpace() const noexcept { return FValues.InnerSpace; }   // 0 and up
    void SetInnerSpace(int value);
    [[nodiscard]] TColor InnerColor() const noexcept { return FValues.InnerColor; }
    void SetInnerColor(TColor value);
    [[nodiscard]] TColor OuterShadow() const noexcept { return FValues.OuterShadow; }
    void SetOuterShadow(TColor value);
    [[nodiscard]] TColor OuterHighlight() const noexcept { return FValues.OuterHighlight; }
    void SetOuterHighlight(TColor value);
    [[nodiscard]] int OuterWidth() const noexcept { return FValues.OuterWidth; }   // 1 and up
    void SetOuterWidth(int value);
    [[nodiscard]] TVrBevelStyle OuterStyle() const noexcept { return FValues.OuterStyle; }
    void SetOuterStyle(TVrBevelStyle value);
    [[nodiscard]] TVrBevelOutlineStyle OuterOutline() const noexcept { return FValues.OuterOutline; }
    void SetOuterOutline(TVrBevelOutlineStyle value);
    [[nodiscard]] int OuterSpace() const noexcept { return FValues.OuterSpace; }   // 0 and up
    void SetOuterSpace(int value);
    [[nodiscard]] TColor OuterColor() const noexcept { return FValues.OuterColor; }
    void SetOuterColor(TColor value);
    [[nodiscard]] bool Visible() const noexcept { return FValues.Visible; }
    void SetVisible(bool value);

    // Draws the frames into r and shrinks r to what they leave inside; nothing while hidden.
    void Paint(TVrCanvas& canvas, TVrRect& r) const;
    // Shrinks r to the interior that Paint() would leave; r unchanged while hidden.
    void GetVisibleArea(TVrRect& r) const noexcept;
    // The width of the frames on each side: what GetVisibleArea() takes off every edge.
    [[nodiscard]] int Margin() const noexcept;
private:
    template <class T>
    void Change(T& field, T value);

    TVrBevelValues FValues;
    TVrBevelValues FDefaults;
};

// Two colours chosen by index: Low for 0 and below, High above.
class TVrPalette final : public TVrPersistent
{
public:
    explicit TVrPalette(TColor low = 0x008000, TColor high = 0x00FF00) noexcept
        : FLow(low), FHigh(high), FDefaultLow(low), FDefaultHigh(high)
    {
    }

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    // Copies both colours with one notification.
    void Assign(const TPersistent& source) override;

    [[nodiscard]] TColor Low() const noexcept { return FLow; }
    void SetLow(TColor value);
    [[nodiscard]] TColor High() const noexcept { return FHigh; }
    void SetHigh(TColor value);
    [[nodiscard]] TColor Colors(int index) const noexcept { return index <= 0 ? FLow : FHigh; }
private:
    TColor FLow;
    TColor FHigh;
    TColor FDefaultLow;
    TColor FDefaultHigh;
};

// An owned list of images. Its stream, which is also the file format of LoadFromFile and SaveToFile and the
// stored value "Bitmaps" (written only when there is an image):
//   4 bytes  signature 62 54 35 00
//   4 bytes  image count, unsigned little-endian
//   then per image: 4 bytes byte length n, unsigned little-endian, and n bytes of a PNG file.
// A read parses the whole stream before it changes anything, so a bad stream leaves the list as it was.
class TVrBitmaps final : public TVrPersistent
{
public:
    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    // Replaces the images with copies of another list's.
    void Assign(const TPersistent& source) override;
    void DefineProperties(TFiler& filer) override;

    [[nodiscard]] int Count() const noexcept { return static_cast<int>(FBitmaps.size()); }
    // Raises ERangeError outside [0, Count()).
    [[nodiscard]] const QImage& Bitmaps(int index) const;
    // Appends a copy of the image and notifies; returns its index.
    int Add(const QImage& bitmap);
    // Frees every image, then notifies once.
    void Clear();

    // Raise EInvalidGraphic as described above, and for a signature other than 62 54 35 00 with the text
    // "Invalid file format". The file functions also raise EInvalidGraphic naming the file when it cannot
    // be opened, read or written.
    void ReadData(std::span<const std::uint8_t> bytes);
    [[nodiscard]] std::vector<std::uint8_t> WriteData() const;
    void ReadFromStream(std::istream& stream);
    void WriteToStream(std::ostream& stream) const;
    void LoadFromFile(const std::filesystem::path& fileName);
    void SaveToFile(const std::filesystem::path& fileName) const;
private:
    std::vector<QImage> FBitmaps;
};

// A component holding images for controls to share: a control registers a change link and hears of every
// change of the images; destroying the list tells the controls, which then forget it.
class TVrBitmapList final : public TVrSharedComponent
{
public:
    explicit TVrBitmapList(TComponent* owner);
    ~TVrBitmapList() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] TVrBitmaps& Bitmaps() noexcept { return FBitmaps; }
    [[nodiscard]] const TVrBitmaps& Bitmaps() const noexcept { return FBitmaps; }
    // Copies the images of another list.
    void SetBitmaps(const TVrBitmaps& value) { FBitmaps.Assign(value); }
    // Null for an index that is negative or not below the count.
    [[nodiscard]] const QImage* GetBitmap(int index) const noexcept;

    // After every change of the images, once the clients have heard of it; the sender is the list.
    std::function<void(TVrBitmapList& sender)> OnChange;
private:
    void Changed();

    TVrBitmaps FBitmaps;
};

// Makes TVrBitmapList known to stored descriptions; calling it again changes nothing.
void RegisterVrBitmapList();

class TVrCollection;

// An item of a TVrCollection: it joins the collection when made (appended) and leaves when destroyed.
class TVrCollectionItem
{
public:
    explicit TVrCollectionItem(TVrCollection& collection);
    TVrCollectionItem(const TVrCollectionItem&) = delete;
    TVrCollectionItem& operator=(const TVrCollectionItem&) = delete;
    virtual ~TVrCollectionItem();

    [[nodiscard]] TVrCollection& Collection() const noexcept { return FCollection; }
    [[nodiscard]] int Index() const noexcept { return FIndex; }
protected:
    // Tells the collection that this item changed, unless an update of the collection is open (its end
    // reports the whole collection instead).
    void Changed();
private:
    friend class TVrCollection;
    TVrCollection& FCollection;
    int FIndex = 0;
};

// A minimal owned list of items with an update count.
class TVrCollection
{
public:
    TVrCollection() = default;
    TVrCollection(const TVrCollection&) = delete;
    TVrCollection& operator=(const TVrCollection&) = delete;
    // Frees the items, last first, without Changed().
    virtual ~TVrCollection();

    template <class T, class... TArgs>
    requires std::derived_from<T, TVrCollectionItem> T& Add(TArgs&&... args)
    {
        // The item's constructor appends it and its destructor takes it out again, also when a derived
        // constructor throws.
        return *new T(*this, std::forward<TArgs>(args)...);
    }
    [[nodiscard]] int Count() const noexcept { return static_cast<int>(FItems.size()); }
    // Raises ERangeError outside [0, Count()).
    [[nodiscard]] TVrCollectionItem& Items(int index) const;
    // Frees every item, last first, inside one update.
    void Clear();

    virtual void BeginUpdate() noexcept { ++FUpdateCount; }
    // Calls Changed(nullptr) once the count is back at 0.
    virtual void EndUpdate();
    [[nodiscard]] int UpdateCount() const noexcept { return FUpdateCount; }
protected:
    // An item changed (null: the whole collection); nothing in the base.
    virtual void Changed(TVrCollectionItem* item);
private:
    friend class TVrCollectionItem;
    void Insert(TVrCollectionItem& item);
    void Remove(TVrCollectionItem& item) noexcept;

    std::vector<TVrCollectionItem*> FItems;   // owning
    int FUpdateCount = 0;
};

// A colour property, stored by name where the colour has one (clBtnFace, clBlue) and by number otherwise.
template <class T, class TGet, class TSet>
TPropertyList<T>& ColorProperty(TPropertyList<T>& list, std::string name, TGet get, TSet set,
                                std::optional<TColor> defaultValue = {})
{
    return list.Value(
        std::move(name), TPropertyKind::pkInteger, [get](const T& o) { return ColorToDesc(get(o)); },
        [set](T& o, const TDescValue& v) { set(o, ColorFromDesc(v)); },
        defaultValue ? std::optional<TDescValue>(ColorToDesc(*defaultValue)) : std::nullopt);
}

}   // namespace harvolin

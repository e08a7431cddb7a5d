#include "controls/VrClasses.h"
#include "controls/VrSysUtils.h"
#include <QBuffer>
#include <QByteArray>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

namespace harvolin
{
namespace
{

template <class V>
void CheckAtLeast(const char* property, V value, V lowest)
{
    if (value < lowest)
        throw ERangeError(Format("bevel: %s must be %d or more, not %d",
                                 {property, static_cast<int>(lowest), static_cast<int>(value)}));
}

// A bevel property stored only where it differs from the bevel's own defaults.
template <class V, class TSetter>
void AddBevelValue(TPropertyList<TVrBevel>& list, std::string name, V TVrBevelValues::*field, TSetter setter)
{
    auto get = [field](const TVrBevel& b) { return b.Values().*field; };
    auto set = [setter](TVrBevel& b, V v) { (b.*setter)(v); };
    if constexpr (std::is_same_v<V, bool>)
        list.Boolean(std::move(name), get, set);
    else
        list.Integer(std::move(name), get, set);
    list.StoredWhen([field](const TVrBevel& b) { return b.Values().*field != b.Defaults().*field; });
}

void AddBevelColor(TPropertyList<TVrBevel>& list, std::string name, TColor TVrBevelValues::*field,
                   void (TVrBevel::*setter)(TColor))
{
    ColorProperty(
        list, std::move(name), [field](const TVrBevel& b) { return b.Values().*field; },
        [setter](TVrBevel& b, TColor v) { (b.*setter)(v); })
        .StoredWhen([field](const TVrBevel& b) { return b.Values().*field != b.Defaults().*field; });
}

template <class E>
void AddBevelEnum(TPropertyList<TVrBevel>& list, std::string name, std::vector<std::string> names,
                  E TVrBevelValues::*field, void (TVrBevel::*setter)(E))
{
    list.Enumeration<E>(
            std::move(name), std::move(names), [field](const TVrBevel& b) { return b.Values().*field; },
            [setter](TVrBevel& b, E v) { (b.*setter)(v); })
        .StoredWhen([field](const TVrBevel& b) { return b.Values().*field != b.Defaults().*field; });
}

const std::vector<std::string> kBevelStyles{"bsNone", "bsLowered", "bsRaised"};
const std::vector<std::string> kOutlineStyles{"osOuter", "osInner", "osNone"};

constexpr std::uint8_t kSignature[4] = {0x62, 0x54, 0x35, 0x00};

std::uint32_t ReadUInt32(std::span<const std::uint8_t> bytes, std::size_t at) noexcept
{
    return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

void WriteUInt32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
}

}   // namespace

// ---- components and links

const TClassInfo& TVrComponent::StaticClassInfo()
{
    static const TClassInfo info("TVrComponent", &TComponent::StaticClassInfo(),
                                 VersionProperty<TVrComponent>());
    return info;
}

TVrChangeLink::~TVrChangeLink()
{
    if (FSender != nullptr)
        FSender->RemoveLink(*this);
}

const TClassInfo& TVrSharedComponent::StaticClassInfo()
{
    static const TClassInfo info("TVrSharedComponent", &TVrComponent::StaticClassInfo(), {});
    return info;
}

TVrSharedComponent::~TVrSharedComponent()
{
    ReleaseLinks();
}

void TVrSharedComponent::ReleaseLinks() noexcept
{
    while (!FLinks.empty())
    {
        TVrChangeLink* link = FLinks.back();
        RemoveLink(*link);
        if (link->OnSenderRemoved)
            link->OnSenderRemoved();
    }
}

void TVrSharedComponent::InsertLink(TVrChangeLink& link)
{
    if (link.FSender == this)
        return;
    if (link.FSender != nullptr)
        link.FSender->RemoveLink(link);
    FLinks.push_back(&link);
    link.FSender = this;
}

void TVrSharedComponent::RemoveLink(TVrChangeLink& link) noexcept
{
    const auto found = std::find(FLinks.begin(), FLinks.end(), &link);
    if (found == FLinks.end())
        return;
    link.FSender = nullptr;
    FLinks.erase(found);
}

void TVrSharedComponent::NotifyClients()
{
    // A handler may register or remove links; a snapshot keeps the walk valid, and links gone meanwhile
    // are skipped.
    const std::vector<TVrChangeLink*> links = FLinks;
    for (TVrChangeLink* link : links)
        if (std::find(FLinks.begin(), FLinks.end(), link) != FLinks.end() && link->OnChange)
            link->OnChange(*this);
}

// ---- persistent objects

const TClassInfo& TVrPersistent::StaticClassInfo()
{
    static const TClassInfo info("TVrPersistent", &TPersistent::StaticClassInfo(), {});
    return info;
}

void TVrPersistent::EndUpdate()
{
    if (FUpdateCount > 0)
        --FUpdateCount;
    Notify();
}

void TVrPersistent::Notify()
{
    if (FUpdateCount == 0 && OnChange)
        OnChange(*this);
}

const TClassInfo& TVrBevel::StaticClassInfo()
{
    static const TClassInfo info(
        "TVrBevel", &TVrPersistent::StaticClassInfo(),
        []
        {
            using B = TVrBevelValues;
            TPropertyList<TVrBevel> list;
            AddBevelValue(list, "BorderWidth", &B::BorderWidth, &TVrBevel::SetBorderWidth);
            AddBevelColor(list, "BorderColor", &B::BorderColor, &TVrBevel::SetBorderColor);
            AddBevelColor(list, "InnerShadow", &B::InnerShadow, &TVrBevel::SetInnerShadow);
            AddBevelColor(list, "InnerHighlight", &B::InnerHighlight, &TVrBevel::SetInnerHighlight);
            AddBevelValue(list, "InnerWidth", &B::InnerWidth, &TVrBevel::SetInnerWidth);
            AddBevelEnum(list, "InnerStyle", kBevelStyles, &B::InnerStyle, &TVrBevel::SetInnerStyle);
            AddBevelEnum(list, "InnerOutline", kOutlineStyles, &B::InnerOutline, &TVrBevel::SetInnerOutline);
            AddBevelValue(list, "InnerSpace", &B::InnerSpace, &TVrBevel::SetInnerSpace);
            AddBevelColor(list, "InnerColor", &B::InnerColor, &TVrBevel::SetInnerColor);
            AddBevelColor(list, "OuterShadow", &B::OuterShadow, &TVrBevel::SetOuterShadow);
            AddBevelColor(list, "OuterHighlight", &B::OuterHighlight, &TVrBevel::SetOuterHighlight);
            AddBevelValue(list, "OuterWidth", &B::OuterWidth, &TVrBevel::SetOuterWidth);
            AddBevelEnum(list, "OuterStyle", kBevelStyles, &B::OuterStyle, &TVrBevel::SetOuterStyle);
            AddBevelEnum(list, "OuterOutline", kOutlineStyles, &B::OuterOutline, &TVrBevel::SetOuterOutline);
            AddBevelValue(list, "OuterSpace", &B::OuterSpace, &TVrBevel::SetOuterSpace);
            AddBevelColor(list, "OuterColor", &B::OuterColor, &TVrBevel::SetOuterColor);
            AddBevelValue(list, "Visible", &B::Visible, &TVrBevel::SetVisible);
            return list.Take();
        }());
    return info;
}

void TVrBevel::Assign(const TPersistent& source)
{
    const auto* bevel = dynamic_cast<const TVrBevel*>(&source);
    if (bevel == nullptr)
        return TVrPersistent::Assign(source);
    if (bevel->FValues == FValues)
        return;
    FValues = bevel->FValues;
    Notify();
}

template <class T>
void TVrBevel::Change(T& field, T value)
{
    field = value;
    Notify();
}

void TVrBevel::SetBorderWidth(int value)
{
    CheckAtLeast("BorderWidth", value, 0);
    Change(FValues.BorderWidth, value);
}
void TVrBevel::SetBorderColor(TColor value)
{
    Change(FValues.BorderColor, value);
}
void TVrBevel::SetInnerShadow(TColor value)
{
    Change(FValues.InnerShadow, value);
}
void TVrBevel::SetInnerHighlight(TColor value)
{
    Change(FValues.InnerHighlight, value);
}
void TVrBevel::SetInnerWidth(int value)
{
    CheckAtLeast("InnerWidth", value, 1);
    Change(FValues.InnerWidth, value);
}
void TVrBevel::SetInnerStyle(TVrBevelStyle value)
{
    Change(FValues.InnerStyle, value);
}
void TVrBevel::SetInnerOutline(TVrBevelOutlineStyle value)
{
    Change(FValues.InnerOutline, value);
}
void TVrBevel::SetInnerSpace(int value)
{
    CheckAtLeast("InnerSpace", value, 0);
    Change(FValues.InnerSpace, value);
}
void TVrBevel::SetInnerColor(TColor value)
{
    Change(FValues.InnerColor, value);
}
void TVrBevel::SetOuterShadow(TColor value)
{
    Change(FValues.OuterShadow, value);
}
void TVrBevel::SetOuterHighlight(TColor value)
{
    Change(FValues.OuterHighlight, value);
}
void TVrBevel::SetOuterWidth(int value)
{
    CheckAtLeast("OuterWidth", value, 1);
    Change(FValues.OuterWidth, value);
}
void TVrBevel::SetOuterStyle(TVrBevelStyle value)
{
    Change(FValues.OuterStyle, value);
}
void TVrBevel::SetOuterOutline(TVrBevelOutlineStyle value)
{
    Change(FValues.OuterOutline, value);
}
void TVrBevel::SetOuterSpace(int value)
{
    CheckAtLeast("OuterSpace", value, 0);
    Change(FValues.OuterSpace, value);
}
void TVrBevel::SetOuterColor(TColor value)
{
    Change(FValues.OuterColor, value);
}
void TVrBevel::SetVisible(bool value)
{
    Change(FValues.Visible, value);
}

void TVrBevel::Paint(TVrCanvas& canvas, TVrRect& r) const
{
    const TVrBevelValues& v = FValues;
    if (!v.Visible)
        return;
    auto outline = [&] { DrawFrame3D(canvas, r, clBlack, clBlack, 1); };
    auto styled = [&](TVrBevelStyle style, TColor highlight, TColor shadow, int width)
    {
        if (style == TVrBevelStyle::bsRaised)
            DrawFrame3D(canvas, r, highlight, shadow, width);
        else if (style == TVrBevelStyle::bsLowered)
            DrawFrame3D(canvas, r, shadow, highlight, width);
    };
    if (v.BorderWidth > 0)
        DrawFrame3D(canvas, r, v.BorderColor, v.BorderColor, v.BorderWidth);
    if (v.OuterOutline == TVrBevelOutlineStyle::osOuter)
        outline();
    styled(v.OuterStyle, v.OuterHighlight, v.OuterShadow, v.OuterWidth);
    if (v.OuterOutline == TVrBevelOutlineStyle::osInner)
        outline();
    DrawFrame3D(canvas, r, v.OuterColor, v.OuterColor, v.OuterSpace);
    if (v.InnerOutline == TVrBevelOutlineStyle::osOuter)
        outline();
    styled(v.InnerStyle, v.InnerHighlight, v.InnerShadow, v.InnerWidth);
    if (v.InnerOutline == TVrBevelOutlineStyle::osInner)
        outline();
    DrawFrame3D(canvas, r, v.InnerColor, v.InnerColor, v.InnerSpace);
}

int TVrBevel::Margin() const noexcept
{
    const TVrBevelValues& v = FValues;
    if (!v.Visible)
        return 0;
    int margin = v.BorderWidth + v.InnerSpace + v.OuterSpace;
    margin += v.InnerOutline != TVrBevelOutlineStyle::osNone ? 1 : 0;
    margin += v.OuterOutline != TVrBevelOutlineStyle::osNone ? 1 : 0;
    margin += v.InnerStyle != TVrBevelStyle::bsNone ? v.InnerWidth : 0;
    margin += v.OuterStyle != TVrBevelStyle::bsNone ? v.OuterWidth : 0;
    return margin;
}

void TVrBevel::GetVisibleArea(TVrRect& r) const noexcept
{
    const int margin = Margin();
    r.Inflate(-margin, -margin);
}

const TClassInfo& TVrPalette::StaticClassInfo()
{
    static const TClassInfo info(
        "TVrPalette", &TVrPersistent::StaticClassInfo(),
        []
        {
            TPropertyList<TVrPalette> list;
            ColorProperty(
                list, "Low", [](const TVrPalette& p) { return p.Low(); },
                [](TVrPalette& p, TColor v) { p.SetLow(v); })
                .StoredWhen([](const TVrPalette& p) { return p.FLow != p.FDefaultLow; });
            ColorProperty(
                list, "High", [](const TVrPalette& p) { return p.High(); },
                [](TVrPalette& p, TColor v) { p.SetHigh(v); })
                .StoredWhen([](const TVrPalette& p) { return p.FHigh != p.FDefaultHigh; });
            return list.Take();
        }());
    return info;
}

void TVrPalette::Assign(const TPersistent& source)
{
    const auto* palette = dynamic_cast<const TVrPalette*>(&source);
    if (palette == nullptr)
        return TVrPersistent::Assign(source);
    BeginUpdate();
    try
    {
        SetLow(palette->FLow);
        SetHigh(palette->FHigh);
    }
    catch (...)
    {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TVrPalette::SetLow(TColor value)
{
    if (value == FLow)
        return;
    FLow = value;
    Notify();
}

void TVrPalette::SetHigh(TColor value)
{
    if (value == FHigh)
        return;
    FHigh = value;
    Notify();
}

// ---- bitmaps

const TClassInfo& TVrBitmaps::StaticClassInfo()
{
    static const TClassInfo info("TVrBitmaps", &TVrPersistent::StaticClassInfo(), {});
    return info;
}

void TVrBitmaps::Assign(const TPersistent& source)
{
    const auto* bitmaps = dynamic_cast<const TVrBitmaps*>(&source);
    if (bitmaps == nullptr)
        return TVrPersistent::Assign(source);
    if (bitmaps == this)
        return;
    std::vector<QImage> copies;
    copies.reserve(bitmaps->FBitmaps.size());
    for (const QImage& image : bitmaps->FBitmaps)
        copies.push_back(image.copy());
    FBitmaps = std::move(copies);
    Notify();
}

void TVrBitmaps::DefineProperties(TFiler& filer)
{
    filer.DefineProperty(
        "Bitmaps", [this](const TDescValue& value) { ReadData(value.AsBinary()); },
        [this] { return TDescValue::Binary(WriteData()); }, !FBitmaps.empty());
}

const QImage& TVrBitmaps::Bitmaps(int index) const
{
    if (index < 0 || index >= Count())
        throw ERangeError(Format("bitmaps: index %d out of range (%d images)", {index, Count()}));
    return FBitmaps[static_cast<std::size_t>(index)];
}

int TVrBitmaps::Add(const QImage& bitmap)
{
    FBitmaps.push_back(bitmap.copy());
    Notify();
    return Count() - 1;
}

void TVrBitmaps::Clear()
{
    BeginUpdate();
    FBitmaps.clear();
    EndUpdate();
}

void TVrBitmaps::ReadData(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 8 || !std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin()))
        throw EInvalidGraphic("Invalid file format");
    const std::uint32_t count = ReadUInt32(bytes, 4);
    std::vector<QImage> images;
    std::size_t at = 8;
    for (std::uint32_t i = 0; i < count; ++i)
    {
        if (bytes.size() - at < 4)
            throw EInvalidGraphic(Format("bitmaps: stream ends before image %u of %u", {i + 1, count}));
        const std::uint32_t length = ReadUInt32(bytes, at);
        at += 4;
        if (bytes.size() - at < length)
            throw EInvalidGraphic(
                Format("bitmaps: image %u of %u needs %u bytes, the stream has %u",
                       {i + 1, count, length, static_cast<std::uint32_t>(bytes.size() - at)}));
        QImage image;
        if (!image.loadFromData(reinterpret_cast<const uchar*>(bytes.data() + at), static_cast<int>(length),
                                "PNG"))
            throw EInvalidGraphic(Format("bitmaps: image %u of %u is no PNG image", {i + 1, count}));
        images.push_back(std::move(image));
        at += length;
    }
    BeginUpdate();
    FBitmaps = std::move(images);
    EndUpdate();
}

std::vector<std::uint8_t> TVrBitmaps::WriteData() const
{
    std::vector<std::uint8_t> out(std::begin(kSignature), std::end(kSignature));
    WriteUInt32(out, static_cast<std::uint32_t>(FBitmaps.size()));
    for (const QImage& image : FBitmaps)
    {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG"))
            throw EInvalidGraphic(
                Format("bitmaps: cannot encode a %d x %d image as PNG", {image.width(), image.height()}));
        WriteUInt32(out, static_cast<std::uint32_t>(png.size()));
        out.insert(out.end(), png.begin(), png.end());
    }
    return out;
}

void TVrBitmaps::ReadFromStream(std::istream& stream)
{
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(stream)),
                                          std::istreambuf_iterator<char>());
    ReadData(bytes);
}

void TVrBitmaps::WriteToStream(std::ostream& stream) const
{
    const std::vector<std::uint8_t> bytes = WriteData();
    stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void TVrBitmaps::LoadFromFile(const std::filesystem::path& fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file)
        throw EInvalidGraphic("bitmaps: cannot open '" + fileName.string() + "' for reading");
    ReadFromStream(file);
    if (file.bad())
        throw EInvalidGraphic("bitmaps: cannot read '" + fileName.string() + "'");
}

void TVrBitmaps::SaveToFile(const std::filesystem::path& fileName) const
{
    const std::vector<std::uint8_t> bytes = WriteData();
    std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
    if (!file)
        throw EInvalidGraphic("bitmaps: cannot open '" + fileName.string() + "' for writing");
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.flush();
    if (!file)
        throw EInvalidGraphic("bitmaps: cannot write '" + fileName.string() + "'");
}

TVrBitmapList::TVrBitmapList(TComponent* owner) : TVrSharedComponent(owner)
{
    FBitmaps.OnChange = [this](TVrPersistent&) { Changed(); };
}

TVrBitmapList::~TVrBitmapList()
{
    // Before the images go: a client told of the going may still look at them.
    ReleaseLinks();
}

const TClassInfo& TVrBitmapList::StaticClassInfo()
{
    static const TClassInfo info("TVrBitmapList", &TVrSharedComponent::StaticClassInfo(),
                                 TPropertyList<TVrBitmapList>()
                                     .Object("Bitmaps", [](TVrBitmapList& o) { return &o.FBitmaps; })
                                     .Take());
    return info;
}

const QImage* TVrBitmapList::GetBitmap(int index) const noexcept
{
    if (index < 0 || index >= FBitmaps.Count())
        return nullptr;
    return &FBitmaps.Bitmaps(index);
}

void TVrBitmapList::Changed()
{
    NotifyClients();
    if (OnChange)
        OnChange(*this);
}

// ---- collection

TVrCollectionItem::TVrCollectionItem(TVrCollection& collection) : FCollection(collection)
{
    FCollection.Insert(*this);
}

TVrCollectionItem::~TVrCollectionItem()
{
    FCollection.Remove(*this);
}

void TVrCollectionItem::Changed()
{
    if (FCollection.FUpdateCount == 0)
        FCollection.Changed(this);
}

TVrCollection::~TVrCollection()
{
    while (!FItems.empty())
        delete FItems.back();
}

TVrCollectionItem& TVrCollection::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw ERangeError(Format("collection: index %d out of range (%d items)", {index, Count()}));
    return *FItems[static_cast<std::size_t>(index)];
}

void TVrCollection::Clear()
{
    BeginUpdate();
    while (!FItems.empty())
        delete FItems.back();
    EndUpdate();
}

void TVrCollection::EndUpdate()
{
    if (FUpdateCount > 0)
        --FUpdateCount;
    if (FUpdateCount == 0)
        Changed(nullptr);
}

void TVrCollection::Changed(TVrCollectionItem*) {}

void TVrCollection::Insert(TVrCollectionItem& item)
{
    item.FIndex = Count();
    FItems.push_back(&item);
}

void TVrCollection::Remove(TVrCollectionItem& item) noexcept
{
    const auto found = std::find(FItems.begin(), FItems.end(), &item);
    if (found == FItems.end())
        return;
    FItems.erase(found);
    for (std::size_t i = 0; i < FItems.size(); ++i)
        FItems[i]->FIndex = static_cast<int>(i);
}

void RegisterVrBitmapList()
{
    RegisterComponentClass<TVrBitmapList>();
}

namespace
{

const TComponentClassRegistration<TVrBitmapList> GRegistration;

}   // namespace

}   // namespace harvolin

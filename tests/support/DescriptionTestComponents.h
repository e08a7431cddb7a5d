#pragma once
#include "rtl/Component.h"
#include "rtl/Persistent.h"
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace harvolin
{

// Small component classes with one property of every kind, for the description tests and the fuzzer.

enum class TTestMode : std::uint8_t
{
    tmOff,
    tmOn,
    tmAuto
};

// Counts Loaded() calls across all test widgets, so that a test can tell their order.
inline std::int64_t GTestLoadedSequence = 0;

// A sub-object reached by a dotted path, with an extra stored value of its own.
class TTestFormat final : public TPersistent
{
public:
    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TTestFormat", &TPersistent::StaticClassInfo(),
                                     TPropertyList<TTestFormat>()
                                         .Integer(
                                             "SampleRate", [](const TTestFormat& o) { return o.FSampleRate; },
                                             [](TTestFormat& o, std::int32_t v) { o.FSampleRate = v; }, 44100)
                                         .Float(
                                             "Gain", [](const TTestFormat& o) { return o.FGain; },
                                             [](TTestFormat& o, double v) { o.FGain = v; }, 1.0)
                                         .Take());
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    void DefineProperties(TFiler& filer) override
    {
        filer.DefineProperty(
            "Tags",
            [this](const TDescValue& value)
            {
                std::vector<std::string> tags;
                for (const TDescValue& item : value.AsList())
                    tags.push_back(item.AsString());
                FTags = std::move(tags);
            },
            [this]
            {
                std::vector<TDescValue> items;
                for (const std::string& tag : FTags)
                    items.push_back(TDescValue::String(tag));
                return TDescValue::List(std::move(items));
            },
            !FTags.empty());
    }

    std::int32_t FSampleRate = 44100;
    double FGain = 1.0;
    std::vector<std::string> FTags;
};

// An item with a published property of its own, a sub-object reached by a dotted path and an extra stored
// value, as the device and filter items store theirs.
class TTestItem final : public TCollectionItem
{
public:
    using TCollectionItem::TCollectionItem;

    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TTestItem", &TPersistent::StaticClassInfo(),
                                     TPropertyList<TTestItem>()
                                         .String(
                                             "Label", [](const TTestItem& o) { return o.FLabel; },
                                             [](TTestItem& o, const std::string& v) { o.FLabel = v; },
                                             std::string())
                                         .Integer(
                                             "Weight", [](const TTestItem& o) { return o.FWeight; },
                                             [](TTestItem& o, std::int32_t v) { o.FWeight = v; }, 0)
                                         .Object("Format", [](TTestItem& o) { return &o.FFormat; })
                                         .Take());
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    void Assign(const TPersistent& source) override
    {
        const auto* other = dynamic_cast<const TTestItem*>(&source);
        if (other == nullptr)
            return TCollectionItem::Assign(source);
        FLabel = other->FLabel;
        FWeight = other->FWeight;
        FData = other->FData;
    }

    void DefineProperties(TFiler& filer) override
    {
        filer.DefineProperty(
            "Data",
            [this](const TDescValue& value)
            {
                std::vector<std::string> names;
                for (const TDescValue& item : value.AsList())
                    names.push_back(item.AsString());
                FData = std::move(names);
            },
            [this]
            {
                std::vector<TDescValue> items;
                for (const std::string& name : FData)
                    items.push_back(TDescValue::String(name));
                return TDescValue::List(std::move(items));
            },
            !FData.empty());
    }

    std::string FLabel;
    std::int32_t FWeight = 0;
    TTestFormat FFormat;
    std::vector<std::string> FData;
};

class TTestItems final : public TCollection
{
public:
    TCollectionItem& AddItem() override { return Add<TTestItem>(); }
    [[nodiscard]] TTestItem& Items(std::size_t index) const
    {
        return static_cast<TTestItem&>(TCollection::Items(index));
    }
};

class TTestWidget : public TComponent
{
public:
    explicit TTestWidget(TComponent* owner) : TComponent(owner) {}

    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TTestWidget", &TComponent::StaticClassInfo(), Properties());
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    void DefineProperties(TFiler& filer) override
    {
        filer.DefineProperty(
            "Data", [this](const TDescValue& value) { FData = value.AsBinary(); },
            [this] { return TDescValue::Binary(FData); }, !FData.empty());
        filer.DefineProperty(
            "Links", [this](const TDescValue& value) { FLinks = value; }, [this] { return *FLinks; },
            FLinks.has_value());
    }

    void Loaded() override
    {
        TComponent::Loaded();
        FLoadedSequence = ++GTestLoadedSequence;
        FPartnerExistedAtLoaded = Owner() != nullptr && Owner()->FindComponent(FPartner) != nullptr;
        if (FFailOnLoaded)
            throw EReadError("widget refuses to load");
    }

    std::int32_t FCount = 0;
    std::string FCaption;
    TTestMode FMode = TTestMode::tmOff;
    std::vector<std::string> FOptions;
    double FLevel = 0.0;
    bool FVisible = true;
    std::int32_t FSerial = 7;
    std::string FPartner;
    bool FFailOnLoaded = false;
    TTestFormat FFormat;
    TTestItems FItems;
    TCollection FPlain;             // knows no item class: a description cannot fill it
    TComponent* FBuddy = nullptr;   // not owning
    std::vector<std::uint8_t> FData;
    std::optional<TDescValue> FLinks;
    std::int64_t FLoadedSequence = 0;
    bool FPartnerExistedAtLoaded = false;
    bool FLoadingWhenCountSet = false;
private:
    static std::vector<TPropertyInfo> Properties()
    {
        std::vector<TPropertyInfo> properties =
            TPropertyList<TTestWidget>()
                .Integer(
                    "Count", [](const TTestWidget& o) { return o.FCount; },
                    [](TTestWidget& o, std::int32_t v)
                    {
                        o.FCount = v;
                        o.FLoadingWhenCountSet = o.ComponentState().Contains(TComponentStateFlag::csLoading);
                    },
                    0)
                .String(
                    "Caption", [](const TTestWidget& o) { return o.FCaption; },
                    [](TTestWidget& o, const std::string& v) { o.FCaption = v; }, std::string())
                .Enumeration<TTestMode>(
                    "Mode", {"tmOff", "tmOn", "tmAuto"}, [](const TTestWidget& o) { return o.FMode; },
                    [](TTestWidget& o, TTestMode v) { o.FMode = v; }, TTestMode::tmOff)
                .Float(
                    "Level", [](const TTestWidget& o) { return o.FLevel; },
                    [](TTestWidget& o, double v) { o.FLevel = v; }, 0.0)
                .Boolean(
                    "Visible", [](const TTestWidget& o) { return o.FVisible; },
                    [](TTestWidget& o, bool v) { o.FVisible = v; }, true)
                .String(
                    "Partner", [](const TTestWidget& o) { return o.FPartner; },
                    [](TTestWidget& o, const std::string& v) { o.FPartner = v; }, std::string())
                .Boolean(
                    "FailOnLoaded", [](const TTestWidget& o) { return o.FFailOnLoaded; },
                    [](TTestWidget& o, bool v) { o.FFailOnLoaded = v; }, false)
                .Object("Format", [](TTestWidget& o) { return &o.FFormat; })
                .Object("Items", [](TTestWidget& o) { return &o.FItems; })
                .Object("Plain", [](TTestWidget& o) { return &o.FPlain; })
                .Object("Buddy", [](TTestWidget& o) { return o.FBuddy; })
                .Take();

        TPropertyInfo options;
        options.Name = "Options";
        options.Kind = TPropertyKind::pkSet;
        options.Get = [](const TPersistent& o)
        { return TDescValue::Set(static_cast<const TTestWidget&>(o).FOptions); };
        options.Set = [](TPersistent& o, const TDescValue& v)
        {
            for (const std::string& element : v.AsSet())
                if (element != "ooBold" && element != "ooItalic" && element != "ooWide")
                    throw EReadError("'" + element + "' is not an element of Options");
            static_cast<TTestWidget&>(o).FOptions = v.AsSet();
        };
        options.Default = TDescValue::Set({});
        properties.push_back(std::move(options));

        TPropertyInfo serial;
        serial.Name = "Serial";
        serial.Kind = TPropertyKind::pkInteger;
        serial.Get = [](const TPersistent& o)
        { return TDescValue::Integer(static_cast<const TTestWidget&>(o).FSerial); };
        properties.push_back(std::move(serial));
        return properties;
    }
};

// A root that holds a description, as a window does.
class TTestForm final : public TComponent
{
public:
    explicit TTestForm(TComponent* owner) : TComponent(owner, TComponentKind::ckForm) {}

    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TTestForm", &TComponent::StaticClassInfo(),
                                     TPropertyList<TTestForm>()
                                         .String(
                                             "Caption", [](const TTestForm& o) { return o.FCaption; },
                                             [](TTestForm& o, const std::string& v) { o.FCaption = v; },
                                             std::string())
                                         .Take());
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    std::string FCaption;
};

inline void RegisterDescriptionTestClasses()
{
    RegisterComponentClass<TTestWidget>();
    RegisterComponentClass<TTestForm>();
}

}   // namespace harvolin

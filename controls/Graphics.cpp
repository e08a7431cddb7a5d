#include "controls/Graphics.h"
#include "controls/VrClasses.h"
#include <QFontMetrics>
#include <QPalette>
#include <array>
#include <cmath>
#include <utility>

namespace harvolin
{
namespace
{

struct TFamilyHint
{
    std::string_view Family;
    QFont::StyleHint Hint;
};

constexpr std::array kFamilyHints{
    TFamilyHint{"MS Sans Serif", QFont::SansSerif}, TFamilyHint{"Arial", QFont::SansSerif},
    TFamilyHint{"Tahoma", QFont::SansSerif},        TFamilyHint{"Verdana", QFont::SansSerif},
    TFamilyHint{"Courier New", QFont::TypeWriter},  TFamilyHint{"Courier", QFont::TypeWriter},
    TFamilyHint{"Times New Roman", QFont::Serif},
};

bool EqualIgnoringCase(std::string_view a, std::string_view b) noexcept
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

}   // namespace

const TClassInfo& TFont::StaticClassInfo()
{
    static const TClassInfo info(
        "TFont", &TPersistent::StaticClassInfo(),
        []
        {
            const auto stored = [](const TFont& o) { return !o.Stored || o.Stored(); };
            TPropertyList<TFont> list;
            ColorProperty(
                list, "Color", [](const TFont& o) { return o.Color(); },
                [](TFont& o, TColor v) { o.SetColor(v); }, kDefaultColor)
                .StoredWhen(stored);
            list.Integer(
                    "Height", [](const TFont& o) { return o.Height(); },
                    [](TFont& o, int v) { o.SetHeight(v); }, kDefaultHeight)
                .StoredWhen(stored)
                .String(
                    "Name", [](const TFont& o) { return o.Name(); },
                    [](TFont& o, const std::string& v) { o.SetName(v); }, std::string(kDefaultName))
                .StoredWhen(stored)
                .SetOf(
                    "Style", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"},
                    [](const TFont& o) { return o.Style(); },
                    [](TFont& o, std::uint32_t v) { o.SetStyle(v); }, 0U)
                .StoredWhen(stored);
            return list.Take();
        }());
    return info;
}

void TFont::SetName(std::string value)
{
    FName = std::move(value);
    Changed();
}

void TFont::SetHeight(int value)
{
    FHeight = value;
    Changed();
}

void TFont::SetColor(TColor value)
{
    FColor = value;
    Changed();
}

void TFont::SetStyle(std::uint32_t value)
{
    FStyle = value;
    Changed();
}

void TFont::Assign(const TPersistent& source)
{
    const auto* font = dynamic_cast<const TFont*>(&source);
    if (font == nullptr)
        return TPersistent::Assign(source);
    if (font == this)
        return;
    FName = font->FName;
    FHeight = font->FHeight;
    FColor = font->FColor;
    FStyle = font->FStyle;
    Changed();
}

bool TFont::SameValues(const TFont& other) const noexcept
{
    return FName == other.FName && FHeight == other.FHeight && FColor == other.FColor &&
           FStyle == other.FStyle;
}

void TFont::Changed()
{
    if (OnChange)
        OnChange();
}

QFont::StyleHint StyleHintOfFamily(std::string_view family) noexcept
{
    for (const TFamilyHint& known : kFamilyHints)
        if (EqualIgnoringCase(known.Family, family))
            return known.Hint;
    return QFont::AnyStyle;
}

QFont FontToQFont(const TFont& font)
{
    QFont result;
    result.setFamily(QString::fromStdString(font.Name()));
    result.setStyleHint(StyleHintOfFamily(font.Name()));
    if (font.Height() < 0)
        result.setPixelSize(-font.Height());
    else if (font.Height() > 0)
    {
        // Qt sizes the characters; a cell height counts the leading too, so scale by the matched font's own
        // ratio of character size to cell height.
        result.setPixelSize(font.Height());
        const int cell = QFontMetrics(result).height();
        if (cell > 0)
            result.setPixelSize(
                std::max(1, static_cast<int>(std::lround(double(font.Height()) * font.Height() / cell))));
    }
    result.setBold((font.Style() & fsBold) != 0);
    result.setItalic((font.Style() & fsItalic) != 0);
    result.setUnderline((font.Style() & fsUnderline) != 0);
    result.setStrikeOut((font.Style() & fsStrikeOut) != 0);
    return result;
}

std::string TextAsUtf8(std::string text)
{
    const QByteArray bytes = QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size()));
    if (QUtf8StringView(bytes).isValidUtf8())
        return text;
    return QString::fromLatin1(bytes).toStdString();
}

TTextControl::TTextControl(TComponent* owner) : TControl(owner)
{
    Init();
}

TTextControl::TTextControl(TComponent* owner, TComponentKind kind) : TControl(owner, kind)
{
    Init();
}

void TTextControl::Init()
{
    FFont.OnChange = [this]
    {
        if (!FFollowing)
            FParentFont = false;
        ApplyFont();
    };
    FFont.Stored = [this] { return !FParentFont; };
    FollowParentFont();
    ApplyFont();
}

const TClassInfo& TTextControl::StaticClassInfo()
{
    static const TClassInfo info("TTextControl", &TControl::StaticClassInfo(),
                                 []
                                 {
                                     TPropertyList<TTextControl> list;
                                     AddFontProperties(list, true);
                                     return list.Take();
                                 }());
    return info;
}

void TTextControl::SetParentFont(bool value)
{
    FParentFont = value;
    if (value)
        FollowParentFont();
}

QColor TTextControl::FontColor() const
{
    return QColor::fromRgb(ColorToQRgb(FFont.Color()));
}

void TTextControl::Loaded()
{
    TControl::Loaded();
    if (FParentFont)
        FollowParentFont();
}

void TTextControl::ShownFontChanged()
{
    Invalidate();
}

void TTextControl::FollowParentFont()
{
    const auto* parent = dynamic_cast<const TTextControl*>(parentWidget());
    if (!FParentFont || parent == nullptr || parent->FFont.SameValues(FFont))
        return;
    FFollowing = true;
    try
    {
        FFont.Assign(parent->FFont);
    }
    catch (...)
    {
        FFollowing = false;
        throw;
    }
    FFollowing = false;
}

void TTextControl::ApplyFont()
{
    setFont(FontToQFont(FFont));
    QPalette colours = palette();
    const QColor text = FontColor();
    // Active and inactive only: the disabled group keeps the style's grey, so a disabled control still
    // looks disabled.
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
            colours.setColor(group, role, text);
    setPalette(colours);
    for (QObject* child : children())
        if (auto* control = dynamic_cast<TTextControl*>(child); control != nullptr && control->FParentFont)
            control->FollowParentFont();
    ShownFontChanged();
}

}   // namespace harvolin

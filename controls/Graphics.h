#pragma once
#include "controls/Controls.h"
#include <QColor>
#include <QFont>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace harvolin
{

// Font styles as bits of TFont::Style.
enum : std::uint32_t
{
    fsBold = 1,
    fsItalic = 2,
    fsUnderline = 4,
    fsStrikeOut = 8
};

// A font as stored descriptions give it: a family name, a height in pixels (negative: the characters'
// height; positive: the whole cell's, internal leading included), a colour and a style. A sub-object of the
// control that shows it; Assign copies the values of another font. Window thread.
class TFont final : public TPersistent
{
public:
    static constexpr int kDefaultHeight = -11;
    static constexpr TColor kDefaultColor = clWindowText;
    static constexpr std::string_view kDefaultName = "MS Sans Serif";

    TFont() = default;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] const std::string& Name() const noexcept { return FName; }
    void SetName(std::string value);
    [[nodiscard]] int Height() const noexcept { return FHeight; }
    void SetHeight(int value);
    [[nodiscard]] TColor Color() const noexcept { return FColor; }
    void SetColor(TColor value);
    // fsBold | fsItalic | ...
    [[nodiscard]] std::uint32_t Style() const noexcept { return FStyle; }
    void SetStyle(std::uint32_t value);

    // From another TFont: takes all its values, then calls OnChange once. Anything else as TPersistent.
    void Assign(const TPersistent& source) override;
    [[nodiscard]] bool SameValues(const TFont& other) const noexcept;

    // Called after every change of a value made through a setter or Assign.
    std::function<void()> OnChange;
    // Whether the values are stored with their owner's description now; null: always. A control that
    // shows its parent's font stores none.
    std::function<bool()> Stored;
private:
    void Changed();

    std::string FName{kDefaultName};
    int FHeight = kDefaultHeight;
    TColor FColor = kDefaultColor;
    std::uint32_t FStyle = 0;
};

// The family Qt should fall back to for a family name a Linux machine may lack: sans serif for the common
// Windows sans faces, monospace (QFont::TypeWriter) for the Courier faces, serif for Times New Roman;
// QFont::AnyStyle for any other name, which leaves the choice to Qt's matching alone.
[[nodiscard]] QFont::StyleHint StyleHintOfFamily(std::string_view family) noexcept;
// The Qt font of a TFont: the family through Qt's matching with the hint above, the height in pixels
// (a cell height is converted with the matched font's metrics), the style bits. Colour is not part of a
// QFont. Window thread.
[[nodiscard]] QFont FontToQFont(const TFont& font);

// Text of a stored description as UTF-8. A string that is valid UTF-8 is taken as it is; any other is read
// as Latin-1, one character per byte: descriptions written by older tools escape accented letters as their
// character code ('Fr'#233'quence'), which is not UTF-8.
[[nodiscard]] std::string TextAsUtf8(std::string text);
[[nodiscard]] inline QString ToQString(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A control that shows text: a Font, or its parent's under ParentFont (the default), which setting any
// value of Font turns off. The widget's QFont and its text colours follow the font shown, and so do the
// child controls that show this one's font. Published: Font, ParentFont. Window thread.
class TTextControl : public TControl
{
public:
    explicit TTextControl(TComponent* owner);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] TFont& Font() noexcept { return FFont; }
    [[nodiscard]] const TFont& Font() const noexcept { return FFont; }
    [[nodiscard]] bool ParentFont() const noexcept { return FParentFont; }
    // True takes the parent's font at once.
    void SetParentFont(bool value);
    // The colour the text is drawn in.
    [[nodiscard]] QColor FontColor() const;

    void Loaded() override;
protected:
    // For forms.
    TTextControl(TComponent* owner, TComponentKind kind);

    // The font shown changed (its own, or the parent's under ParentFont), after the widget took it; the
    // default repaints. An override calls it.
    virtual void ShownFontChanged();
    // The property list of Font and ParentFont, for derived classes that publish them with another default.
    template <class T>
    static void AddFontProperties(TPropertyList<T>& list, bool parentFontDefault)
    {
        list.Object("Font", [](T& o) -> TPersistent* { return &o.Font(); })
            .Boolean(
                "ParentFont", [](const T& o) { return o.ParentFont(); },
                [](T& o, bool v) { o.SetParentFont(v); }, parentFontDefault);
    }
private:
    void Init();
    void FollowParentFont();
    void ApplyFont();

    TFont FFont;
    bool FParentFont = true;
    bool FFollowing = false;   // copying the parent's font: the change keeps ParentFont on
};

}   // namespace harvolin

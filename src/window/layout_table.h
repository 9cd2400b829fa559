#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quillmere {

// The window is laid out in twips (1/1440 inch): 15 to the pixel at 96 dots per inch, 10 at 144.
inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kStandardDpi = 96;

// The window's controls by their role in code; each indexes kControlLayouts.
enum class Control : std::size_t {
    mapLabel,
    mapPathBox,
    outputLabel,
    outputPathBox,
    infoButton,
    aboutButton,
    exitButton,
    convertButton,
};

enum class ControlKind { Label, TextBox, Button };
enum class Paint { System, Black, White };

struct ControlLayout {
    Control role;
    std::string_view name; // the control's object name, as people and tests know it
    ControlKind kind;
    std::string_view text;
    int left, top, width, height; // twips, within the window's client area
    Paint foreground;
    Paint background;
};

inline constexpr std::string_view kWindowCaption = "QuillMere Tile Converter";
inline constexpr int kClientWidthTwips = 4680;
inline constexpr int kClientHeightTwips = 1695;

// clang-format off
inline constexpr std::array<ControlLayout, 8> kControlLayouts{{
    // role                    name         kind                  text             left   top  width height  text           background
    {Control::mapLabel,      "Label1",    ControlKind::Label,    "Map Name",          0,    0,   855,  255,   Paint::White,  Paint::Black},
    {Control::mapPathBox,    "TilesPath", ControlKind::TextBox,  "Map.LVL",        1320,    0,  1815,  285,   Paint::Black,  Paint::System},
    {Control::outputLabel,   "Label2",    ControlKind::Label,    "Tile Set Name",     0,  480,  1095,  255,   Paint::White,  Paint::Black},
    {Control::outputPathBox, "RipPath",   ControlKind::TextBox,  "Tiles.BMP",      1320,  480,  1815,  285,   Paint::Black,  Paint::White},
    {Control::infoButton,    "cmdInfo",   ControlKind::Button,   "Info",           3360,  120,  1215,  495,   Paint::System, Paint::System},
    {Control::aboutButton,   "cmdAbout",  ControlKind::Button,   "About",           120, 1080,  1215,  495,   Paint::System, Paint::System},
    {Control::exitButton,    "cmdExit",   ControlKind::Button,   "E&xit",          1680, 1080,  1335,  495,   Paint::System, Paint::System},
    {Control::convertButton, "RipFrom",   ControlKind::Button,   "Convert",        3360, 1080,  1215,  495,   Paint::System, Paint::System},
}};
// clang-format on

constexpr std::size_t indexOf(Control control) {
    return static_cast<std::size_t>(control);
}
constexpr const ControlLayout& layoutOf(Control control) {
    return kControlLayouts[indexOf(control)];
}

// Each row sits at its role's index, so that layoutOf() finds it.
static_assert([] {
    for (std::size_t index = 0; index < kControlLayouts.size(); ++index)
        if (indexOf(kControlLayouts[index].role) != index)
            return false;
    return true;
}());

// The order Tab moves the focus in; it starts in the first. The labels take no focus.
inline constexpr std::array<Control, 6> kFocusOrder{Control::mapPathBox,    Control::convertButton,
                                                    Control::outputPathBox, Control::aboutButton,
                                                    Control::exitButton,    Control::infoButton};

// Rounds to the nearest pixel, halves away from zero, as the system's MulDiv does.
constexpr int twipsToPixels(int twips, int dpi = kStandardDpi) {
    return (2 * twips * dpi + kTwipsPerInch) / (2 * kTwipsPerInch);
}

// A rectangle in pixels, its right and bottom edges outside it.
struct PixelRect {
    int left, top, right, bottom;
    constexpr int width() const { return right - left; }
    constexpr int height() const { return bottom - top; }
    constexpr bool operator==(const PixelRect&) const = default;
};

// Each edge is rounded on its own, so that neighbouring controls keep their distances at any
// DPI.
constexpr PixelRect pixelRect(const ControlLayout& control, int dpi = kStandardDpi) {
    return {twipsToPixels(control.left, dpi), twipsToPixels(control.top, dpi),
            twipsToPixels(control.left + control.width, dpi),
            twipsToPixels(control.top + control.height, dpi)};
}

constexpr PixelRect clientPixelRect(int dpi = kStandardDpi) {
    return {0, 0, twipsToPixels(kClientWidthTwips, dpi), twipsToPixels(kClientHeightTwips, dpi)};
}

static_assert(clientPixelRect().width() == 312 && clientPixelRect().height() == 113);
static_assert(clientPixelRect(144).width() == 468 && clientPixelRect(144).height() == 170);

} // namespace quillmere

#pragma once

#include <QRect>
#include <QSize>
#include <array>
#include <string_view>

namespace quillmere {

// The window is laid out in twips (1/1440 inch). At 96 dots per inch a pixel is 15 twips;
// Qt scales those pixels for other screens.
inline constexpr int kTwipsPerPixel = 15;

enum class ControlKind { Label, TextBox, Button };
enum class Paint { System, Black, White };

struct ControlLayout {
    std::string_view name;
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
    // name       kind                  text             left   top  width height  text           background
    {"Label1",    ControlKind::Label,    "Map Name",          0,    0,   855,  255,   Paint::White,  Paint::Black},
    {"TilesPath", ControlKind::TextBox,  "Map.LVL",        1320,    0,  1815,  285,   Paint::Black,  Paint::System},
    {"Label2",    ControlKind::Label,    "Tile Set Name",     0,  480,  1095,  255,   Paint::White,  Paint::Black},
    {"RipPath",   ControlKind::TextBox,  "Tiles.BMP",      1320,  480,  1815,  285,   Paint::Black,  Paint::White},
    {"cmdInfo",   ControlKind::Button,   "Info",           3360,  120,  1215,  495,   Paint::System, Paint::System},
    {"cmdAbout",  ControlKind::Button,   "About",           120, 1080,  1215,  495,   Paint::System, Paint::System},
    {"cmdExit",   ControlKind::Button,   "E&xit",          1680, 1080,  1335,  495,   Paint::System, Paint::System},
    {"RipFrom",   ControlKind::Button,   "Convert",        3360, 1080,  1215,  495,   Paint::System, Paint::System},
}};
// clang-format on

constexpr int twipsToPixels(int twips) {
    return twips / kTwipsPerPixel;
}

inline QRect pixelGeometry(const ControlLayout& control) {
    return {twipsToPixels(control.left), twipsToPixels(control.top), twipsToPixels(control.width),
            twipsToPixels(control.height)};
}

inline QSize clientPixelSize() {
    return {twipsToPixels(kClientWidthTwips), twipsToPixels(kClientHeightTwips)};
}

} // namespace quillmere

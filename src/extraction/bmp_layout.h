#pragma once

// How a .bmp file lays out its pixels: read from its headers, for decoding a picture and for
// writing pixels into a tile set in the layout it already has.

#include "picture.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

namespace quillmere {

enum class BmpCompression : std::uint32_t {
    None = 0,
    Rle8 = 1,
    Rle4 = 2,
    BitFields = 3,
    AlphaBitFields = 6,
};

struct BmpLayout {
    std::uint32_t headerSize = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool topDown = false;
    std::uint16_t bitsPerPixel = 0;
    BmpCompression compression = BmpCompression::None;
    std::size_t pixelOffset = 0;
    std::size_t stride = 0; // bytes from one row to the next, when not compressed
    // 8 bits or fewer: where the palette starts, its entries and their size (3 or 4 bytes).
    std::size_t paletteOffset = 0;
    std::size_t paletteEntries = 0;
    std::size_t paletteEntrySize = 4;
    // More than 8 bits: red, green, blue and alpha (0: none) in a pixel's value.
    std::array<std::uint32_t, 4> masks{};

    bool indexed() const { return bitsPerPixel <= 8; }
    bool runLength() const {
        return compression == BmpCompression::Rle8 || compression == BmpCompression::Rle4;
    }
    // Where the pixel (x, y), counted from the top left, starts, and its first bit's shift.
    std::size_t rowOffset(std::uint32_t y) const {
        const std::uint32_t row = topDown ? y : height - 1 - y;
        return pixelOffset + std::size_t{row} * stride;
    }
};

// The layout, checked against the file's length: every pixel of an uncompressed file lies
// within it.
std::variant<BmpLayout, PictureProblem> readBmpLayout(std::span<const std::byte> file);

// A pixel's value as stored: an index into the palette, or bits for the masks (24 bits as
// 0xRRGGBB).
std::uint32_t pixelValue(std::span<const std::byte> file, const BmpLayout& layout, std::uint32_t x,
                         std::uint32_t y);
void setPixelValue(std::span<std::byte> file, const BmpLayout& layout, std::uint32_t x,
                   std::uint32_t y, std::uint32_t value);

Colour paletteColour(std::span<const std::byte> file, const BmpLayout& layout, std::size_t index);
void setPaletteColour(std::span<std::byte> file, const BmpLayout& layout, std::size_t index,
                      Colour colour);

// A value's colour through the layout's masks, and a colour as such a value; the bits outside
// the masks are `kept` from the value it replaces.
Colour maskedColour(const BmpLayout& layout, std::uint32_t value);
std::uint32_t maskedValue(const BmpLayout& layout, Colour colour, std::uint32_t kept);

} // namespace quillmere

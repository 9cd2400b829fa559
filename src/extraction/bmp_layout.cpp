#include "bmp_layout.h"

#include "result_wording.h"

#include <algorithm>
#include <bit>
#include <string>

namespace quillmere {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::array<std::uint32_t, 6> kHeaderSizes{12, 40, 52, 56, 108, 124};
constexpr std::size_t kMasksOffset = kFileHeaderSize + kInfoHeaderSize;

std::uint32_t le(std::span<const std::byte> file, std::size_t at, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;)
        value = (value << 8) | std::to_integer<std::uint32_t>(file[at + i]);
    return value;
}

void setLe(std::span<std::byte> file, std::size_t at, std::size_t width, std::uint32_t value) {
    for (std::size_t i = 0; i < width; ++i)
        file[at + i] = static_cast<std::byte>(value >> (8 * i));
}

PictureProblem problem(std::string reason) {
    return PictureProblem{std::move(reason)};
}

bool contiguous(std::uint32_t mask) {
    const std::uint32_t shifted = mask >> std::countr_zero(mask);
    return (shifted & (shifted + 1)) == 0;
}

// Overlapping masks are refused too: a colour written into them would come back as another.
bool validMasks(const BmpLayout& layout) {
    const std::uint64_t limit = std::uint64_t{1} << layout.bitsPerPixel;
    std::uint32_t taken = 0;
    for (std::size_t channel = 0; channel < 4; ++channel) {
        const std::uint32_t mask = layout.masks[channel];
        if (mask == 0 ? channel < 3 : (!contiguous(mask) || mask >= limit || (mask & taken) != 0))
            return false;
        taken |= mask;
    }
    return true;
}

std::variant<BmpLayout, PictureProblem> readMasks(std::span<const std::byte> file,
                                                  BmpLayout layout) {
    switch (layout.compression) {
    case BmpCompression::None:
        if (layout.bitsPerPixel == 16)
            layout.masks = {0x7C00, 0x03E0, 0x001F, 0};
        else // 24 and 32 bits; the fourth byte of 32 is unused, not alpha
            layout.masks = {0xFF0000, 0x00FF00, 0x0000FF, 0};
        return layout;
    case BmpCompression::BitFields:
    case BmpCompression::AlphaBitFields: {
        const bool alpha =
            layout.compression == BmpCompression::AlphaBitFields || layout.headerSize >= 56;
        const std::size_t count = alpha ? 4 : 3;
        if (file.size() < kMasksOffset + 4 * count)
            return problem("its bit fields are cut short");
        for (std::size_t channel = 0; channel < count; ++channel)
            layout.masks[channel] = le(file, kMasksOffset + 4 * channel, 4);
        if (!validMasks(layout))
            return problem("its bit fields do not describe red, green and blue");
        return layout;
    }
    case BmpCompression::Rle8:
    case BmpCompression::Rle4:
        break;
    }
    return layout;
}

} // namespace

std::variant<BmpLayout, PictureProblem> readBmpLayout(std::span<const std::byte> file) {
    if (file.size() < kFileHeaderSize + 4)
        return problem("its BMP header is cut short");
    BmpLayout layout;
    layout.headerSize = le(file, kFileHeaderSize, 4);
    if (std::find(kHeaderSizes.begin(), kHeaderSizes.end(), layout.headerSize) ==
        kHeaderSizes.end())
        return problem("its BMP header has " + std::to_string(layout.headerSize) +
                       " bytes, not 12, 40, 52, 56, 108 or 124 as a BMP header has");
    const std::size_t headerEnd = kFileHeaderSize + layout.headerSize;
    if (file.size() < headerEnd)
        return problem("its BMP header is cut short");
    layout.pixelOffset = le(file, 10, 4);

    std::uint32_t planes = 0;
    std::uint32_t coloursUsed = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (layout.headerSize == kCoreHeaderSize) {
        width = le(file, 18, 2);
        height = le(file, 20, 2);
        planes = le(file, 22, 2);
        layout.bitsPerPixel = static_cast<std::uint16_t>(le(file, 24, 2));
        layout.paletteEntrySize = 3;
    } else {
        width = static_cast<std::int32_t>(le(file, 18, 4));
        height = static_cast<std::int32_t>(le(file, 22, 4));
        planes = le(file, 26, 2);
        layout.bitsPerPixel = static_cast<std::uint16_t>(le(file, 28, 2));
        layout.compression = static_cast<BmpCompression>(le(file, 30, 4));
        coloursUsed = le(file, 46, 4);
    }
    layout.topDown = height < 0;
    height = height < 0 ? -height : height;
    if (width <= 0 || height <= 0)
        return problem("its header gives it no pixels (" + std::to_string(width) + " x " +
                       std::to_string(height) + ")");
    layout.width = static_cast<std::uint32_t>(width);
    layout.height = static_cast<std::uint32_t>(height);
    if (std::uint64_t{layout.width} * layout.height > kMaxPicturePixels)
        return problem("it has " + std::to_string(layout.width) + " x " +
                       std::to_string(layout.height) + " pixels, more than the " +
                       groupedDigits(kMaxPicturePixels) + " a picture may have");
    if (planes != 1)
        return problem("its header gives it " + std::to_string(planes) +
                       " planes, where a BMP has 1");

    const std::uint16_t bits = layout.bitsPerPixel;
    bool fits = false;
    switch (layout.compression) {
    case BmpCompression::None:
        fits = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
        break;
    case BmpCompression::Rle8:
        fits = bits == 8 && !layout.topDown;
        break;
    case BmpCompression::Rle4:
        fits = bits == 4 && !layout.topDown;
        break;
    case BmpCompression::BitFields:
    case BmpCompression::AlphaBitFields:
        fits = bits == 16 || bits == 32;
        break;
    }
    if (!fits)
        return problem("its pixels are stored in a way this program does not read (" +
                       std::to_string(bits) + " bits per pixel, compression " +
                       std::to_string(static_cast<std::uint32_t>(layout.compression)) +
                       "); it reads 1, 4, 8, 16, 24 and 32 bits, uncompressed, bit fields, "
                       "RLE4 and RLE8, with RLE rows bottom-up");

    if (layout.indexed()) {
        layout.paletteOffset = headerEnd;
        const std::size_t most = std::size_t{1} << bits;
        const std::size_t declared = coloursUsed > 0 && coloursUsed < most ? coloursUsed : most;
        const std::size_t room =
            layout.pixelOffset > headerEnd
                ? (std::min(layout.pixelOffset, file.size()) - headerEnd) / layout.paletteEntrySize
                : 0;
        layout.paletteEntries = std::min(declared, room);
        if (layout.paletteEntries == 0)
            return problem("it has no palette for its " + std::to_string(bits) + "-bit pixels");
    } else {
        auto masked = readMasks(file, layout);
        if (auto* failed = std::get_if<PictureProblem>(&masked))
            return *failed;
        layout = std::get<BmpLayout>(masked);
    }

    if (layout.pixelOffset < headerEnd)
        return problem("its pixel data offset, " + std::to_string(layout.pixelOffset) +
                       ", points into its header");
    if (layout.pixelOffset >= file.size())
        return problem("it is cut short: its pixels would start at byte " +
                       groupedDigits(layout.pixelOffset) + ", but it has " +
                       groupedDigits(file.size()) + " bytes");
    const std::uint64_t rowBits = std::uint64_t{layout.width} * bits;
    layout.stride = static_cast<std::size_t>((rowBits + 31) / 32 * 4);
    if (!layout.runLength()) {
        // The last row's padding may be left out, as some writers do.
        const std::uint64_t needed =
            std::uint64_t{layout.stride} * (layout.height - 1) + (rowBits + 7) / 8;
        const std::size_t present = file.size() - layout.pixelOffset;
        if (needed > present)
            return problem("it is cut short: its header claims " + std::to_string(layout.width) +
                           " x " + std::to_string(layout.height) + " pixels of " +
                           std::to_string(bits) + " bits, " + groupedDigits(needed) +
                           " bytes, but only " + groupedDigits(present) +
                           " follow its pixel data offset");
    }
    return layout;
}

namespace {

// Where a pixel of 8 bits or fewer lies in its row: its byte, and its bits in that byte, the
// leftmost pixel in the highest bits.
struct PackedPixel {
    std::size_t byte;
    unsigned shift;
    std::uint32_t mask; // before the shift
};

PackedPixel packedPixel(const BmpLayout& layout, std::size_t row, std::uint32_t x) {
    const std::size_t bit = std::size_t{x} * layout.bitsPerPixel;
    return {row + bit / 8, static_cast<unsigned>(8 - layout.bitsPerPixel - bit % 8),
            (1u << layout.bitsPerPixel) - 1};
}

} // namespace

std::uint32_t pixelValue(std::span<const std::byte> file, const BmpLayout& layout, std::uint32_t x,
                         std::uint32_t y) {
    const std::size_t row = layout.rowOffset(y);
    if (layout.bitsPerPixel <= 8) {
        const PackedPixel at = packedPixel(layout, row, x);
        return (std::to_integer<std::uint32_t>(file[at.byte]) >> at.shift) & at.mask;
    }
    const std::size_t width = layout.bitsPerPixel / 8u;
    return le(file, row + x * width, width);
}

void setPixelValue(std::span<std::byte> file, const BmpLayout& layout, std::uint32_t x,
                   std::uint32_t y, std::uint32_t value) {
    const std::size_t row = layout.rowOffset(y);
    if (layout.bitsPerPixel <= 8) {
        const PackedPixel at = packedPixel(layout, row, x);
        const std::uint32_t mask = at.mask << at.shift;
        std::byte& stored = file[at.byte];
        stored = static_cast<std::byte>((std::to_integer<std::uint32_t>(stored) & ~mask) |
                                        ((value << at.shift) & mask));
        return;
    }
    const std::size_t width = layout.bitsPerPixel / 8u;
    setLe(file, row + x * width, width, value);
}

Colour paletteColour(std::span<const std::byte> file, const BmpLayout& layout, std::size_t index) {
    const std::size_t at = layout.paletteOffset + index * layout.paletteEntrySize;
    return Colour{std::to_integer<std::uint8_t>(file[at + 2]),
                  std::to_integer<std::uint8_t>(file[at + 1]),
                  std::to_integer<std::uint8_t>(file[at]), 255};
}

void setPaletteColour(std::span<std::byte> file, const BmpLayout& layout, std::size_t index,
                      Colour colour) {
    // A fourth byte, where entries have one, stays as it was.
    const std::size_t at = layout.paletteOffset + index * layout.paletteEntrySize;
    file[at] = std::byte{colour.blue};
    file[at + 1] = std::byte{colour.green};
    file[at + 2] = std::byte{colour.red};
}

namespace {

std::uint8_t channelOf(std::uint32_t value, std::uint32_t mask) {
    const std::uint64_t most = mask >> std::countr_zero(mask);
    const std::uint64_t level = (value & mask) >> std::countr_zero(mask);
    return static_cast<std::uint8_t>((level * 255 + most / 2) / most);
}

std::uint32_t levelOf(std::uint8_t channel, std::uint32_t mask) {
    const std::uint64_t most = mask >> std::countr_zero(mask);
    const std::uint64_t level = (channel * most + 127) / 255;
    return static_cast<std::uint32_t>(level << std::countr_zero(mask));
}

} // namespace

Colour maskedColour(const BmpLayout& layout, std::uint32_t value) {
    const auto& m = layout.masks;
    return Colour{channelOf(value, m[0]), channelOf(value, m[1]), channelOf(value, m[2]),
                  m[3] == 0 ? std::uint8_t{255} : channelOf(value, m[3])};
}

std::uint32_t maskedValue(const BmpLayout& layout, Colour colour, std::uint32_t kept) {
    const auto& m = layout.masks;
    std::uint32_t value = kept & ~(m[0] | m[1] | m[2] | m[3]);
    value |= levelOf(colour.red, m[0]) | levelOf(colour.green, m[1]) | levelOf(colour.blue, m[2]);
    return value | m[3]; // the tile set's pixels are opaque
}

} // namespace quillmere

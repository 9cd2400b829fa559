// Reads a BMP or PNG picture into pixels. BMP is read here: its palette, its gap before the
// pixels and RLE are the parts that matter to a tile set, and stb_image reads neither RLE nor
// a palette it does not expand, nor a gap between palette and pixels. PNG's pixels come from
// stb_image (png_decode.cpp).

#include "bmp_layout.h"
#include "picture.h"
#include "png_decode.h"
#include "result_wording.h"

#include <algorithm>

namespace quillmere {
namespace {

PictureProblem problem(std::string reason) {
    return PictureProblem{std::move(reason)};
}

bool looksLikeBmp(std::span<const std::byte> file) {
    return file.size() >= 2 && file[0] == std::byte{'B'} && file[1] == std::byte{'M'};
}

PictureProblem notAPicture() {
    return problem("it is neither a BMP nor a PNG picture: it starts with neither \"BM\" nor "
                   "the PNG signature");
}

// RLE8 and RLE4 pixels, bottom-up, as indices from the top; pixels a run skips keep entry 0.
std::variant<std::vector<std::uint8_t>, PictureProblem>
runLengthIndices(std::span<const std::byte> file, const BmpLayout& layout) {
    const std::size_t width = layout.width;
    const std::size_t height = layout.height;
    std::vector<std::uint8_t> indices(width * height, 0);
    const bool four = layout.compression == BmpCompression::Rle4;
    std::size_t at = layout.pixelOffset;
    std::uint64_t x = 0;
    std::uint64_t row = 0; // from the bottom
    auto put = [&](std::uint32_t value) {
        if (x < width && row < height)
            indices[(height - 1 - static_cast<std::size_t>(row)) * width +
                    static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(value);
        ++x;
    };
    auto nibbleOrByte = [four](std::uint32_t byte, std::size_t i) {
        return four ? (i % 2 == 0 ? byte >> 4 : byte & 15) : byte;
    };
    const PictureProblem cutShort =
        problem("it is cut short: its RLE pixel data ends before its end mark");
    for (;;) {
        if (file.size() - at < 2)
            return cutShort;
        const auto count = std::to_integer<std::uint32_t>(file[at]);
        const auto value = std::to_integer<std::uint32_t>(file[at + 1]);
        at += 2;
        if (count > 0) {
            // Only the part of a run inside the picture is drawn: a run past a row's end would
            // otherwise cost a step a pixel for nothing, 255 a pair of bytes.
            const std::uint64_t drawn =
                row < height && x < width ? std::min<std::uint64_t>(count, width - x) : 0;
            for (std::size_t i = 0; i < drawn; ++i)
                put(nibbleOrByte(value, i));
            x += count - drawn;
            continue;
        }
        switch (value) {
        case 0: // end of a row
            x = 0;
            ++row;
            break;
        case 1: // end of the picture
            return indices;
        case 2: // move right and up
            if (file.size() - at < 2)
                return cutShort;
            x += std::to_integer<std::uint32_t>(file[at]);
            row += std::to_integer<std::uint32_t>(file[at + 1]);
            at += 2;
            break;
        default: { // pixels as they are, padded to an even number of bytes
            const std::size_t bytes = four ? (value + 1) / 2 : value;
            const std::size_t padded = bytes + bytes % 2;
            if (file.size() - at < padded)
                return cutShort;
            for (std::size_t i = 0; i < value; ++i)
                put(nibbleOrByte(std::to_integer<std::uint32_t>(file[at + (four ? i / 2 : i)]), i));
            at += padded;
            break;
        }
        }
    }
}

std::variant<Picture, PictureProblem> decodeBmp(std::span<const std::byte> file) {
    auto read = readBmpLayout(file);
    if (auto* failed = std::get_if<PictureProblem>(&read))
        return *failed;
    const BmpLayout& layout = std::get<BmpLayout>(read);
    Picture picture;
    picture.width = layout.width;
    picture.height = layout.height;
    const std::size_t count = std::size_t{layout.width} * layout.height;
    picture.pixels.resize(count);
    if (!layout.indexed()) {
        for (std::uint32_t y = 0; y < layout.height; ++y)
            for (std::uint32_t x = 0; x < layout.width; ++x)
                picture.pixels[std::size_t{y} * layout.width + x] =
                    maskedColour(layout, pixelValue(file, layout, x, y));
        // Writers that fill an alpha channel they do not use leave it all zero: opaque, as
        // other readers take it.
        if (std::all_of(picture.pixels.begin(), picture.pixels.end(),
                        [](const Colour& colour) { return colour.alpha == 0; }))
            for (auto& colour : picture.pixels)
                colour.alpha = 255;
        return picture;
    }

    if (layout.runLength()) {
        auto indices = runLengthIndices(file, layout);
        if (auto* failed = std::get_if<PictureProblem>(&indices))
            return *failed;
        picture.indices = std::move(std::get<std::vector<std::uint8_t>>(indices));
    } else {
        picture.indices.resize(count);
        for (std::uint32_t y = 0; y < layout.height; ++y)
            for (std::uint32_t x = 0; x < layout.width; ++x)
                picture.indices[std::size_t{y} * layout.width + x] =
                    static_cast<std::uint8_t>(pixelValue(file, layout, x, y));
    }
    picture.palette.resize(layout.paletteEntries);
    for (std::size_t i = 0; i < layout.paletteEntries; ++i)
        picture.palette[i] = paletteColour(file, layout, i);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t index = picture.indices[i];
        if (index >= picture.palette.size())
            return problem("its pixel (" + std::to_string(i % layout.width) + ", " +
                           std::to_string(i / layout.width) + ") uses palette entry " +
                           std::to_string(index) + ", but its palette has only " +
                           std::to_string(picture.palette.size()) + " entries");
        picture.pixels[i] = picture.palette[index];
    }
    return picture;
}

} // namespace

std::variant<PictureHeader, PictureProblem> readPictureHeader(std::span<const std::byte> file) {
    if (file.size() > kMaxPictureBytes)
        return problem("it has " + groupedDigits(file.size()) + " bytes, more than the " +
                       groupedDigits(kMaxPictureBytes) + " a picture may have");
    if (looksLikeBmp(file)) {
        auto layout = readBmpLayout(file);
        if (auto* failed = std::get_if<PictureProblem>(&layout))
            return *failed;
        const auto& bmp = std::get<BmpLayout>(layout);
        return PictureHeader{PictureFormat::Bmp, bmp.width, bmp.height};
    }
    if (looksLikePng(file)) {
        auto chunks = readPngChunks(file);
        if (auto* failed = std::get_if<PictureProblem>(&chunks))
            return *failed;
        const auto& png = std::get<PngChunks>(chunks);
        return PictureHeader{PictureFormat::Png, png.width, png.height};
    }
    return notAPicture();
}

std::variant<Picture, PictureProblem> decodePicture(std::span<const std::byte> file) {
    if (file.size() > kMaxPictureBytes)
        return std::get<PictureProblem>(readPictureHeader(file));
    if (looksLikeBmp(file))
        return decodeBmp(file);
    if (looksLikePng(file)) {
        auto chunks = readPngChunks(file);
        if (auto* failed = std::get_if<PictureProblem>(&chunks))
            return *failed;
        return decodePng(file, std::get<PngChunks>(chunks));
    }
    return notAPicture();
}

} // namespace quillmere

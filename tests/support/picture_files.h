#pragma once

// Small BMP and PNG files written by hand, in each of the layouts a picture can have, for the
// tests of reading pictures that must not depend on an editor being installed.

#include "picture.h"
#include "temp_folder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace quillmere::testing {

struct PixelGrid {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<Colour> pixels; // from the top left

    // Tiles of up to 8 colours, each channel 0 or 255, which every depth holds exactly.
    static PixelGrid tiles(std::uint32_t width, std::uint32_t height, unsigned colours = 8) {
        PixelGrid grid{width, height, {}};
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x)
                grid.pixels.push_back(primary((x / 3 + y / 2) % colours));
        return grid;
    }
    static Colour primary(unsigned k) {
        auto full = [k](unsigned bit) {
            return static_cast<std::uint8_t>((k & bit) != 0 ? 255 : 0);
        };
        return {full(1), full(2), full(4), 255};
    }
    Colour& at(std::uint32_t x, std::uint32_t y) { return pixels[std::size_t{y} * width + x]; }
    std::vector<Colour> palette() const {
        std::vector<Colour> distinct;
        for (const auto& colour : pixels)
            if (std::find(distinct.begin(), distinct.end(), colour) == distinct.end())
                distinct.push_back(colour);
        return distinct;
    }
};

inline void putLe(Bytes& bytes, std::size_t at, std::uint32_t value, int width) {
    if (bytes.size() < at + static_cast<std::size_t>(width))
        bytes.resize(at + static_cast<std::size_t>(width));
    for (int i = 0; i < width; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
}

struct BmpOptions {
    std::uint32_t headerSize = 40;
    int bitsPerPixel = 24;
    std::uint32_t compression = 0; // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
    bool topDown = false;
};

// 16 and 32 bits with bit fields are 5-6-5 and 8-8-8, else the defaults (5-5-5, 8-8-8).
inline Bytes bmpOf(const PixelGrid& grid, const BmpOptions& options) {
    const bool core = options.headerSize == 12;
    const int bits = options.bitsPerPixel;
    const std::vector<Colour> palette = bits <= 8 ? grid.palette() : std::vector<Colour>{};
    const std::size_t entrySize = core ? 3 : 4;
    const bool masks = options.compression == 3;
    const std::size_t maskBytes = masks && options.headerSize == 40 ? 12 : 0;
    const std::size_t offset = 14 + options.headerSize + maskBytes + palette.size() * entrySize;
    Bytes bmp(offset, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    putLe(bmp, 10, static_cast<std::uint32_t>(offset), 4);
    putLe(bmp, 14, options.headerSize, 4);
    const auto height = static_cast<std::int32_t>(grid.height);
    if (core) {
        putLe(bmp, 18, grid.width, 2);
        putLe(bmp, 20, grid.height, 2);
        putLe(bmp, 22, 1, 2);
        putLe(bmp, 24, static_cast<std::uint32_t>(bits), 2);
    } else {
        putLe(bmp, 18, grid.width, 4);
        putLe(bmp, 22, static_cast<std::uint32_t>(options.topDown ? -height : height), 4);
        putLe(bmp, 26, 1, 2);
        putLe(bmp, 28, static_cast<std::uint32_t>(bits), 2);
        putLe(bmp, 30, options.compression, 4);
        putLe(bmp, 46, static_cast<std::uint32_t>(palette.size()), 4);
    }
    const std::array<std::uint32_t, 3> fields =
        bits == 16 ? std::array<std::uint32_t, 3>{0xF800, 0x07E0, 0x001F}
                   : std::array<std::uint32_t, 3>{0xFF0000, 0x00FF00, 0x0000FF};
    if (masks)
        for (std::size_t i = 0; i < 3; ++i)
            putLe(bmp, 54 + 4 * i, fields[i], 4);
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const std::size_t at = 14 + options.headerSize + maskBytes + i * entrySize;
        bmp[at] = palette[i].blue;
        bmp[at + 1] = palette[i].green;
        bmp[at + 2] = palette[i].red;
    }
    auto indexOf = [&palette](const Colour& colour) {
        return static_cast<std::uint32_t>(std::find(palette.begin(), palette.end(), colour) -
                                          palette.begin());
    };
    auto valueOf = [&](const Colour& c) -> std::uint32_t {
        if (bits <= 8)
            return indexOf(c);
        if (bits == 16 && masks)
            return (std::uint32_t{c.red} >> 3) << 11 | (std::uint32_t{c.green} >> 2) << 5 |
                   (std::uint32_t{c.blue} >> 3);
        if (bits == 16)
            return (std::uint32_t{c.red} >> 3) << 10 | (std::uint32_t{c.green} >> 3) << 5 |
                   (std::uint32_t{c.blue} >> 3);
        return std::uint32_t{c.red} << 16 | std::uint32_t{c.green} << 8 | c.blue;
    };
    for (std::uint32_t row = 0; row < grid.height; ++row) {
        const std::uint32_t y = options.topDown ? row : grid.height - 1 - row;
        const Colour* line = &grid.pixels[std::size_t{y} * grid.width];
        if (options.compression == 1 || options.compression == 2) {
            // RLE8 rows as pixels in absolute mode; RLE4 rows as runs of two pixels.
            if (options.compression == 1) {
                bmp.push_back(0);
                bmp.push_back(static_cast<unsigned char>(grid.width));
                for (std::uint32_t x = 0; x < grid.width; ++x)
                    bmp.push_back(static_cast<unsigned char>(indexOf(line[x])));
                if (grid.width % 2 != 0)
                    bmp.push_back(0);
            } else {
                for (std::uint32_t x = 0; x < grid.width; x += 2) {
                    const bool pair = x + 1 < grid.width;
                    bmp.push_back(pair ? 2 : 1);
                    bmp.push_back(static_cast<unsigned char>(indexOf(line[x]) << 4 |
                                                             (pair ? indexOf(line[x + 1]) : 0)));
                }
            }
            bmp.push_back(0);
            bmp.push_back(row + 1 == grid.height ? 1 : 0);
            continue;
        }
        Bytes packed((std::size_t{grid.width} * static_cast<unsigned>(bits) + 31) / 32 * 4, 0);
        for (std::uint32_t x = 0; x < grid.width; ++x) {
            const std::uint32_t value = valueOf(line[x]);
            const std::size_t bit = std::size_t{x} * static_cast<unsigned>(bits);
            if (bits < 8)
                packed[bit / 8] = static_cast<unsigned char>(
                    packed[bit / 8] | value << (8 - static_cast<unsigned>(bits) - bit % 8));
            else
                putLe(packed, bit / 8, value, bits / 8);
        }
        bmp.insert(bmp.end(), packed.begin(), packed.end());
    }
    putLe(bmp, 2, static_cast<std::uint32_t>(bmp.size()), 4);
    return bmp;
}

inline void putBe(Bytes& bytes, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<unsigned char>(value >> shift));
}

inline std::uint32_t crc32Of(const unsigned char* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) != 0 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

inline void putChunk(Bytes& png, const char* name, const Bytes& data) {
    putBe(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), name, name + 4);
    png.insert(png.end(), data.begin(), data.end());
    putBe(png, crc32Of(&png[start], png.size() - start));
}

// A PNG of 8-bit samples: colour type 2 (RGB), 3 (palette) or 6 (RGBA); its pixels deflated
// into stored blocks, which need no compressor.
inline Bytes pngOf(const PixelGrid& grid, int colourType) {
    const std::vector<Colour> palette = colourType == 3 ? grid.palette() : std::vector<Colour>{};
    const std::size_t channels = colourType == 2 ? 3 : colourType == 6 ? 4 : 1;
    Bytes raw;
    for (std::uint32_t y = 0; y < grid.height; ++y) {
        raw.push_back(0); // no filter
        for (std::uint32_t x = 0; x < grid.width; ++x) {
            const Colour& c = grid.pixels[std::size_t{y} * grid.width + x];
            if (colourType == 3) {
                raw.push_back(static_cast<unsigned char>(
                    std::find(palette.begin(), palette.end(), c) - palette.begin()));
                continue;
            }
            const std::array<unsigned char, 4> rgba{c.red, c.green, c.blue, c.alpha};
            raw.insert(raw.end(), rgba.begin(), rgba.begin() + static_cast<long>(channels));
        }
    }
    Bytes zlib{0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    for (const unsigned char byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const std::size_t length = std::min<std::size_t>(65535, raw.size() - at);
        zlib.push_back(at + length == raw.size() ? 1 : 0);
        putLe(zlib, zlib.size(), static_cast<std::uint32_t>(length), 2);
        putLe(zlib, zlib.size(), static_cast<std::uint32_t>(~length & 0xFFFF), 2);
        zlib.insert(zlib.end(), raw.begin() + static_cast<long>(at),
                    raw.begin() + static_cast<long>(at + length));
    }
    putBe(zlib, b << 16 | a);

    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    putBe(header, grid.width);
    putBe(header, grid.height);
    header.insert(header.end(), {8, static_cast<unsigned char>(colourType), 0, 0, 0});
    putChunk(png, "IHDR", header);
    if (colourType == 3) {
        Bytes entries, alphas;
        for (const auto& c : palette) {
            entries.insert(entries.end(), {c.red, c.green, c.blue});
            alphas.push_back(c.alpha);
        }
        putChunk(png, "PLTE", entries);
        if (std::any_of(alphas.begin(), alphas.end(), [](unsigned char v) { return v != 255; }))
            putChunk(png, "tRNS", alphas);
    }
    putChunk(png, "IDAT", zlib);
    putChunk(png, "IEND", {});
    return png;
}

} // namespace quillmere::testing

// Writes a sample map: a 128 x 128 tile set of 64 tiles as a complete .bmp file in the
// first 49,713 bytes, followed by level data, the way the game lays out its maps. The tile set
// has 24 bits per pixel, or with --8-bit 8 bits and a palette of 256 colours.

#include "tile_set.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string_view>
#include <vector>

namespace {

constexpr int kSide = 128;
constexpr int kTileSide = 16;
constexpr std::size_t kHeaderBytes = 54;
constexpr std::size_t kPixelBytes = kSide * kSide * 3;
// The pixels end exactly where the tile set does; the gap after the header is unused.
constexpr std::size_t kPixelOffset = quillmere::kTileSetLength - kPixelBytes;
// The 8-bit tile set: header, palette, pixels, then unused bytes up to the tile set's end.
constexpr std::size_t kPaletteEntries = 256;
constexpr std::size_t kIndexedPixelOffset = kHeaderBytes + kPaletteEntries * 4;
constexpr std::size_t kLevelBytes = 8192;

struct Colour {
    std::uint8_t red, green, blue;
};

constexpr std::array<Colour, 8> kPalette{{
    {76, 153, 0},    // grass
    {30, 110, 200},  // water
    {170, 70, 40},   // brick
    {200, 180, 120}, // sand
    {110, 110, 120}, // stone
    {20, 90, 30},    // forest
    {230, 230, 240}, // snow
    {120, 70, 150},  // crystal
}};

Colour shade(Colour colour, int percent) {
    auto scale = [percent](int channel) {
        const int value = channel * percent / 100;
        return static_cast<std::uint8_t>(value > 255 ? 255 : value);
    };
    return {scale(colour.red), scale(colour.green), scale(colour.blue)};
}

// Each row of tiles is one material; each column a different pattern of it.
Colour pixelAt(int x, int y) {
    const int tileX = x / kTileSide, tileY = y / kTileSide;
    const int u = x % kTileSide, v = y % kTileSide;
    const Colour base = kPalette[static_cast<std::size_t>(tileY)];
    if (u == 0 || v == 0)
        return shade(base, 60);
    switch (tileX) {
    case 1:
        return ((u / 4 + v / 4) % 2) ? shade(base, 120) : base;
    case 2:
        return ((u + v) % 6 < 2) ? shade(base, 130) : base;
    case 3:
        return (v % 5 == 0) ? shade(base, 75) : base;
    case 4:
        return ((u - 8) * (u - 8) + (v - 8) * (v - 8) < 20) ? shade(base, 140) : base;
    case 5:
        return ((u * 7 + v * 13) % 11 == 0) ? shade(base, 150) : base;
    case 6:
        return shade(base, 70 + v * 4);
    case 7:
        return (u % 4 == 2 && v % 4 == 2) ? shade(base, 40) : base;
    default:
        return base;
    }
}

void putLittleEndian(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value,
                     int width) {
    for (int i = 0; i < width; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putHeader(std::vector<std::uint8_t>& map, std::size_t pixelOffset, int bitsPerPixel,
               std::size_t pixelBytes) {
    map[0] = 'B';
    map[1] = 'M';
    putLittleEndian(map, 2, quillmere::kTileSetLength, 4);
    putLittleEndian(map, 10, static_cast<std::uint32_t>(pixelOffset), 4);
    putLittleEndian(map, 14, 40, 4); // the info header's size
    putLittleEndian(map, 18, kSide, 4);
    putLittleEndian(map, 22, kSide, 4); // positive: rows run bottom-up
    putLittleEndian(map, 26, 1, 2);     // planes
    putLittleEndian(map, 28, static_cast<std::uint32_t>(bitsPerPixel), 2);
    putLittleEndian(map, 34, static_cast<std::uint32_t>(pixelBytes), 4);
    putLittleEndian(map, 38, 2835, 4); // 72 dpi
    putLittleEndian(map, 42, 2835, 4);
    static_assert(kHeaderBytes <= kPixelOffset);
}

void putTrueColourTiles(std::vector<std::uint8_t>& map) {
    putHeader(map, kPixelOffset, 24, kPixelBytes);
    for (int y = 0; y < kSide; ++y) {
        const std::size_t row = kPixelOffset + static_cast<std::size_t>(kSide - 1 - y) * kSide * 3;
        for (int x = 0; x < kSide; ++x) {
            const Colour colour = pixelAt(x, y);
            const std::size_t at = row + static_cast<std::size_t>(x) * 3;
            map[at] = colour.blue;
            map[at + 1] = colour.green;
            map[at + 2] = colour.red;
        }
    }
}

// Each colour the tiles use gets the next palette entry; the entries left over are grey.
void putIndexedTiles(std::vector<std::uint8_t>& map) {
    putHeader(map, kIndexedPixelOffset, 8, kSide * kSide);
    putLittleEndian(map, 46, kPaletteEntries, 4);
    std::vector<std::uint32_t> palette;
    for (int y = 0; y < kSide; ++y) {
        const std::size_t row =
            kIndexedPixelOffset + static_cast<std::size_t>(kSide - 1 - y) * kSide;
        for (int x = 0; x < kSide; ++x) {
            const Colour colour = pixelAt(x, y);
            const std::uint32_t key = (std::uint32_t{colour.red} << 16) |
                                      (std::uint32_t{colour.green} << 8) | colour.blue;
            std::size_t index = 0;
            while (index < palette.size() && palette[index] != key)
                ++index;
            if (index == palette.size() && index < kPaletteEntries)
                palette.push_back(key);
            map[row + static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>(std::min(index, kPaletteEntries - 1));
        }
    }
    for (std::size_t entry = 0; entry < kPaletteEntries; ++entry) {
        const std::uint32_t grey = static_cast<std::uint32_t>(entry) * 0x010101u;
        const std::uint32_t key = entry < palette.size() ? palette[entry] : grey;
        putLittleEndian(map, kHeaderBytes + entry * 4, key, 4);
    }
}

std::vector<std::uint8_t> sampleMap(bool indexed) {
    std::vector<std::uint8_t> map(quillmere::kTileSetLength + kLevelBytes, 0);
    if (indexed)
        putIndexedTiles(map);
    else
        putTrueColourTiles(map);
    // Level data: which tile stands where, 64 by 128 cells.
    for (std::size_t cell = 0; cell < kLevelBytes; ++cell)
        map[quillmere::kTileSetLength + cell] =
            static_cast<std::uint8_t>((cell * 37 + cell / 64) % 64);
    return map;
}

} // namespace

int main(int argc, char** argv) {
    const bool indexed = argc == 3 && std::string_view(argv[1]) == "--8-bit";
    // An option it does not know (--help among them) is no name to write a map to.
    const bool unknownOption = argc == 2 && argv[1][0] == '-';
    if ((argc != 2 && !indexed) || unknownOption) {
        std::cerr << "Usage: quillmere-sample-map [--8-bit] OUTPUT\n"
                  << "Write a sample map file whose first 49,713 bytes are a .bmp tile set,\n"
                  << "of 24 bits per pixel, or with --8-bit of 8 bits and a palette.\n";
        return 2;
    }
    const char* path = argv[argc - 1];
    const std::vector<std::uint8_t> map = sampleMap(indexed);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(map.data()), static_cast<std::streamsize>(map.size()));
    file.close();
    if (!file) {
        std::cerr << "quillmere-sample-map: could not write \"" << path << "\"\n";
        return 1;
    }
    return 0;
}

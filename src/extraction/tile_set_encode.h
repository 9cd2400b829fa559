#pragma once

// A picture an editor saved, written into the layout of the tile set a map already holds.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace quillmere {

enum class TileSetRefusal {
    Unreadable,     // the picture cannot be read: `reason`
    OtherSize,      // the picture is `width` x `height`, the tile set `mapWidth` x `mapHeight`
    NotOpaque,      // the pixel (x, y) is not fully opaque
    ColoursMissing, // `missingColours` colours are not in the palette; (x, y) is the first
    MapLayout,      // the map's tile set cannot take pixels: `reason`; only its exact layout can
};

struct TileSetProblem {
    TileSetRefusal kind = TileSetRefusal::Unreadable;
    std::string reason; // a clause, for Unreadable and MapLayout
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t mapWidth = 0;
    std::uint32_t mapHeight = 0;
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint64_t missingColours = 0;
    std::uint64_t paletteEntries = 0; // the tile set's
};

// The tile set `tileSet` (a map's first 49,713 bytes) with the pixels of `picture` written into
// its own layout; every byte that is not a pixel stays. A picture already laid out exactly as
// the tile set is taken byte for byte. Indexed tile sets keep the index of each pixel whose
// colour is unchanged, give a changed one its colour's entry, and take an indexed picture with
// as many palette entries, whose colours are not all in the palette, as a palette edit.
std::variant<std::vector<std::byte>, TileSetProblem>
encodeTileSet(std::span<const std::byte> tileSet, std::span<const std::byte> picture);

} // namespace quillmere

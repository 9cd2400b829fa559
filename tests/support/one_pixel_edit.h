#pragma once

// One pixel of the sample map's tile set (quillmere-sample-map: a 40-byte header, 128 x 128,
// bottom-up, 24 bits, or 8 with its palette at byte 54) edited in an image editor, and the check
// that putting the picture back changed that pixel's bytes alone.

#include "temp_folder.h"
#include "tile_set.h"

#include <array>
#include <string>

namespace quillmere::testing {

inline constexpr std::uint32_t kEditX = 5, kEditY = 7;       // in the first tile: grass
inline constexpr std::uint32_t kSourceX = 20, kSourceY = 40; // its new colour, from brick

struct SampleTileSet {
    const Bytes& map;
    std::size_t bytesPerPixel = map[28] / 8u;
    std::size_t offset = map[10] | std::size_t{map[11]} << 8;

    std::size_t at(std::uint32_t x, std::uint32_t y) const {
        return offset + ((127 - y) * 128 + x) * bytesPerPixel;
    }
    std::array<unsigned char, 3> rgb(std::uint32_t x, std::uint32_t y) const {
        const std::size_t pixel =
            bytesPerPixel == 1 ? 54 + 4 * std::size_t{map[at(x, y)]} : at(x, y);
        return {map[pixel + 2], map[pixel + 1], map[pixel]};
    }
};

// Empty when the maps have one size and differ only in the edited pixel's bytes; else what
// differs.
inline std::string strayChange(const Bytes& before, const Bytes& after) {
    if (after.size() != before.size())
        return "the map's size changed";
    const std::size_t edited = SampleTileSet{before}.at(kEditX, kEditY);
    for (std::size_t at = 0; at < after.size(); ++at)
        if (after[at] != before[at] && (at < edited || at >= edited + before[28] / 8u))
            return (at < kTileSetLength ? "the tile set's byte " : "the level data's byte ") +
                   std::to_string(at) + " changed";
    return {};
}

} // namespace quillmere::testing

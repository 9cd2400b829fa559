#pragma once

#include "temp_folder.h"
#include "tile_set.h"

#include <algorithm>

namespace quillmere::testing {

// What an output must hold after converting `map`: its first 49,713 bytes, the rest zeros.
inline Bytes tileSetOf(const Bytes& map) {
    Bytes tileSet(kTileSetLength, 0);
    std::copy_n(map.begin(), std::min(map.size(), kTileSetLength), tileSet.begin());
    return tileSet;
}

} // namespace quillmere::testing

#pragma once

// The least a safe conversion must do, the yardstick quillmere-tiles is measured against:
// open the map, read its tile set, write it into an unnamed temporary file in the output's
// folder, flush that, give it a name and rename it over the output. The caller flushes the
// folder. No checks, and nothing kept beyond the stack.

#include <cstddef>

namespace least {

inline constexpr std::size_t kTileSetLength = 49713;

// Reads the map's tile set into `tileSet`, zeros where the map is short. Returns null, or the
// step that failed with errno telling why.
const char* read(const char* map, char (&tileSet)[kTileSetLength]);

// Converts `map` into the file `output` of the open folder `folder`. Returns null, or the
// step that failed with errno telling why.
const char* convert(const char* map, int folder, const char* output);

} // namespace least

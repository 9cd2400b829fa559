#pragma once

// The least a safe conversion must do, the yardstick quillmere-tiles is measured against:
// open the map, read its tile set, write it into an unnamed temporary file in the output's
// folder, flush that, give it a name and rename it over the output, the old output held open
// across the rename (as quillmere-tiles holds it). The caller flushes the folder. No checks,
// and nothing kept beyond the stack.

#include <cstddef>

namespace least {

inline constexpr std::size_t kTileSetLength = 49713;

// Reads the map's tile set into `tileSet`, zeros where the map is short. Returns null, or the
// step that failed with errno telling why.
const char* read(const char* map, char (&tileSet)[kTileSetLength]);

// What is done with the output being replaced.
enum class OldOutput {
    // Held open from before the rename until after it: its blocks are released by that close,
    // outside the folder's lock.
    Held,
    // Not held: the rename takes its last link and releases its blocks while it holds the
    // folder's lock, and every other rename in that folder waits. The straw man.
    NotHeld,
};

// Opens the file `output` of `folder` so that it outlives its name: -1 when there is none.
int holdOldOutput(int folder, const char* output);

// Converts `map` into the file `output` of the open folder `folder`. Returns null, or the
// step that failed with errno telling why.
const char* convert(const char* map, int folder, const char* output,
                    OldOutput old = OldOutput::Held);

} // namespace least

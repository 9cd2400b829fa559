#pragma once

#include "put_tile_set.h"
#include "tile_set.h"

#include <string>
#include <string_view>

namespace quillmere {

inline constexpr std::string_view kCompletePrompt = "Operation Complete.";
inline constexpr std::string_view kTitleSeparator = " -> ";

// "Map.LVL -> Tiles.BMP": the two paths as typed.
std::string completionTitle(std::string_view mapPath, std::string_view outputPath);

// What to tell a person about one conversion, in one or two sentences; the window and the
// command line both say this. How it is shown (an icon, a stream) is theirs to choose.
std::string describeResult(const TileSetResult& result, std::string_view mapPath,
                           std::string_view outputPath);

// A conversion that wrote its output but left something a person should know: a short map, a
// map that does not start with a bitmap, or other names of the old output that still hold the
// old tile set.
bool deservesWarning(const TileSetResult& result);

// What to tell a person about putting a tile set back into its map: "Operation Complete." or
// one sentence naming the file and what is wrong with it.
std::string describePut(const PutResult& result, std::string_view tileSetPath,
                        std::string_view mapPath);

// A name as it may be shown to a person, in a terminal or a window: control characters, which
// could split a line or steer a terminal, become visible escapes as `ls -b` writes them (\n,
// \t, \033, and the UTF-8 C1 controls as \302\233), and so do the bidirectional controls,
// which could show a name reversed (U+202E as \342\200\256); everything else, backslashes
// included, stays as it is.
std::string visibleName(std::string_view name);

// 49713 as "49,713".
std::string groupedDigits(std::size_t number);

} // namespace quillmere

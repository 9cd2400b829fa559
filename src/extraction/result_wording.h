#pragma once

#include "put_tile_set.h"
#include "tile_set.h"

#include <string>
#include <string_view>

namespace quillmere {

// The message-box styles in use, by their numbers; each has a single OK button.
enum class MessageStyle : int {
    Plain = 0,
    Critical = 16,
    Warning = 48,
    Information = 64,
};

struct ResultMessage {
    std::string prompt;
    MessageStyle style;
};

inline constexpr std::string_view kCompletePrompt = "Operation Complete.";
inline constexpr std::string_view kTitleSeparator = " -> ";

// "Map.LVL -> Tiles.BMP": the two paths as typed.
std::string completionTitle(std::string_view mapPath, std::string_view outputPath);

// What to tell a person about one conversion; the window and the command line both say this.
ResultMessage describeResult(const TileSetResult& result, std::string_view mapPath,
                             std::string_view outputPath);

// What to tell a person about putting a tile set back into its map: "Operation Complete." or
// one sentence naming the file and what is wrong with it.
std::string describePut(const PutResult& result, std::string_view tileSetPath,
                        std::string_view mapPath);

// 49713 as "49,713".
std::string groupedDigits(std::size_t number);

} // namespace quillmere

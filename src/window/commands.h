#pragma once

#include "message_boxes.h"
#include "tile_set.h"

#include <functional>
#include <string>
#include <string_view>

namespace quillmere {

inline constexpr std::string_view kMessageTitle = "Quillmere Tile Converter";
inline constexpr std::string_view kAboutPrompt = "Converts Map tiles into a bmp. By quenrik5";
inline constexpr std::string_view kInfoPrompt = "Version 1.4 Made with crappy Visual Basic";

// Reads one path box's current text, in UTF-8, exactly as typed.
using PathText = std::function<std::string()>;

// How the window presents a conversion's result: its icon tells success, warning or failure.
MessageStyle messageStyleFor(const TileSetResult& result);

// The Convert button: converts the map named in the map box into the file named in the output
// box, then tells the person how it went, titled "map -> output" as the boxes read afterwards.
void convertCommand(const PathText& mapPathText, const PathText& outputPathText,
                    MessageBoxes& messages);

// The About and Info buttons: each shows its fixed text.
void aboutCommand(MessageBoxes& messages);
void infoCommand(MessageBoxes& messages);

} // namespace quillmere

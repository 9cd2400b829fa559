#pragma once

#include "tile_set_paths.h"

#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillmere::cli {

enum class Action { ConvertOne, ConvertMany, PutTileSet, ShowHelp, ShowVersion };

struct Invocation {
    Action action = Action::ConvertOne;
    std::string outputFolder;       // for ConvertMany
    std::vector<std::string> paths; // the map and the output, the maps, or the tile set and the map
};

struct UsageError {
    std::string message;
};

std::variant<Invocation, UsageError> parseCommandLine(std::span<const std::string> arguments);

// Where --output-dir puts a map's tile set; the window names a tile set the same way.
using quillmere::outputPathFor;

std::string helpText();

} // namespace quillmere::cli

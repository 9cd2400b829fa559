#pragma once

#include "tile_set_paths.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillmere::cli {

// As the program is installed and as it names itself in what it writes.
inline constexpr std::string_view kProgramName = "quillmere-tiles";

enum class Action { ConvertOne, ConvertMany, PutTileSet, ShowHelp, ShowVersion };

struct Invocation {
    Action action = Action::ConvertOne;
    std::string outputFolder; // for ConvertMany
    // The map and the output, the maps, or the tile set and the map: within the arguments.
    std::span<char* const> paths;
    // Where `paths` lies when wildcards among the maps were expanded (Windows): the names they
    // stand for, shared by every copy of the invocation.
    struct ExpandedPaths {
        std::vector<std::string> names;
        std::vector<char*> pointers;
    };
    std::shared_ptr<ExpandedPaths> expanded;
};

struct UsageError {
    std::string message;
};

// Reads the arguments that follow the program's name. Their paths are gathered, in their order,
// at the front of `arguments`, where Invocation::paths sees them: a batch of many maps keeps no
// copy of its list. On Windows, wildcards in the maps of a batch are expanded, since its shell
// leaves that to the program.
std::variant<Invocation, UsageError> parseCommandLine(std::span<char*> arguments);

// Where --output-dir puts a map's tile set; the window names a tile set the same way.
using quillmere::outputPathFor;

std::string helpText();

} // namespace quillmere::cli

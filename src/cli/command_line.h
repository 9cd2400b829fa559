#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace quillmere::cli {

enum class Action { ConvertOne, ConvertMany, ShowHelp, ShowVersion };

struct Invocation {
    Action action = Action::ConvertOne;
    std::string outputFolder;     // for ConvertMany
    std::span<char* const> paths; // the map and the output, or the maps: within the arguments
};

struct UsageError {
    std::string message;
};

// Reads the arguments that follow the program's name. Their paths are gathered, in their order,
// at the front of `arguments`, where Invocation::paths sees them: a batch of many maps keeps no
// copy of its list.
std::variant<Invocation, UsageError> parseCommandLine(std::span<char*> arguments);

// Where --output-dir puts a map's tile set: the map's file name, its last extension
// replaced by ".BMP", in the given folder.
std::string outputPathFor(std::string_view folder, std::string_view mapPath);

std::string helpText();

} // namespace quillmere::cli

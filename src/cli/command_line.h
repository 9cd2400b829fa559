#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillmere::cli {

enum class Action { ConvertOne, ConvertMany, ShowHelp, ShowVersion };

struct Invocation {
    Action action = Action::ConvertOne;
    std::string outputFolder;       // for ConvertMany
    std::vector<std::string> paths; // the map and the output, or the maps
};

struct UsageError {
    std::string message;
};

std::variant<Invocation, UsageError> parseCommandLine(std::span<const std::string> arguments);

// Where --output-dir puts a map's tile set: the map's file name, its last extension
// replaced by ".BMP", in the given folder.
std::string outputPathFor(std::string_view folder, std::string_view mapPath);

std::string helpText();

} // namespace quillmere::cli

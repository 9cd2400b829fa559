#include "command_line.h"

#include "quillmere/version.h"
#include "wildcards.h"

#include <algorithm>

namespace quillmere::cli {
namespace {

bool isOutputFolderOption(std::string_view argument) {
    return argument == "-d" || argument == "--output-dir";
}

std::variant<Invocation, UsageError> putInvocation(Invocation invocation, bool haveFolder) {
    if (haveFolder)
        return UsageError{"--put and --output-dir cannot be used together"};
    switch (invocation.paths.size()) {
    case 0:
        return UsageError{"--put needs the tile set and the map paths"};
    case 1:
        return UsageError{"missing the map path after '" + std::string(invocation.paths[0]) + "'"};
    case 2:
        invocation.action = Action::PutTileSet;
        return invocation;
    default:
        return UsageError{"too many paths: --put takes one tile set and one map"};
    }
}

#ifdef _WIN32
// cmd.exe hands `maps\*.LVL` over as typed: the maps it stands for take its place, among the
// first `maps` paths; the rest are kept as typed.
void expandWildcards(Invocation& invocation, std::size_t maps) {
    const auto given = invocation.paths;
    maps = std::min(maps, given.size());
    if (std::none_of(given.begin(), given.begin() + static_cast<std::ptrdiff_t>(maps),
                     [](const char* path) { return files::hasWildcard(path); }))
        return;
    auto expanded = std::make_shared<Invocation::ExpandedPaths>();
    for (std::size_t at = 0; at < given.size(); ++at) {
        if (at >= maps) {
            expanded->names.emplace_back(given[at]);
            continue;
        }
        for (auto& name : files::expandWildcard(given[at]))
            expanded->names.push_back(std::move(name));
    }
    for (auto& name : expanded->names)
        expanded->pointers.push_back(name.data());
    invocation.paths = expanded->pointers;
    invocation.expanded = std::move(expanded);
}
#endif

} // namespace

std::variant<Invocation, UsageError> parseCommandLine(std::span<char*> arguments) {
    Invocation invocation;
    bool haveFolder = false;
    bool put = false;
    bool optionsEnded = false;
    std::size_t paths = 0; // gathered so far at the front; never past `at`, so none is lost
    for (std::size_t at = 0; at < arguments.size(); ++at) {
        const std::string_view argument = arguments[at];
        if (optionsEnded || argument == "-" || !argument.starts_with('-')) {
            arguments[paths++] = arguments[at];
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-h" || argument == "--help") {
            return Invocation{Action::ShowHelp, {}, {}, {}};
        } else if (argument == "-V" || argument == "--version") {
            return Invocation{Action::ShowVersion, {}, {}, {}};
        } else if (argument == "--put") {
            put = true;
        } else {
            std::string folder;
            if (isOutputFolderOption(argument)) {
                if (at + 1 == arguments.size())
                    return UsageError{"option '" + std::string(argument) + "' needs a folder"};
                folder = arguments[++at];
            } else if (argument.starts_with("--output-dir=")) {
                folder = argument.substr(argument.find('=') + 1);
            } else if (argument.starts_with("-d")) {
                folder = argument.substr(2);
            } else {
                return UsageError{"unknown option '" + std::string(argument) + "'"};
            }
            if (haveFolder)
                return UsageError{"the output folder is given more than once"};
            if (folder.empty())
                return UsageError{"the output folder's path is empty"};
            invocation.outputFolder = std::move(folder);
            haveFolder = true;
        }
    }

    invocation.paths = arguments.first(paths);
    if (put)
        return putInvocation(std::move(invocation), haveFolder);
    if (haveFolder) {
        if (invocation.paths.empty())
            return UsageError{"no map files given"};
        invocation.action = Action::ConvertMany;
#ifdef _WIN32
        expandWildcards(invocation, invocation.paths.size());
#endif
        return invocation;
    }
#ifdef _WIN32
    // One map: a pattern must stand for one file.
    if (invocation.paths.size() == 2) {
        const std::string pattern = invocation.paths[0];
        expandWildcards(invocation, 1);
        if (invocation.paths.size() > 2)
            return UsageError{"'" + pattern + "' names " +
                              std::to_string(invocation.paths.size() - 1) +
                              " maps: give one map and one output, or use --output-dir"};
    }
#endif
    switch (invocation.paths.size()) {
    case 0:
        return UsageError{"missing the map and output paths"};
    case 1:
        return UsageError{"missing the output path after '" + std::string(invocation.paths[0]) +
                          "'"};
    case 2:
        return invocation;
    default:
        return UsageError{"too many paths: give one map and one output, or use --output-dir"};
    }
}

std::string helpText() {
    std::string text;
    for (const std::string_view form :
         {" [OPTION]... MAP OUTPUT\n", " --output-dir DIR MAP...\n", " --put TILESET MAP\n"}) {
        text += text.empty() ? "Usage: " : "  or:  ";
        text += kProgramName;
        text += form;
    }
    return text +
           "Copy the tile set kept at the start of a map file (its first 49,713 bytes,\n"
           "a complete .bmp file) into a bitmap file of its own, or put an edited one\n"
           "back.\n"
           "\n"
           "An existing output is replaced whole, or left as it was if anything\n"
           "fails. The map file is only read, except by --put.\n"
           "\n"
           "  -d, --output-dir DIR  convert each MAP into DIR/NAME.BMP, where NAME is\n"
           "                        the map's file name without its last extension\n"
           "      --put             put TILESET, the tile set as an editor saved it\n"
           "                        (any BMP or PNG of its size), back into MAP:\n"
           "                        its pixels go into the tile set's own layout in\n"
           "                        MAP's first 49,713 bytes, the rest is kept, and\n"
           "                        MAP is replaced whole\n"
           "  -h, --help            show this help and exit\n"
           "  -V, --version         show the version and exit\n"
           "  --                    treat every later argument as a path\n"
           "\n"
           "Exit status: 0 when every tile set was written (a map too short for a\n"
           "whole tile set, or one that does not start with a bitmap, is warned about\n"
           "on standard error), 1 when any map failed or --put refused or failed, 2\n"
           "for a usage error, 3 when the tile sets were written but their report\n"
           "could not be.\n"
           "\n" +
           std::string(kProgramName) + ' ' + kVersion + "\n";
}

} // namespace quillmere::cli

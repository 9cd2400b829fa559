#include "tile_set_paths.h"

namespace quillmere {
namespace {

#ifdef _WIN32
constexpr std::string_view kSeparators = "/\\:";
constexpr char kSeparator = '\\';
#else
constexpr std::string_view kSeparators = "/";
constexpr char kSeparator = '/';
#endif

} // namespace

std::string outputPathFor(std::string_view folder, std::string_view mapPath) {
    const auto separator = mapPath.find_last_of(kSeparators);
    std::string_view name =
        separator == std::string_view::npos ? mapPath : mapPath.substr(separator + 1);
    if (const auto dot = name.rfind('.'); dot != std::string_view::npos && dot > 0)
        name = name.substr(0, dot);

    std::string output(folder);
    // The folder is kept as typed; only the separator added is the program's, the platform's.
    if (!output.empty() && kSeparators.find(output.back()) == std::string_view::npos)
        output += kSeparator;
    output += name;
    output += ".BMP";
    return output;
}

std::string tileSetPathBeside(std::string_view mapPath) {
    // The folder keeps its own separator, so a Windows path stays in Windows' spelling.
    const auto separator = mapPath.find_last_of(kSeparators);
    const std::string_view folder =
        separator == std::string_view::npos ? std::string_view() : mapPath.substr(0, separator + 1);
    return outputPathFor(folder, mapPath);
}

} // namespace quillmere

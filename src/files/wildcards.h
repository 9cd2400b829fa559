#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillmere::files {

// Whether the last component of a path holds `*` or `?`, which cmd.exe passes on as typed for
// the program to expand, as Windows programs do.
inline bool hasWildcard(std::string_view path) {
    const auto separator = path.find_last_of("/\\:");
    const std::string_view name =
        separator == std::string_view::npos ? path : path.substr(separator + 1);
    return name.find_first_of("*?") != std::string_view::npos;
}

#ifdef _WIN32
// The files a path with wildcards in its last component names, sorted as a folder lists them
// (ignoring case), each as the path's folder as typed followed by the name found; folders are
// left out. The path itself, alone, when a file has that very name or nothing matches, so
// that it is reported by its name.
std::vector<std::string> expandWildcard(const std::string& path);
#endif

} // namespace quillmere::files

#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillmere::win32 {

class Convert;

// The map the window was started with, as Explorer's "Open with" starts it: the one argument of
// the wide command line, or nothing. More than one path is a usage error, said in `complaint`.
struct StartingMap {
    std::optional<std::wstring> path;
    std::wstring complaint;
};
StartingMap startingMap(std::wstring_view commandLine);

// Opens the window on a map: the map's path fills the map box, and the same name with its last
// extension replaced by ".BMP", in the map's folder, the tile set box.
void openMap(Convert& window, std::wstring_view mapPath);

} // namespace quillmere::win32

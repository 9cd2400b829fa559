#pragma once

#include <string>
#include <string_view>

namespace quillmere {

// Where a map's tile set goes when only a folder is given: the map's file name, its last
// extension replaced by ".BMP", in that folder.
std::string outputPathFor(std::string_view folder, std::string_view mapPath);

// The same name beside the map, in the map's own folder: "maps/Castle.LVL" gives
// "maps/Castle.BMP". What the window offers for a map it is opened with.
std::string tileSetPathBeside(std::string_view mapPath);

} // namespace quillmere

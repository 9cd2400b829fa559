#include "output_follows_map.h"

#include "tile_set_paths.h"

namespace quillmere {

std::optional<std::string> OutputFollowsMap::outputFor(std::string_view mapPath,
                                                       std::string_view outputText) {
    if (outputText != programs_)
        return std::nullopt;
    programs_ = tileSetPathBeside(mapPath);
    return programs_;
}

} // namespace quillmere

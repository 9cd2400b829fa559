#pragma once

#include "layout_table.h"

#include <optional>
#include <string>
#include <string_view>

namespace quillmere {

// The output box follows the map box while it still holds what the program put there: its first
// text, or the name derived for the last map chosen. A path the person typed is left alone.
class OutputFollowsMap {
public:
    // The output path to show for a newly chosen map, or nothing when the output box, which
    // holds `outputText` now, holds the person's own path.
    std::optional<std::string> outputFor(std::string_view mapPath, std::string_view outputText);

private:
    std::string programs_{layoutOf(Control::outputPathBox).text};
};

} // namespace quillmere

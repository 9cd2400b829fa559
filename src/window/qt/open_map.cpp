#include "open_map.h"

#include "convert_window.h"

namespace quillmere {

void openMap(Convert& window, const QString& mapPath) {
    window.chooseMap(mapPath);
}

} // namespace quillmere

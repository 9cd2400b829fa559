#pragma once

#include <QString>

namespace quillmere {

class Convert;

// Opens the window on a map, as a file manager does: the map's path fills the map box, and the
// same name with its last extension replaced by ".BMP", in the map's folder, the tile set box.
void openMap(Convert& window, const QString& mapPath);

} // namespace quillmere

#include "open_map.h"

#include "convert_window.h"
#include "path_box.h"
#include "tile_set_paths.h"

namespace quillmere {

void openMap(Convert& window, const QString& mapPath) {
    window.TilesPath->setText(mapPath);
    window.RipPath->setText(QString::fromStdString(tileSetPathBeside(mapPath.toStdString())));
}

} // namespace quillmere

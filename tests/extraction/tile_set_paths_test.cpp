#include "tile_set_paths.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

struct BesideCase {
    const char* name;
    std::string map;
    std::string tileSet;
};

TEST(TileSetPathBeside, ReplacesTheLastExtensionInTheMapsOwnFolder) {
    const std::vector<BesideCase> cases = {
        {"bare name", "Map.LVL", "Map.BMP"},
        {"relative folder", "maps/Castle.LVL", "maps/Castle.BMP"},
        {"absolute, two dots", "/home/me/cave.level.lvl", "/home/me/cave.level.BMP"},
        {"no extension", "maps/Castle", "maps/Castle.BMP"},
        {"dotted folder", "maps.d/Castle", "maps.d/Castle.BMP"},
        {"hidden name", "maps/.lvl", "maps/.lvl.BMP"},
        {"root folder", "/Castle.LVL", "/Castle.BMP"},
#ifdef _WIN32
        {"Windows folder", "C:\\Games\\Maps\\Castle.LVL", "C:\\Games\\Maps\\Castle.BMP"},
        {"drive only", "D:Castle.LVL", "D:Castle.BMP"},
#endif
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(tileSetPathBeside(row.map), row.tileSet);
    }
}

} // namespace
} // namespace quillmere

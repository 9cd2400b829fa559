#include "named_rows.h"
#include "tile_set_paths.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

struct BesideCase {
    const char* name;
    std::string map;
    std::string tileSet;
    QUILLMERE_PRINTS_ROW_NAME(BesideCase)
};

class TileSetPathBeside : public ::testing::TestWithParam<BesideCase> {};

TEST_P(TileSetPathBeside, ReplacesTheLastExtensionInTheMapsOwnFolder) {
    EXPECT_EQ(tileSetPathBeside(GetParam().map), GetParam().tileSet);
}

const BesideCase kBeside[] = {
    {"bare_name", "Map.LVL", "Map.BMP"},
    {"relative_folder", "maps/Castle.LVL", "maps/Castle.BMP"},
    {"absolute_two_dots", "/home/me/cave.level.lvl", "/home/me/cave.level.BMP"},
    {"no_extension", "maps/Castle", "maps/Castle.BMP"},
    {"dotted_folder", "maps.d/Castle", "maps.d/Castle.BMP"},
    {"hidden_name", "maps/.lvl", "maps/.lvl.BMP"},
    {"root_folder", "/Castle.LVL", "/Castle.BMP"},
#ifdef _WIN32
    {"windows_folder", "C:\\Games\\Maps\\Castle.LVL", "C:\\Games\\Maps\\Castle.BMP"},
    {"drive_only", "D:Castle.LVL", "D:Castle.BMP"},
#endif
};

INSTANTIATE_TEST_SUITE_P(Names, TileSetPathBeside, ::testing::ValuesIn(kBeside),
                         testing::rowName<BesideCase>);

struct OutputPathRow {
    const char* name;
    std::string folder;
    std::string map;
    std::string output;
    QUILLMERE_PRINTS_ROW_NAME(OutputPathRow)
};

class OutputPathFor : public ::testing::TestWithParam<OutputPathRow> {};

TEST_P(OutputPathFor, ReplacesTheLastExtensionInTheGivenFolder) {
    EXPECT_EQ(outputPathFor(GetParam().folder, GetParam().map), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Names, OutputPathFor,
    ::testing::Values(OutputPathRow{"plain", "out", "Map.LVL", "out/Map.BMP"},
                      OutputPathRow{"folder_with_slash", "out/", "maps/Map.LVL", "out/Map.BMP"},
                      OutputPathRow{"two_dots", "out", "maps/cave.level.lvl", "out/cave.level.BMP"},
                      OutputPathRow{"no_extension", "out", "NoExtension", "out/NoExtension.BMP"},
                      OutputPathRow{"hidden", "out", ".hidden", "out/.hidden.BMP"},
                      OutputPathRow{"dot_in_folder_only", "out", "maps.d/Map", "out/Map.BMP"},
                      OutputPathRow{"absolute_and_blanks", "/abs/out", "/abs/maps/ Spaced .LVL",
                                    "/abs/out/ Spaced .BMP"}),
    testing::rowName<OutputPathRow>);

} // namespace
} // namespace quillmere

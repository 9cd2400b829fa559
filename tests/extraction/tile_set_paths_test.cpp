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

// The separator the program adds between a folder and a name: the platform's.
#ifdef _WIN32
#define SEP "\\"
#else
#define SEP "/"
#endif

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

const OutputPathRow kOutputPaths[] = {
    {"plain", "out", "Map.LVL", "out" SEP "Map.BMP"},
    {"folder_with_slash", "out/", "maps/Map.LVL", "out/Map.BMP"},
    {"two_dots", "out", "maps/cave.level.lvl", "out" SEP "cave.level.BMP"},
    {"no_extension", "out", "NoExtension", "out" SEP "NoExtension.BMP"},
    {"hidden", "out", ".hidden", "out" SEP ".hidden.BMP"},
    {"dot_in_folder_only", "out", "maps.d/Map", "out" SEP "Map.BMP"},
    {"absolute_and_blanks", "/abs/out", "/abs/maps/ Spaced .LVL", "/abs/out" SEP " Spaced .BMP"},
#ifdef _WIN32
    {"typed_slashes_kept", "out/sub", "maps\\Castle.LVL", "out/sub\\Castle.BMP"},
    {"folder_with_backslash", "out\\", "maps/Castle.LVL", "out\\Castle.BMP"},
#endif
};

INSTANTIATE_TEST_SUITE_P(Names, OutputPathFor, ::testing::ValuesIn(kOutputPaths),
                         testing::rowName<OutputPathRow>);

} // namespace
} // namespace quillmere

#include "result_wording.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

struct WordingCase {
    const char* name;
    TileSetResult result;
    std::string mapPath;
    std::string outputPath;
    std::string prompt;
};

TileSetResult withOtherNames(TileSetResult result, std::uint64_t otherNames) {
    result.outputOtherNames = otherNames;
    return result;
}

TEST(DescribeResult, SaysWhatHappenedInOneSentenceNamingThePath) {
    const std::vector<WordingCase> cases = {
        {"complete", TileSetResult::complete(), "Map.LVL", "Tiles.BMP", "Operation Complete."},
        {"short map", TileSetResult::shortMap(40000), "Map.LVL", "Tiles.BMP",
         "Operation Complete. The map file held only 40,000 of the tile set's 49,713 bytes; "
         "the last 9,713 bytes are zeros."},
        {"one byte short", TileSetResult::shortMap(49712), "Map.LVL", "Tiles.BMP",
         "Operation Complete. The map file held only 49,712 of the tile set's 49,713 bytes; "
         "the last 1 byte is zero."},
        {"empty map", TileSetResult::shortMap(0), "Map.LVL", "Tiles.BMP",
         "Operation Complete. The map file is empty, so all 49,713 bytes of the tile set are "
         "zeros."},
        {"output had a hard link", withOtherNames(TileSetResult::complete(), 1), "Map.LVL",
         "Tiles.BMP",
         "Operation Complete. The old \"Tiles.BMP\" had 1 other name (a hard link), which still "
         "holds the old tile set."},
        {"short map, output had hard links", withOtherNames(TileSetResult::shortMap(0), 2),
         "Map.LVL", "Tiles.BMP",
         "Operation Complete. The map file is empty, so all 49,713 bytes of the tile set are "
         "zeros. The old \"Tiles.BMP\" had 2 other names (hard links), which still hold the old "
         "tile set."},
        {"map missing", TileSetResult::failed(FileRole::Map, {}, "No such file or directory"),
         "Map.LVL", "Tiles.BMP",
         "Could not read the map file \"Map.LVL\": No such file or directory."},
        {"disk full", TileSetResult::failed(FileRole::Output, "while writing", "No space left"),
         "Map.LVL", "out/Tiles.BMP",
         "Could not write the tile set \"out/Tiles.BMP\" while writing: No space left."},
        {"map path empty", TileSetResult::failed(FileRole::Map, {}, "no path was given"), "",
         "Tiles.BMP", "No map file was given: the map path is empty."},
        {"output path empty", TileSetResult::failed(FileRole::Output, {}, "no path was given"),
         "Map.LVL", "", "No tile set file was given: the output path is empty."},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(describeResult(row.result, row.mapPath, row.outputPath), row.prompt);
    }
}

TEST(CompletionTitle, JoinsThePathsAsTyped) {
    EXPECT_EQ(completionTitle("Map.LVL", "Tiles.BMP"), "Map.LVL -> Tiles.BMP");
    EXPECT_EQ(completionTitle("", "Tiles.BMP"), " -> Tiles.BMP");
    EXPECT_EQ(completionTitle(" a ", " b "), " a  ->  b ");
}

TEST(GroupedDigits, GroupsThousands) {
    EXPECT_EQ(groupedDigits(0), "0");
    EXPECT_EQ(groupedDigits(999), "999");
    EXPECT_EQ(groupedDigits(1000), "1,000");
    EXPECT_EQ(groupedDigits(49713), "49,713");
    EXPECT_EQ(groupedDigits(1234567), "1,234,567");
}

} // namespace
} // namespace quillmere

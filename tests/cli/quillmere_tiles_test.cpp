// Runs the real quillmere-tiles, the way a script would.

#include "run_process.h"
#include "tile_set.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace quillmere {
namespace {

using testing::Bytes;
using testing::patternBytes;
using testing::readFile;
using testing::runProcess;
using testing::TempFolder;
using testing::writeFile;

testing::ProcessResult tiles(const std::vector<std::string>& arguments, const TempFolder& folder) {
    std::vector<std::string> command{QUILLMERE_TILES_EXE};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runProcess(command, folder.path().string());
}

Bytes firstBytes(const Bytes& bytes, std::size_t count) {
    Bytes head(count, 0);
    std::copy_n(bytes.begin(), std::min(count, bytes.size()), head.begin());
    return head;
}

TEST(QuillmereTiles, ConvertsOneMapAndSaysSoOnStandardOutput) {
    TempFolder folder;
    const Bytes map = patternBytes(80000, 1);
    writeFile(folder / "Map.LVL", map);

    const auto run = tiles({"Map.LVL", "Tiles.BMP"}, folder);

    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "Map.LVL -> Tiles.BMP: Operation Complete.\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readFile(folder / "Tiles.BMP"), firstBytes(map, kTileSetLength));
}

TEST(QuillmereTiles, WarnsAboutAShortMapButSucceeds) {
    TempFolder folder;
    writeFile(folder / "Map.LVL", patternBytes(40000, 2));

    const auto run = tiles({"Map.LVL", "Tiles.BMP"}, folder);

    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "quillmere-tiles: Map.LVL -> Tiles.BMP: Operation Complete. The map file "
                       "held only 40,000 of the tile set's 49,713 bytes; the last 9,713 bytes "
                       "are zeros.\n");
    EXPECT_EQ(readFile(folder / "Tiles.BMP").size(), kTileSetLength);
}

TEST(QuillmereTiles, ReportsAFailureWithThePathAndTheReason) {
    TempFolder folder;

    const auto run = tiles({"Missing.LVL", "Tiles.BMP"}, folder);

    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "quillmere-tiles: Missing.LVL -> Tiles.BMP: Could not read the map file "
                       "\"Missing.LVL\": No such file or directory.\n");
    EXPECT_TRUE(folder.names().empty()) << "neither the map nor an output may be created";
}

TEST(QuillmereTiles, TakesNamesThatLookLikeOptionsAfterDoubleDash) {
    TempFolder folder;
    writeFile(folder / "-map.LVL", patternBytes(50000, 3));

    const auto run = tiles({"--", "-map.LVL", "-tiles.BMP"}, folder);

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(readFile(folder / "-tiles.BMP").size(), kTileSetLength);
}

TEST(QuillmereTiles, RejectsWrongUsageWithStatusTwo) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "missing the map and output paths"},
        {{"Map.LVL"}, "missing the output path"},
        {{"a", "b", "c"}, "too many paths"},
        {{"--frobnicate", "a", "b"}, "unknown option '--frobnicate'"},
        {{"-d"}, "needs a folder"},
        {{"-d", "out"}, "no map files given"},
        {{"-d", "out", "--output-dir=other", "a"}, "more than once"},
        {{"--put"}, "--put needs the tile set and the map paths"},
        {{"--put", "Tiles.BMP"}, "missing the map path after 'Tiles.BMP'"},
        {{"--put", "a", "b", "c"}, "--put takes one tile set and one map"},
        {{"--put", "-d", "out", "a", "b"}, "--put and --output-dir cannot be used together"},
    };
    for (const auto& [arguments, complaint] : cases) {
        SCOPED_TRACE(complaint);
        TempFolder folder;
        const auto run = tiles(arguments, folder);
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_NE(run.err.find(complaint), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
        EXPECT_TRUE(folder.names().empty());
    }
}

TEST(QuillmereTiles, HelpDescribesBothForms) {
    TempFolder folder;
    const auto run = tiles({"--help"}, folder);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_NE(run.out.find("MAP OUTPUT"), std::string::npos);
    EXPECT_NE(run.out.find("--output-dir DIR MAP..."), std::string::npos);
    EXPECT_NE(run.out.find("--put TILESET MAP"), std::string::npos);
}

// A map whose first bytes start as a bitmap does.
Bytes mapWithTileSet(std::size_t size, unsigned seed) {
    Bytes map = patternBytes(size, seed);
    map[0] = 'B';
    map[1] = 'M';
    return map;
}

TEST(QuillmereTiles, PuttingAnUneditedTileSetBackLeavesTheMapByteForByte) {
    TempFolder folder;
    const Bytes map = mapWithTileSet(60000, 11);
    writeFile(folder / "Map.LVL", map);
    ASSERT_EQ(tiles({"Map.LVL", "Tiles.BMP"}, folder).exitStatus, 0);

    const auto run = tiles({"--put", "Tiles.BMP", "Map.LVL"}, folder);

    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "Tiles.BMP -> Map.LVL: Operation Complete.\n");
    EXPECT_EQ(readFile(folder / "Map.LVL"), map);
    EXPECT_EQ(folder.names(), (std::set<std::string>{"Map.LVL", "Tiles.BMP"}));
}

TEST(QuillmereTiles, RefusesToPutAMisfitTileSetWithStatusOne) {
    TempFolder folder;
    const Bytes map = mapWithTileSet(60000, 12);
    writeFile(folder / "Map.LVL", map);
    writeFile(folder / "Tiles.BMP", patternBytes(100, 13));

    const auto run = tiles({"--put", "Tiles.BMP", "Map.LVL"}, folder);

    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "quillmere-tiles: Tiles.BMP -> Map.LVL: The tile set \"Tiles.BMP\" has 100 "
                       "bytes, not the 49,713 of a map's tile set.\n");
    EXPECT_EQ(readFile(folder / "Map.LVL"), map);
}

TEST(QuillmereTiles, ConvertsManyMapsIntoAFolderAndGoesOnPastFailures) {
    TempFolder folder;
    std::filesystem::create_directories(folder / "maps/other");
    std::filesystem::create_directory(folder / "out");
    const Bytes castle = patternBytes(60000, 4);
    const Bytes cave = patternBytes(50000, 5);
    writeFile(folder / "maps/Castle.LVL", castle);
    writeFile(folder / "maps/cave.level.lvl", cave);
    writeFile(folder / "maps/other/Castle.LVL", patternBytes(60000, 6));

    const auto run = tiles({"-d", "out", "maps/Castle.LVL", "maps/Missing.LVL",
                            "maps/cave.level.lvl", "maps/other/Castle.LVL"},
                           folder);

    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, "maps/Castle.LVL -> out/Castle.BMP: Operation Complete.\n"
                       "maps/cave.level.lvl -> out/cave.level.BMP: Operation Complete.\n");
    EXPECT_EQ(run.err,
              "quillmere-tiles: maps/Missing.LVL -> out/Missing.BMP: Could not read the map "
              "file \"maps/Missing.LVL\": No such file or directory.\n"
              "quillmere-tiles: maps/other/Castle.LVL -> out/Castle.BMP: Could not write the "
              "tile set \"out/Castle.BMP\": an earlier map in this run wrote it already.\n");
    EXPECT_EQ(readFile(folder / "out/Castle.BMP"), firstBytes(castle, kTileSetLength));
    EXPECT_EQ(readFile(folder / "out/cave.level.BMP"), firstBytes(cave, kTileSetLength));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "out"), {}), 2);
}

TEST(QuillmereTiles, ABatchReportsInTheMapsOrderAndAFailedMapFreesItsOutput) {
    TempFolder folder;
    std::filesystem::create_directories(folder / "maps/later");
    std::filesystem::create_directories(folder / "maps/last");
    std::filesystem::create_directory(folder / "out");
    // The first Shared.LVL is missing, the second writes out/Shared.BMP, the third may not.
    std::vector<std::string> arguments{"-d", "out", "maps/Shared.LVL", "maps/later/Shared.LVL",
                                       "maps/last/Shared.LVL"};
    std::string expected = "maps/later/Shared.LVL -> out/Shared.BMP: Operation Complete.\n";
    const Bytes shared = patternBytes(50000, 9);
    writeFile(folder / "maps/later/Shared.LVL", shared);
    writeFile(folder / "maps/last/Shared.LVL", patternBytes(50000, 8));
    for (int i = 0; i < 40; ++i) {
        const std::string name = "m" + std::to_string(i);
        writeFile(folder / ("maps/" + name + ".LVL"), patternBytes(50000, 10 + i));
        arguments.push_back("maps/" + name + ".LVL");
        expected += "maps/" + name + ".LVL -> out/" + name + ".BMP: Operation Complete.\n";
    }

    const auto run = tiles(arguments, folder);

    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, expected);
    EXPECT_NE(run.err.find("\"maps/Shared.LVL\""), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("maps/last/Shared.LVL -> out/Shared.BMP: Could not write the tile set "
                           "\"out/Shared.BMP\": an earlier map in this run wrote it already."),
              std::string::npos)
        << run.err;
    EXPECT_EQ(readFile(folder / "out/Shared.BMP"), firstBytes(shared, kTileSetLength));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "out"), {}), 41);
}

} // namespace
} // namespace quillmere

// Runs the real quillmere-tiles, the way a script would.

#include "named_rows.h"
#include "run_process.h"
#include "tile_set.h"
#include "tile_set_of.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace quillmere {
namespace {

using testing::Bytes;
using testing::patternBytes;
using testing::readFile;
using testing::runProcess;
using testing::TempFolder;
using testing::tileSetOf;
using testing::writeFile;

testing::ProcessResult tiles(const std::vector<std::string>& arguments, const TempFolder& folder) {
    std::vector<std::string> command{QUILLMERE_TILES_EXE};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runProcess(command, folder.path().string());
}

TEST(QuillmereTiles, ConvertsOneMapAndSaysSoOnStandardOutput) {
    TempFolder folder;
    const Bytes map = patternBytes(80000, 1);
    writeFile(folder / "Map.LVL", map);

    const auto run = tiles({"Map.LVL", "Tiles.BMP"}, folder);

    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "Map.LVL -> Tiles.BMP: Operation Complete.\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readFile(folder / "Tiles.BMP"), tileSetOf(map));
}

Bytes withFirstBytes(Bytes bytes, std::string_view first) {
    std::copy(first.begin(), first.end(), bytes.begin());
    return bytes;
}

struct WarningRow {
    const char* name;
    Bytes map;
    std::string warning;
    QUILLMERE_PRINTS_ROW_NAME(WarningRow)
};

class QuillmereTilesWarning : public ::testing::TestWithParam<WarningRow> {};

TEST_P(QuillmereTilesWarning, WritesTheTileSetAndWarnsOnStandardError) {
    TempFolder folder;
    writeFile(folder / "Map.LVL", GetParam().map);

    const auto run = tiles({"Map.LVL", "Tiles.BMP"}, folder);

    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "quillmere-tiles: Map.LVL -> Tiles.BMP: Operation Complete. " + GetParam().warning);
    EXPECT_EQ(readFile(folder / "Tiles.BMP"), tileSetOf(GetParam().map));
}

INSTANTIATE_TEST_SUITE_P(
    Maps, QuillmereTilesWarning,
    ::testing::Values(
        WarningRow{"short_map", patternBytes(40000, 2),
                   "The map file held only 40,000 of the tile set's 49,713 bytes; the last 9,713 "
                   "bytes are zeros.\n"},
        WarningRow{"not_a_bitmap", withFirstBytes(patternBytes(60000, 2), "MZ"),
                   "The map file does not start with a bitmap (its first bytes are not \"BM\"), "
                   "so it may not be a map.\n"}),
    testing::rowName<WarningRow>);

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

struct UsageRow {
    const char* name;
    std::vector<std::string> arguments;
    std::string complaint;
    QUILLMERE_PRINTS_ROW_NAME(UsageRow)
};

class QuillmereTilesUsage : public ::testing::TestWithParam<UsageRow> {};

TEST_P(QuillmereTilesUsage, RejectsWrongUsageWithStatusTwo) {
    TempFolder folder;
    const auto run = tiles(GetParam().arguments, folder);
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.err.find(GetParam().complaint), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
    EXPECT_TRUE(folder.names().empty());
}

INSTANTIATE_TEST_SUITE_P(
    WrongUsage, QuillmereTilesUsage,
    ::testing::Values(
        UsageRow{"no_paths", {}, "missing the map and output paths"},
        UsageRow{"map_only", {"Map.LVL"}, "missing the output path"},
        UsageRow{"three_paths", {"a", "b", "c"}, "too many paths"},
        UsageRow{"unknown_option", {"--frobnicate", "a", "b"}, "unknown option '--frobnicate'"},
        UsageRow{"folder_missing", {"-d"}, "needs a folder"},
        UsageRow{"no_maps", {"-d", "out"}, "no map files given"},
        UsageRow{"two_folders", {"-d", "out", "--output-dir=other", "a"}, "more than once"},
        UsageRow{"put_without_paths", {"--put"}, "--put needs the tile set and the map paths"},
        UsageRow{
            "put_tile_set_only", {"--put", "Tiles.BMP"}, "missing the map path after 'Tiles.BMP'"},
        UsageRow{
            "put_three_paths", {"--put", "a", "b", "c"}, "--put takes one tile set and one map"},
        UsageRow{"put_into_a_folder",
                 {"--put", "-d", "out", "a", "b"},
                 "--put and --output-dir cannot be used together"}),
    testing::rowName<UsageRow>);

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
    const std::string text = "Not a picture at all.\n";
    writeFile(folder / "Tiles.BMP", Bytes(text.begin(), text.end()));

    const auto run = tiles({"--put", "Tiles.BMP", "Map.LVL"}, folder);

    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "quillmere-tiles: Tiles.BMP -> Map.LVL: The picture \"Tiles.BMP\" cannot be "
                       "read: it is neither a BMP nor a PNG picture: it starts with neither "
                       "\"BM\" nor the PNG signature. Save it again as a BMP or PNG picture.\n");
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
    EXPECT_EQ(readFile(folder / "out/Castle.BMP"), tileSetOf(castle));
    EXPECT_EQ(readFile(folder / "out/cave.level.BMP"), tileSetOf(cave));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "out"), {}), 2);
}

TEST(QuillmereTiles, ShowsControlCharactersInNamesAsEscapesOneLineEach) {
    TempFolder folder;
    std::filesystem::create_directories(folder / "maps");
    std::filesystem::create_directory(folder / "out");
    writeFile(folder / "maps/evil\033]0;OWNED\007\033[2J.LVL", patternBytes(50000, 7));
    writeFile(folder / "maps/two\nlines.LVL", patternBytes(50000, 8));

    const auto run = tiles({"-d", "out", "maps/evil\033]0;OWNED\007\033[2J.LVL",
                            "maps/two\nlines.LVL", "maps/gone\r.LVL"},
                           folder);

    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out,
              "maps/evil\\033]0;OWNED\\a\\033[2J.LVL -> out/evil\\033]0;OWNED\\a\\033[2J.BMP: "
              "Operation Complete.\n"
              "maps/two\\nlines.LVL -> out/two\\nlines.BMP: Operation Complete.\n");
    EXPECT_EQ(run.err, "quillmere-tiles: maps/gone\\r.LVL -> out/gone\\r.BMP: Could not read the "
                       "map file \"maps/gone\\r.LVL\": No such file or directory.\n");
    EXPECT_EQ(readFile(folder / "out/two\nlines.BMP").size(), kTileSetLength);
}

struct LostReportRow {
    const char* name;
    testing::StandardOutput output;
    std::vector<std::string> arguments; // a batch's maps follow when `batch` is set
    bool batch;
    int exitStatus;
    std::string err;
    QUILLMERE_PRINTS_ROW_NAME(LostReportRow)
};

class QuillmereTilesLostReport : public ::testing::TestWithParam<LostReportRow> {};

// The tile sets are written all the same, none with a report in it; the lost report is said
// on standard error. A batch this long has its reports written while maps are converted.
TEST_P(QuillmereTilesLostReport, SaysSoAndExitsWithItsOwnStatus) {
    const LostReportRow& row = GetParam();
    TempFolder folder;
    std::filesystem::create_directory(folder / "out");
    std::vector<std::string> command{QUILLMERE_TILES_EXE};
    command.insert(command.end(), row.arguments.begin(), row.arguments.end());
    constexpr unsigned kMaps = 150;
    for (unsigned map = 0; row.batch && map < kMaps; ++map) {
        writeFile(folder / ("map" + std::to_string(map) + ".LVL"), patternBytes(50000, map));
        command.push_back("map" + std::to_string(map) + ".LVL");
    }

    const auto run = testing::ChildProcess(command, folder.path().string(), {}, row.output).wait();

    EXPECT_EQ(run.exitStatus, row.exitStatus);
    EXPECT_EQ(run.err, row.err);
    for (unsigned map = 0; row.batch && map < kMaps; ++map)
        EXPECT_TRUE(readFile(folder / ("out/map" + std::to_string(map) + ".BMP")) ==
                    tileSetOf(patternBytes(50000, map)))
            << "map" << map;
}

constexpr const char* kClosed =
    "quillmere-tiles: could not write its report to standard output: Bad file descriptor.\n";

INSTANTIATE_TEST_SUITE_P(
    Outputs, QuillmereTilesLostReport,
    ::testing::Values(
        LostReportRow{
            "closed_output", testing::StandardOutput::Closed, {"-d", "out"}, true, 3, kClosed},
        LostReportRow{"reader_gone",
                      testing::StandardOutput::ReaderGone,
                      {"-d", "out"},
                      true,
                      3,
                      "quillmere-tiles: could not write its report to standard output: Broken "
                      "pipe.\n"},
        LostReportRow{"a_failed_map_keeps_status_one",
                      testing::StandardOutput::Closed,
                      {"-d", "out", "Missing.LVL"},
                      true,
                      1,
                      std::string("quillmere-tiles: Missing.LVL -> out/Missing.BMP: Could not "
                                  "read the map file \"Missing.LVL\": No such file or "
                                  "directory.\n") +
                          kClosed},
        LostReportRow{
            "version", testing::StandardOutput::Closed, {"--version"}, false, 3, kClosed}),
    testing::rowName<LostReportRow>);

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
    EXPECT_EQ(readFile(folder / "out/Shared.BMP"), tileSetOf(shared));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "out"), {}), 41);
}

// Outputs of other names that lead to one file (as a folding file system's names would) are one
// output: a second map may not replace it; the same map, under another name, is written once.
TEST(QuillmereTiles, ABatchTellsOutputsApartByTheFileTheirNamesLeadTo) {
    TempFolder folder;
    std::filesystem::create_directories(folder / "out");
    const Bytes first = patternBytes(60000, 21);
    writeFile(folder / "First.LVL", first);
    writeFile(folder / "Other.LVL", patternBytes(60000, 22));
    writeFile(folder / "Apart.LVL", patternBytes(60000, 23));
    std::filesystem::create_symlink("First.LVL", folder / "Again.LVL");
    writeFile(folder / "out/First.BMP", Bytes(10, 0));
    std::filesystem::create_symlink("First.BMP", folder / "out/Other.BMP");
    std::filesystem::create_symlink("First.BMP", folder / "out/Again.BMP");

    const auto run =
        tiles({"-d", "out", "Apart.LVL", "First.LVL", "Other.LVL", "Again.LVL"}, folder);

    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, "Apart.LVL -> out/Apart.BMP: Operation Complete.\n"
                       "First.LVL -> out/First.BMP: Operation Complete.\n"
                       "Again.LVL -> out/Again.BMP: Operation Complete.\n");
    EXPECT_EQ(run.err, "quillmere-tiles: Other.LVL -> out/Other.BMP: Could not write the tile "
                       "set \"out/Other.BMP\": an earlier map in this run wrote it already.\n");
    EXPECT_EQ(readFile(folder / "out/First.BMP"), tileSetOf(first));
}

// Many maps at once, half of whose outputs are links to the others' names, in either order:
// whichever map comes first keeps the file, and the other fails, however the maps interleave.
TEST(QuillmereTiles, ABatchOfLinkedOutputsLetsTheEarliestMapKeepEachFile) {
    constexpr int kPairs = 48;
    for (const bool linkFirst : {false, true}) {
        TempFolder folder;
        std::filesystem::create_directories(folder / "out");
        std::vector<std::string> arguments{"-d", "out"};
        std::vector<Bytes> kept;
        for (int pair = 0; pair < kPairs; ++pair) {
            const std::string plain = "P" + std::to_string(pair), link = "L" + std::to_string(pair);
            const Bytes plainMap = patternBytes(50000, 100 + pair);
            writeFile(folder / (plain + ".LVL"), plainMap);
            const Bytes linkMap = patternBytes(50000, 200 + pair);
            writeFile(folder / (link + ".LVL"), linkMap);
            writeFile(folder / ("out/" + plain + ".BMP"), Bytes(10, 0));
            std::filesystem::create_symlink(plain + ".BMP", folder / ("out/" + link + ".BMP"));
            arguments.push_back((linkFirst ? link : plain) + ".LVL");
            arguments.push_back((linkFirst ? plain : link) + ".LVL");
            kept.push_back(linkFirst ? linkMap : plainMap);
        }

        const auto run = tiles(arguments, folder);

        EXPECT_EQ(run.exitStatus, 1);
        for (int pair = 0; pair < kPairs; ++pair) {
            const std::string plain = "P" + std::to_string(pair);
            const std::string later = linkFirst ? plain : "L" + std::to_string(pair);
            EXPECT_EQ(readFile(folder / ("out/" + plain + ".BMP")), tileSetOf(kept[pair]))
                << plain << (linkFirst ? " after its link" : " before its link");
            EXPECT_NE(run.err.find(later + ".LVL -> out/" + later +
                                   ".BMP: Could not write the tile set \"out/" + later +
                                   ".BMP\": an earlier map in this run wrote it already."),
                      std::string::npos)
                << run.err;
        }
    }
}

} // namespace
} // namespace quillmere

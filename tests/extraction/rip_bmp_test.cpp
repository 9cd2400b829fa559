#include "named_rows.h"
#include "temp_folder.h"
#include "tile_set.h"
#include "tile_set_of.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace quillmere {
namespace {

using testing::Bytes;
using testing::patternBytes;
using testing::readFile;
using testing::rowName;
using testing::TempFolder;
using testing::tileSetOf;
using testing::writeFile;

#ifdef _WIN32
// Windows says "cannot find", Wine "not found".
constexpr const char* kNotFound = "find|found";
constexpr const char* kPathNotFound = "find|found";
#else
constexpr const char* kNotFound = "No such file or directory";
constexpr const char* kPathNotFound = "No such file or directory";
#endif

// Every map size against every old output: none, shorter and longer than a tile set.
using SizeRow = std::tuple<std::size_t, std::optional<std::size_t>>;

std::string sizeRowName(const ::testing::TestParamInfo<SizeRow>& info) {
    const auto& [mapSize, oldOutputSize] = info.param;
    return "map_" + std::to_string(mapSize) + "_old_output_" +
           (oldOutputSize ? std::to_string(*oldOutputSize) : std::string("none"));
}

class RipBMPSizes : public ::testing::TestWithParam<SizeRow> {};

TEST_P(RipBMPSizes, OutputBecomesExactlyTheTileSet) {
    const auto& [mapSize, oldOutputSize] = GetParam();
    TempFolder folder;
    const Bytes map = patternBytes(mapSize, 1);
    writeFile(folder / "Map.LVL", map);
    if (oldOutputSize)
        writeFile(folder / "Tiles.BMP", patternBytes(*oldOutputSize, 2));

    const TileSetResult result = RipBMP(folder / "Map.LVL", folder / "Tiles.BMP");

    if (mapSize >= kTileSetLength) {
        EXPECT_EQ(result.outcome, TileSetOutcome::Complete);
    } else {
        EXPECT_EQ(result.outcome, TileSetOutcome::ShortMap);
        EXPECT_EQ(result.mapBytes, mapSize);
    }
    EXPECT_EQ(readFile(folder / "Tiles.BMP"), tileSetOf(map));
    EXPECT_EQ(readFile(folder / "Map.LVL"), map);
    EXPECT_EQ(folder.names(), (std::set<std::string>{"Map.LVL", "Tiles.BMP"}));
}

INSTANTIATE_TEST_SUITE_P(Sizes, RipBMPSizes,
                         ::testing::Combine(::testing::Values<std::size_t>(0, 40000, 49712, 49713,
                                                                           100000),
                                            ::testing::Values(std::optional<std::size_t>(),
                                                              std::optional<std::size_t>(10),
                                                              std::optional<std::size_t>(60000))),
                         sizeRowName);

TEST(RipBMP, CopiesTheByteWhereTheBlocksOverlap) {
    TempFolder folder;
    Bytes map(kTileSetLength, 0x11);
    map[kSecondBlockOffset] = 0xAB; // read by both blocks
    map[kFirstBlockLength] = 0xCD;  // first byte only the second block reads
    map[kTileSetLength - 1] = 0xEF; // last byte of the tile set
    writeFile(folder / "Map.LVL", map);

    ASSERT_EQ(RipBMP(folder / "Map.LVL", folder / "Tiles.BMP").outcome, TileSetOutcome::Complete);
    EXPECT_EQ(readFile(folder / "Tiles.BMP"), map);
}

enum class Setup {
    None,
    MapMissing,
    MapIsFolder,
    MapIsPipe,
    OutputIsFolder,
    OutputFolderMissing,
    SamePath,
    OutputLinksToMap,
    OutputHardLinkedToMap,
    MapPathEmpty,
    OutputPathEmpty,
};

// Whether `text` holds one of the '|'-separated `words`.
bool mentionsAny(const std::string& text, std::string_view words) {
    for (std::size_t start = 0; start <= words.size();) {
        const std::size_t end = std::min(words.find('|', start), words.size());
        if (text.find(words.substr(start, end - start)) != std::string::npos)
            return true;
        start = end + 1;
    }
    return false;
}

struct FailureCase {
    const char* name;
    Setup setup;
    FileRole failedFile;
    const char* reasonContains;
    QUILLMERE_PRINTS_ROW_NAME(FailureCase)
};

class RipBMPFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(RipBMPFailures, ChangeNothingAndSayWhy) {
    const FailureCase& row = GetParam();
    TempFolder folder;
    const Bytes map = patternBytes(60000, 3);
    const Bytes oldOutput = patternBytes(500, 4);
    std::string mapPath = folder / "Map.LVL";
    std::string outputPath = folder / "Tiles.BMP";
    writeFile(mapPath, map);
    writeFile(outputPath, oldOutput);

    switch (row.setup) {
    case Setup::None:
        break;
    case Setup::MapMissing:
        mapPath = folder / "Missing.LVL";
        break;
    case Setup::MapIsFolder:
        mapPath = folder.path().string();
        break;
    case Setup::MapIsPipe:
#ifndef _WIN32
        mapPath = folder / "pipe";
        ASSERT_EQ(::mkfifo(mapPath.c_str(), 0600), 0);
#endif
        break;
    case Setup::OutputIsFolder:
        outputPath = folder.path().string();
        break;
    case Setup::OutputFolderMissing:
        outputPath = folder / "no-such-folder/Tiles.BMP";
        break;
    case Setup::SamePath:
        outputPath = mapPath;
        break;
    case Setup::OutputLinksToMap:
        outputPath = folder / "link.BMP";
        std::filesystem::create_symlink("Map.LVL", outputPath);
        break;
    case Setup::OutputHardLinkedToMap:
        outputPath = folder / "hard.BMP";
        std::filesystem::create_hard_link(mapPath, outputPath);
        break;
    case Setup::MapPathEmpty:
        mapPath.clear();
        break;
    case Setup::OutputPathEmpty:
        outputPath.clear();
        break;
    }
    const auto namesBefore = folder.names();

    const TileSetResult result = RipBMP(mapPath, outputPath);

    EXPECT_EQ(result.outcome, TileSetOutcome::Failed);
    EXPECT_EQ(result.failedFile, row.failedFile);
    EXPECT_TRUE(mentionsAny(result.reason, row.reasonContains)) << result.reason;
    EXPECT_EQ(readFile(folder / "Map.LVL"), map);
    EXPECT_EQ(readFile(folder / "Tiles.BMP"), oldOutput);
    EXPECT_EQ(folder.names(), namesBefore);
}

const FailureCase kFailures[] = {
    {"map_missing", Setup::MapMissing, FileRole::Map, kNotFound},
    {"map_is_a_folder", Setup::MapIsFolder, FileRole::Map, "folder"},
#ifndef _WIN32
    {"map_is_a_named_pipe", Setup::MapIsPipe, FileRole::Map, "named pipe"},
#endif
    {"output_is_a_folder", Setup::OutputIsFolder, FileRole::Output, "folder"},
    {"output_folder_missing", Setup::OutputFolderMissing, FileRole::Output, kPathNotFound},
    {"same_path", Setup::SamePath, FileRole::Output, "map file itself"},
#ifndef _WIN32
    {"output_links_to_the_map", Setup::OutputLinksToMap, FileRole::Output, "map file itself"},
#endif
    {"output_hard_linked_to_the_map", Setup::OutputHardLinkedToMap, FileRole::Output,
     "map file itself"},
    {"map_path_empty", Setup::MapPathEmpty, FileRole::Map, "no path"},
    {"output_path_empty", Setup::OutputPathEmpty, FileRole::Output, "no path"},
};

INSTANTIATE_TEST_SUITE_P(Failures, RipBMPFailures, ::testing::ValuesIn(kFailures),
                         rowName<FailureCase>);

#ifndef _WIN32
class RipBMPThroughALink : public ::testing::TestWithParam<bool> {};

TEST_P(RipBMPThroughALink, WritesThroughItAndKeepsTheLink) {
    const bool targetExists = GetParam();
    TempFolder folder;
    const Bytes map = patternBytes(50000, 5);
    writeFile(folder / "Map.LVL", map);
    std::filesystem::create_directory(folder / "real");
    if (targetExists)
        writeFile(folder / "real/Tiles.BMP", patternBytes(60000, 6));
    std::filesystem::create_symlink("real/Tiles.BMP", folder / "Tiles.BMP");

    const TileSetResult result = RipBMP(folder / "Map.LVL", folder / "Tiles.BMP");
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "Tiles.BMP"));
    if (targetExists) {
        EXPECT_EQ(result.outcome, TileSetOutcome::Complete);
        EXPECT_EQ(readFile(folder / "real/Tiles.BMP"), tileSetOf(map));
    } else { // as cp does, a link to nothing is not written through
        EXPECT_EQ(result.reason, "it is a symbolic link to a file that does not exist");
        EXPECT_FALSE(std::filesystem::exists(folder / "real/Tiles.BMP"));
    }
    EXPECT_EQ(folder.names(), (std::set<std::string>{"Map.LVL", "Tiles.BMP", "real"}));
}

INSTANTIATE_TEST_SUITE_P(Links, RipBMPThroughALink, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "to_an_existing_output" : "dangling");
                         });

TEST(RipBMP, KeepsTheOldOutputsPermissionBits) {
    TempFolder folder;
    writeFile(folder / "Map.LVL", patternBytes(50000, 7));
    writeFile(folder / "Tiles.BMP", patternBytes(10, 8));
    ASSERT_EQ(::chmod((folder / "Tiles.BMP").c_str(), 0640), 0);

    ASSERT_EQ(RipBMP(folder / "Map.LVL", folder / "Tiles.BMP").outcome, TileSetOutcome::Complete);
    struct stat status {};
    ASSERT_EQ(::stat((folder / "Tiles.BMP").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}
#endif

TEST(RipBMP, ReadsAReadOnlyMapAndLeavesItUntouched) {
    TempFolder folder;
    const Bytes map = patternBytes(70000, 9);
    const std::string mapPath = folder / "Map.LVL";
    writeFile(mapPath, map);
    std::filesystem::permissions(mapPath, std::filesystem::perms::owner_read |
                                              std::filesystem::perms::group_read |
                                              std::filesystem::perms::others_read);
    const auto permissions = std::filesystem::status(mapPath).permissions();
    const auto modified = std::filesystem::last_write_time(mapPath);

    ASSERT_EQ(RipBMP(mapPath, folder / "Tiles.BMP").outcome, TileSetOutcome::Complete);
    EXPECT_EQ(std::filesystem::last_write_time(mapPath), modified);
    EXPECT_EQ(std::filesystem::status(mapPath).permissions(), permissions);
    EXPECT_EQ(readFile(mapPath), map);
    std::filesystem::permissions(mapPath, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
}

// Windows drops a file name's trailing blanks itself, so this holds where names are bytes.
#ifndef _WIN32
TEST(RipBMP, TakesPathsExactlyAsTyped) {
    TempFolder folder;
    const Bytes map = patternBytes(50000, 10);
    writeFile(folder / " Map.LVL ", map);
    writeFile(folder / "Map.LVL", patternBytes(50000, 11));

    ASSERT_EQ(RipBMP(folder / " Map.LVL ", folder / " Tiles.BMP").outcome,
              TileSetOutcome::Complete);
    EXPECT_EQ(readFile(folder / " Tiles.BMP"), tileSetOf(map));
    EXPECT_FALSE(std::filesystem::exists(folder / "Tiles.BMP"));
}
#endif

TEST(RipBMP, SecondConversionInARowBehavesLikeTheFirst) {
    TempFolder folder;
    const Bytes first = patternBytes(60000, 12);
    const Bytes second = patternBytes(45000, 13);
    writeFile(folder / "First.LVL", first);
    writeFile(folder / "Second.LVL", second);

    EXPECT_EQ(RipBMP(folder / "First.LVL", folder / "Tiles.BMP").outcome, TileSetOutcome::Complete);
    EXPECT_EQ(readFile(folder / "Tiles.BMP"), tileSetOf(first));
    EXPECT_EQ(RipBMP(folder / "Second.LVL", folder / "Tiles.BMP").outcome,
              TileSetOutcome::ShortMap);
    EXPECT_EQ(readFile(folder / "Tiles.BMP"), tileSetOf(second));
    EXPECT_EQ(folder.names(), (std::set<std::string>{"First.LVL", "Second.LVL", "Tiles.BMP"}));
}

} // namespace
} // namespace quillmere

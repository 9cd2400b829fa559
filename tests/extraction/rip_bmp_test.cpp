#include "temp_folder.h"
#include "tile_set.h"

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
using testing::TempFolder;
using testing::writeFile;

#ifdef _WIN32
// Windows says "cannot find", Wine "not found".
constexpr const char* kNotFound = "find|found";
constexpr const char* kPathNotFound = "find|found";
#else
constexpr const char* kNotFound = "No such file or directory";
constexpr const char* kPathNotFound = "No such file or directory";
#endif

// What the output must hold after a conversion of `map`: its first 49,713 bytes, zero-filled.
Bytes expectedTileSet(const Bytes& map) {
    Bytes tileSet(kTileSetLength, 0);
    std::copy_n(map.begin(), std::min(map.size(), kTileSetLength), tileSet.begin());
    return tileSet;
}

struct SizeCase {
    std::size_t mapSize;
    std::optional<std::size_t> oldOutputSize; // none: no output yet
};

TEST(RipBMP, OutputBecomesExactlyTheTileSetWhateverTheSizes) {
    const std::vector<SizeCase> cases = {
        {0, std::nullopt},      {0, 10},      {0, 60000},
        {40000, std::nullopt},  {40000, 10},  {40000, 60000},
        {49712, std::nullopt},  {49712, 10},  {49712, 60000},
        {49713, std::nullopt},  {49713, 10},  {49713, 60000},
        {100000, std::nullopt}, {100000, 10}, {100000, 60000},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE("map of " + std::to_string(row.mapSize) + " bytes, old output of " +
                     (row.oldOutputSize ? std::to_string(*row.oldOutputSize) : "none"));
        TempFolder folder;
        const Bytes map = patternBytes(row.mapSize, 1);
        writeFile(folder / "Map.LVL", map);
        if (row.oldOutputSize)
            writeFile(folder / "Tiles.BMP", patternBytes(*row.oldOutputSize, 2));

        const TileSetResult result = RipBMP(folder / "Map.LVL", folder / "Tiles.BMP");

        if (row.mapSize >= kTileSetLength) {
            EXPECT_EQ(result.outcome, TileSetOutcome::Complete);
        } else {
            EXPECT_EQ(result.outcome, TileSetOutcome::ShortMap);
            EXPECT_EQ(result.mapBytes, row.mapSize);
        }
        EXPECT_EQ(readFile(folder / "Tiles.BMP"), expectedTileSet(map));
        EXPECT_EQ(readFile(folder / "Map.LVL"), map);
        EXPECT_EQ(folder.names(), (std::set<std::string>{"Map.LVL", "Tiles.BMP"}));
    }
}

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
};

TEST(RipBMP, FailuresChangeNothingAndSayWhy) {
    const std::vector<FailureCase> cases = {
        {"map missing", Setup::MapMissing, FileRole::Map, kNotFound},
        {"map is a folder", Setup::MapIsFolder, FileRole::Map, "folder"},
#ifndef _WIN32
        {"map is a named pipe", Setup::MapIsPipe, FileRole::Map, "named pipe"},
#endif
        {"output is a folder", Setup::OutputIsFolder, FileRole::Output, "folder"},
        {"output folder missing", Setup::OutputFolderMissing, FileRole::Output, kPathNotFound},
        {"same path", Setup::SamePath, FileRole::Output, "map file itself"},
#ifndef _WIN32
        {"output links to the map", Setup::OutputLinksToMap, FileRole::Output, "map file itself"},
#endif
        {"output hard-linked to the map", Setup::OutputHardLinkedToMap, FileRole::Output,
         "map file itself"},
        {"map path empty", Setup::MapPathEmpty, FileRole::Map, "no path"},
        {"output path empty", Setup::OutputPathEmpty, FileRole::Output, "no path"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
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
}

#ifndef _WIN32
TEST(RipBMP, WritesThroughASymbolicLinkAndKeepsTheLink) {
    for (const bool targetExists : {true, false}) {
        SCOPED_TRACE(targetExists ? "link to an existing output" : "dangling link");
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
            EXPECT_EQ(readFile(folder / "real/Tiles.BMP"), expectedTileSet(map));
        } else { // as cp does, a link to nothing is not written through
            EXPECT_EQ(result.reason, "it is a symbolic link to a file that does not exist");
            EXPECT_FALSE(std::filesystem::exists(folder / "real/Tiles.BMP"));
        }
        EXPECT_EQ(folder.names(), (std::set<std::string>{"Map.LVL", "Tiles.BMP", "real"}));
    }
}

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
    EXPECT_EQ(readFile(folder / " Tiles.BMP"), expectedTileSet(map));
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
    EXPECT_EQ(readFile(folder / "Tiles.BMP"), expectedTileSet(first));
    EXPECT_EQ(RipBMP(folder / "Second.LVL", folder / "Tiles.BMP").outcome,
              TileSetOutcome::ShortMap);
    EXPECT_EQ(readFile(folder / "Tiles.BMP"), expectedTileSet(second));
    EXPECT_EQ(folder.names(), (std::set<std::string>{"First.LVL", "Second.LVL", "Tiles.BMP"}));
}

} // namespace
} // namespace quillmere

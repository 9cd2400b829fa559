#include "named_rows.h"
#include "put_tile_set.h"
#include "result_wording.h"
#include "temp_folder.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace quillmere {
namespace {

using testing::Bytes;
using testing::patternBytes;
using testing::readFile;
using testing::rowName;
using testing::TempFolder;
using testing::writeFile;

constexpr std::size_t kLevelBytes = 8192;

void setField(Bytes& bytes, std::size_t offset, std::size_t width, std::uint32_t value) {
    for (std::size_t at = 0; at < width; ++at)
        bytes[offset + at] = static_cast<unsigned char>(value >> (8 * at));
}

// A map as the game lays it out: a 128 x 128, 24-bit bitmap of 49,713 bytes, then the level.
Bytes sampleMap(unsigned seed) {
    Bytes map = patternBytes(kTileSetLength + kLevelBytes, seed);
    map[0] = 'B';
    map[1] = 'M';
    setField(map, 2, 4, kTileSetLength);
    setField(map, 10, 4, kTileSetLength - 128 * 128 * 3);
    setField(map, 14, 4, 40);
    setField(map, 18, 4, 128);
    setField(map, 22, 4, 128);
    setField(map, 26, 2, 1);
    setField(map, 28, 2, 24);
    setField(map, 30, 4, 0);
    return map;
}

// The map's tile set with its palette and pixels edited, the rest of its header kept.
Bytes editedTileSet(const Bytes& map) {
    Bytes tileSet(map.begin(), map.begin() + kTileSetLength);
    const Bytes edit = patternBytes(kTileSetLength, 99);
    std::copy(edit.begin() + 54, edit.end(), tileSet.begin() + 54);
    return tileSet;
}

struct Scene {
    TempFolder folder;
    Bytes map = sampleMap(1);
    Bytes tileSet = editedTileSet(map);
    std::string tileSetPath = folder / "Tiles.BMP";
    std::string mapPath = folder / "Map.LVL";
    bool tileSetIsTheMapsHardLink = false;

    void writeFiles() const {
        writeFile(folder / "Map.LVL", map);
        if (tileSetIsTheMapsHardLink)
            std::filesystem::create_hard_link(mapPath, folder / "Tiles.BMP");
        else
            writeFile(folder / "Tiles.BMP", tileSet);
    }
};

TEST(PutTileSet, WritesTheTileSetOverTheMapsStartAndKeepsTheRest) {
    Scene scene;
    scene.writeFiles();

    const PutResult result = PutTileSet(scene.tileSetPath, scene.mapPath);

    EXPECT_EQ(result.outcome, PutOutcome::Complete);
    Bytes expected = scene.tileSet;
    expected.insert(expected.end(), scene.map.begin() + kTileSetLength, scene.map.end());
    EXPECT_EQ(readFile(scene.mapPath), expected);
    EXPECT_EQ(scene.folder.names(), (std::set<std::string>{"Map.LVL", "Tiles.BMP"}));
}

TEST(PutTileSet, PuttingBackAnUneditedTileSetLeavesTheMapAsItWas) {
    Scene scene;
    writeFile(scene.mapPath, scene.map);
    ASSERT_EQ(RipBMP(scene.mapPath, scene.tileSetPath).outcome, TileSetOutcome::Complete);

    EXPECT_EQ(PutTileSet(scene.tileSetPath, scene.mapPath).outcome, PutOutcome::Complete);
    EXPECT_EQ(readFile(scene.mapPath), scene.map);
}

TEST(PutTileSet, KeepsTheMapsModeAndSaysThatItsOtherNamesHoldTheOldMap) {
    Scene scene;
    scene.writeFiles();
    namespace fs = std::filesystem;
    fs::permissions(scene.mapPath, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_hard_link(scene.mapPath, scene.folder / "Backup.LVL");

    const PutResult result = PutTileSet(scene.tileSetPath, scene.mapPath);

    EXPECT_EQ(result.outcome, PutOutcome::Complete);
    EXPECT_EQ(describePut(result, "T", "M"),
              "Operation Complete. The old \"M\" had 1 other name (a hard link), which still "
              "holds the old map.");
    EXPECT_EQ(readFile(scene.folder / "Backup.LVL"), scene.map);
#ifndef _WIN32
    EXPECT_EQ(fs::status(scene.mapPath).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
#endif
}

#ifndef _WIN32
TEST(PutTileSet, WritesThroughASymbolicLinkToTheMapAndKeepsTheLink) {
    Scene scene;
    scene.writeFiles();
    std::filesystem::create_symlink("Map.LVL", scene.folder / "Link.LVL");

    const PutResult result = PutTileSet(scene.tileSetPath, scene.folder / "Link.LVL");

    EXPECT_EQ(result.outcome, PutOutcome::Complete) << describePut(result, "T", "Link.LVL");
    EXPECT_TRUE(std::filesystem::is_symlink(scene.folder / "Link.LVL"));
    Bytes expected = scene.tileSet;
    expected.insert(expected.end(), scene.map.begin() + kTileSetLength, scene.map.end());
    EXPECT_EQ(readFile(scene.mapPath), expected);
}
#endif

struct RefusalCase {
    const char* name;
    std::function<void(Scene&)> setup;
    std::string prompt; // with the paths "T" and "M"
    QUILLMERE_PRINTS_ROW_NAME(RefusalCase)
};

class PutTileSetRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(PutTileSetRefusals, NameTheMismatchAndLeaveBothFilesAlone) {
    Scene scene;
    GetParam().setup(scene);
    scene.writeFiles();
    const Bytes mapBefore = readFile(scene.folder / "Map.LVL");
    const Bytes tileSetBefore = readFile(scene.folder / "Tiles.BMP");

    const PutResult result = PutTileSet(scene.tileSetPath, scene.mapPath);

    EXPECT_EQ(result.outcome, PutOutcome::Refused);
    EXPECT_EQ(describePut(result, "T", "M"), GetParam().prompt);
    EXPECT_EQ(readFile(scene.folder / "Map.LVL"), mapBefore);
    EXPECT_EQ(readFile(scene.folder / "Tiles.BMP"), tileSetBefore);
    EXPECT_EQ(scene.folder.names(), (std::set<std::string>{"Map.LVL", "Tiles.BMP"}));
}

const RefusalCase kRefusals[] = {
    {"tile_set_one_byte_short", [](Scene& s) { s.tileSet.pop_back(); },
     "The tile set \"T\" has 49,712 bytes, not the 49,713 of a map's tile set."},
    {"tile_set_one_byte_long", [](Scene& s) { s.tileSet.push_back(0); },
     "The tile set \"T\" has 49,714 bytes, not the 49,713 of a map's tile set."},
    {"tile_set_empty", [](Scene& s) { s.tileSet.clear(); },
     "The tile set \"T\" has 0 bytes, not the 49,713 of a map's tile set."},
    {"tile_set_not_a_bitmap", [](Scene& s) { s.tileSet[1] = 'X'; },
     "The tile set \"T\" is not a .bmp file: it does not start with \"BM\"."},
    {"map_shorter_than_a_tile_set", [](Scene& s) { s.map.resize(kTileSetLength - 1); },
     "The map file \"M\" has only 49,712 bytes, fewer than the 49,713 of the tile set it "
     "starts with."},
    {"map_not_starting_with_a_bitmap", [](Scene& s) { s.map[0] = 'b'; },
     "The map file \"M\" does not start with a tile set: its first bytes are not \"BM\", as "
     "a .bmp file's are."},
    {"other_file_size", [](Scene& s) { setField(s.tileSet, 2, 4, 49714); },
     "The tile set \"T\" is not laid out like the one in the map file \"M\": its file size "
     "is 49714, the map's is 49713."},
    {"other_pixel_data_offset", [](Scene& s) { setField(s.tileSet, 10, 4, 54); },
     "The tile set \"T\" is not laid out like the one in the map file \"M\": its pixel data "
     "offset is 54, the map's is 561."},
    {"other_header_size", [](Scene& s) { setField(s.tileSet, 14, 4, 124); },
     "The tile set \"T\" is not laid out like the one in the map file \"M\": its header "
     "size is 124, the map's is 40."},
    {"other_width", [](Scene& s) { setField(s.tileSet, 18, 4, 64); },
     "The tile set \"T\" is not laid out like the one in the map file \"M\": its width is "
     "64, the map's is 128."},
    {"other_height_top_down",
     [](Scene& s) { setField(s.tileSet, 22, 4, static_cast<std::uint32_t>(-128)); },
     "The tile set \"T\" is not laid out like the one in the map file \"M\": its height is "
     "-128, the map's is 128."},
    {"other_planes", [](Scene& s) { setField(s.tileSet, 26, 2, 2); },
     "The tile set \"T\" is not laid out like the one in the map file \"M\": its planes is "
     "2, the map's is 1."},
    {"other_bits_per_pixel", [](Scene& s) { setField(s.tileSet, 28, 2, 8); },
     "The tile set \"T\" is not laid out like the one in the map file \"M\": its bits per "
     "pixel is 8, the map's is 24."},
    {"other_compression", [](Scene& s) { setField(s.tileSet, 30, 4, 1); },
     "The tile set \"T\" is not laid out like the one in the map file \"M\": its "
     "compression is 1, the map's is 0."},
    {"same_path", [](Scene& s) { s.tileSetPath = s.mapPath; },
     "The tile set \"T\" and the map file \"M\" are the same file."},
    {"same_file_by_a_hard_link", [](Scene& s) { s.tileSetIsTheMapsHardLink = true; },
     "The tile set \"T\" and the map file \"M\" are the same file."},
};

INSTANTIATE_TEST_SUITE_P(Refusals, PutTileSetRefusals, ::testing::ValuesIn(kRefusals),
                         rowName<RefusalCase>);

struct ChangeCase {
    const char* name;
    std::function<void(const std::string&)> changeMap;
    QUILLMERE_PRINTS_ROW_NAME(ChangeCase)
};

class PutTileSetChangedMap : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(PutTileSetChangedMap, IsLeftAloneWhenItChangedAfterItWasRead) {
    Scene scene;
    scene.writeFiles();

    auto prepared = preparePut(scene.tileSetPath, scene.mapPath);
    ASSERT_TRUE(std::holds_alternative<PreparedPut>(prepared));
    GetParam().changeMap(scene.mapPath);
    const Bytes changed = readFile(scene.mapPath);
    const PutResult result = replaceMap(std::get<PreparedPut>(prepared));

    EXPECT_EQ(result.outcome, PutOutcome::MapChanged);
    EXPECT_EQ(describePut(result, "T", "M"),
              "The map file \"M\" changed while the tile set was being put into it, so it "
              "was left alone; run again to put the tile set into the map as it is now.");
    EXPECT_EQ(readFile(scene.mapPath), changed);
    EXPECT_EQ(scene.folder.names(), (std::set<std::string>{"Map.LVL", "Tiles.BMP"}));
}

const ChangeCase kChanges[] = {
    {"grown",
     [](const std::string& map) {
         Bytes longer = sampleMap(2);
         longer.push_back(0);
         writeFile(map, longer);
     }},
    {"rewritten_same_size",
     [](const std::string& map) {
         writeFile(map, sampleMap(3));
         std::filesystem::last_write_time(map, std::filesystem::last_write_time(map) +
                                                   std::chrono::seconds(2));
     }},
    {"replaced_by_another_file",
     [](const std::string& map) {
         writeFile(map + ".new", sampleMap(4));
         std::filesystem::rename(map + ".new", map);
     }},
};

INSTANTIATE_TEST_SUITE_P(Changes, PutTileSetChangedMap, ::testing::ValuesIn(kChanges),
                         rowName<ChangeCase>);

TEST(PutTileSet, AFileThatCannotBeReadIsNamedWithTheReason) {
    Scene scene;
    writeFile(scene.mapPath, scene.map);
    const PutResult missing = PutTileSet(scene.folder / "Missing.BMP", scene.mapPath);
    EXPECT_EQ(missing.outcome, PutOutcome::Failed);
    EXPECT_EQ(describePut(missing, "Missing.BMP", "M")
                  .rfind("Could not read the tile set "
                         "\"Missing.BMP\": ",
                         0),
              0u);
    const PutResult folder = PutTileSet(scene.mapPath, scene.folder.path().string());
    EXPECT_EQ(describePut(folder, "T", "maps"),
              "Could not read the map file \"maps\": it is a folder, not a file.");
    EXPECT_EQ(readFile(scene.mapPath), scene.map);
}

} // namespace
} // namespace quillmere

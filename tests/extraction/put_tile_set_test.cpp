#include "named_rows.h"
#include "picture_files.h"
#include "put_tile_set.h"
#include "result_wording.h"
#include "temp_folder.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace quillmere {
namespace {

using testing::bmpOf;
using testing::BmpOptions;
using testing::Bytes;
using testing::patternBytes;
using testing::PixelGrid;
using testing::pngOf;
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

// A map whose tile set has 8 bits per pixel: 256 palette entries, the 8 colours of a
// PixelGrid's first and entry 200 again as entry 1, then the pixels and unused bytes.
constexpr std::size_t kIndexedPixels = 54 + 256 * 4;
Bytes indexedMap(unsigned seed) {
    Bytes map = sampleMap(seed);
    setField(map, 10, 4, kIndexedPixels);
    setField(map, 28, 2, 8);
    setField(map, 46, 4, 0);
    for (std::uint32_t i = 0; i < 256; ++i) {
        const Colour c =
            i < 8 ? PixelGrid::primary(i)
                  : Colour{std::uint8_t(i), std::uint8_t(i / 2), std::uint8_t(255 - i), 255};
        const Colour shown = i == 200 ? PixelGrid::primary(1) : c;
        setField(map, 54 + 4 * i, 3,
                 std::uint32_t{shown.red} << 16 | std::uint32_t{shown.green} << 8 | shown.blue);
    }
    return map;
}

// The picture a map's tile set shows, read from its bytes: 24 bits or 8, 128 x 128, bottom-up.
PixelGrid pixelsOf(const Bytes& map) {
    const std::size_t offset = map[10] | std::size_t{map[11]} << 8;
    const bool indexed = map[28] == 8;
    PixelGrid grid{128, 128, {}};
    for (std::size_t y = 0; y < 128; ++y)
        for (std::size_t x = 0; x < 128; ++x) {
            std::size_t at = offset + (127 - y) * 128 * (indexed ? 1 : 3) + x * (indexed ? 1 : 3);
            if (indexed)
                at = 54 + 4 * std::size_t{map[at]};
            grid.pixels.push_back({map[at + 2], map[at + 1], map[at], 255});
        }
    return grid;
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

#ifndef _WIN32
// Level data can run to gigabytes, often mostly holes: the put copies it without holding it,
// and a hole stays a hole.
TEST(PutTileSet, KeepsALargeSparseMapSparse) {
    Scene scene;
    scene.writeFiles();
    constexpr std::uintmax_t kSize = 256u << 20;
    const Bytes middle = patternBytes(100000, 7);
    {
        std::fstream map(scene.mapPath, std::ios::in | std::ios::out | std::ios::binary);
        map.seekp(128 << 20);
        map.write(reinterpret_cast<const char*>(middle.data()),
                  static_cast<std::streamsize>(middle.size()));
    }
    std::filesystem::resize_file(scene.mapPath, kSize);
    struct stat before {};
    ASSERT_EQ(::stat(scene.mapPath.c_str(), &before), 0);

    const PutResult result = PutTileSet(scene.tileSetPath, scene.mapPath);

    ASSERT_EQ(result.outcome, PutOutcome::Complete) << describePut(result, "T", "M");
    struct stat after {};
    ASSERT_EQ(::stat(scene.mapPath.c_str(), &after), 0);
    EXPECT_EQ(static_cast<std::uintmax_t>(after.st_size), kSize);
    EXPECT_LE(after.st_blocks, before.st_blocks + 2048); // within 1 MiB
    const auto readAt = [&](std::streamoff offset, std::size_t length) {
        Bytes bytes(length);
        std::ifstream map(scene.mapPath, std::ios::binary);
        map.seekg(offset);
        map.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
        return bytes;
    };
    Bytes start = scene.tileSet;
    start.insert(start.end(), scene.map.begin() + kTileSetLength, scene.map.end());
    EXPECT_EQ(readAt(0, start.size()), start);
    EXPECT_EQ(readAt(128 << 20, middle.size()), middle);
}
#endif

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
    {"picture_empty", [](Scene& s) { s.tileSet.clear(); },
     "The picture \"T\" cannot be read: it is neither a BMP nor a PNG picture: it starts with "
     "neither \"BM\" nor the PNG signature. Save it again as a BMP or PNG picture."},
    {"picture_too_large", [](Scene& s) { s.tileSet.resize(kMaxPictureBytes + 1); },
     "The picture \"T\" has more than 16,777,216 bytes, far more than a tile set's picture "
     "needs."},
    {"bmp_header_cut_short", [](Scene& s) { s.tileSet.resize(30); },
     "The picture \"T\" cannot be read: its BMP header is cut short. Save it again as a BMP or "
     "PNG picture."},
    {"bmp_one_byte_short", [](Scene& s) { s.tileSet.pop_back(); },
     "The picture \"T\" cannot be read: it is cut short: its header claims 128 x 128 pixels of "
     "24 bits, 49,152 bytes, but only 49,151 follow its pixel data offset. Save it again as a "
     "BMP or PNG picture."},
    {"bmp_claims_more_pixels_than_it_has",
     [](Scene& s) {
         s.tileSet = bmpOf(PixelGrid::tiles(128, 128), {});
         setField(s.tileSet, 22, 4, 200);
     },
     "The picture \"T\" cannot be read: it is cut short: its header claims 128 x 200 pixels of "
     "24 bits, 76,800 bytes, but only 49,152 follow its pixel data offset. Save it again as a "
     "BMP or PNG picture."},
    {"bmp_with_two_planes", [](Scene& s) { setField(s.tileSet, 26, 2, 2); },
     "The picture \"T\" cannot be read: its header gives it 2 planes, where a BMP has 1. Save "
     "it again as a BMP or PNG picture."},
    {"bmp_pixel_past_its_palette", [](Scene& s) { setField(s.tileSet, 28, 2, 8); },
     "The picture \"T\" cannot be read: its pixel (6, 0) uses palette entry 216, but its "
     "palette has only 126 entries. Save it again as a BMP or PNG picture."},
    {"bmp_rle8_of_24_bits", [](Scene& s) { setField(s.tileSet, 30, 4, 1); },
     "The picture \"T\" cannot be read: its pixels are stored in a way this program does not "
     "read (24 bits per pixel, compression 1); it reads 1, 4, 8, 16, 24 and 32 bits, "
     "uncompressed, bit fields, RLE4 and RLE8, with RLE rows bottom-up. Save it again as a BMP "
     "or PNG picture."},
    {"png_with_a_bad_crc",
     [](Scene& s) {
         s.tileSet = pngOf(PixelGrid::tiles(128, 128), 2);
         s.tileSet[100] ^= 1;
     },
     "The picture \"T\" cannot be read: its PNG chunk \"IDAT\" fails its CRC check: the file "
     "is damaged. Save it again as a BMP or PNG picture."},
    {"png_inflating_past_its_pixels",
     [](Scene& s) {
         s.tileSet = pngOf(PixelGrid::tiles(128, 512), 2); // then its header says 128 rows
         setField(s.tileSet, 20, 4, 0);
         s.tileSet[23] = 128;
         const std::uint32_t crc = testing::crc32Of(&s.tileSet[12], 17);
         for (std::size_t i = 0; i < 4; ++i)
             s.tileSet[29 + i] = static_cast<unsigned char>(crc >> (24 - 8 * i));
     },
     "The picture \"T\" cannot be read: its PNG pixel data inflates to more than its 128 x 128 "
     "pixels need. Save it again as a BMP or PNG picture."},
    {"another_size", [](Scene& s) { s.tileSet = bmpOf(PixelGrid::tiles(64, 32), {}); },
     "The picture \"T\" is 64 x 32 pixels, but the tile set in the map file \"M\" is 128 x 128. "
     "Save it at 128 x 128 pixels."},
    {"bmp_not_opaque",
     [](Scene& s) {
         PixelGrid grid = PixelGrid::tiles(128, 128);
         s.tileSet = bmpOf(grid, {56, 32, 3});
         setField(s.tileSet, 66, 4, 0xFF000000); // an alpha mask; its bits are 0 but one pixel's
         s.tileSet[s.tileSet.size() - 1] = 0x80;
     },
     "The picture \"T\" is not fully opaque, first at pixel (0, 0), and the tile set has no "
     "transparency. Save it without an alpha channel, every pixel opaque."},
    {"not_opaque",
     [](Scene& s) {
         PixelGrid grid = PixelGrid::tiles(128, 128);
         grid.at(3, 2).alpha = 254;
         s.tileSet = pngOf(grid, 6);
     },
     "The picture \"T\" is not fully opaque, first at pixel (3, 2), and the tile set has no "
     "transparency. Save it without an alpha channel, every pixel opaque."},
    {"colours_the_palette_lacks",
     [](Scene& s) {
         s.map = indexedMap(1);
         PixelGrid grid = pixelsOf(s.map);
         grid.at(4, 1) = {1, 2, 3, 255};
         grid.at(9, 9) = {1, 2, 4, 255};
         grid.at(2, 9) = {1, 2, 3, 255};
         s.tileSet = pngOf(grid, 2);
     },
     "The picture \"T\" uses 2 colours that the tile set's palette lacks, first at pixel (4, 1). "
     "Use only the tile set's 256 colours, or save it as an indexed picture with 256 palette "
     "entries."},
    {"map_not_starting_with_a_bitmap", [](Scene& s) { s.map[0] = 'b'; },
     "The map file \"M\" does not start with a tile set: its first bytes are not \"BM\", as "
     "a .bmp file's are."},
    {"map_shorter_than_a_tile_set", [](Scene& s) { s.map.resize(kTileSetLength - 1); },
     "The map file \"M\" has only 49,712 bytes, fewer than the 49,713 of the tile set it "
     "starts with."},
    {"map_tile_set_rle_compressed",
     [](Scene& s) {
         setField(s.map, 28, 2, 8);
         setField(s.map, 30, 4, 1);
         s.tileSet = pngOf(PixelGrid::tiles(128, 128), 2);
     },
     "The tile set in the map file \"M\" cannot take new pixels: its pixels are RLE-compressed, "
     "and changed pixels would change their length. Only a tile set laid out exactly as the "
     "map's, as copied out of it, can be put back."},
    {"map_tile_set_bit_fields_overlap",
     [](Scene& s) {
         setField(s.map, 28, 2, 16);
         setField(s.map, 30, 4, 3);
         setField(s.map, 54, 4, 0xF800);
         setField(s.map, 58, 4, 0x0FE0); // shares bit 11 with red
         setField(s.map, 62, 4, 0x001F);
         s.tileSet = pngOf(PixelGrid::tiles(128, 128), 2);
     },
     "The tile set in the map file \"M\" cannot take new pixels: its bit fields do not describe "
     "red, green and blue. Only a tile set laid out exactly as the map's, as copied out of it, "
     "can be put back."},
    {"same_path", [](Scene& s) { s.tileSetPath = s.mapPath; },
     "The tile set \"T\" and the map file \"M\" are the same file."},
    {"same_file_by_a_hard_link", [](Scene& s) { s.tileSetIsTheMapsHardLink = true; },
     "The tile set \"T\" and the map file \"M\" are the same file."},
};

INSTANTIATE_TEST_SUITE_P(Refusals, PutTileSetRefusals, ::testing::ValuesIn(kRefusals),
                         rowName<RefusalCase>);

struct PictureCase {
    std::string name;
    bool intoIndexedMap = false;
    unsigned colours = 8;
    std::function<Bytes(const PixelGrid&)> write;
    QUILLMERE_PRINTS_ROW_NAME(PictureCase)
};

class PutTileSetPictures : public ::testing::TestWithParam<PictureCase> {};

TEST_P(PutTileSetPictures, WritesThePixelsIntoTheMapsLayoutAndKeepsEveryOtherByte) {
    const PictureCase& row = GetParam();
    Scene scene;
    if (row.intoIndexedMap)
        scene.map = indexedMap(5);
    const PixelGrid grid = PixelGrid::tiles(128, 128, row.colours);
    scene.tileSet = row.write(grid);
    scene.writeFiles();

    const PutResult result = PutTileSet(scene.tileSetPath, scene.mapPath);

    ASSERT_EQ(result.outcome, PutOutcome::Complete) << describePut(result, "T", "M");
    const Bytes after = readFile(scene.mapPath);
    ASSERT_EQ(after.size(), scene.map.size());
    EXPECT_EQ(pixelsOf(after).pixels, grid.pixels);
    const std::size_t start = row.intoIndexedMap ? kIndexedPixels : kTileSetLength - 128 * 128 * 3;
    const std::size_t end = start + 128 * 128 * (row.intoIndexedMap ? 1 : 3);
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + start, scene.map.begin()))
        << "the header, palette and gap stay";
    EXPECT_TRUE(std::equal(after.begin() + end, after.end(), scene.map.begin() + end))
        << "the bytes after the pixels and the level data stay";
}

std::vector<PictureCase> pictureCases() {
    auto bmp = [](BmpOptions options) {
        return [options](const PixelGrid& grid) { return bmpOf(grid, options); };
    };
    auto png = [](int colourType) {
        return [colourType](const PixelGrid& grid) { return pngOf(grid, colourType); };
    };
    const std::vector<PictureCase> pictures = {
        {"bmp_12_byte_header_8_bits", false, 8, bmp({12, 8})},
        {"bmp_12_byte_header_24_bits", false, 8, bmp({12, 24})},
        {"bmp_1_bit", false, 2, bmp({40, 1})},
        {"bmp_4_bits", false, 8, bmp({40, 4})},
        {"bmp_8_bits", false, 8, bmp({40, 8})},
        {"bmp_16_bits", false, 8, bmp({40, 16})},
        {"bmp_16_bits_bit_fields", false, 8, bmp({40, 16, 3})},
        {"bmp_24_bits_top_down", false, 8, bmp({40, 24, 0, true})},
        {"bmp_32_bits", false, 8, bmp({40, 32})},
        {"bmp_32_bits_bit_fields", false, 8, bmp({40, 32, 3})},
        {"bmp_rle8", false, 8, bmp({40, 8, 1})},
        {"bmp_rle4", false, 8, bmp({40, 4, 2})},
        {"bmp_52_byte_header_32_bits", false, 8, bmp({52, 32, 3})},
        {"bmp_56_byte_header_16_bits", false, 8, bmp({56, 16, 3})},
        {"bmp_32_bits_alpha_mask_all_zero", false, 8,
         [](const PixelGrid& grid) {
             Bytes picture = bmpOf(grid, {56, 32, 3});
             setField(picture, 66, 4, 0xFF000000);
             return picture;
         }},
        {"bmp_108_byte_header_24_bits", false, 8, bmp({108, 24})},
        {"bmp_124_byte_header_8_bits_top_down", false, 8, bmp({124, 8, 0, true})},
        {"png_rgb", false, 8, png(2)},
        {"png_palette", false, 8, png(3)},
        {"png_rgba_opaque", false, 8, png(6)},
    };
    std::vector<PictureCase> rows;
    for (const bool indexed : {false, true})
        for (PictureCase row : pictures) {
            row.name += indexed ? "_into_8_bits" : "_into_24_bits";
            row.intoIndexedMap = indexed;
            rows.push_back(row);
        }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Pictures, PutTileSetPictures, ::testing::ValuesIn(pictureCases()),
                         rowName<PictureCase>);

TEST(PutTileSet, AnUneditedPictureInAnotherLayoutPutsBackEveryByteAsItWas) {
    for (const Bytes& map : {sampleMap(7), indexedMap(7)}) {
        Scene scene;
        scene.map = map;
        scene.tileSet = pngOf(pixelsOf(map), 2); // entry 200 repeats entry 1: its pixels stay
        scene.writeFiles();
        EXPECT_EQ(PutTileSet(scene.tileSetPath, scene.mapPath).outcome, PutOutcome::Complete);
        EXPECT_EQ(readFile(scene.mapPath), map);
    }
}

TEST(PutTileSet, AnIndexedPictureWithTheMapsNumberOfEntriesIsAPaletteEdit) {
    Scene scene;
    scene.map = indexedMap(8);
    // The map's tile set without its unused end: another length, so decoded, not copied.
    scene.tileSet.assign(scene.map.begin(), scene.map.begin() + kIndexedPixels + 128 * 128);
    setField(scene.tileSet, 54 + 4 * 3, 3, 0x090807);
    scene.writeFiles();

    const PutResult result = PutTileSet(scene.tileSetPath, scene.mapPath);

    EXPECT_EQ(result.outcome, PutOutcome::Complete) << describePut(result, "T", "M");
    Bytes expected = scene.map;
    setField(expected, 54 + 4 * 3, 3, 0x090807);
    EXPECT_EQ(readFile(scene.mapPath), expected);
}

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

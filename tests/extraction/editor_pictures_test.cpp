// Pictures as real editors and image libraries save them, each with one pixel edited, put back
// into a map whose tile set has 24 bits per pixel and into one with 8 bits and a palette.

#include "named_rows.h"
#include "one_pixel_edit.h"
#include "put_tile_set.h"
#include "result_wording.h"
#include "run_process.h"
#include "temp_folder.h"

#include <gtest/gtest.h>
#include <iostream>

namespace quillmere {
namespace {

using namespace testing;

struct EditorCase {
    std::string name;
    std::string tool;  // a shell test that the tool is installed
    std::string edit;  // a shell command: Tiles.BMP with the pixel {X},{Y} made {R},{G},{B}
    std::string saved; // the picture it saves
    bool intoIndexedMap = false;
    QUILLMERE_PRINTS_ROW_NAME(EditorCase)
};

// What the editor wrote, for the table of what each tool saves.
std::string describe(const Bytes& picture) {
    if (picture.size() > 30 && picture[0] == 'B' && picture[1] == 'M') {
        const bool core = picture[14] == 12;
        return "BMP, " + std::to_string(picture[14]) + "-byte header, " +
               std::to_string(picture[core ? 24 : 28]) + " bits, compression " +
               std::to_string(core ? 0 : picture[30]);
    }
    if (picture.size() > 29 && picture[1] == 'P')
        return "PNG, " + std::to_string(picture[24]) + "-bit samples, colour type " +
               std::to_string(picture[25]) + (picture[28] != 0 ? ", interlaced" : "");
    return "neither BMP nor PNG";
}

std::string filledIn(std::string text, const std::array<unsigned char, 3>& colour) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%02x/%02x/%02x", colour[0], colour[1], colour[2]);
    const std::pair<std::string, std::string> fields[] = {
        {"{X}", std::to_string(kEditX)},    {"{Y}", std::to_string(kEditY)},
        {"{R}", std::to_string(colour[0])}, {"{G}", std::to_string(colour[1])},
        {"{B}", std::to_string(colour[2])}, {"{HEX}", hex}};
    for (const auto& [field, value] : fields)
        for (std::size_t at; (at = text.find(field)) != std::string::npos;)
            text.replace(at, field.size(), value);
    return text;
}

class EditorPictures : public ::testing::TestWithParam<EditorCase> {};

TEST_P(EditorPictures, PutBackChangeOnlyTheEditedPixel) {
    const EditorCase& row = GetParam();
    TempFolder folder;
    const std::string where = folder.path().string();
    if (runProcess({"/bin/sh", "-c", row.tool}, where).exitStatus != 0)
        GTEST_SKIP() << "not installed (" << row.tool << "): the row is left out";
    std::vector<std::string> sample{QUILLMERE_SAMPLE_MAP_EXE, "Map.LVL"};
    if (row.intoIndexedMap)
        sample.insert(sample.begin() + 1, "--8-bit");
    ASSERT_EQ(runProcess(sample, where).exitStatus, 0);
    ASSERT_EQ(RipBMP(folder / "Map.LVL", folder / "Tiles.BMP").outcome, TileSetOutcome::Complete);
    const Bytes map = readFile(folder / "Map.LVL");
    const auto colour = SampleTileSet{map}.rgb(kSourceX, kSourceY);
    ASSERT_NE(colour, SampleTileSet{map}.rgb(kEditX, kEditY));

    const auto edit = runProcess({"/bin/sh", "-c", filledIn(row.edit, colour)}, where);
    ASSERT_EQ(edit.exitStatus, 0) << edit.err;
    std::cout << "[ editor   ] " << row.name << ": " << describe(readFile(folder / row.saved))
              << '\n';
    const PutResult result = PutTileSet(folder / row.saved, folder / "Map.LVL");

    ASSERT_EQ(result.outcome, PutOutcome::Complete) << describePut(result, row.saved, "Map.LVL");
    const Bytes after = readFile(folder / "Map.LVL");
    EXPECT_EQ(SampleTileSet{after}.rgb(kEditX, kEditY), colour) << "the edited pixel";
    EXPECT_EQ(strayChange(map, after), "");
}

std::vector<EditorCase> editorCases() {
    const std::string magick = "command -v convert";
    const std::string im = "convert Tiles.BMP -fill 'rgb({R},{G},{B})' -draw 'point {X},{Y}' ";
    const std::string pillow = "/usr/bin/python3 -c 'import PIL'";
    auto pil = [](const std::string& convert, const std::string& name) {
        return "/usr/bin/python3 -c 'from PIL import Image\n"
               "im = Image.open(\"Tiles.BMP\")" +
               convert +
               "\n"
               "im.putpixel(({X}, {Y}), ({R}, {G}, {B}))\n"
               "im.save(\"" +
               name + "\")'";
    };
    const std::string netpbm = "command -v bmptopnm && command -v ppmtobmp && command -v pnmtopng";
    const std::string pbm = "bmptopnm Tiles.BMP 2>/dev/null > tiles.ppm && ppmmake rgb:{HEX} 1 1 "
                            "> dot.ppm && pnmpaste dot.ppm {X} {Y} tiles.ppm 2>/dev/null | ";
    const std::vector<EditorCase> editors = {
        {"imagemagick_bmp", magick, im + "Edited.bmp", "Edited.bmp"},
        {"imagemagick_bmp3", magick, im + "BMP3:Edited.bmp", "Edited.bmp"},
        {"imagemagick_bmp2_os2", magick, im + "BMP2:Edited.bmp", "Edited.bmp"},
        {"imagemagick_bmp_truecolour", magick, im + "-type TrueColor BMP3:Edited.bmp",
         "Edited.bmp"},
        {"imagemagick_bmp_indexed", magick,
         im + "+dither -type Palette -compress None BMP3:Edited.bmp", "Edited.bmp"},
        {"imagemagick_bmp_rle8", magick, im + "+dither -type Palette -compress RLE BMP3:Edited.bmp",
         "Edited.bmp"},
        {"imagemagick_png", magick, im + "Edited.png", "Edited.png"},
        {"imagemagick_png24", magick, im + "PNG24:Edited.png", "Edited.png"},
        {"imagemagick_png32_opaque", magick, im + "PNG32:Edited.png", "Edited.png"},
        {"imagemagick_png48", magick, im + "PNG48:Edited.png", "Edited.png"},
        {"imagemagick_png_interlaced", magick, im + "-interlace PNG Edited.png", "Edited.png"},
        {"pillow_bmp_rgb", pillow, pil(".convert(\"RGB\")", "Edited.bmp"), "Edited.bmp"},
        {"pillow_bmp_indexed", pillow, pil(".convert(\"P\", palette=Image.ADAPTIVE)", "Edited.bmp"),
         "Edited.bmp"},
        {"pillow_png_rgb", pillow, pil(".convert(\"RGB\")", "Edited.png"), "Edited.png"},
        {"pillow_png_rgba", pillow, pil(".convert(\"RGBA\")", "Edited.png"), "Edited.png"},
        {"pillow_png_indexed", pillow, pil(".convert(\"P\", palette=Image.ADAPTIVE)", "Edited.png"),
         "Edited.png"},
        {"netpbm_bmp", netpbm, pbm + "ppmtobmp 2>/dev/null > Edited.bmp", "Edited.bmp"},
        {"netpbm_bmp_24_bits", netpbm, pbm + "ppmtobmp -bpp 24 2>/dev/null > Edited.bmp",
         "Edited.bmp"},
        {"netpbm_bmp_os2", netpbm, pbm + "ppmtobmp -os2 2>/dev/null > Edited.bmp", "Edited.bmp"},
        {"netpbm_png", netpbm, pbm + "pnmtopng 2>/dev/null > Edited.png", "Edited.png"},
        {"netpbm_png_interlaced", netpbm, pbm + "pnmtopng -interlace 2>/dev/null > Edited.png",
         "Edited.png"},
    };
    std::vector<EditorCase> rows;
    for (const bool indexed : {false, true})
        for (EditorCase row : editors) {
            row.name += indexed ? "_into_8_bits" : "_into_24_bits";
            row.intoIndexedMap = indexed;
            rows.push_back(row);
        }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Editors, EditorPictures, ::testing::ValuesIn(editorCases()),
                         rowName<EditorCase>);

} // namespace
} // namespace quillmere

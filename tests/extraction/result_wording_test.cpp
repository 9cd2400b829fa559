#include "named_rows.h"
#include "result_wording.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using testing::rowName;

struct WordingRow {
    const char* name;
    TileSetResult result;
    std::string mapPath;
    std::string outputPath;
    std::string prompt;
    QUILLMERE_PRINTS_ROW_NAME(WordingRow)
};

TileSetResult withOtherNames(TileSetResult result, std::uint64_t otherNames) {
    result.outputOtherNames = otherNames;
    return result;
}

TileSetResult notBitmap(TileSetResult result) {
    result.mapStartsWithBitmap = false;
    return result;
}

class DescribeResult : public ::testing::TestWithParam<WordingRow> {};

TEST_P(DescribeResult, SaysWhatHappenedInOneSentenceNamingThePath) {
    const WordingRow& row = GetParam();
    EXPECT_EQ(describeResult(row.result, row.mapPath, row.outputPath), row.prompt);
    // Anything said beyond the plain outcome is a warning.
    EXPECT_EQ(deservesWarning(row.result),
              row.result.outcome != TileSetOutcome::Failed && row.prompt != kCompletePrompt);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, DescribeResult,
    ::testing::Values(
        WordingRow{"complete", TileSetResult::complete(), "Map.LVL", "Tiles.BMP",
                   "Operation Complete."},
        WordingRow{"short_map", TileSetResult::shortMap(40000), "Map.LVL", "Tiles.BMP",
                   "Operation Complete. The map file held only 40,000 of the tile set's 49,713 "
                   "bytes; the last 9,713 bytes are zeros."},
        WordingRow{"one_byte_short", TileSetResult::shortMap(49712), "Map.LVL", "Tiles.BMP",
                   "Operation Complete. The map file held only 49,712 of the tile set's 49,713 "
                   "bytes; the last 1 byte is zero."},
        WordingRow{"empty_map", TileSetResult::shortMap(0), "Map.LVL", "Tiles.BMP",
                   "Operation Complete. The map file is empty, so all 49,713 bytes of the tile "
                   "set are zeros."},
        WordingRow{"output_had_a_hard_link", withOtherNames(TileSetResult::complete(), 1),
                   "Map.LVL", "Tiles.BMP",
                   "Operation Complete. The old \"Tiles.BMP\" had 1 other name (a hard link), "
                   "which still holds the old tile set."},
        WordingRow{"short_map_output_had_hard_links", withOtherNames(TileSetResult::shortMap(0), 2),
                   "Map.LVL", "Tiles.BMP",
                   "Operation Complete. The map file is empty, so all 49,713 bytes of the tile "
                   "set are zeros. The old \"Tiles.BMP\" had 2 other names (hard links), which "
                   "still hold the old tile set."},
        WordingRow{"not_a_bitmap", notBitmap(TileSetResult::complete()), "Map.LVL", "Tiles.BMP",
                   "Operation Complete. The map file does not start with a bitmap (its first "
                   "bytes are not \"BM\"), so it may not be a map."},
        WordingRow{"short_and_not_a_bitmap", notBitmap(TileSetResult::shortMap(1)), "Map.LVL",
                   "Tiles.BMP",
                   "Operation Complete. The map file held only 1 of the tile set's 49,713 bytes; "
                   "the last 49,712 bytes are zeros. The map file does not start with a bitmap "
                   "(its first bytes are not \"BM\"), so it may not be a map."},
        WordingRow{"empty_is_not_called_not_a_bitmap", notBitmap(TileSetResult::shortMap(0)),
                   "Map.LVL", "Tiles.BMP",
                   "Operation Complete. The map file is empty, so all 49,713 bytes of the tile "
                   "set are zeros."},
        WordingRow{"map_missing",
                   TileSetResult::failed(FileRole::Map, {}, "No such file or directory"), "Map.LVL",
                   "Tiles.BMP",
                   "Could not read the map file \"Map.LVL\": No such file or directory."},
        WordingRow{"disk_full",
                   TileSetResult::failed(FileRole::Output, "while writing", "No space left"),
                   "Map.LVL", "out/Tiles.BMP",
                   "Could not write the tile set \"out/Tiles.BMP\" while writing: No space "
                   "left."},
        WordingRow{"map_path_empty", TileSetResult::failed(FileRole::Map, {}, "no path was given"),
                   "", "Tiles.BMP", "No map file was given: the map path is empty."},
        WordingRow{"output_path_empty",
                   TileSetResult::failed(FileRole::Output, {}, "no path was given"), "Map.LVL", "",
                   "No tile set file was given: the output path is empty."}),
    rowName<WordingRow>);

struct NameRow {
    const char* name;
    std::string given;
    std::string shown;
    QUILLMERE_PRINTS_ROW_NAME(NameRow)
};

class VisibleName : public ::testing::TestWithParam<NameRow> {};

TEST_P(VisibleName, ShowsControlCharactersAsEscapesAndLeavesTheRest) {
    EXPECT_EQ(visibleName(GetParam().given), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Names, VisibleName,
    ::testing::Values(
        NameRow{"plain", "Map.LVL", "Map.LVL"},
        NameRow{"blanks_and_backslashes", "C:\\maps\\ My Map.LVL", "C:\\maps\\ My Map.LVL"},
        NameRow{"letters_beyond_ascii", "Zo\xC3\xAB \xE5\x9C\xB0\xE5\x9B\xB3\xC2\xA0.LVL",
                "Zo\xC3\xAB \xE5\x9C\xB0\xE5\x9B\xB3\xC2\xA0.LVL"},
        NameRow{"newline", "two\nlines.LVL", "two\\nlines.LVL"},
        NameRow{"tab_and_carriage_return", "a\tb\rc", "a\\tb\\rc"},
        NameRow{"terminal_title_and_clear", "evil\033]0;OWNED\007\033[2J.LVL",
                "evil\\033]0;OWNED\\a\\033[2J.LVL"},
        NameRow{"delete", "a\177b", "a\\177b"}, NameRow{"nul", std::string("a\0b", 3), "a\\000b"},
        NameRow{"c1_control_sequence_introducer",
                "a\xC2\x9B"
                "2J",
                "a\\302\\2332J"},
        NameRow{"lead_byte_at_the_end", "a\xC2", "a\xC2"},
        NameRow{"right_to_left_override", "Map\xE2\x80\xAEGPJ.LVL", "Map\\342\\200\\256GPJ.LVL"},
        NameRow{"embedding_and_marks", "\xE2\x80\xAA\xE2\x80\x8E\xE2\x80\x8F",
                "\\342\\200\\252\\342\\200\\216\\342\\200\\217"},
        NameRow{"isolates", "\xE2\x81\xA6x\xE2\x81\xA9", "\\342\\201\\246x\\342\\201\\251"},
        NameRow{"neighbours_kept", "\xE2\x80\x8D\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA",
                "\xE2\x80\x8D\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
        NameRow{"cut_short", "a\xE2\x80", "a\xE2\x80"}),
    rowName<NameRow>);

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

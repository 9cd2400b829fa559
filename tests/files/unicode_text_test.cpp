// Names as the file layer builds and compares them: cut between characters, temporary names
// within a file system's limit, and the spellings a folder that ignores case is asked about.

#include "named_rows.h"
#include "unicode_text.h"

#include <gtest/gtest.h>

namespace quillmere::files {
namespace {

std::string repeated(std::string_view piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

struct TemporaryNameRow {
    const char* name;
    std::string output;
    NameUnits units;
    QUILLMERE_PRINTS_ROW_NAME(TemporaryNameRow)
};

// A name's length as the file system counts it.
std::size_t lengthIn(const std::string& text, NameUnits units) {
    if (units == NameUnits::Utf8Bytes)
        return text.size();
    std::size_t length = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        length += (byte & 0xC0) == 0x80 ? 0 : byte >= 0xF0 ? 2 : 1;
    }
    return length;
}

class TemporaryNames : public ::testing::TestWithParam<TemporaryNameRow> {};

TEST_P(TemporaryNames, StayWithinTheLimitCutBetweenCharactersAndTellLongNamesApart) {
    const auto& row = GetParam();
    const std::string name = temporaryNameFor(row.output, "1000", 3, row.units);
    const std::string other = temporaryNameFor(row.output + "x", "1000", 3, row.units);

    EXPECT_TRUE(isUtf8(name)) << name;
    EXPECT_TRUE(name.starts_with('.') && name.ends_with(".quillmere-1000-3.part")) << name;
    EXPECT_LE(lengthIn(name, row.units), 255u);
    EXPECT_NE(name, other) << "two long outputs share a temporary's name";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TemporaryNames,
    ::testing::Values(
        TemporaryNameRow{"two_byte_letters_in_bytes", repeated("é", 200), NameUnits::Utf8Bytes},
        TemporaryNameRow{"four_byte_letters_in_bytes", repeated("😀", 80), NameUnits::Utf8Bytes},
        TemporaryNameRow{"four_byte_letters_in_utf16_units", repeated("😀", 200),
                         NameUnits::Utf16Units}),
    testing::rowName<TemporaryNameRow>);

TEST(TemporaryNames, AreSpelledOneWayWhateverTheOutputsCase) {
    EXPECT_EQ(temporaryNameFor("Tiles.BMP", "0", 7, NameUnits::Utf8Bytes),
              ".tiles.bmp.quillmere-0-7.part");
    EXPECT_EQ(temporaryNameFor("TILES.bmp", {}, 0, NameUnits::Utf16Units),
              ".tiles.bmp.quillmere-0.part");
    EXPECT_EQ(temporaryNameFor("École.BMP", "0", 0, NameUnits::Utf8Bytes),
              temporaryNameFor("école.bmp", "0", 0, NameUnits::Utf8Bytes));
    EXPECT_NE(temporaryNameFor("École.BMP", "0", 0, NameUnits::Utf8Bytes),
              temporaryNameFor("Ècole.BMP", "0", 0, NameUnits::Utf8Bytes));
}

struct SpellingRow {
    const char* name;
    std::string a, b;
    bool foldTogether;
    bool hasThird;
    QUILLMERE_PRINTS_ROW_NAME(SpellingRow)
};

class Spellings : public ::testing::TestWithParam<SpellingRow> {};

TEST_P(Spellings, AThirdSpellingFoldsLikeBothAndIsNeither) {
    const auto& row = GetParam();
    EXPECT_EQ(foldedCase(row.a) == foldedCase(row.b), row.foldTogether);
    const auto third = thirdSpelling(row.a, row.b);
    ASSERT_EQ(third.has_value(), row.hasThird);
    if (third) {
        EXPECT_NE(*third, row.a);
        EXPECT_NE(*third, row.b);
        EXPECT_EQ(foldedCase(*third), foldedCase(row.a));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Spellings,
    ::testing::Values(SpellingRow{"ascii", "Castle.LVL", "castle.lvl", true, true},
                      SpellingRow{"latin_1", "ÉCOLE.BMP", "école.bmp", true, true},
                      SpellingRow{"cyrillic", "Замок.BMP", "ЗАМОК.BMP", true, true},
                      SpellingRow{"latin_extended", "Łódź.LVL", "ŁÓDŹ.lvl", true, true},
                      SpellingRow{"final_sigma", "σοφος.lvl", "ΣΟΦΟΣ.LVL", true, true},
                      SpellingRow{"dotless_i_is_not_i", "ı.LVL", "i.LVL", false, true},
                      SpellingRow{"one_letter", "a", "A", true, false},
                      SpellingRow{"no_letters", "123", "123", true, false},
                      SpellingRow{"different_names", "Castle.LVL", "Castle.BMP", false, true}),
    testing::rowName<SpellingRow>);

} // namespace
} // namespace quillmere::files

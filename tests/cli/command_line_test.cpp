#include "command_line.h"
#include "named_rows.h"

#include <gtest/gtest.h>

namespace quillmere::cli {
namespace {

using quillmere::testing::rowName;

struct OutputPathRow {
    const char* name;
    std::string folder;
    std::string map;
    std::string output;
    QUILLMERE_PRINTS_ROW_NAME(OutputPathRow)
};

class OutputPathFor : public ::testing::TestWithParam<OutputPathRow> {};

TEST_P(OutputPathFor, ReplacesTheLastExtensionInTheGivenFolder) {
    EXPECT_EQ(outputPathFor(GetParam().folder, GetParam().map), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    Names, OutputPathFor,
    ::testing::Values(OutputPathRow{"plain", "out", "Map.LVL", "out/Map.BMP"},
                      OutputPathRow{"folder_with_slash", "out/", "maps/Map.LVL", "out/Map.BMP"},
                      OutputPathRow{"two_dots", "out", "maps/cave.level.lvl", "out/cave.level.BMP"},
                      OutputPathRow{"no_extension", "out", "NoExtension", "out/NoExtension.BMP"},
                      OutputPathRow{"hidden", "out", ".hidden", "out/.hidden.BMP"},
                      OutputPathRow{"dot_in_folder_only", "out", "maps.d/Map", "out/Map.BMP"},
                      OutputPathRow{"absolute_and_blanks", "/abs/out", "/abs/maps/ Spaced .LVL",
                                    "/abs/out/ Spaced .BMP"}),
    rowName<OutputPathRow>);

TEST(ParseCommandLine, ReadsOneMapAndOneOutput) {
    const std::vector<std::string> one = {"Map.LVL", "Tiles.BMP"};
    const auto parsed = parseCommandLine(one);
    ASSERT_TRUE(std::holds_alternative<Invocation>(parsed));
    EXPECT_EQ(std::get<Invocation>(parsed).action, Action::ConvertOne);
    EXPECT_EQ(std::get<Invocation>(parsed).paths, one);
}

struct BatchRow {
    const char* name;
    std::vector<std::string> arguments;
    QUILLMERE_PRINTS_ROW_NAME(BatchRow)
};

class ParseBatch : public ::testing::TestWithParam<BatchRow> {};

TEST_P(ParseBatch, ReadsTheFolderAndTheMaps) {
    const auto parsed = parseCommandLine(GetParam().arguments);
    ASSERT_TRUE(std::holds_alternative<Invocation>(parsed));
    const auto& invocation = std::get<Invocation>(parsed);
    EXPECT_EQ(invocation.action, Action::ConvertMany);
    EXPECT_EQ(invocation.outputFolder, "out");
    EXPECT_EQ(invocation.paths, (std::vector<std::string>{"a", "b"}));
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, ParseBatch,
    ::testing::Values(BatchRow{"short", {"-d", "out", "a", "b"}},
                      BatchRow{"long", {"--output-dir", "out", "a", "b"}},
                      BatchRow{"long_with_equals", {"a", "--output-dir=out", "b"}},
                      BatchRow{"short_joined_then_double_dash", {"-dout", "a", "--", "b"}}),
    rowName<BatchRow>);

struct PutRow {
    const char* name;
    std::vector<std::string> arguments;
    QUILLMERE_PRINTS_ROW_NAME(PutRow)
};

class ParsePut : public ::testing::TestWithParam<PutRow> {};

TEST_P(ParsePut, ReadsTheTileSetAndTheMap) {
    const auto parsed = parseCommandLine(GetParam().arguments);
    ASSERT_TRUE(std::holds_alternative<Invocation>(parsed));
    EXPECT_EQ(std::get<Invocation>(parsed).action, Action::PutTileSet);
    EXPECT_EQ(std::get<Invocation>(parsed).paths,
              (std::vector<std::string>{"Tiles.BMP", "Map.LVL"}));
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, ParsePut,
    ::testing::Values(PutRow{"first", {"--put", "Tiles.BMP", "Map.LVL"}},
                      PutRow{"between_the_paths", {"Tiles.BMP", "--put", "Map.LVL"}},
                      PutRow{"then_double_dash", {"--put", "--", "Tiles.BMP", "Map.LVL"}}),
    rowName<PutRow>);

TEST(ParseCommandLine, HelpAndVersionNeedNoPaths) {
    const std::vector<std::string> help = {"a", "--help", "--bogus"};
    EXPECT_EQ(std::get<Invocation>(parseCommandLine(help)).action, Action::ShowHelp);
    const std::vector<std::string> version = {"-V"};
    EXPECT_EQ(std::get<Invocation>(parseCommandLine(version)).action, Action::ShowVersion);
}

TEST(ParseCommandLine, TakesALoneDashAndAnythingAfterDoubleDashAsPaths) {
    const std::vector<std::string> arguments = {"-", "--", "--help"};
    const auto parsed = parseCommandLine(arguments);
    ASSERT_TRUE(std::holds_alternative<Invocation>(parsed));
    EXPECT_EQ(std::get<Invocation>(parsed).paths, (std::vector<std::string>{"-", "--help"}));
}

} // namespace
} // namespace quillmere::cli

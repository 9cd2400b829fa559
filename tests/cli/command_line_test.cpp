#include "command_line.h"
#include "named_rows.h"

#include <gtest/gtest.h>

namespace quillmere::cli {
namespace {

using quillmere::testing::rowName;

// Words as a program receives them; the parser gathers the paths among them in place.
class Arguments {
public:
    explicit Arguments(std::vector<std::string> words) : words_(std::move(words)) {
        for (auto& word : words_)
            pointers_.push_back(word.data());
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    std::variant<Invocation, UsageError> parse() { return parseCommandLine(pointers_); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

std::vector<std::string> pathsOf(const Invocation& invocation) {
    return {invocation.paths.begin(), invocation.paths.end()};
}

TEST(ParseCommandLine, ReadsOneMapAndOneOutput) {
    Arguments one({"Map.LVL", "Tiles.BMP"});
    const auto parsed = one.parse();
    ASSERT_TRUE(std::holds_alternative<Invocation>(parsed));
    EXPECT_EQ(std::get<Invocation>(parsed).action, Action::ConvertOne);
    EXPECT_EQ(pathsOf(std::get<Invocation>(parsed)),
              (std::vector<std::string>{"Map.LVL", "Tiles.BMP"}));
}

struct BatchRow {
    const char* name;
    std::vector<std::string> arguments;
    QUILLMERE_PRINTS_ROW_NAME(BatchRow)
};

class ParseBatch : public ::testing::TestWithParam<BatchRow> {};

TEST_P(ParseBatch, ReadsTheFolderAndTheMaps) {
    Arguments arguments(GetParam().arguments);
    const auto parsed = arguments.parse();
    ASSERT_TRUE(std::holds_alternative<Invocation>(parsed));
    const auto& invocation = std::get<Invocation>(parsed);
    EXPECT_EQ(invocation.action, Action::ConvertMany);
    EXPECT_EQ(invocation.outputFolder, "out");
    EXPECT_EQ(pathsOf(invocation), (std::vector<std::string>{"a", "b"}));
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, ParseBatch,
    ::testing::Values(BatchRow{"short", {"-d", "out", "a", "b"}},
                      BatchRow{"long", {"--output-dir", "out", "a", "b"}},
                      BatchRow{"long_with_equals", {"a", "--output-dir=out", "b"}},
                      BatchRow{"short_joined_then_double_dash", {"-dout", "a", "--", "b"}},
                      BatchRow{"folder_between_maps", {"a", "-d", "out", "b"}}),
    rowName<BatchRow>);

struct PutRow {
    const char* name;
    std::vector<std::string> arguments;
    QUILLMERE_PRINTS_ROW_NAME(PutRow)
};

class ParsePut : public ::testing::TestWithParam<PutRow> {};

TEST_P(ParsePut, ReadsTheTileSetAndTheMap) {
    Arguments arguments(GetParam().arguments);
    const auto parsed = arguments.parse();
    ASSERT_TRUE(std::holds_alternative<Invocation>(parsed));
    EXPECT_EQ(std::get<Invocation>(parsed).action, Action::PutTileSet);
    EXPECT_EQ(pathsOf(std::get<Invocation>(parsed)),
              (std::vector<std::string>{"Tiles.BMP", "Map.LVL"}));
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, ParsePut,
    ::testing::Values(PutRow{"first", {"--put", "Tiles.BMP", "Map.LVL"}},
                      PutRow{"between_the_paths", {"Tiles.BMP", "--put", "Map.LVL"}},
                      PutRow{"then_double_dash", {"--put", "--", "Tiles.BMP", "Map.LVL"}}),
    rowName<PutRow>);

TEST(ParseCommandLine, HelpAndVersionNeedNoPaths) {
    Arguments help({"a", "--help", "--bogus"});
    EXPECT_EQ(std::get<Invocation>(help.parse()).action, Action::ShowHelp);
    Arguments version({"-V"});
    EXPECT_EQ(std::get<Invocation>(version.parse()).action, Action::ShowVersion);
}

TEST(ParseCommandLine, TakesALoneDashAndAnythingAfterDoubleDashAsPaths) {
    Arguments arguments({"-", "--", "--help"});
    const auto parsed = arguments.parse();
    ASSERT_TRUE(std::holds_alternative<Invocation>(parsed));
    EXPECT_EQ(pathsOf(std::get<Invocation>(parsed)), (std::vector<std::string>{"-", "--help"}));
}

} // namespace
} // namespace quillmere::cli

#include "command_line.h"

#include <gtest/gtest.h>

namespace quillmere::cli {
namespace {

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

TEST(OutputPathFor, ReplacesTheLastExtensionInTheGivenFolder) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"out", "Map.LVL", "out/Map.BMP"},
        {"out/", "maps/Map.LVL", "out/Map.BMP"},
        {"out", "maps/cave.level.lvl", "out/cave.level.BMP"},
        {"out", "NoExtension", "out/NoExtension.BMP"},
        {"out", ".hidden", "out/.hidden.BMP"},
        {"out", "maps.d/Map", "out/Map.BMP"},
        {"/abs/out", "/abs/maps/ Spaced .LVL", "/abs/out/ Spaced .BMP"},
    };
    for (const auto& [folder, map, expected] : cases)
        EXPECT_EQ(outputPathFor(folder, map), expected) << folder << " + " << map;
}

TEST(ParseCommandLine, ReadsBothForms) {
    Arguments one({"Map.LVL", "Tiles.BMP"});
    auto parsed = one.parse();
    ASSERT_TRUE(std::holds_alternative<Invocation>(parsed));
    EXPECT_EQ(std::get<Invocation>(parsed).action, Action::ConvertOne);
    EXPECT_EQ(pathsOf(std::get<Invocation>(parsed)),
              (std::vector<std::string>{"Map.LVL", "Tiles.BMP"}));

    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"-d", "out", "a", "b"},
          std::vector<std::string>{"--output-dir", "out", "a", "b"},
          std::vector<std::string>{"a", "--output-dir=out", "b"},
          std::vector<std::string>{"-dout", "a", "--", "b"},
          std::vector<std::string>{"a", "-d", "out", "b"}}) {
        Arguments many(words);
        parsed = many.parse();
        ASSERT_TRUE(std::holds_alternative<Invocation>(parsed)) << words[0];
        const auto& invocation = std::get<Invocation>(parsed);
        EXPECT_EQ(invocation.action, Action::ConvertMany);
        EXPECT_EQ(invocation.outputFolder, "out");
        EXPECT_EQ(pathsOf(invocation), (std::vector<std::string>{"a", "b"}));
    }
}

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

#include "command_line.h"

#include <gtest/gtest.h>

namespace quillmere::cli {
namespace {

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
    const std::vector<std::string> one = {"Map.LVL", "Tiles.BMP"};
    auto parsed = parseCommandLine(one);
    ASSERT_TRUE(std::holds_alternative<Invocation>(parsed));
    EXPECT_EQ(std::get<Invocation>(parsed).action, Action::ConvertOne);
    EXPECT_EQ(std::get<Invocation>(parsed).paths, one);

    for (const std::vector<std::string>& many :
         {std::vector<std::string>{"-d", "out", "a", "b"},
          std::vector<std::string>{"--output-dir", "out", "a", "b"},
          std::vector<std::string>{"a", "--output-dir=out", "b"},
          std::vector<std::string>{"-dout", "a", "--", "b"}}) {
        parsed = parseCommandLine(many);
        ASSERT_TRUE(std::holds_alternative<Invocation>(parsed)) << many[0];
        const auto& invocation = std::get<Invocation>(parsed);
        EXPECT_EQ(invocation.action, Action::ConvertMany);
        EXPECT_EQ(invocation.outputFolder, "out");
        EXPECT_EQ(invocation.paths, (std::vector<std::string>{"a", "b"}));
    }
}

TEST(ParseCommandLine, ReadsPutWhereverItStands) {
    for (const std::vector<std::string>& put :
         {std::vector<std::string>{"--put", "Tiles.BMP", "Map.LVL"},
          std::vector<std::string>{"Tiles.BMP", "--put", "Map.LVL"},
          std::vector<std::string>{"--put", "--", "Tiles.BMP", "Map.LVL"}}) {
        const auto parsed = parseCommandLine(put);
        ASSERT_TRUE(std::holds_alternative<Invocation>(parsed)) << put[0];
        EXPECT_EQ(std::get<Invocation>(parsed).action, Action::PutTileSet);
        EXPECT_EQ(std::get<Invocation>(parsed).paths,
                  (std::vector<std::string>{"Tiles.BMP", "Map.LVL"}));
    }
}

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

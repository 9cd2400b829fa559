#include "commands.h"
#include "fake_message_boxes.h"
#include "temp_folder.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace quillmere {
namespace {

using testing::patternBytes;
using testing::TempFolder;
using testing::writeFile;

// Relative paths in the boxes resolve against the current folder, as a person expects.
class CommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_.path());
        writeFile("Map.LVL", patternBytes(60000, 1));
        writeFile("Short.LVL", patternBytes(1000, 2));
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

    static long long sizeOf(const std::string& path) {
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        return error ? -1 : static_cast<long long>(size);
    }

    TempFolder folder_;
    std::filesystem::path previous_;
    FakeMessageBoxes messages_;
};

struct ConvertCase {
    const char* name;
    std::string map;
    std::string output;
    std::string title;
    std::string promptStart;
    MessageStyle style;
    long long outputSize; // -1: not written
};
// Names the row in test listings, instead of its bytes.
void PrintTo(const ConvertCase& row, std::ostream* out) {
    *out << row.name;
}

class ConvertCommandTest : public CommandsTest,
                           public ::testing::WithParamInterface<ConvertCase> {};

TEST_P(ConvertCommandTest, ConvertsThenSaysHowItWent) {
    const ConvertCase& row = GetParam();
    convertCommand([&] { return row.map; }, [&] { return row.output; }, messages_);

    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].title, row.title);
    EXPECT_TRUE(messages_.shown[0].prompt.starts_with(row.promptStart))
        << messages_.shown[0].prompt;
    EXPECT_EQ(messages_.shown[0].style, row.style);
    EXPECT_EQ(sizeOf(row.output), row.outputSize);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ConvertCommandTest,
    ::testing::Values(
        ConvertCase{"DefaultTexts", "Map.LVL", "Tiles.BMP", "Map.LVL -> Tiles.BMP",
                    "Operation Complete.", MessageStyle::Information, 49713},
        ConvertCase{"ShortMap", "Short.LVL", "Tiles.BMP", "Short.LVL -> Tiles.BMP",
                    "Operation Complete. The map file held only 1,000", MessageStyle::Warning,
                    49713},
        ConvertCase{"EmptyMapPath", "", "Tiles.BMP", " -> Tiles.BMP", "No map file was given",
                    MessageStyle::Critical, -1},
        ConvertCase{"OutputFolderMissing", "Map.LVL", "gone/Tiles.BMP", "Map.LVL -> gone/Tiles.BMP",
                    "Could not write the tile set \"gone/Tiles.BMP\"", MessageStyle::Critical, -1},
        ConvertCase{"SurroundingBlanks", " Map.LVL", "Tiles.BMP ", " Map.LVL -> Tiles.BMP ",
                    "Could not read the map file \" Map.LVL\"", MessageStyle::Critical, -1},
        ConvertCase{"ControlCharactersShownAsEscapes", "Gone\n\033[2J.LVL", "Tiles.BMP",
                    "Gone\\n\\033[2J.LVL -> Tiles.BMP",
                    "Could not read the map file \"Gone\\n\\033[2J.LVL\"", MessageStyle::Critical,
                    -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandsTest, TitleUsesTheTextsReadAfterTheCopy) {
    int mapReads = 0;
    convertCommand([&] { return ++mapReads == 1 ? "Map.LVL" : "Later"; },
                   [] { return "Tiles.BMP"; }, messages_);
    EXPECT_EQ(mapReads, 2);
    EXPECT_EQ(messages_.shown.at(0).title, "Later -> Tiles.BMP");
}

TEST_F(CommandsTest, TwoPressesGiveTwoConversionsAndTwoMessages) {
    for (int press = 0; press < 2; ++press)
        convertCommand([] { return "Map.LVL"; }, [] { return "Tiles.BMP"; }, messages_);
    ASSERT_EQ(messages_.shown.size(), 2u);
    EXPECT_EQ(messages_.shown[1].prompt, "Operation Complete.");
    EXPECT_EQ(folder_.names(), (std::set<std::string>{"Map.LVL", "Short.LVL", "Tiles.BMP"}));
}

struct FixedTextCase {
    const char* name;
    void (*command)(MessageBoxes&);
    std::string prompt;
};
void PrintTo(const FixedTextCase& row, std::ostream* out) {
    *out << row.name;
}

class FixedTextTest : public ::testing::TestWithParam<FixedTextCase> {};

TEST_P(FixedTextTest, ShowsItsTextPlainUnderTheCommonTitle) {
    FakeMessageBoxes messages;
    GetParam().command(messages);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].prompt, GetParam().prompt);
    EXPECT_EQ(messages.shown[0].style, MessageStyle::Plain);
    EXPECT_EQ(messages.shown[0].title, "Quillmere Tile Converter");
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, FixedTextTest,
    ::testing::Values(
        FixedTextCase{"About", aboutCommand, "Converts Map tiles into a bmp. By quenrik5"},
        FixedTextCase{"Info", infoCommand, "Version 1.4 Made with crappy Visual Basic"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillmere

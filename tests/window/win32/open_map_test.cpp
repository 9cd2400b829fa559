// Opening the Win32 window on a map, as Explorer's "Open with" does.

#include "convert_window.h"
#include "fake_message_boxes.h"
#include "named_rows.h"
#include "open_map.h"

#include <gtest/gtest.h>

namespace quillmere::win32 {
namespace {

std::wstring textOf(HWND control) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

struct StartCase {
    const char* name;
    std::wstring commandLine;
    std::optional<std::wstring> map;
    bool isUsageError;
    QUILLMERE_PRINTS_ROW_NAME(StartCase)
};

class StartingMap : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartingMap, TakesOneMapOrNone) {
    const auto start = startingMap(GetParam().commandLine);
    EXPECT_EQ(start.path, GetParam().map);
    EXPECT_EQ(!start.complaint.empty(), GetParam().isUsageError);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, StartingMap,
    ::testing::Values(StartCase{"none", L"quillmere-tile-converter.exe", std::nullopt, false},
                      StartCase{"one_with_blanks",
                                L"\"C:\\Program Files\\QuillMere\\quillmere-tile-converter.exe\" "
                                L"\"C:\\Maps\\Die H\u00f6hle.LVL\"",
                                L"C:\\Maps\\Die H\u00f6hle.LVL", false},
                      StartCase{"two", L"quillmere-tile-converter.exe Castle.LVL Cave.LVL",
                                std::nullopt, true}),
    quillmere::testing::rowName<StartCase>);

TEST(OpenMap, FillsTheMapBoxAndTheTileSetBesideIt) {
    FakeMessageBoxes messages;
    Convert window(::GetModuleHandleW(nullptr), &messages);
    ASSERT_NE(window.window(), nullptr);

    openMap(window, L"C:\\Maps\\Die H\u00f6hle.level.lvl");

    EXPECT_EQ(textOf(window.control(Control::mapPathBox)), L"C:\\Maps\\Die H\u00f6hle.level.lvl");
    EXPECT_EQ(textOf(window.control(Control::outputPathBox)),
              L"C:\\Maps\\Die H\u00f6hle.level.BMP");
}

} // namespace
} // namespace quillmere::win32

// The real Win32 window in this process, its message boxes replaced by a recorder. Runs under
// Wine's null graphics driver, so no display is needed.

#include "commands.h"
#include "convert_window.h"
#include "fake_message_boxes.h"
#include "named_rows.h"
#include "temp_folder.h"
#include "text_encoding.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <shellapi.h>
#include <shlobj.h>

namespace quillmere::win32 {
namespace {

using quillmere::testing::Bytes;
using quillmere::testing::patternBytes;
using quillmere::testing::TempFolder;

void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes readBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

std::wstring textOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Left, top, right and bottom, in the parent's client pixels.
using Edges = std::array<LONG, 4>;

Edges edgesInParent(HWND control) {
    RECT rect{};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return {rect.left, rect.top, rect.right, rect.bottom};
}

class Win32WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_.path());
        ASSERT_NE(window_.window(), nullptr) << narrow(window_.failure());
        ::ShowWindow(window_.window(), SW_SHOW);
        ::SetForegroundWindow(window_.window());
        pump();
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        pump();
    }

    // Handles what is queued, as the program's loop would; remembers a request to end.
    void pump() {
        MSG message;
        for (int idle = 0; idle < 3; ++idle) {
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                idle = 0;
                if (message.message == WM_QUIT) {
                    quitStatus_ = static_cast<int>(message.wParam);
                    continue;
                }
                if (!window_.takeDialogMessage(message)) {
                    ::TranslateMessage(&message);
                    ::DispatchMessageW(&message);
                }
            }
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
    }

    // Presses `key` with the modifiers held, through the system's input queue.
    void press(WORD key, std::initializer_list<WORD> modifiers = {}) {
        std::vector<INPUT> inputs;
        auto add = [&](WORD virtualKey, DWORD flags) {
            INPUT input{};
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = virtualKey;
            input.ki.dwFlags = flags;
            inputs.push_back(input);
        };
        for (WORD modifier : modifiers)
            add(modifier, 0);
        add(key, 0);
        add(key, KEYEVENTF_KEYUP);
        for (WORD modifier : modifiers)
            add(modifier, KEYEVENTF_KEYUP);
        ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
        pump();
    }

    void click(Control button) {
        ::SendMessageW(window_.control(button), BM_CLICK, 0, 0);
        pump();
    }

    void setDpi(int dpi) {
        RECT suggested{};
        ::GetWindowRect(window_.window(), &suggested);
        ::SendMessageW(window_.window(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                       reinterpret_cast<LPARAM>(&suggested));
    }

    TempFolder folder_;
    std::filesystem::path previous_;
    FakeMessageBoxes messages_;
    Convert window_{::GetModuleHandleW(nullptr), &messages_};
    int quitStatus_ = -1; // -1: the program was not asked to end
};

TEST_F(Win32WindowTest, HasItsCaptionAndAFixedFrame) {
    EXPECT_EQ(textOf(window_.window()), L"QuillMere Tile Converter");
    const auto style = ::GetWindowLongPtrW(window_.window(), GWL_STYLE);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
    EXPECT_NE(style & WS_SYSMENU, 0);
}

// Wine treats every window as aware of its monitor's DPI; Windows does so only for a program
// whose manifest says so. Compiled in here as in the program.
TEST(Manifest, DeclaresPerMonitorDpiAwarenessAndLongPaths) {
    const HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(found, nullptr) << "no manifest";
    const std::string manifest(
        static_cast<const char*>(::LockResource(::LoadResource(nullptr, found))),
        ::SizeofResource(nullptr, found));
    for (const char* setting : {">true/pm</dpiAware>", ">PerMonitorV2, PerMonitor</dpiAwareness>",
                                ">true</longPathAware>"})
        EXPECT_NE(manifest.find(setting), std::string::npos) << setting;
}

struct ControlCase {
    Control role;
    const wchar_t* caption;
    Edges at96;
    Edges at144;
};
void PrintTo(const ControlCase& row, std::ostream* out) {
    *out << layoutOf(row.role).name;
}

class ControlsTest : public Win32WindowTest, public ::testing::WithParamInterface<ControlCase> {};

// Pixels from twips: 15 to the pixel at 96 DPI, 10 at 144, each edge rounded.
TEST_P(ControlsTest, SitAtTheirTwipsAtEachDpi) {
    const ControlCase& row = GetParam();
    const HWND control = window_.control(row.role);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(textOf(control), row.caption);
    for (const auto& [dpi, expected, client] :
         {std::tuple{96, row.at96, SIZE{312, 113}}, std::tuple{144, row.at144, SIZE{468, 170}}}) {
        SCOPED_TRACE(dpi);
        setDpi(dpi);
        EXPECT_EQ(edgesInParent(control), expected);
        RECT clientRect{};
        ::GetClientRect(window_.window(), &clientRect);
        EXPECT_EQ(clientRect.right, client.cx);
        EXPECT_EQ(clientRect.bottom, client.cy);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ControlsTest,
    ::testing::Values(
        ControlCase{Control::mapLabel, L"Map Name", {0, 0, 57, 17}, {0, 0, 86, 26}},
        ControlCase{Control::mapPathBox, L"Map.LVL", {88, 0, 209, 19}, {132, 0, 314, 29}},
        ControlCase{Control::outputLabel, L"Tile Set Name", {0, 32, 73, 49}, {0, 48, 110, 74}},
        ControlCase{Control::outputPathBox, L"Tiles.BMP", {88, 32, 209, 51}, {132, 48, 314, 77}},
        ControlCase{Control::infoButton, L"Info", {224, 8, 305, 41}, {336, 12, 458, 62}},
        ControlCase{Control::aboutButton, L"About", {8, 72, 89, 105}, {12, 108, 134, 158}},
        ControlCase{Control::exitButton, L"E&xit", {112, 72, 201, 105}, {168, 108, 302, 158}},
        ControlCase{Control::convertButton, L"Convert", {224, 72, 305, 105}, {336, 108, 458, 158}}),
    [](const auto& info) { return std::string(layoutOf(info.param.role).name); });

TEST_F(Win32WindowTest, CaptionsFitTheirControlsAtEveryDpi) {
    for (const int dpi : {96, 120, 144, 192}) {
        setDpi(dpi);
        for (const auto& layout : kControlLayouts) {
            SCOPED_TRACE(std::string(layout.name) + " at " + std::to_string(dpi) + " DPI");
            const HWND control = window_.control(layout.role);
            const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
            LOGFONTW face{};
            ASSERT_TRUE(::GetObjectW(font, sizeof face, &face));
            EXPECT_EQ(std::wstring(face.lfFaceName), L"MS Sans Serif");
            EXPECT_EQ(face.lfWeight, FW_NORMAL);
            EXPECT_FALSE(face.lfItalic || face.lfUnderline || face.lfStrikeOut);
            const int points100 = layout.role == Control::aboutButton ? 825 : 800;
            EXPECT_EQ(face.lfHeight, -::MulDiv(points100, dpi, 7200));

            const HDC dc = ::GetDC(control);
            const HGDIOBJ previous = ::SelectObject(dc, font);
            const std::wstring caption = textOf(control);
            RECT needed{};
            ::DrawTextW(dc, caption.c_str(), -1, &needed, DT_CALCRECT | DT_SINGLELINE);
            ::SelectObject(dc, previous);
            ::ReleaseDC(control, dc);
            RECT room{};
            ::GetClientRect(control, &room);
            // A button draws its frame and focus rectangle around the caption; an edit its
            // margins.
            const int margin = layout.kind == ControlKind::Label ? 0 : 8;
            EXPECT_LE(needed.right + margin, room.right) << narrow(caption);
            EXPECT_LE(needed.bottom, room.bottom) << narrow(caption);
        }
    }
}

struct ColourCase {
    Control role;
    UINT message;
    COLORREF text;
    int background; // a COLORREF, or -1 for the system's window colour
};
void PrintTo(const ColourCase& row, std::ostream* out) {
    *out << layoutOf(row.role).name;
}

class ColoursTest : public Win32WindowTest, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(ColoursTest, PaintTextAndBackground) {
    const ColourCase& row = GetParam();
    const COLORREF background =
        row.background < 0 ? ::GetSysColor(COLOR_WINDOW) : static_cast<COLORREF>(row.background);
    const HWND control = window_.control(row.role);
    const HDC dc = ::GetDC(control);
    const auto brush = reinterpret_cast<HBRUSH>(::SendMessageW(window_.window(), row.message,
                                                               reinterpret_cast<WPARAM>(dc),
                                                               reinterpret_cast<LPARAM>(control)));
    EXPECT_EQ(::GetTextColor(dc), row.text);
    EXPECT_EQ(::GetBkColor(dc), background);
    ::ReleaseDC(control, dc);
    LOGBRUSH fill{};
    ASSERT_TRUE(::GetObjectW(brush, sizeof fill, &fill));
    EXPECT_EQ(fill.lbColor, background);
}

INSTANTIATE_TEST_SUITE_P(
    Controls, ColoursTest,
    ::testing::Values(
        ColourCase{Control::mapLabel, WM_CTLCOLORSTATIC, RGB(255, 255, 255), RGB(0, 0, 0)},
        ColourCase{Control::outputLabel, WM_CTLCOLORSTATIC, RGB(255, 255, 255), RGB(0, 0, 0)},
        ColourCase{Control::mapPathBox, WM_CTLCOLOREDIT, RGB(0, 0, 0), -1},
        ColourCase{Control::outputPathBox, WM_CTLCOLOREDIT, RGB(0, 0, 0), RGB(255, 255, 255)}),
    [](const auto& info) { return std::string(layoutOf(info.param.role).name); });

TEST_F(Win32WindowTest, WindowIsBlack) {
    LOGBRUSH fill{};
    ASSERT_TRUE(::GetObjectW(
        reinterpret_cast<HBRUSH>(::GetClassLongPtrW(window_.window(), GCLP_HBRBACKGROUND)),
        sizeof fill, &fill));
    EXPECT_EQ(fill.lbColor, RGB(0, 0, 0));
}

TEST_F(Win32WindowTest, TabFollowsTheFocusOrderBothWays) {
    ASSERT_EQ(::GetFocus(), window_.control(Control::mapPathBox));
    for (const Control next : {Control::convertButton, Control::outputPathBox, Control::aboutButton,
                               Control::exitButton, Control::infoButton, Control::mapPathBox}) {
        press(VK_TAB);
        EXPECT_EQ(::GetFocus(), window_.control(next)) << "expected " << layoutOf(next).name;
    }
    for (const Control previous : {Control::infoButton, Control::exitButton, Control::aboutButton,
                                   Control::outputPathBox, Control::convertButton}) {
        press(VK_TAB, {VK_SHIFT});
        EXPECT_EQ(::GetFocus(), window_.control(previous))
            << "expected " << layoutOf(previous).name;
    }
}

TEST_F(Win32WindowTest, FocusComesBackWhenTheWindowIsActivatedAgain) {
    ::SetFocus(window_.control(Control::outputPathBox));
    const HWND other = ::CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                         0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ::SetActiveWindow(other);
    pump();
    ASSERT_NE(::GetFocus(), window_.control(Control::outputPathBox));
    ::SetActiveWindow(window_.window());
    pump();
    EXPECT_EQ(::GetFocus(), window_.control(Control::outputPathBox));
    ::DestroyWindow(other);
}

TEST_F(Win32WindowTest, EnterAndEscapeInABoxAndEscapeOnAButtonPressNothing) {
    for (const Control focus : kFocusOrder) {
        ::SetFocus(window_.control(focus));
        if (layoutOf(focus).kind == ControlKind::TextBox)
            press(VK_RETURN);
        press(VK_ESCAPE);
    }
    EXPECT_TRUE(messages_.shown.empty());
    EXPECT_TRUE(::IsWindow(window_.window()));
    EXPECT_EQ(quitStatus_, -1);
}

TEST_F(Win32WindowTest, EnterPressesTheFocusedButton) {
    for (const Control button : {Control::aboutButton, Control::infoButton}) {
        ::SetFocus(window_.control(button));
        press(VK_RETURN);
    }
    ASSERT_EQ(messages_.shown.size(), 2u);
    EXPECT_EQ(messages_.shown[0].prompt, kAboutPrompt);
    EXPECT_EQ(messages_.shown[1].prompt, kInfoPrompt);
}

TEST_F(Win32WindowTest, AltXPressesExitAndTheProgramEndsWithStatusZero) {
    press('X', {VK_MENU});
    EXPECT_EQ(window_.window(), nullptr);
    EXPECT_EQ(quitStatus_, 0);
    EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(Win32WindowTest, CloseBoxEndsTheProgramWithStatusZero) {
    ::SendMessageW(window_.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    pump();
    EXPECT_EQ(window_.window(), nullptr);
    EXPECT_EQ(quitStatus_, 0);
}

TEST_F(Win32WindowTest, ConvertWithTheDefaultTextsWritesTheTileSetAndSaysSo) {
    const Bytes map = patternBytes(60000, 3);
    writeBytes("Map.LVL", map);
    click(Control::convertButton);
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].title, "Map.LVL -> Tiles.BMP");
    EXPECT_EQ(messages_.shown[0].prompt, "Operation Complete.");
    EXPECT_EQ(messages_.shown[0].style, MessageStyle::Information);
    EXPECT_EQ(readBytes("Tiles.BMP"), Bytes(map.begin(), map.begin() + 49713));
}

TEST_F(Win32WindowTest, FailingConvertSaysWhyAndWritesNothing) {
    click(Control::convertButton); // no Map.LVL here
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_TRUE(messages_.shown[0].prompt.starts_with("Could not read the map file \"Map.LVL\": "))
        << messages_.shown[0].prompt;
    EXPECT_EQ(messages_.shown[0].style, MessageStyle::Critical);
    EXPECT_EQ(folder_.names(), std::set<std::string>{});
}

// The texts themselves are the commands' tests'; here, that each button reaches its own.
TEST_F(Win32WindowTest, AboutAndInfoShowTheirTexts) {
    click(Control::aboutButton);
    click(Control::infoButton);
    ASSERT_EQ(messages_.shown.size(), 2u);
    EXPECT_EQ(messages_.shown[0].prompt, kAboutPrompt);
    EXPECT_EQ(messages_.shown[1].prompt, kInfoPrompt);
}

TEST_F(Win32WindowTest, UnicodePathsReachTheFilesAndTheTitle) {
    // Latin, Cyrillic, CJK and a character beyond the 16-bit range.
    const std::wstring map = L"Kärtchen Карта 地図 \U0001F5FA.LVL";
    const std::wstring output = L"Tuiles \U0001F5FA.BMP";
    writeBytes(map, patternBytes(50000, 4));
    ::SetWindowTextW(window_.control(Control::mapPathBox), map.c_str());
    ::SetWindowTextW(window_.control(Control::outputPathBox), output.c_str());
    click(Control::convertButton);
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].prompt, "Operation Complete.");
    EXPECT_EQ(messages_.shown[0].title, narrow(map) + " -> " + narrow(output));
    EXPECT_EQ(std::filesystem::file_size(output), 49713u);
}

// The drop as Explorer delivers it: a DROPFILES block naming one file, at a point in the window.
HDROP dropOf(const std::wstring& path, POINT at) {
    const std::size_t size = sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t);
    const HGLOBAL memory = ::GlobalAlloc(GHND, size);
    auto* files = static_cast<DROPFILES*>(::GlobalLock(memory));
    files->pFiles = sizeof(DROPFILES);
    files->pt = at;
    files->fWide = TRUE;
    std::copy(path.begin(), path.end(), reinterpret_cast<wchar_t*>(files + 1));
    ::GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

void dropOn(HWND window, HWND box, const std::wstring& path) {
    const Edges edges = edgesInParent(box);
    const POINT centre{(edges[0] + edges[2]) / 2, (edges[1] + edges[3]) / 2};
    ::SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(dropOf(path, centre)), 0);
}

TEST_F(Win32WindowTest, DroppingAFileOntoABoxPutsItsPathThere) {
    for (const Control box : {Control::mapPathBox, Control::outputPathBox}) {
        dropOn(window_.window(), window_.control(box), L"C:\\maps\\My Level.LVL");
        EXPECT_EQ(textOf(window_.control(box)), L"C:\\maps\\My Level.LVL") << layoutOf(box).name;
    }
}

struct MapDropCase {
    const char* name;
    const wchar_t* earlierMap; // dropped first, when not null
    const wchar_t* typed;      // then typed in the output box, when not null
    const wchar_t* output;     // what the output box holds after the map is dropped
    QUILLMERE_PRINTS_ROW_NAME(MapDropCase)
};

class MapDropTest : public Win32WindowTest, public ::testing::WithParamInterface<MapDropCase> {};

TEST_P(MapDropTest, FillsTheOutputBesideTheMapUnlessTyped) {
    const HWND mapBox = window_.control(Control::mapPathBox);
    if (GetParam().earlierMap != nullptr)
        dropOn(window_.window(), mapBox, GetParam().earlierMap);
    if (GetParam().typed != nullptr)
        ::SetWindowTextW(window_.control(Control::outputPathBox), GetParam().typed);
    dropOn(window_.window(), mapBox, L"C:\\maps\\Cave.LVL");
    EXPECT_EQ(textOf(mapBox), L"C:\\maps\\Cave.LVL");
    EXPECT_EQ(textOf(window_.control(Control::outputPathBox)), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(
    OutputBox, MapDropTest,
    ::testing::Values(MapDropCase{"first_text", nullptr, nullptr, L"C:\\maps\\Cave.BMP"},
                      MapDropCase{"derived_for_an_earlier_map", L"D:\\old\\Castle.LVL", nullptr,
                                  L"C:\\maps\\Cave.BMP"},
                      MapDropCase{"typed_after_a_drop", L"D:\\old\\Castle.LVL",
                                  L"D:\\mine\\Typed.BMP", L"D:\\mine\\Typed.BMP"}),
    quillmere::testing::rowName<MapDropCase>);

TEST_F(Win32WindowTest, ALongPathShowsItsEnd) {
    const std::wstring path = L"C:\\" + std::wstring(200, L'f') + L"\\Castle.LVL";
    dropOn(window_.window(), window_.control(Control::mapPathBox), path);
    for (const Control box : {Control::mapPathBox, Control::outputPathBox}) {
        // A one-line box answers with its first visible character.
        const auto first = ::SendMessageW(window_.control(box), EM_GETFIRSTVISIBLELINE, 0, 0);
        EXPECT_GT(first, 150) << layoutOf(box).name;
    }
}

TEST_F(Win32WindowTest, CtrlASelectsAllOfABox) {
    for (const Control box : {Control::mapPathBox, Control::outputPathBox}) {
        const HWND edit = window_.control(box);
        ::SetFocus(edit);
        ::SendMessageW(edit, EM_SETSEL, 0, 0);
        press('A', {VK_CONTROL});
        DWORD start = 1, end = 0;
        ::SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                       reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(start, 0u) << layoutOf(box).name;
        EXPECT_EQ(end, static_cast<DWORD>(::GetWindowTextLengthW(edit))) << layoutOf(box).name;
        EXPECT_EQ(textOf(edit),
                  std::wstring(box == Control::mapPathBox ? L"Map.LVL" : L"Tiles.BMP"));
    }
}

} // namespace
} // namespace quillmere::win32

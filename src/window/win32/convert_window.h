#pragma once

#include "gdi_handle.h"
#include "layout_table.h"
#include "message_boxes.h"
#include "output_follows_map.h"

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <windows.h>

namespace quillmere::win32 {

// The program's one window on Windows: the layout table's controls at their twips, converted to
// pixels at the window's DPI, and the shared commands behind the buttons.
class Convert {
public:
    // Creates the window, not yet shown. Its messages go to `messages`, or to real message boxes
    // owned by the window when none is given.
    explicit Convert(HINSTANCE instance, MessageBoxes* messages = nullptr);
    ~Convert();
    Convert(const Convert&) = delete;
    Convert& operator=(const Convert&) = delete;

    // Null when the window could not be created; failure() then says why.
    HWND window() const { return window_; }
    const std::wstring& failure() const { return failure_; }
    // A control by its role, or null.
    HWND control(Control role) const { return controls_[indexOf(role)]; }

    // Puts a map in the map box, as opening the window on it or dropping it there does; the
    // output box follows while it holds what the program put there.
    void chooseMap(std::wstring_view mapPath);

    // Takes the keys the window handles before the controls see them: Ctrl+A in a box, and
    // the dialog manager's Tab, Shift+Tab, Enter and Alt+X. True when it took `message`.
    bool takeDialogMessage(MSG& message);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    bool createControls();
    void applyDpi(int dpi, const POINT* topLeft);
    void resizeFrame(const PixelRect& client, int dpi, const POINT* topLeft);
    void onActivate(bool active, bool minimized);
    void onCommand(int id, int code, HWND from);
    void onClick(Control role);
    void onDroppedFiles(WPARAM drop); // an HDROP
    LRESULT paintControl(UINT message, HWND control, HDC dc);
    std::string textOf(Control box) const;
    void setText(Control box, std::wstring_view text);

    HINSTANCE instance_;
    HWND window_ = nullptr;
    std::wstring failure_;
    std::array<HWND, kControlLayouts.size()> controls_{};
    HWND lastFocus_ = nullptr;
    FontHandle windowFont_;
    FontHandle aboutFont_;
    std::unique_ptr<MessageBoxes> ownMessages_;
    MessageBoxes* messages_;
    OutputFollowsMap outputFollowsMap_;
};

// Runs the window's message loop until the program ends; returns its exit status.
int runMessageLoop(Convert& window);

} // namespace quillmere::win32

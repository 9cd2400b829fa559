#pragma once

#include "message_boxes.h"

#include <windows.h>

namespace quillmere::win32 {

// MessageBoxW, owned by the window so that the window takes no input while a box is up. The
// styles' numbers are MessageBoxW's own flags.
class Win32MessageBoxes final : public MessageBoxes {
public:
    explicit Win32MessageBoxes(HWND owner) : owner_(owner) {}
    void show(const std::string& prompt, MessageStyle style, const std::string& title) override;

private:
    HWND owner_;
};

} // namespace quillmere::win32

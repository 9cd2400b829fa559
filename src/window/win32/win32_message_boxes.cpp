#include "win32_message_boxes.h"

#include "text_encoding.h"

namespace quillmere::win32 {

static_assert(static_cast<UINT>(MessageStyle::Critical) == MB_ICONERROR);
static_assert(static_cast<UINT>(MessageStyle::Warning) == MB_ICONWARNING);
static_assert(static_cast<UINT>(MessageStyle::Information) == MB_ICONINFORMATION);

void Win32MessageBoxes::show(const std::string& prompt, MessageStyle style,
                             const std::string& title) {
    ::MessageBoxW(owner_, widen(prompt).c_str(), widen(title).c_str(),
                  MB_OK | static_cast<UINT>(style));
}

} // namespace quillmere::win32

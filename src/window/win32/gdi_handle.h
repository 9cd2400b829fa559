#pragma once

#include <memory>
#include <type_traits>
#include <windows.h>

namespace quillmere::win32 {

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};

// A font (or other GDI object) that is deleted with its owner.
using FontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;

} // namespace quillmere::win32

#pragma once

#include <string>
#include <string_view>

namespace quillmere::win32 {

// The window's texts are UTF-16; the shared commands and the file layer take UTF-8.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

} // namespace quillmere::win32

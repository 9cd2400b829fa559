#include "text_encoding.h"

#include "unicode_text.h"

namespace quillmere::win32 {

std::wstring widen(std::string_view utf8) {
    return files::utf16Of(utf8);
}

std::string narrow(std::wstring_view utf16) {
    return files::utf8Of(utf16);
}

} // namespace quillmere::win32

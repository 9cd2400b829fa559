#include "tail_copy.h"

#include <algorithm>
#include <vector>
#include <windows.h>

namespace quillmere::files {
namespace {

constexpr DWORD kPiece = 1 << 20;

bool moveTo(HANDLE file, std::uint64_t offset) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != 0;
}

} // namespace

int copyTail(std::intptr_t fromHandle, std::intptr_t toHandle, std::uint64_t offset) {
    const auto from = reinterpret_cast<HANDLE>(fromHandle);
    const auto to = reinterpret_cast<HANDLE>(toHandle);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(from, &size))
        return static_cast<int>(::GetLastError());
    const auto end = static_cast<std::uint64_t>(size.QuadPart);
    // The whole length first, so that a full disk shows before anything is copied.
    if (!moveTo(to, std::max(end, offset)) || !::SetEndOfFile(to))
        return static_cast<int>(::GetLastError());
    std::vector<char> buffer(kPiece);
    for (std::uint64_t at = offset; at < end;) {
        const auto wanted = static_cast<DWORD>(std::min<std::uint64_t>(end - at, kPiece));
        DWORD got = 0;
        if (!moveTo(from, at) || !::ReadFile(from, buffer.data(), wanted, &got, nullptr))
            return static_cast<int>(::GetLastError());
        if (got == 0)
            return ERROR_HANDLE_EOF; // the file shrank under us
        DWORD put = 0;
        if (!moveTo(to, at) || !::WriteFile(to, buffer.data(), got, &put, nullptr))
            return static_cast<int>(::GetLastError());
        if (put != got)
            return ERROR_WRITE_FAULT;
        at += got;
    }
    return 0;
}

} // namespace quillmere::files

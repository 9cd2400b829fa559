#include "windows_console.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <vector>
#include <windows.h>

namespace quillmere::cli {
namespace {

struct Console {
    HANDLE handle = nullptr; // nullptr: not a console
    // The start of a character whose last bytes are still to come.
    std::array<char, 4> pending{};
    std::size_t pendingSize = 0;
};

struct Consoles {
    std::array<Console, 2> streams; // standard output, standard error
    std::string clearLine;
};

Consoles& consoles() {
    static Consoles state;
    return state;
}

HANDLE consoleOf(DWORD stream) {
    const HANDLE handle = ::GetStdHandle(stream);
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// How many bytes at the end of `text` begin a character that is not complete yet.
std::size_t incompleteTail(std::string_view text) {
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for its lead
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

bool writeWide(HANDLE console, std::string_view text) {
    if (text.empty())
        return true;
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return false;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          length);
    for (std::size_t at = 0; at < wide.size();) {
        DWORD written = 0;
        if (!::WriteConsoleW(console, wide.data() + at, static_cast<DWORD>(wide.size() - at),
                             &written, nullptr) ||
            written == 0)
            return false;
        at += written;
    }
    return true;
}

} // namespace

void prepareConsole() {
    auto& state = consoles();
    state.streams[0].handle = consoleOf(STD_OUTPUT_HANDLE);
    state.streams[1].handle = consoleOf(STD_ERROR_HANDLE);
    // Spaces short of the last column, so that they do not wrap.
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    const SHORT width = state.streams[1].handle != nullptr &&
                                ::GetConsoleScreenBufferInfo(state.streams[1].handle, &screen)
                            ? screen.dwSize.X
                            : 80;
    state.clearLine.assign(1, '\r');
    state.clearLine.append(static_cast<std::size_t>(width > 1 ? width - 1 : 0), ' ');
    state.clearLine.push_back('\r');
}

std::optional<long> writeToConsole(int descriptor, const char* data, std::size_t size) {
    if (descriptor != 1 && descriptor != 2)
        return std::nullopt;
    Console& console = consoles().streams[static_cast<std::size_t>(descriptor - 1)];
    if (console.handle == nullptr)
        return std::nullopt;
    std::vector<char> text(console.pending.begin(),
                           console.pending.begin() +
                               static_cast<std::ptrdiff_t>(console.pendingSize));
    text.insert(text.end(), data, data + size);
    const std::size_t tail = incompleteTail(std::string_view(text.data(), text.size()));
    std::copy(text.end() - static_cast<std::ptrdiff_t>(tail), text.end(), console.pending.begin());
    console.pendingSize = tail;
    if (!writeWide(console.handle, std::string_view(text.data(), text.size() - tail))) {
        errno = EIO;
        return -1;
    }
    return static_cast<long>(size);
}

std::string_view clearLineText() {
    return consoles().clearLine;
}

} // namespace quillmere::cli

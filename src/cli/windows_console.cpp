#include "windows_console.h"

#include <atomic>
#include <string>
#include <windows.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace quillmere::cli {
namespace {

struct ConsoleAsFound {
    UINT outputCodePage = 0; // 0: not changed
    HANDLE errors = INVALID_HANDLE_VALUE;
    DWORD errorsMode = 0;
    bool modeChanged = false;
    std::string clearLine = "\r\033[K";
    std::atomic<bool> restored{false};
};

ConsoleAsFound& asFound() {
    static ConsoleAsFound state;
    return state;
}

} // namespace

void prepareConsole() {
    auto& console = asFound();
    const UINT codePage = ::GetConsoleOutputCP();
    if (codePage != 0 && codePage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8))
        console.outputCodePage = codePage;

    console.errors = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!::GetConsoleMode(console.errors, &mode) || (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING))
        return;
    if (::SetConsoleMode(console.errors, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        console.errorsMode = mode;
        console.modeChanged = true;
        return;
    }
    // A console before Windows 10: spaces across its width, short of the last column so
    // that they do not wrap.
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    const SHORT width =
        ::GetConsoleScreenBufferInfo(console.errors, &screen) ? screen.dwSize.X : 80;
    console.clearLine.assign(1, '\r');
    console.clearLine.append(static_cast<std::size_t>(width > 1 ? width - 1 : 0), ' ');
    console.clearLine.push_back('\r');
}

void restoreConsole() {
    auto& console = asFound();
    if (console.restored.exchange(true))
        return;
    if (console.modeChanged)
        ::SetConsoleMode(console.errors, console.errorsMode);
    if (console.outputCodePage != 0)
        ::SetConsoleOutputCP(console.outputCodePage);
}

std::string_view clearLineText() {
    return asFound().clearLine;
}

} // namespace quillmere::cli

#include "interrupts.h"

#include "file_layer.h"

#include <atomic>
#include <string>

#ifdef _WIN32
#include "windows_console.h"

#include <windows.h>
#else
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#endif

namespace quillmere::cli {

#ifndef _WIN32

namespace {

void writeAll(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const ssize_t written = ::write(STDERR_FILENO, text.data() + at, text.size() - at);
        if (written <= 0)
            return;
        at += static_cast<std::size_t>(written);
    }
}

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<bool> stopping{false};

} // namespace

// The signals are blocked in every thread and taken by one that waits for them, so what runs on
// an interrupt is ordinary code: it may take the locks the writers take.
InterruptWatch::InterruptWatch(bool progressLineShown) {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (const int signal : kInterrupts)
        sigaddset(&interrupts, signal);
    if (pthread_sigmask(SIG_BLOCK, &interrupts, nullptr) != 0)
        return;
    watcher_ = std::thread([interrupts, progressLineShown] {
        int signal = 0;
        while (sigwait(&interrupts, &signal) != 0) {
        }
        if (stopping.load())
            return;
        files::abandonTemporaries();
        std::string line = progressLineShown ? "\r\033[K" : "";
        line += "quillmere-tiles: interrupted by ";
        line += signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
        line += "; every output is whole, as it was or converted.\n";
        writeAll(line);
        ::_exit(128 + signal);
    });
}

// The run is over: the watcher is woken with a signal of its own set and told to end.
InterruptWatch::~InterruptWatch() {
    if (!watcher_.joinable())
        return;
    stopping.store(true);
    pthread_kill(watcher_.native_handle(), SIGTERM);
    watcher_.join();
}

#else

namespace {

std::atomic<bool> progressLine{false};

// Windows runs this on a thread of its own, which may take the locks the writers take.
BOOL WINAPI onConsoleEvent(DWORD event) {
    const char* cause = nullptr;
    UINT status = 0;
    switch (event) {
    case CTRL_C_EVENT:
        cause = "Ctrl+C";
        status = 130;
        break;
    case CTRL_BREAK_EVENT:
        cause = "Ctrl+Break";
        status = 130;
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        cause = "the console closing";
        status = 129;
        break;
    default:
        return FALSE;
    }
    files::abandonTemporaries();
    std::string line(progressLine.load() ? clearLineText() : std::string_view());
    line += "quillmere-tiles: interrupted by ";
    line += cause;
    line += "; every output is whole, as it was or converted.\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
                &written, nullptr);
    restoreConsole();
    // Not ExitProcess: the writers' threads may hold the runtime's locks that it would take.
    ::TerminateProcess(::GetCurrentProcess(), status);
    return TRUE;
}

} // namespace

InterruptWatch::InterruptWatch(bool progressLineShown) {
    progressLine.store(progressLineShown);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptWatch::~InterruptWatch() {
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

#endif

} // namespace quillmere::cli

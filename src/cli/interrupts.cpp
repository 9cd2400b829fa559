#include "interrupts.h"

#include "report_buffer.h"
#include "temporaries_in_flight.h"

#include <atomic>
#include <string>

#ifdef _WIN32
#include "windows_console.h"

#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>
#else
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#endif

namespace quillmere::cli {
namespace {

// How long an interrupt waits for another thread's temporary in the middle of being made or
// renamed.
constexpr int kTemporariesPatienceMs = 200;

} // namespace

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
InterruptWatch::InterruptWatch(bool progressLineShown, ReportBuffer& reports) {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (const int signal : kInterrupts)
        sigaddset(&interrupts, signal);
    if (pthread_sigmask(SIG_BLOCK, &interrupts, nullptr) != 0)
        return;
    watcher_ = std::thread([interrupts, progressLineShown, &reports] {
        int signal = 0;
        while (sigwait(&interrupts, &signal) != 0) {
        }
        if (stopping.load())
            return;
        files::removeTemporariesInFlight(kTemporariesPatienceMs);
        reports.flushWholeLines();
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
std::atomic<ReportBuffer*> reportsOfTheRun{nullptr};

// Stops every other thread of the process where it may be stopped, before the process ends: a
// thread ended inside a system call can leave a lock taken that the ending then waits for
// (under Wine, the process then never ends). Nothing here allocates, since a stopped thread
// may hold the heap's lock.
void stopOtherThreads() {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more;
         more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != ::GetCurrentProcessId() ||
            entry.th32ThreadID == ::GetCurrentThreadId())
            continue;
        const HANDLE thread =
            ::OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, entry.th32ThreadID);
        if (thread == nullptr)
            continue;
        if (::SuspendThread(thread) != static_cast<DWORD>(-1)) {
            CONTEXT context{};
            context.ContextFlags = CONTEXT_CONTROL;
            ::GetThreadContext(thread, &context); // returns once the thread has really stopped
        }
        ::CloseHandle(thread);
    }
    ::CloseHandle(snapshot);
}

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
    files::removeTemporariesInFlight(kTemporariesPatienceMs);
    if (ReportBuffer* reports = reportsOfTheRun.load())
        reports->flushWholeLines();
    std::string line(progressLine.load() ? clearLineText() : std::string_view());
    line += "quillmere-tiles: interrupted by ";
    line += cause;
    line += "; every output is whole, as it was or converted.\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
                &written, nullptr);
    restoreConsole();
    stopOtherThreads();
    files::closeTemporariesInFlight();
    ::TerminateProcess(::GetCurrentProcess(), status);
    return TRUE;
}

} // namespace

InterruptWatch::InterruptWatch(bool progressLineShown, ReportBuffer& reports) {
    progressLine.store(progressLineShown);
    reportsOfTheRun.store(&reports);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptWatch::~InterruptWatch() {
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    reportsOfTheRun.store(nullptr);
}

#endif

} // namespace quillmere::cli

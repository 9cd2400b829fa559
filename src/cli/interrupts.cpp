#include "interrupts.h"

#include "command_line.h"
#include "report_buffer.h"
#include "temporaries_in_flight.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string_view>

#ifdef _WIN32
#include "windows_console.h"

#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>
#else
#include <csignal>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace quillmere::cli {
namespace {

// How long the interrupt waits for another thread's temporary in the middle of being made or
// renamed, and for each standard stream to take its last lines: well within the second.
constexpr int kTemporariesPatienceMs = 200;
constexpr int kStreamPatienceMs = 100;

std::atomic<bool> progressLine{false};
std::atomic<ReportBuffer*> reportsOfTheRun{nullptr};
// 0 until an interrupt ends the run; then the status it ends with.
std::atomic<int> endingStatus{0};

// The last line, composed without allocating: "quillmere-tiles: interrupted by SIGINT; every
// output is whole, as it was or converted."
class InterruptLine {
public:
    InterruptLine(std::string_view clearLine, std::string_view cause) {
        add(clearLine);
        add(kProgramName);
        add(": interrupted by ");
        add(cause);
        add("; every output is whole, as it was or converted.\n");
    }
    std::string_view text() const { return {text_, size_}; }

private:
    void add(std::string_view piece) {
        const std::size_t taken = std::min(piece.size(), sizeof text_ - size_);
        std::memcpy(text_ + size_, piece.data(), taken);
        size_ += taken;
    }
    char text_[2048]; // room for a classic console's line of spaces
    std::size_t size_ = 0;
};

// What every interrupt does before the process ends; safe in a signal handler.
void leaveEverythingWhole(std::string_view clearLine, std::string_view cause, int errors) {
    files::removeTemporariesInFlight(kTemporariesPatienceMs);
    if (ReportBuffer* reports = reportsOfTheRun.load())
        reports->writeWholeLinesNow(kStreamPatienceMs);
    writeWithin(errors, InterruptLine(progressLine.load() ? clearLine : "", cause).text(),
                kStreamPatienceMs);
}

} // namespace

#ifndef _WIN32

namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};
// Should a step of the interrupt itself hang (a file system that no longer answers), the run
// still ends in time, with the same status.
constexpr long kWatchdogMs = 900;

// Set once the run and its reports are done.
std::atomic<bool> runOver{false};

void endNow(int) {
    ::_exit(endingStatus.load());
}

// Armed only once an interrupt came, so that a run that is not interrupted spends nothing on it.
// setitimer is a plain system call on Linux, as safe here as the timer calls POSIX lists.
void startWatchdog() {
    struct sigaction action {};
    action.sa_handler = endNow;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, nullptr);
    itimerval due{};
    due.it_value.tv_usec = kWatchdogMs * 1000;
    ::setitimer(ITIMER_REAL, &due, nullptr);
}

void onInterrupt(int signal) {
    if (runOver.load()) {
        // Ends as any program would: the signal comes again, once this handler returns.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    int running = 0;
    if (!endingStatus.compare_exchange_strong(running, 128 + signal))
        for (;;) // another thread is ending the run already
            ::pause();
    startWatchdog();
    leaveEverythingWhole("\r\033[K",
                         signal == SIGINT    ? "SIGINT"
                         : signal == SIGTERM ? "SIGTERM"
                                             : "SIGHUP",
                         STDERR_FILENO);
    ::_exit(128 + signal);
}

} // namespace

// A handler, not a thread that waits for the signals: a single conversion starts no thread, and
// nothing the handler does waits for a lock or for a stream.
InterruptWatch::InterruptWatch(bool progressLineShown, ReportBuffer& reports) {
    progressLine.store(progressLineShown);
    reportsOfTheRun.store(&reports);
    runOver.store(false);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int signal : kInterrupts)
        sigaddset(&action.sa_mask, signal);
    for (const int signal : kInterrupts)
        ::sigaction(signal, &action, nullptr);
}

// The run and its reports are done: an interrupt now ends the program as it ends any. The
// handler stays, and says so itself, which spares a system call a signal.
InterruptWatch::~InterruptWatch() {
    reportsOfTheRun.store(nullptr);
    runOver.store(true);
}

#else

namespace {

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

// Windows runs this on a thread of its own.
BOOL WINAPI onConsoleEvent(DWORD event) {
    std::string_view cause;
    int status = 0;
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
    int running = 0;
    if (!endingStatus.compare_exchange_strong(running, status))
        ::Sleep(INFINITE); // another event is ending the run already
    leaveEverythingWhole(clearLineText(), cause, 2);
    stopOtherThreads();
    files::closeTemporariesInFlight();
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
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

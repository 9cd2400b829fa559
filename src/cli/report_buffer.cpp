#include "report_buffer.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

#ifdef _WIN32
#include "windows_console.h"

#include <io.h>
#include <windows.h>
#else
#include <climits>
#include <ctime>
#include <poll.h>
#include <unistd.h>
#endif

namespace quillmere::cli {
namespace {

long writeSome(int descriptor, const char* data, std::size_t size) {
#ifdef _WIN32
    if (const auto written = writeToConsole(descriptor, data, size))
        return *written;
    return ::_write(descriptor, data, static_cast<unsigned>(size));
#else
    return ::write(descriptor, data, size);
#endif
}

} // namespace

ReportBuffer& ReportBuffer::operator<<(std::string_view text) {
    put(text);
    if (eachPiece_)
        flushHeld(held_.load());
    return *this;
}

// The bytes below held_ stay as they are until a write of the buffer's own: the interrupt
// reads them while this thread may go on adding more.
void ReportBuffer::put(std::string_view text) {
    while (!text.empty()) {
        std::size_t held = held_.load();
        if (held == sizeof buffer_) {
            if (writer_.load() == kInterrupt)
                return; // the run is ending, and nothing more goes out
            flushHeld(held);
            held = held_.load();
        }
        const std::size_t taken = std::min(text.size(), sizeof buffer_ - held);
        std::copy_n(text.data(), taken, buffer_ + held);
        held_.store(held + taken);
        text.remove_prefix(taken);
    }
}

bool ReportBuffer::flush() {
    return flushHeld(held_.load());
}

void ReportBuffer::writeWholeLinesNow(int patienceMs) {
    int nobody = kNobody;
    if (!writer_.compare_exchange_strong(nobody, kInterrupt))
        return;
    const std::size_t held = held_.load();
    const char* const end = std::find(std::make_reverse_iterator(buffer_ + held),
                                      std::make_reverse_iterator(buffer_), '\n')
                                .base();
    writeWithin(descriptor_, std::string_view(buffer_, static_cast<std::size_t>(end - buffer_)),
                patienceMs);
}

// Writes the first `count` bytes held and keeps the rest.
bool ReportBuffer::flushHeld(std::size_t count) {
    int nobody = kNobody;
    if (!writer_.compare_exchange_strong(nobody, kItself))
        return false; // taken by the interrupt, which ends the run
    const char* next = buffer_;
    const char* const end = buffer_ + count;
    while (next < end) {
        const long written = writeSome(descriptor_, next, static_cast<std::size_t>(end - next));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (failure_ == 0)
                failure_ = written < 0 ? errno : EIO;
            break;
        }
        next += written;
    }
    const bool complete = next == end;
    const std::size_t held = held_.load();
    std::copy(buffer_ + count, buffer_ + held, buffer_);
    held_.store(held - count);
    writer_.store(kNobody);
    return complete;
}

#ifdef _WIN32

namespace {

struct WriteJob {
    HANDLE handle;
    std::string_view text;
    std::atomic<bool> done{false};
};

// Straight to the system, as the C runtime in text mode writes: the runtime's own write would
// wait for the lock that a write of the run's own thread holds.
DWORD WINAPI writeJob(void* parameter) {
    auto& job = *static_cast<WriteJob*>(parameter);
    std::string_view text = job.text;
    while (!text.empty()) {
        const std::size_t line = std::min(text.find('\n'), text.size());
        DWORD written = 0;
        if (line > 0 &&
            !::WriteFile(job.handle, text.data(), static_cast<DWORD>(line), &written, nullptr))
            return 1;
        if (line < text.size() && !::WriteFile(job.handle, "\r\n", 2, &written, nullptr))
            return 1;
        text.remove_prefix(std::min(line + 1, text.size()));
    }
    job.done.store(true);
    return 0;
}

} // namespace

// A write to a full pipe waits for its reader: it goes on a thread of its own, which is given up
// on (its write cancelled where the system can) when it is not done in time.
bool writeWithin(int descriptor, std::string_view text, int patienceMs) {
    auto* job = new WriteJob{reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor)), text};
    const HANDLE thread = ::CreateThread(nullptr, 0, writeJob, job, 0, nullptr);
    if (thread == nullptr)
        return false;
    if (::WaitForSingleObject(thread, static_cast<DWORD>(patienceMs)) != WAIT_OBJECT_0)
        ::CancelSynchronousIo(thread);
    ::CloseHandle(thread);
    return job->done.load(); // the job is left to the process's end: its thread may still run
}

#else

namespace {

long millisecondsNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

// Asks the descriptor first whether it takes more, and then writes no more than a pipe takes
// whole: a full pipe or a stopped terminal never holds the write.
bool writeWithin(int descriptor, std::string_view text, int patienceMs) {
    const long giveUpAt = millisecondsNow() + patienceMs;
    while (!text.empty()) {
        pollfd ready{descriptor, POLLOUT, 0};
        const int polled =
            ::poll(&ready, 1, static_cast<int>(std::max(0L, giveUpAt - millisecondsNow())));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0 || (ready.revents & POLLOUT) == 0)
            return false;
        const ssize_t written =
            ::write(descriptor, text.data(), std::min<std::size_t>(text.size(), PIPE_BUF));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

#endif

} // namespace quillmere::cli

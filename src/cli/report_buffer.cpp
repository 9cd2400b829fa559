#include "report_buffer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <iterator>

#ifdef _WIN32
#include "windows_console.h"

#include <io.h>
#else
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
    const std::lock_guard lock(mutex_);
    put(text);
    if (eachPiece_)
        flushHeld(held_);
    return *this;
}

void ReportBuffer::put(std::string_view text) {
    while (!text.empty()) {
        if (held_ == sizeof buffer_)
            flushHeld(held_);
        const std::size_t taken = std::min(text.size(), sizeof buffer_ - held_);
        std::copy_n(text.data(), taken, buffer_ + held_);
        held_ += taken;
        text.remove_prefix(taken);
    }
}

ReportBuffer& ReportBuffer::operator<<(std::size_t number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    return *this << std::string_view(digits, static_cast<std::size_t>(end - digits));
}

bool ReportBuffer::flush() {
    const std::lock_guard lock(mutex_);
    return flushHeld(held_);
}

void ReportBuffer::flushWholeLines() {
    const std::lock_guard lock(mutex_);
    const auto end = std::find(std::make_reverse_iterator(buffer_ + held_),
                               std::make_reverse_iterator(buffer_), '\n');
    flushHeld(static_cast<std::size_t>(end.base() - buffer_));
}

// Writes the first `count` bytes held and keeps the rest.
bool ReportBuffer::flushHeld(std::size_t count) {
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
    std::copy(buffer_ + count, buffer_ + held_, buffer_);
    held_ -= count;
    return complete;
}

} // namespace quillmere::cli

#pragma once

#include <cstddef>
#include <mutex>
#include <string_view>

namespace quillmere::cli {

// Writes to standard output or error, remembering why its first write failed: a report that
// cannot be written (closed, a pipe whose reader is gone, a full disk) is then said, not lost.
// Not a std::ostream: any of those starts the C++ locale machinery, which costs a static
// program about half a mebibyte of memory and a part of its start.
class ReportBuffer {
public:
    // `eachPiece`: every piece goes out when given, as standard error's should.
    explicit ReportBuffer(int descriptor, bool eachPiece = false)
        : descriptor_(descriptor), eachPiece_(eachPiece) {}
    ReportBuffer(const ReportBuffer&) = delete;
    ReportBuffer& operator=(const ReportBuffer&) = delete;
    ~ReportBuffer() { flush(); }

    ReportBuffer& operator<<(std::string_view text);
    ReportBuffer& operator<<(char c) { return *this << std::string_view(&c, 1); }
    ReportBuffer& operator<<(std::size_t number);

    // Hands what is held to the system; false when some of it could not be written.
    bool flush();
    // For a run that is being interrupted, from another thread: hands over the lines that are
    // whole, so that no report already made is lost and none is cut in two.
    void flushWholeLines();
    // The system's error number for the first failed write, or 0.
    int failure() const { return failure_; }

private:
    void put(std::string_view text);
    bool flushHeld(std::size_t count);

    std::mutex mutex_; // an interrupt flushes from its own thread
    int descriptor_;
    bool eachPiece_;
    int failure_ = 0;
    std::size_t held_ = 0;
    char buffer_[4096];
};

} // namespace quillmere::cli

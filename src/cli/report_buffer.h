#pragma once

#include <atomic>
#include <cstddef>
#include <string_view>

namespace quillmere::cli {

// Writes to standard output or error, remembering why its first write failed: a report that
// cannot be written (closed, a pipe whose reader is gone, a full disk) is then said, not lost.
// Not a std::ostream: any of those starts the C++ locale machinery, which costs a static
// program about half a mebibyte of memory and a part of its start. Written from one thread at a
// time; an interrupt may take it over from another, or from a signal handler, without waiting for
// it.
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

    // Hands what is held to the system; false when some of it could not be written.
    bool flush();
    // For a run that an interrupt is ending; safe in a signal handler. Hands over the lines held
    // that are whole, so that no finished report is lost and none is cut in two, unless the
    // buffer is in the middle of a write of its own, or its descriptor takes nothing within
    // `patienceMs`: those reports are dropped. The buffer writes nothing after this.
    void writeWholeLinesNow(int patienceMs);
    // The system's error number for the first failed write, or 0.
    int failure() const { return failure_; }

private:
    enum Writer : int { kNobody, kItself, kInterrupt };

    void put(std::string_view text);
    bool flushHeld(std::size_t count);

    // Who writes the bytes held: only one of the buffer and the interrupt ever does.
    std::atomic<int> writer_{kNobody};
    int descriptor_;
    bool eachPiece_;
    int failure_ = 0;
    std::atomic<std::size_t> held_{0};
    char buffer_[4096];
};

static_assert(std::atomic<int>::is_always_lock_free &&
                  std::atomic<std::size_t>::is_always_lock_free,
              "a signal handler may only use atomics that need no lock");

// Writes `text` to `descriptor`, unless it stops taking it for `patienceMs`; safe in a signal
// handler. false: not all of it was written.
bool writeWithin(int descriptor, std::string_view text, int patienceMs);

} // namespace quillmere::cli

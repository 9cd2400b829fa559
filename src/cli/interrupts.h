#pragma once

#include <thread>

namespace quillmere::cli {

class ReportBuffer;

// While it lives, an interrupt ends the run cleanly: SIGINT, SIGTERM and SIGHUP, or Ctrl+C and
// closing the console on Windows. The temporary files in flight are removed, one line says why
// the run stopped, and the process exits with 128 plus the signal's number (130, 143, 129).
// The whole lines already written to `reports` go out first: what finished is not left unsaid.
// Made before any other thread starts.
class InterruptWatch {
public:
    InterruptWatch(bool progressLineShown, ReportBuffer& reports);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

private:
    std::thread watcher_; // where the system needs one to wait for the interrupt
};

} // namespace quillmere::cli

#pragma once

namespace quillmere::cli {

class ReportBuffer;

// While it lives, an interrupt ends the run within a second, whatever standard output and error
// are doing: SIGINT, SIGTERM and SIGHUP, or Ctrl+C and closing the console on Windows. The
// temporary files in flight are removed, the whole lines held in `reports` go out, and one line
// says why the run stopped, each only if its stream takes it at once; the process exits with 128
// plus the signal's number (130, 143, 129). No thread is started for it: on POSIX it is a signal
// handler, on Windows the console's own handler thread. Made before any other thread starts.
class InterruptWatch {
public:
    InterruptWatch(bool progressLineShown, ReportBuffer& reports);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
};

} // namespace quillmere::cli

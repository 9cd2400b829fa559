#pragma once

namespace quillmere::cli {

// Lets an interrupt end the run cleanly: SIGINT, SIGTERM and SIGHUP, or Ctrl+C and closing the
// console on Windows. The temporary files in flight are removed, one line says why the run
// stopped, and the process exits with 128 plus the signal's number (130, 143, 129). Call
// before any other thread starts.
void endCleanlyOnInterrupt(bool progressLineShown);

} // namespace quillmere::cli

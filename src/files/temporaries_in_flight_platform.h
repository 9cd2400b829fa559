#pragma once

// What the table of temporaries in flight needs from each system; all of it safe in a signal
// handler except the holding and releasing of handlers, which only a writer does.

#include <cstdint>

namespace quillmere::files {

// No signal handler runs on this thread between the two (Windows has none to hold).
void holdSignalHandlers();
void releaseSignalHandlers();
// Removes a temporary in flight: unlinks its name, or marks its handle's file for deletion.
void removeInFlight(std::intptr_t folderOrHandle, const char* name);
#ifdef _WIN32
void closeRemoved(std::intptr_t handle);
#endif
std::int64_t millisecondsNow();
void pauseBriefly();

} // namespace quillmere::files

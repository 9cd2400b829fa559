#include "temporaries_in_flight_platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace quillmere::files {

// The console's handler runs on a thread of its own, never in the middle of a writer's steps.
void holdSignalHandlers() {}
void releaseSignalHandlers() {}

// Each temporary was made marked for deletion; a rename under way clears the mark for a moment,
// and the interrupt waited for it: the mark is set again here for one that failed to rename.
void removeInFlight(std::intptr_t handle, const char*) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    ::SetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), FileDispositionInfo,
                                 &disposition, sizeof disposition);
}

void closeRemoved(std::intptr_t handle) {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

std::int64_t millisecondsNow() {
    return static_cast<std::int64_t>(::GetTickCount64());
}

void pauseBriefly() {
    ::Sleep(1);
}

} // namespace quillmere::files

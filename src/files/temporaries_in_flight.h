#pragma once

// The temporaries this process has in flight: made in their folder and not yet renamed over
// their output. An interrupt removes them from a signal handler (on Windows, from the console's
// handler thread), where the writer may be stopped at any instruction, so the table is a fixed
// set of slots changed by atomic steps: nothing on the removal path locks or allocates.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillmere::files {

// How many temporaries a process may have in flight at once: twice the most writers a batch has.
constexpr int kMostTemporariesInFlight = 128;

// What names a temporary for its removal: its folder and name, or on Windows its own handle,
// which deletes the file when it is closed.
struct InFlightPlace {
    std::intptr_t folderOrHandle = -1;
    std::string_view name; // POSIX only; at most 255 bytes, as a file name is
};

// Reserves a slot for a temporary that is about to be made: call just before the step that
// makes it (its creation or its naming). On POSIX, no signal handler runs on this thread until
// made() or notMade(), so that an interrupt never lands between a file's making and its entry.
// -1: the run is being interrupted, and nothing may be made.
int beginMaking();
// The temporary is made: from now on an interrupt removes it.
void made(int slot, const InFlightPlace& place);
// The step failed, and nothing was made.
void notMade(int slot);
// Its writer renamed it over its output, or removed it itself: the interrupt leaves it alone.
// false: the interrupt has taken it already, and removes it (on Windows, closes its handle).
bool forgetTemporary(int slot);
// Windows, where a temporary is renamed through its handle with its deletion mark cleared for a
// moment: the interrupt waits for a rename under way. false: the run is being interrupted.
bool beginRenaming(int slot);
void renamingDone(int slot, bool renamed);
// Whether an interrupt is ending the run: a writer stops before its next step.
bool runInterrupted();

// Removes every temporary in flight and makes every later beginMaking() fail. Safe in a signal
// handler. It waits at most `patienceMs` for other threads' temporaries that are in the middle of
// being made or renamed. On Windows it marks them for deletion; closeTemporariesInFlight() then
// deletes them.
void removeTemporariesInFlight(int patienceMs);
#ifdef _WIN32
// Closes the temporaries' handles, which deletes them now: Wine closes an ended process's handles
// only after its parent has seen it end. Only once every thread that writes them is stopped.
void closeTemporariesInFlight();
#endif

} // namespace quillmere::files

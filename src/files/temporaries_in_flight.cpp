#include "temporaries_in_flight.h"

#include "temporaries_in_flight_platform.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace quillmere::files {
namespace {

// More than the most temporaries a process has at once: one for each writer of a batch.
constexpr int kSlots = kMostTemporariesInFlight;

// Free -> Making -> InFlight -> (Renaming ->) Free. The interrupt waits for Making and Renaming
// to settle and takes each InFlight slot (Removed) before it removes its file, so the writer
// and the interrupt never both act on one temporary, and a name is never read half written.
enum SlotState : int { kFree, kMaking, kInFlight, kRenaming, kRemoved };

// All zero until used, so that the table takes no page of the program until a slot is used.
struct Slot {
    std::atomic<int> state{kFree};
    std::intptr_t folderOrHandle = 0; // set before the slot is InFlight
    char name[256] = {};              // a file name's 255 bytes and its terminating zero
};

Slot slots[kSlots];
std::atomic<bool> interrupted{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "a signal handler may only use atomics that need no lock");

} // namespace

int beginMaking() {
    holdSignalHandlers();
    for (int slot = 0; slot < kSlots; ++slot) {
        int expected = kFree;
        if (!slots[slot].state.compare_exchange_strong(expected, kMaking))
            continue;
        // After the slot is taken: either the interrupt sees it, or it is seen here.
        if (!interrupted.load())
            return slot;
        slots[slot].state.store(kFree);
        break;
    }
    releaseSignalHandlers();
    return -1;
}

void made(int slot, const InFlightPlace& place) {
    Slot& entry = slots[slot];
    entry.folderOrHandle = place.folderOrHandle;
    const std::size_t length = std::min(place.name.size(), sizeof entry.name - 1);
    std::memcpy(entry.name, place.name.data(), length);
    entry.name[length] = '\0';
    entry.state.store(kInFlight);
    releaseSignalHandlers();
}

void notMade(int slot) {
    slots[slot].state.store(kFree);
    releaseSignalHandlers();
}

bool forgetTemporary(int slot) {
    int expected = kInFlight;
    return slots[slot].state.compare_exchange_strong(expected, kFree);
}

bool beginRenaming(int slot) {
    int expected = kInFlight;
    if (!slots[slot].state.compare_exchange_strong(expected, kRenaming))
        return false;
    if (!interrupted.load())
        return true;
    slots[slot].state.store(kInFlight);
    return false;
}

void renamingDone(int slot, bool renamed) {
    slots[slot].state.store(renamed ? kFree : kInFlight);
}

bool runInterrupted() {
    return interrupted.load();
}

void removeTemporariesInFlight(int patienceMs) {
    interrupted.store(true);
    const std::int64_t giveUpAt = millisecondsNow() + patienceMs;
    for (;;) {
        bool settling = false;
        for (Slot& entry : slots) {
            int expected = kInFlight;
            if (entry.state.compare_exchange_strong(expected, kRemoved))
                removeInFlight(entry.folderOrHandle, entry.name);
            else
                settling = settling || expected == kMaking || expected == kRenaming;
        }
        if (!settling || millisecondsNow() >= giveUpAt)
            return;
        pauseBriefly();
    }
}

#ifdef _WIN32
void closeTemporariesInFlight() {
    for (Slot& entry : slots)
        if (entry.state.load() == kRemoved)
            closeRemoved(entry.folderOrHandle);
}
#endif

} // namespace quillmere::files

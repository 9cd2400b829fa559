#include "temporaries_in_flight_platform.h"

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace quillmere::files {
namespace {

// Only its own thread reads it, never a handler.
thread_local sigset_t maskBeforeHold;

} // namespace

void holdSignalHandlers() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &maskBeforeHold);
}

void releaseSignalHandlers() {
    pthread_sigmask(SIG_SETMASK, &maskBeforeHold, nullptr);
}

void removeInFlight(std::intptr_t folder, const char* name) {
    ::unlinkat(static_cast<int>(folder), name, 0);
}

std::int64_t millisecondsNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void pauseBriefly() {
    ::poll(nullptr, 0, 1); // poll, unlike the sleeps, is safe in a signal handler
}

} // namespace quillmere::files

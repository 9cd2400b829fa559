#include "standard_streams.h"

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#endif

namespace quillmere::files {

void holdClosedStandardStreams() {
#ifndef _WIN32
    // One look at all three: a closed one answers POLLNVAL, and nothing waits.
    pollfd streams[] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
    if (::poll(streams, 3, 0) < 0)
        return;
    for (const pollfd& stream : streams) {
        if ((stream.revents & POLLNVAL) == 0)
            continue;
        // A new pipe takes the lowest free numbers: its read end becomes the closed stream's,
        // where a write fails as it would on the closed stream, and its write end is let go.
        int ends[2];
        if (::pipe(ends) != 0)
            return;
        ::close(ends[1]);
    }
#endif
    // Windows files are handles, not the C library's numbers: nothing to hold there.
}

} // namespace quillmere::files

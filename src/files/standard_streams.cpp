#include "standard_streams.h"

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace quillmere::files {

void holdClosedStandardStreams() {
#ifndef _WIN32
    for (int stream = 0; stream <= 2; ++stream) {
        if (::fcntl(stream, F_GETFD) != -1 || errno != EBADF)
            continue;
        // A new pipe takes the lowest free numbers: its read end becomes `stream`, where a
        // write fails as it would on the closed stream, and its write end is let go.
        int ends[2];
        if (::pipe(ends) != 0)
            return;
        ::close(ends[1]);
    }
#endif
    // Windows files are handles, not the C library's numbers: nothing to hold there.
}

} // namespace quillmere::files

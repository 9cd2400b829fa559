#include "least_sequence.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace least {
namespace {

// Names the unnamed file `fd` straight from its descriptor where the process may (that needs
// CAP_DAC_READ_SEARCH), through /proc otherwise.
bool name(int fd, int folder, const char* temporary) {
    if (::linkat(fd, "", folder, temporary, AT_EMPTY_PATH) == 0)
        return true;
    char self[40];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, self, folder, temporary, AT_SYMLINK_FOLLOW) == 0;
}

} // namespace

const char* read(const char* map, char (&tileSet)[kTileSetLength]) {
    const int in = ::open(map, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return "open";
    const ssize_t got = ::pread(in, tileSet, sizeof tileSet, 0);
    ::close(in);
    if (got < 0)
        return "pread";
    // A short map leaves zeros, as quillmere-tiles writes them.
    std::memset(tileSet + got, 0, sizeof tileSet - static_cast<std::size_t>(got));
    return nullptr;
}

int holdOldOutput(int folder, const char* output) {
    // O_PATH: the least open that keeps the file alive, with no access of its own.
    return ::openat(folder, output, O_PATH | O_NOFOLLOW | O_CLOEXEC);
}

const char* convert(const char* map, int folder, const char* output, OldOutput old) {
    char tileSet[kTileSetLength];
    if (const char* failed = read(map, tileSet))
        return failed;

    const int out = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (out < 0)
        return "open an unnamed temporary file";
    // Unique while the descriptor is open: no two threads hold the same one.
    char temporary[32];
    std::snprintf(temporary, sizeof temporary, ".least.%d.part", out);
    const char* failed = nullptr;
    if (::write(out, tileSet, sizeof tileSet) != static_cast<ssize_t>(sizeof tileSet))
        failed = "write";
    else if (::fdatasync(out) != 0)
        failed = "fdatasync";
    else if (!name(out, folder, temporary))
        failed = "linkat";
    else {
        const int held = old == OldOutput::Held ? holdOldOutput(folder, output) : -1;
        if (::renameat(folder, temporary, folder, output) != 0)
            failed = "renameat";
        if (held >= 0)
            ::close(held);
    }
    ::close(out);
    return failed;
}

} // namespace least

// Preloaded into quillmere-tiles by the fault tests: makes chosen system calls fail, or write
// less than asked, so that the program's handling of a full disk or a failing flush can be
// seen without a full disk. Set through the environment:
//   QUILLMERE_FAULT_CALL    write | fsync | fdatasync | rename | open | pread | fsetxattr |
//                           flistxattr
//                           (open and rename include openat, renameat and renameat2)
//   QUILLMERE_FAULT_ERRNO   ENOSPC | EIO | EACCES | EDQUOT (default EIO)
//   QUILLMERE_FAULT_AFTER_BYTES  write: let this many bytes through first, then fail
//   QUILLMERE_FAULT_AFTER_CALLS  let this many calls through first, then fail
//   QUILLMERE_FAULT_PATH    open, rename: only for paths (the new name) that contain this text
//   QUILLMERE_SHORT_WRITES  write at most this many bytes a call (no failure)
//   QUILLMERE_FAULT_REMOVES openat: instead of failing, remove the file first, once, as another
//                           process might just before the open
//   QUILLMERE_APPEAR_FROM   renameat2: first links this file to the new name, as another
//                           program creating the output meanwhile would
// Only files the program opened itself are touched: standard input, output and error are not.

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>

namespace {

const char* setting(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

long number(const char* name, long fallback) {
    const char* value = setting(name);
    return value != nullptr ? std::strtol(value, nullptr, 10) : fallback;
}

int chosenErrno() {
    const std::string_view name =
        setting("QUILLMERE_FAULT_ERRNO") ? setting("QUILLMERE_FAULT_ERRNO") : "EIO";
    if (name == "ENOSPC")
        return ENOSPC;
    if (name == "EACCES")
        return EACCES;
    if (name == "EDQUOT")
        return EDQUOT;
    return EIO;
}

bool targets(std::string_view call) {
    const char* chosen = setting("QUILLMERE_FAULT_CALL");
    return chosen != nullptr && call == chosen;
}

bool pathMatches(const char* path) {
    const char* part = setting("QUILLMERE_FAULT_PATH");
    return part == nullptr || (path != nullptr && std::strstr(path, part) != nullptr);
}

std::atomic<long> callsSeen{0};
std::atomic<long> bytesWritten{0};
std::atomic<bool> removed{false};

// Counts a call of the targeted kind and says whether this one fails.
bool failsNow() {
    return callsSeen.fetch_add(1) >= number("QUILLMERE_FAULT_AFTER_CALLS", 0);
}

template <typename Function> Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

int failWith() {
    errno = chosenErrno();
    return -1;
}

} // namespace

extern "C" {

ssize_t write(int fd, const void* buffer, size_t count) {
    static auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    if (fd <= STDERR_FILENO)
        return real(fd, buffer, count);
    if (const long most = number("QUILLMERE_SHORT_WRITES", 0); most > 0 && count > size_t(most))
        count = static_cast<size_t>(most);
    if (targets("write")) {
        const long allowed = number("QUILLMERE_FAULT_AFTER_BYTES", -1);
        if (allowed >= 0) {
            const long done = bytesWritten.load();
            if (done >= allowed)
                return failWith();
            if (done + long(count) > allowed)
                count = static_cast<size_t>(allowed - done); // a short write, then the failure
        } else if (failsNow()) {
            return failWith();
        }
    }
    const ssize_t written = real(fd, buffer, count);
    if (written > 0)
        bytesWritten += written;
    return written;
}

int fsync(int fd) {
    static auto real = next<int (*)(int)>("fsync");
    return targets("fsync") && failsNow() ? failWith() : real(fd);
}

int fdatasync(int fd) {
    static auto real = next<int (*)(int)>("fdatasync");
    return targets("fdatasync") && failsNow() ? failWith() : real(fd);
}

int rename(const char* from, const char* to) {
    static auto real = next<int (*)(const char*, const char*)>("rename");
    return targets("rename") && pathMatches(to) && failsNow() ? failWith() : real(from, to);
}

int renameat(int fromFolder, const char* from, int toFolder, const char* to) {
    static auto real = next<int (*)(int, const char*, int, const char*)>("renameat");
    return targets("rename") && pathMatches(to) && failsNow()
               ? failWith()
               : real(fromFolder, from, toFolder, to);
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
    static auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    if (const char* appearing = setting("QUILLMERE_APPEAR_FROM"))
        ::linkat(AT_FDCWD, appearing, toFolder, to, 0);
    return targets("rename") && pathMatches(to) && failsNow()
               ? failWith()
               : real(fromFolder, from, toFolder, to, flags);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
    static auto real = next<int (*)(int, const char*, const void*, size_t, int)>("fsetxattr");
    return targets("fsetxattr") && failsNow() ? failWith() : real(fd, name, value, size, flags);
}

ssize_t flistxattr(int fd, char* list, size_t size) {
    static auto real = next<ssize_t (*)(int, char*, size_t)>("flistxattr");
    return targets("flistxattr") && failsNow() ? failWith() : real(fd, list, size);
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    static auto real = next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
    return targets("pread") && failsNow() ? failWith() : real(fd, buffer, count, offset);
}

ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
    static auto real = next<ssize_t (*)(int, void*, size_t, off_t)>("pread64");
    return targets("pread") && failsNow() ? failWith() : real(fd, buffer, count, offset);
}

#define QUILLMERE_OPEN(name)                                                                       \
    int name(const char* path, int flags, ...) {                                                   \
        static auto real = next<int (*)(const char*, int, ...)>(#name);                            \
        mode_t mode = 0;                                                                           \
        if (flags & (O_CREAT | O_TMPFILE)) {                                                       \
            va_list arguments;                                                                     \
            va_start(arguments, flags);                                                            \
            mode = va_arg(arguments, mode_t);                                                      \
            va_end(arguments);                                                                     \
        }                                                                                          \
        if (targets("open") && pathMatches(path) && failsNow())                                    \
            return failWith();                                                                     \
        return real(path, flags, mode);                                                            \
    }

QUILLMERE_OPEN(open)
QUILLMERE_OPEN(open64)

#define QUILLMERE_OPENAT(name)                                                                     \
    int name(int folder, const char* path, int flags, ...) {                                       \
        static auto real = next<int (*)(int, const char*, int, ...)>(#name);                       \
        mode_t mode = 0;                                                                           \
        if (flags & (O_CREAT | O_TMPFILE)) {                                                       \
            va_list arguments;                                                                     \
            va_start(arguments, flags);                                                            \
            mode = va_arg(arguments, mode_t);                                                      \
            va_end(arguments);                                                                     \
        }                                                                                          \
        if (targets("open") && pathMatches(path) && failsNow()) {                                  \
            if (!setting("QUILLMERE_FAULT_REMOVES"))                                               \
                return failWith();                                                                 \
            if (!removed.exchange(true))                                                           \
                ::unlinkat(folder, path, 0);                                                       \
        }                                                                                          \
        return real(folder, path, flags, mode);                                                    \
    }

QUILLMERE_OPENAT(openat)
QUILLMERE_OPENAT(openat64)

} // extern "C"

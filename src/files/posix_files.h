#pragma once

// What the POSIX file layer's parts share: an owned descriptor, errors in the system's words,
// and the temporary file that a write goes through.

#include "file_layer.h"

#include <cerrno>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quillmere::files {

inline FileError systemError(std::string step, int code = errno) {
    return {std::move(step), std::generic_category().message(code), code == ENOENT};
}

inline FileIdentity identityOf(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// The output's place after links: a folder held open, and a name in it.
struct OutputPlace {
    Fd folder;
    FileIdentity folderIdentity;
    std::string shownFolder; // the folder as the path gave it; empty for the current folder
    std::string name;
};

// How a message names a folder: as the path gave it, or the current folder's own path.
std::string folderForMessages(const std::string& shownFolder);

// A new file in the output's folder, removed again unless it is renamed into place. While its
// writer lives it holds a lock, which is what tells a live temporary from an abandoned one.
class TemporaryFile {
public:
    explicit TemporaryFile(const OutputPlace& place) : place_(place) {}
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // `mode` as for open(); the folder's default access control list applies as usual.
    std::optional<FileError> create(mode_t mode);
    int fd() const { return fd_.get(); }
    std::optional<FileError> write(std::span<const std::byte> bytes);
    std::optional<FileError> flush();
    // Gives a finished unnamed file its name; a named one has one already.
    std::optional<FileError> name();
    std::optional<FileError> renameOverOutput();

private:
    std::optional<FileError> createNamed(mode_t mode);

    const OutputPlace& place_;
    Fd fd_;
    std::string name_;  // empty while the file has no name
    int inFlight_ = -1; // its slot among the temporaries in flight, once it has a name
};

// Removes, once per process and folder, the temporaries that killed runs left in it.
void sweepAbandonedTemporaries(const OutputPlace& place);

// Gives the new file the old one's owner, group, attributes, access control list and mode.
std::optional<FileError> copyMetadata(int from, const struct stat& old, int to,
                                      const struct stat& fresh);

} // namespace quillmere::files

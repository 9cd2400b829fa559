#pragma once

// What the POSIX file layer's parts share: an owned descriptor, errors in the system's words,
// the output's place, and the temporary file that a replacement goes through.

#include "file_layer.h"

#include <cerrno>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quillmere::files {

inline FileError systemError(std::string step, int code = errno) {
    return {std::move(step), std::generic_category().message(code)};
}

inline FileIdentity identityOf(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

FileKind kindOf(mode_t mode);
// The effective user, asked of the system once: it does not change while the program runs.
uid_t effectiveUser();
FileState stateOf(const struct stat& status);

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    // A descriptor someone else owns and closes.
    static Fd borrowed(int fd) {
        Fd held(fd);
        held.owned_ = false;
        return held;
    }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)), owned_(other.owned_) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        std::swap(owned_, other.owned_);
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0 && owned_)
            ::close(fd_);
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    bool owned() const { return owned_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
    bool owned_ = true;
};

// The output's place after links: a folder held open, and a name in it.
struct OutputPlace {
    Fd folder;
    FileIdentity folderIdentity;
    std::string shownFolder; // the folder as the path gave it; empty for the current folder
    std::string name;
    bool throughLink = false; // the path's name is a symbolic link that led here
    // The names in the folder that may be leftovers, where a shared folder was surveyed.
    const std::vector<std::string>* leftovers = nullptr;
};

// The output's folder and name after links, and what is there now (st_nlink 0 when nothing).
// `shared`: the folder of a batch's outputs, used where the path names it.
Expected<OutputPlace> placeOf(const std::string& path, struct stat& existing,
                              const OutputFolder* shared = nullptr);

// How a message names a folder: as the path gave it, or the current folder's own path.
std::string folderForMessages(const std::string& shownFolder);

// Whether `folder` names one file by both `a` and `b`: the same name, or two that fold to one
// where the folder ignores case (asked of the folder itself, with a third spelling).
bool namesOneFile(int folder, const std::string& a, const std::string& b);

// A new file in the output's folder, removed again unless it is renamed into place. While its
// writer lives it holds it open, which tells a live temporary from an abandoned one.
class TemporaryFile {
public:
    explicit TemporaryFile(const OutputPlace& place) : place_(place) {}
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // `unnamedMode` for an unnamed file, which nobody else can open, `namedMode` where the file
    // system makes only named ones; as for open(), the folder's default access control list
    // applies as usual.
    Expected<Done> create(mode_t unnamedMode, mode_t namedMode);
    int fd() const { return fd_.get(); }
    Expected<Done> write(std::span<const std::byte> bytes);
    Expected<Done> flush();
    // Gives a finished unnamed file its name; a named one has one already.
    Expected<Done> name();
    const std::string& currentName() const { return name_; }
    // `replacing` false: only if the output's name still names nothing.
    Expected<Done> renameOverOutput(bool replacing);

private:
    Expected<Done> createNamed(mode_t mode);

    const OutputPlace& place_;
    Fd fd_;
    std::string name_;  // empty while the file has no name
    int inFlight_ = -1; // its slot among the temporaries in flight, once it has a name
};

// Gives the new file the old one's owner, group, attributes, access control list and mode.
Expected<Done> copyMetadata(int from, const struct stat& old, int to, const struct stat& fresh);

} // namespace quillmere::files

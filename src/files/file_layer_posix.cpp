#include "posix_files.h"

#include <fcntl.h>

namespace quillmere::files {

struct OutputFolderAccess {
    static OutputFolder make(Fd folder, FileIdentity identity, std::string shownPath) {
        return OutputFolder(folder.release(), identity, std::move(shownPath));
    }
};

namespace {

constexpr int kMaxSymbolicLinks = 40;

// The replaced file of this thread's last write with deferRelease.
thread_local Fd heldOldOutput;
constexpr std::string_view kLinkChanged = "its symbolic link changed while it was being followed";

FileKind kindOf(mode_t mode) {
    if (S_ISREG(mode))
        return FileKind::Regular;
    if (S_ISDIR(mode))
        return FileKind::Directory;
    if (S_ISFIFO(mode))
        return FileKind::Pipe;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return FileKind::Device;
    if (S_ISSOCK(mode))
        return FileKind::Socket;
    return FileKind::Other;
}

FileInfo infoOf(const struct stat& status) {
    return {kindOf(status.st_mode), identityOf(status)};
}

FileState stateOf(const struct stat& status) {
    return {identityOf(status), static_cast<std::uint64_t>(status.st_size),
            static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

struct SplitPath {
    std::string folder; // empty for the current folder
    std::string name;
};

SplitPath split(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {{}, path};
    return {path.substr(0, slash == 0 ? 1 : slash), path.substr(slash + 1)};
}

// A folder, opened so that it can be listed and flushed; one that may only be passed through is
// opened for that alone. Links in the path are followed by the system, under its rules.
Fd openFolder(int base, const std::string& folder) {
    const char* path = folder.empty() ? "." : folder.c_str();
    Fd opened(::openat(base, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!opened.valid() && errno == EACCES)
        opened = Fd(::openat(base, path, O_PATH | O_DIRECTORY | O_CLOEXEC));
    return opened;
}

bool isFileName(const std::string& name) {
    return !name.empty() && name != "." && name != "..";
}

// Where a symbolic link leads, found by letting the system follow it: its protections (such as
// fs.protected_symlinks) apply, and a link to nothing is refused rather than written through.
// Its chain is then walked one link at a time, each folder opened by the system, and the end
// must be the very file the system found, or something was swapped meanwhile.
std::optional<FileError> followLink(OutputPlace& place, struct stat& status) {
    Fd target(::openat(place.folder.get(), place.name.c_str(), O_PATH | O_CLOEXEC));
    if (!target.valid() && errno == ENOENT)
        return FileError{{}, "it is a symbolic link to a file that does not exist", false};
    if (!target.valid() && (errno == EACCES || errno == EPERM))
        return FileError{{},
                         "the system does not let this process follow its symbolic link: " +
                             std::generic_category().message(errno),
                         false};
    struct stat found {};
    if (!target.valid() || ::fstat(target.get(), &found) != 0)
        return systemError({});
    if (!S_ISREG(found.st_mode))
        return FileError{{}, notAFile(kindOf(found.st_mode)), false};
    for (int hop = 0; hop < kMaxSymbolicLinks && S_ISLNK(status.st_mode); ++hop) {
        std::string text(static_cast<std::size_t>(status.st_size) + 1, '\0');
        const ssize_t length =
            ::readlinkat(place.folder.get(), place.name.c_str(), text.data(), text.size());
        if (length < 0 || static_cast<std::size_t>(length) >= text.size())
            break;
        text.resize(static_cast<std::size_t>(length));
        SplitPath next = split(text);
        const bool absolute = text.starts_with('/');
        Fd folder = openFolder(absolute ? AT_FDCWD : place.folder.get(), next.folder);
        if (!folder.valid() || !isFileName(next.name))
            break;
        place.folder = std::move(folder);
        if (!next.folder.empty())
            place.shownFolder = absolute || place.shownFolder.empty()
                                    ? next.folder
                                    : place.shownFolder + "/" + next.folder;
        place.name = std::move(next.name);
        if (::fstatat(place.folder.get(), place.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            break;
    }
    if (S_ISLNK(status.st_mode) || identityOf(status) != identityOf(found))
        return FileError{{}, std::string(kLinkChanged), false};
    return std::nullopt;
}

// The output's folder and name after links, and what is there now (st_nlink 0 when nothing).
Expected<OutputPlace> placeOnce(const std::string& path, struct stat& existing) {
    SplitPath parts = split(path);
    if (!isFileName(parts.name))
        return FileError{{}, "it names a folder, not a file", false};
    OutputPlace place{openFolder(AT_FDCWD, parts.folder), {}, parts.folder, std::move(parts.name)};
    if (!place.folder.valid())
        return systemError({});
    existing = {};
    if (::fstatat(place.folder.get(), place.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return systemError({});
        existing = {};
    } else if (S_ISLNK(existing.st_mode)) {
        if (auto error = followLink(place, existing))
            return *error;
    }
    struct stat folder {};
    if (::fstat(place.folder.get(), &folder) != 0)
        return systemError({});
    place.folderIdentity = identityOf(folder);
    return place;
}

// Another writer renaming over the link's target makes the walk end on a newer file than the
// system found: looked at again, both agree.
Expected<OutputPlace> placeOf(const std::string& path, struct stat& existing) {
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        auto place = placeOnce(path, existing);
        if (place || attempt == kAttempts || place.error().reason != kLinkChanged)
            return place;
    }
}

Expected<Done> flushFolder(int folder, const std::string& shownPath) {
    if (::fsync(folder) == 0)
        return Done{};
    // A folder this process may pass through but not open: flush the whole system instead.
    if (errno == EBADF) {
        ::sync();
        return Done{};
    }
    return systemError("while flushing its folder \"" + folderForMessages(shownPath) +
                       "\" to disk");
}

} // namespace

Expected<FileInfo> inspect(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return systemError({});
    return infoOf(status);
}

Expected<ReadOnlyFile> ReadOnlyFile::open(const std::string& path, const FileInfo& expected) {
    // Non-blocking, so that a pipe put in the file's place cannot hold the open up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return systemError({});
    ReadOnlyFile file(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return systemError({});
    const FileInfo opened = infoOf(status);
    if (opened.kind != FileKind::Regular || opened.identity != expected.identity)
        return FileError{{}, "it was replaced by another file while it was being opened"};
    return file;
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept : handle_(other.handle_) {
    other.handle_ = -1;
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
}

ReadOnlyFile::~ReadOnlyFile() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

Expected<FileState> ReadOnlyFile::state() const {
    struct stat status {};
    if (::fstat(static_cast<int>(handle_), &status) != 0)
        return systemError({});
    return stateOf(status);
}

Expected<std::size_t> ReadOnlyFile::readAt(std::uint64_t offset, std::span<std::byte> into) {
    std::size_t total = 0;
    while (total < into.size()) {
        const ssize_t got = ::pread(static_cast<int>(handle_), into.data() + total,
                                    into.size() - total, static_cast<off_t>(offset + total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return systemError("while reading");
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return total;
}

Expected<Written> writeAtomically(const std::string& path, std::span<const std::byte> bytes,
                                  const WriteOptions& options) {
    struct stat old {};
    auto place = placeOf(path, old);
    if (!place)
        return place.error();
    const bool replacing = old.st_nlink > 0;
    if (replacing && !S_ISREG(old.st_mode))
        return FileError{{}, notAFile(kindOf(old.st_mode)), false};
    const auto keptApart = [&] {
        return replacing && options.keepApartFrom && identityOf(old) == *options.keepApartFrom;
    };
    if (keptApart()) // before opening it for writing, which it may not allow
        return FileError{{}, options.keptApartReason, false};
    sweepAbandonedTemporaries(*place);

    // Opened for writing, as a write in place would be: the system decides whether it may be
    // changed. Held open until after the rename, so that releasing the old file's blocks is
    // this close, not part of the rename.
    Fd oldFile;
    if (replacing) {
        oldFile = Fd(::openat(place->folder.get(), place->name.c_str(),
                              O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!oldFile.valid() || ::fstat(oldFile.get(), &old) != 0)
            return systemError({});
        if (!S_ISREG(old.st_mode))
            return FileError{{}, notAFile(kindOf(old.st_mode)), false};
        if (keptApart())
            return FileError{{}, options.keptApartReason, false};
    }

    TemporaryFile temporary(*place);
    // Private until it carries the old file's owner and access control list.
    if (auto error = temporary.create(replacing ? 0600 : 0666))
        return *error;
    struct stat fresh {};
    if (::fstat(temporary.fd(), &fresh) != 0)
        return systemError({});
    if (replacing) {
        if (auto error = copyMetadata(oldFile.get(), old, temporary.fd(), fresh))
            return *error;
    }
    if (auto error = temporary.write(bytes))
        return *error;
    if (auto error = temporary.flush())
        return *error;

    Written written;
    written.identity = identityOf(fresh);
    written.otherNames = replacing ? old.st_nlink - 1 : 0;
    if (options.beforeReplace) {
        const int folder = place->folder.get();
        const char* name = place->name.c_str();
        std::optional<FileState> lastSeen;
        const ReplaceCheck check{place->folderIdentity, written.identity, [&] {
                                     struct stat now {};
                                     lastSeen.reset();
                                     if (::fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) == 0)
                                         lastSeen = stateOf(now);
                                     return lastSeen;
                                 }};
        if (options.beforeReplace(check) == ReplaceDecision::Keep) {
            written.replaced = false;
            written.identity = lastSeen ? lastSeen->identity : FileIdentity{};
            written.otherNames = 0;
            return written;
        }
    }
    // Named only now, so that a kill leaves a name behind for as short a time as it can.
    if (auto error = temporary.name())
        return *error;
    if (auto error = temporary.renameOverOutput())
        return *error;
    if (options.deferRelease)
        std::swap(heldOldOutput, oldFile); // the one held before is closed on return
    if (!options.flushFolder) {
        written.folder = OutputFolderAccess::make(std::move(place->folder), place->folderIdentity,
                                                  std::move(place->shownFolder));
        return written;
    }
    if (auto flushed = flushFolder(place->folder.get(), place->shownFolder); !flushed)
        return flushed.error();
    return written;
}

void releaseOldOutput() {
    heldOldOutput = Fd();
}

OutputFolder::OutputFolder(OutputFolder&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), identity_(other.identity_),
      shownPath_(std::move(other.shownPath_)) {}

OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept {
    std::swap(handle_, other.handle_);
    std::swap(identity_, other.identity_);
    std::swap(shownPath_, other.shownPath_);
    return *this;
}

OutputFolder::~OutputFolder() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

Expected<Done> OutputFolder::flush() {
    return flushFolder(static_cast<int>(handle_), shownPath_);
}

} // namespace quillmere::files

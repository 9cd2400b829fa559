#include "posix_files.h"

#include <fcntl.h>
#include <unistd.h>

namespace quillmere::files {
namespace {

FileInfo infoOf(const struct stat& status) {
    return {kindOf(status.st_mode), identityOf(status)};
}

} // namespace

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

uid_t effectiveUser() {
    static const uid_t user = ::geteuid();
    return user;
}

FileState stateOf(const struct stat& status) {
    return {identityOf(status), static_cast<std::uint64_t>(status.st_size),
            static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

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
    file.opened_ = stateOf(status);
    return file;
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : handle_(other.handle_), opened_(other.opened_) {
    other.handle_ = -1;
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    std::swap(handle_, other.handle_);
    std::swap(opened_, other.opened_);
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

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {
    }, second{};
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0)
        return false;
    if (identityOf(first) == identityOf(second))
        return true;
    // One file under two spellings still has one size and one modification time.
    if (first.st_dev != second.st_dev || first.st_size != second.st_size ||
        first.st_mtim.tv_sec != second.st_mtim.tv_sec ||
        first.st_mtim.tv_nsec != second.st_mtim.tv_nsec)
        return false;
    auto placeA = placeOf(a, first);
    auto placeB = placeOf(b, second);
    return placeA && placeB && placeA->folderIdentity == placeB->folderIdentity &&
           namesOneFile(placeA->folder.get(), placeA->name, placeB->name);
}

HeldHandle::~HeldHandle() {
    if (handle_ != kNone)
        ::close(static_cast<int>(handle_));
}

Expected<Done> OutputFolder::flush() {
    const int folder = static_cast<int>(handle_.get());
    if (::fsync(folder) == 0)
        return Done{};
    // A folder this process may pass through but not open: flush the whole system instead.
    if (errno == EBADF) {
        ::sync();
        return Done{};
    }
    return systemError("the folder \"" + folderForMessages(shownPath_) +
                       "\" could not be flushed to disk");
}

} // namespace quillmere::files

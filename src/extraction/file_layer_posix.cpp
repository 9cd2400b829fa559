#include "file_layer.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quillmere::files {
namespace {

constexpr int kMaxSymbolicLinks = 40;
// Leaves room for the temporary name's prefix and suffix within a 255-byte file name.
constexpr std::size_t kMaxTemporaryStem = 200;
constexpr int kTemporaryNameAttempts = 64;

FileError systemError(std::string step, int code = errno) {
    return {std::move(step), std::generic_category().message(code), code == ENOENT};
}

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
    return {kindOf(status.st_mode),
            {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)}};
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The path a write lands on: the end of the chain of symbolic links, or the path itself.
Expected<std::string> followLinks(std::string path) {
    for (int hop = 0; hop < kMaxSymbolicLinks; ++hop) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) {
            if (errno == ENOENT)
                return path;
            return systemError({});
        }
        if (!S_ISLNK(status.st_mode))
            return path;
        std::string target(static_cast<std::size_t>(status.st_size) + 1, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0)
            return systemError("while following its symbolic link");
        target.resize(static_cast<std::size_t>(length));
        path = target.starts_with('/') ? target : folderOf(path) + "/" + target;
    }
    return systemError("while following its symbolic links", ELOOP);
}

std::string randomSuffix() {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator{
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        static_cast<std::uint64_t>(::getpid())};
    std::string suffix(8, 'x');
    for (auto& c : suffix)
        c = kAlphabet[generator() % (sizeof kAlphabet - 1)];
    return suffix;
}

// A new file in the output's folder that is removed again unless it is renamed into place.
// Where the system allows, it has no name until it is complete and flushed, so that a process
// killed while writing leaves nothing behind.
class TemporaryFile {
public:
    ~TemporaryFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!path_.empty())
            ::unlink(path_.c_str());
    }

    std::optional<FileError> create(const std::string& folder, const std::string& name) {
        folder_ = folder;
        // Assembled in place: GCC 12 warns falsely (-Wrestrict) about "." + std::string.
        stem_.assign(1, '.');
        stem_.append(name, 0, kMaxTemporaryStem);
        stem_ += '.';
#ifdef O_TMPFILE
        fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ >= 0)
            return std::nullopt;
        // Not every file system has unnamed files; those fall back to a named one.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return systemError({});
#endif
        for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
            std::string candidate = nextName();
            fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                         0666);
            if (fd_ >= 0) {
                path_ = std::move(candidate);
                return std::nullopt;
            }
            // The temporary file is ours, not the person's: its folder's reason is the reason.
            if (errno != EEXIST)
                return systemError({});
        }
        return systemError({}, EEXIST);
    }

    std::optional<FileError> write(std::span<const std::byte> bytes) {
        while (!bytes.empty()) {
            const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0)
                return systemError("while writing");
            if (written == 0)
                return systemError("while writing", EIO);
            bytes = bytes.subspan(static_cast<std::size_t>(written));
        }
        return std::nullopt;
    }

    std::optional<FileError> copyPermissions(mode_t mode) {
        if (::fchmod(fd_, mode & 07777) != 0)
            return systemError("while giving it the old file's permissions");
        return std::nullopt;
    }

    std::optional<FileError> flush() {
#if defined(__APPLE__)
        const int flushed = ::fsync(fd_);
#else
        const int flushed = ::fdatasync(fd_);
#endif
        if (flushed != 0)
            return systemError("while flushing it to disk");
        return std::nullopt;
    }

    // Renames the finished file over `target`, giving an unnamed one a name first.
    std::optional<FileError> replace(const std::string& target) {
        if (path_.empty()) {
            if (auto error = giveName())
                return error;
        }
        const int closed = ::close(fd_);
        fd_ = -1;
        if (closed != 0 && errno != EINTR)
            return systemError("while closing it");
        if (::rename(path_.c_str(), target.c_str()) != 0)
            return systemError("while replacing the old file");
        path_.clear();
        return std::nullopt;
    }

private:
    std::string nextName() const {
        return folder_ + "/" + stem_ + randomSuffix() + ".part";
    }

    std::optional<FileError> giveName() {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
            std::string candidate = nextName();
            int linked =
                ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW);
#ifdef AT_EMPTY_PATH
            if (linked != 0 && errno == ENOENT) // no /proc: the direct way, where permitted
                linked = ::linkat(fd_, "", AT_FDCWD, candidate.c_str(), AT_EMPTY_PATH);
#endif
            if (linked == 0) {
                path_ = std::move(candidate);
                return std::nullopt;
            }
            if (errno != EEXIST)
                return systemError("while naming it in its folder");
        }
        return systemError("while naming it in its folder", EEXIST);
    }

    int fd_ = -1;
    std::string folder_;
    std::string stem_;
    std::string path_; // empty while the file has no name
};

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

Expected<Done> writeAtomically(const std::string& path, std::span<const std::byte> bytes) {
    auto target = followLinks(path);
    if (!target)
        return target.error();
    const auto slash = target->rfind('/');
    const std::string name = slash == std::string::npos ? *target : target->substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return FileError{{}, "it names a folder, not a file"};

    struct stat old {};
    const bool replacing = ::stat(target->c_str(), &old) == 0;
    if (replacing && !S_ISREG(old.st_mode))
        return FileError{{}, "it is not a regular file"};
    // A rename would replace even a read-only file; respect it as a write would.
    if (replacing && ::access(target->c_str(), W_OK) != 0)
        return systemError({});

    TemporaryFile temporary;
    if (auto error = temporary.create(folderOf(*target), name))
        return *error;
    if (replacing) {
        if (auto error = temporary.copyPermissions(old.st_mode))
            return *error;
    }
    if (auto error = temporary.write(bytes))
        return *error;
    if (auto error = temporary.flush())
        return *error;
    // Releasing the old file's blocks is slow on some file systems, and done by whoever drops
    // the old file last. Held open here, that is the close below, not the rename: the rename,
    // while the temporary file has a name that a kill would leave behind, stays short.
    const int oldFile = replacing ? ::open(target->c_str(), O_PATH | O_CLOEXEC) : -1;
    const auto failure = temporary.replace(*target);
    if (oldFile >= 0)
        ::close(oldFile);
    if (failure)
        return *failure;
    return Done{};
}

} // namespace quillmere::files

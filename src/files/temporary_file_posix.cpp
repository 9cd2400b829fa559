#include "posix_files.h"
#include "temporaries_in_flight.h"

#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <set>
#include <vector>

namespace quillmere::files {
namespace {

// Leaves room for the temporary name's prefix and suffix within a 255-byte file name.
constexpr std::size_t kMaxTemporaryStem = 200;
constexpr std::size_t kRandomLength = 8;
constexpr std::string_view kTemporarySuffix = ".part";
constexpr std::string_view kRandomAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kTemporaryNameAttempts = 64;

std::string randomPart() {
    thread_local std::mt19937_64 generator{
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        static_cast<std::uint64_t>(::getpid())};
    std::string part(kRandomLength, 'x');
    for (auto& c : part)
        c = kRandomAlphabet[generator() % kRandomAlphabet.size()];
    return part;
}

// ".NAME.xxxxxxxx.part"
std::string temporaryNameFor(const std::string& output) {
    std::string name(1, '.');
    name.append(output, 0, kMaxTemporaryStem);
    name += '.';
    name += randomPart();
    name += kTemporarySuffix;
    return name;
}

bool isTemporaryName(std::string_view name) {
    constexpr std::size_t kTail = 1 + kRandomLength + kTemporarySuffix.size();
    if (name.size() < 2 + kTail || !name.starts_with('.') || !name.ends_with(kTemporarySuffix))
        return false;
    const std::string_view random = name.substr(name.size() - kTail + 1, kRandomLength);
    return name[name.size() - kTail] == '.' &&
           std::all_of(random.begin(), random.end(),
                       [](char c) { return kRandomAlphabet.find(c) != std::string_view::npos; });
}

// A lock on the whole file, owned by the open file rather than the process, so that each
// temporary of a batch holds its own.
bool lockWhole(int fd) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &whole) == 0;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

FileError interrupted() {
    return {{}, "the run was interrupted", false};
}

std::optional<FileError> folderRefuses(const OutputPlace& place, int code) {
    if (code == EACCES || code == EPERM || code == EROFS)
        return FileError{
            {},
            "the folder \"" + folderForMessages(place.shownFolder) +
                "\" does not allow new files: " + std::generic_category().message(code),
            false};
    return systemError({}, code);
}

} // namespace

std::string folderForMessages(const std::string& shownFolder) {
    if (!shownFolder.empty())
        return shownFolder;
    std::string current(4096, '\0');
    if (::getcwd(current.data(), current.size()) == nullptr)
        return ".";
    current.resize(current.find('\0'));
    return current;
}

TemporaryFile::~TemporaryFile() {
    if (inFlight_ < 0)
        return;
    ::unlinkat(place_.folder.get(), name_.c_str(), 0);
    forgetTemporary(inFlight_);
}

std::optional<FileError> TemporaryFile::create(mode_t mode) {
#ifdef O_TMPFILE
    // Unnamed until it is complete and flushed: a process killed while writing leaves nothing.
    fd_ = Fd(::openat(place_.folder.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
    if (fd_.valid()) {
        if (!lockWhole(fd_.get()))
            return systemError({});
        return std::nullopt;
    }
    // Not every file system has unnamed files; those fall back to a named one.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return folderRefuses(place_, errno);
#endif
    return createNamed(mode);
}

std::optional<FileError> TemporaryFile::createNamed(mode_t mode) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::string candidate = temporaryNameFor(place_.name);
        const int slot = beginMaking();
        if (slot < 0)
            return interrupted();
        Fd created(::openat(place_.folder.get(), candidate.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!created.valid()) {
            const int error = errno;
            notMade(slot);
            if (error == EEXIST)
                continue;
            return folderRefuses(place_, error);
        }
        made(slot, {place_.folder.get(), candidate});
        // A sweeper may have found it between the create and the lock, and then removes it:
        // it is ours only if the lock is ours and the name still leads to it.
        struct stat opened {
        }, named{};
        if (!lockWhole(created.get()) || ::fstat(created.get(), &opened) != 0 ||
            ::fstatat(place_.folder.get(), candidate.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !sameFile(opened, named)) {
            forgetTemporary(slot);
            continue;
        }
        fd_ = std::move(created);
        name_ = std::move(candidate);
        inFlight_ = slot;
        return std::nullopt;
    }
    return systemError({}, EEXIST);
}

std::optional<FileError> TemporaryFile::write(std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_.get(), bytes.data(), bytes.size());
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

std::optional<FileError> TemporaryFile::flush() {
#if defined(__APPLE__)
    const int flushed = ::fsync(fd_.get());
#else
    const int flushed = ::fdatasync(fd_.get());
#endif
    if (flushed != 0)
        return systemError("while flushing it to disk");
    return std::nullopt;
}

std::optional<FileError> TemporaryFile::name() {
    if (inFlight_ >= 0)
        return std::nullopt;
    const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::string candidate = temporaryNameFor(place_.name);
        const int slot = beginMaking();
        if (slot < 0)
            return interrupted();
        int linked = ::linkat(AT_FDCWD, self.c_str(), place_.folder.get(), candidate.c_str(),
                              AT_SYMLINK_FOLLOW);
#ifdef AT_EMPTY_PATH
        if (linked != 0 && errno == ENOENT) // no /proc: the direct way, where permitted
            linked = ::linkat(fd_.get(), "", place_.folder.get(), candidate.c_str(), AT_EMPTY_PATH);
#endif
        if (linked == 0) {
            made(slot, {place_.folder.get(), candidate});
            name_ = std::move(candidate);
            inFlight_ = slot;
            return std::nullopt;
        }
        const int error = errno;
        notMade(slot);
        if (error != EEXIST)
            return systemError("while naming it in its folder", error);
    }
    return systemError("while naming it in its folder", EEXIST);
}

std::optional<FileError> TemporaryFile::renameOverOutput() {
    if (runInterrupted())
        return interrupted();
    const int folder = place_.folder.get();
    if (::renameat(folder, name_.c_str(), folder, place_.name.c_str()) != 0)
        return systemError("while replacing the old file");
    forgetTemporary(inFlight_);
    inFlight_ = -1;
    return std::nullopt;
}

void sweepAbandonedTemporaries(const OutputPlace& place) {
    static std::mutex lock;
    static std::set<std::pair<std::uint64_t, std::uint64_t>> swept;
    {
        std::lock_guard hold(lock);
        if (!swept.emplace(place.folderIdentity.volume, place.folderIdentity.index).second)
            return;
    }
    const int listing = ::openat(place.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0)
        return; // a folder it may not list keeps what it has
    DIR* entries = ::fdopendir(listing);
    if (entries == nullptr) {
        ::close(listing);
        return;
    }
    while (const dirent* entry = ::readdir(entries)) {
        if (!isTemporaryName(entry->d_name) ||
            (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN))
            continue;
        // Only a regular file whose lock nobody holds is proven abandoned: a live writer holds
        // its temporary's lock from before the file has its name until after the rename.
        struct stat listed {
        }, opened{};
        if (::fstatat(place.folder.get(), entry->d_name, &listed, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(listed.st_mode))
            continue;
        Fd candidate(::openat(place.folder.get(), entry->d_name,
                              O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!candidate.valid() || ::fstat(candidate.get(), &opened) != 0 ||
            !sameFile(listed, opened) || !lockWhole(candidate.get()))
            continue;
        ::unlinkat(place.folder.get(), entry->d_name, 0);
    }
    ::closedir(entries);
}

} // namespace quillmere::files

// Temporaries that only this program makes, and a way to find a killed run's leftovers without
// reading the folder. A temporary for the output NAME, made by the user with id UID, is named
//     .NAME.quillmere-UID-SLOT.part
// with SLOT one of a few small numbers (NAME cut between characters, with a hash of the whole
// name, where it is too long). A run looks up those few names for its own output (a batch reads
// its folder's names once instead, where that folder holds few), and removes
// one only when it proves it abandoned: a regular file with one name, owned by this very user,
// on which nobody holds a lock of any kind (flock, or an OFD or POSIX record lock) and which no
// process has open (the system grants a write lease only then). A live writer holds its
// temporary open from its creation until the rename.

#include "posix_files.h"
#include "temporaries_in_flight.h"
#include "unicode_text.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <vector>

namespace quillmere::files {
namespace {

constexpr int kSlots = kTemporarySlots;

std::string temporaryNameFor(const std::string& output, int slot) {
    static const std::string user = std::to_string(effectiveUser());
    return files::temporaryNameFor(output, user, slot, NameUnits::Utf8Bytes);
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether someone holds a POSIX or OFD record lock anywhere in the file.
bool recordLocked(int fd) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_GETLK, &whole) != 0 || whole.l_type != F_UNLCK;
}

// Removes `name` if it is an abandoned temporary of this user's (see the top of this file), and
// says whether it did.
bool removeIfAbandoned(int folder, const std::string& name) {
    struct stat named {
    }, opened{};
    if (::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(named.st_mode) || named.st_uid != effectiveUser() || named.st_nlink != 1)
        return false;
    Fd candidate(
        ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!candidate.valid() || ::fstat(candidate.get(), &opened) != 0 || !sameFile(named, opened))
        return false;
    // Another open breaks the lease and signals its holder: with SIGURG, which does nothing,
    // rather than SIGIO, which would end this run.
    if (::flock(candidate.get(), LOCK_EX | LOCK_NB) != 0 || recordLocked(candidate.get()) ||
        ::fcntl(candidate.get(), F_SETSIG, SIGURG) != 0 ||
        ::fcntl(candidate.get(), F_SETLEASE, F_WRLCK) != 0)
        return false;
    const bool removed = ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                         sameFile(named, opened) && ::unlinkat(folder, name.c_str(), 0) == 0;
    ::fcntl(candidate.get(), F_SETLEASE, F_UNLCK);
    return removed;
}

// The first slot is not looked up here: the temporary takes its name there first, and a name
// found taken there is looked at then (freedAbandoned). Its name was last used by the run
// before, so the folder holds no cached answer for it, and a look would wait on its lock.
// Where the folder's names were read, only those among them are looked at.
void removeAbandoned(const OutputPlace& place) {
    if (place.leftovers != nullptr && place.leftovers->empty())
        return;
    for (int slot = 1; slot < kSlots; ++slot) {
        const std::string name = temporaryNameFor(place.name, slot);
        if (place.leftovers == nullptr ||
            std::binary_search(place.leftovers->begin(), place.leftovers->end(), name))
            removeIfAbandoned(place.folder.get(), name);
    }
}

// After the name of `slot` was found taken: whether it was the first slot's, not looked up
// beforehand, and an abandoned temporary, removed now so that the name may be tried again
// (once: a name that is taken again belongs to a live run).
bool freedAbandoned(const OutputPlace& place, int slot, const std::string& name, bool& tried) {
    if (slot != 0 || tried)
        return false;
    tried = true;
    return removeIfAbandoned(place.folder.get(), name);
}

// Links the unnamed file `fd` as `name` in `folder`: straight from its descriptor where the
// system lets this process (with CAP_DAC_READ_SEARCH, or as its opener on newer kernels), which
// spares a walk through /proc; through /proc otherwise, and from then on for the whole run.
int linkUnnamed(int fd, int folder, const char* name) {
    static std::atomic<bool> directRefused{false};
#ifdef AT_EMPTY_PATH
    if (!directRefused.load(std::memory_order_relaxed)) {
        const int linked = ::linkat(fd, "", folder, name, AT_EMPTY_PATH);
        if (linked == 0 || (errno != ENOENT && errno != EPERM))
            return linked;
        directRefused.store(true, std::memory_order_relaxed);
    }
#endif
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), folder, name, AT_SYMLINK_FOLLOW);
}

FileError interrupted() {
    return {{}, "the run was interrupted"};
}

FileError folderRefuses(const OutputPlace& place, int code) {
    if (code == EACCES || code == EPERM || code == EROFS)
        return FileError{
            {},
            "the folder \"" + folderForMessages(place.shownFolder) +
                "\" does not allow new files: " + std::generic_category().message(code)};
    return systemError({}, code);
}

FileError allSlotsTaken(std::string step) {
    return {std::move(step), kTemporaryNamesTaken};
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

Expected<Done> TemporaryFile::create(mode_t unnamedMode, mode_t namedMode) {
    removeAbandoned(place_);
#ifdef O_TMPFILE
    // Unnamed until it is complete and flushed: a process killed while writing leaves nothing.
    fd_ = Fd(::openat(place_.folder.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, unnamedMode));
    if (fd_.valid())
        return Done{};
    // Not every file system has unnamed files; those fall back to a named one.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return folderRefuses(place_, errno);
#endif
    return createNamed(namedMode);
}

Expected<Done> TemporaryFile::createNamed(mode_t mode) {
    bool freed = false;
    for (int slot = 0; slot < kSlots; ++slot) {
        std::string candidate = temporaryNameFor(place_.name, slot);
        const int entry = beginMaking();
        if (entry < 0)
            return interrupted();
        Fd created(::openat(place_.folder.get(), candidate.c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!created.valid()) {
            const int error = errno;
            notMade(entry);
            if (error == EEXIST && freedAbandoned(place_, slot, candidate, freed))
                --slot; // tried again
            else if (error != EEXIST)
                return folderRefuses(place_, error);
            continue; // a live run's
        }
        made(entry, {place_.folder.get(), candidate});
        fd_ = std::move(created);
        name_ = std::move(candidate);
        inFlight_ = entry;
        return Done{};
    }
    return allSlotsTaken({});
}

Expected<Done> TemporaryFile::write(std::span<const std::byte> bytes) {
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
    return Done{};
}

Expected<Done> TemporaryFile::flush() {
#if defined(__APPLE__)
    const int flushed = ::fsync(fd_.get());
#else
    const int flushed = ::fdatasync(fd_.get());
#endif
    if (flushed != 0)
        return systemError("while flushing it to disk");
    return Done{};
}

Expected<Done> TemporaryFile::name() {
    if (inFlight_ >= 0)
        return Done{};
    bool freed = false;
    for (int slot = 0; slot < kSlots; ++slot) {
        std::string candidate = temporaryNameFor(place_.name, slot);
        const int entry = beginMaking();
        if (entry < 0)
            return interrupted();
        if (linkUnnamed(fd_.get(), place_.folder.get(), candidate.c_str()) == 0) {
            made(entry, {place_.folder.get(), candidate});
            name_ = std::move(candidate);
            inFlight_ = entry;
            return Done{};
        }
        const int error = errno;
        notMade(entry);
        if (error == EEXIST && freedAbandoned(place_, slot, candidate, freed))
            --slot; // tried again
        else if (error != EEXIST)
            return systemError("while naming it in its folder", error);
    }
    return allSlotsTaken("while naming it in its folder");
}

Expected<Done> TemporaryFile::renameOverOutput(bool replacing) {
    if (runInterrupted())
        return interrupted();
    const int folder = place_.folder.get();
    // Where there was no output, a file that took its name meanwhile (another program, or
    // another map of a batch) is left as it is. File systems that refuse the flag get the
    // plain rename.
    int renamed = -1;
#ifdef RENAME_NOREPLACE
    if (!replacing) {
        renamed = ::renameat2(folder, name_.c_str(), folder, place_.name.c_str(), RENAME_NOREPLACE);
        if (renamed != 0 && errno == EEXIST)
            return FileError{"while putting it in place",
                             "a file of that name appeared meanwhile, and was left as it is"};
        if (renamed != 0 && errno != EINVAL && errno != ENOSYS)
            return systemError("while putting it in place");
    }
#else
    (void)replacing;
#endif
    if (renamed != 0 && ::renameat(folder, name_.c_str(), folder, place_.name.c_str()) != 0)
        return systemError("while replacing the old file");
    forgetTemporary(inFlight_);
    inFlight_ = -1;
    return Done{};
}

} // namespace quillmere::files

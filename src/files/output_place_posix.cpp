#include "posix_files.h"
#include "temporaries_in_flight.h"
#include "unicode_text.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif

namespace quillmere::files {
namespace {

constexpr int kMaxSymbolicLinks = 40;

constexpr std::string_view kLinkChanged = "its symbolic link changed while it was being followed";

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
Expected<Done> followLink(OutputPlace& place, struct stat& status) {
    Fd target(::openat(place.folder.get(), place.name.c_str(), O_PATH | O_CLOEXEC));
    if (!target.valid() && errno == ENOENT)
        return FileError{{}, "it is a symbolic link to a file that does not exist"};
    if (!target.valid() && (errno == EACCES || errno == EPERM))
        return FileError{{},
                         "the system does not let this process follow its symbolic link: " +
                             std::generic_category().message(errno)};
    struct stat found {};
    if (!target.valid() || ::fstat(target.get(), &found) != 0)
        return systemError({});
    if (!S_ISREG(found.st_mode))
        return FileError{{}, notAFile(kindOf(found.st_mode))};
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
        return FileError{{}, std::string(kLinkChanged)};
    return Done{};
}

Expected<OutputPlace> placeOnce(const std::string& path, struct stat& existing,
                                const OutputFolder* shared) {
    SplitPath parts = split(path);
    if (!isFileName(parts.name))
        return FileError{{}, "it names a folder, not a file"};
    const bool inShared = shared != nullptr && shared->shownPath() == parts.folder;
    OutputPlace place{inShared ? Fd::borrowed(static_cast<int>(shared->handle()))
                               : openFolder(AT_FDCWD, parts.folder),
                      {},
                      parts.folder,
                      std::move(parts.name)};
    if (!place.folder.valid())
        return systemError({});
    existing = {};
    if (::fstatat(place.folder.get(), place.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return systemError({});
        existing = {};
    } else if (S_ISLNK(existing.st_mode)) {
        if (auto followed = followLink(place, existing); !followed)
            return followed.error();
        place.throughLink = true;
    }
    // A link may have led out of the shared folder, into one opened here.
    if (!place.folder.owned()) {
        place.folderIdentity = shared->identity();
        if (shared->leftovers())
            place.leftovers = &*shared->leftovers();
        return place;
    }
    struct stat folder {};
    if (::fstat(place.folder.get(), &folder) != 0)
        return systemError({});
    place.folderIdentity = identityOf(folder);
    return place;
}

} // namespace

// Another writer renaming over the link's target makes the walk end on a newer file than the
// system found: looked at again, both agree.
Expected<OutputPlace> placeOf(const std::string& path, struct stat& existing,
                              const OutputFolder* shared) {
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        auto place = placeOnce(path, existing, shared);
        if (place || attempt == kAttempts || place.error().reason != kLinkChanged)
            return place;
    }
}

bool namesOneFile(int folder, const std::string& a, const std::string& b) {
    if (a == b)
        return true;
    if (foldedCase(a) != foldedCase(b))
        return false;
    // On a folder that ignores case every spelling leads to the file, whatever number each is
    // given; on one that does not, a third spelling of two existing names leads nowhere. A name
    // with no third spelling is taken as one file: a refusal, never an overwrite.
    const auto third = thirdSpelling(a, b);
    struct stat found {};
    return !third || ::fstatat(folder, third->c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0;
}

void OutputFolder::surveyLeftovers(std::size_t mostNames) {
    leftovers_.reset();
    // A descriptor of its own: reading moves its position, and the folder's may be for passing
    // through only, which cannot be read.
    const int listed =
        ::openat(static_cast<int>(handle_.get()), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0)
        return;
    DIR* folder = ::fdopendir(listed);
    if (folder == nullptr) {
        ::close(listed);
        return;
    }
    const std::string mark = ".quillmere-" + std::to_string(effectiveUser()) + "-";
    std::vector<std::string> names;
    std::size_t seen = 0;
    errno = 0;
    const dirent* entry = nullptr;
    while ((entry = ::readdir(folder)) != nullptr && ++seen <= mostNames) {
        const std::string_view name = entry->d_name;
        if (name.starts_with('.') && name.ends_with(".part") &&
            name.find(mark) != std::string_view::npos)
            names.emplace_back(name);
    }
    const bool whole = entry == nullptr && errno == 0;
    ::closedir(folder);
    if (!whole)
        return;
    std::sort(names.begin(), names.end());
    leftovers_ = std::move(names);
}

// Each writer has one temporary in flight at a time, and there is room for all of them.
static_assert(OutputFolder::kMostWritesAtOnce < kMostTemporariesInFlight);

std::size_t OutputFolder::writesAtOnce(std::size_t otherwise) const {
#ifdef __linux__
    const auto device = static_cast<dev_t>(identity_.volume);
    if (major(device) == 0) // no disk of its own: tmpfs, FUSE, NFS, btrfs
        return otherwise;
    const std::string queue =
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    // A partition's queue is its disk's.
    for (const char* requests : {"/queue/nr_requests", "/../queue/nr_requests"}) {
        Fd file(::open((queue + requests).c_str(), O_RDONLY | O_CLOEXEC));
        char text[24] = {};
        if (!file.valid() || ::read(file.get(), text, sizeof text - 1) <= 0)
            continue;
        const unsigned long depth = std::strtoul(text, nullptr, 10);
        if (depth > 0)
            return std::clamp<std::size_t>(depth / 4, 4, kMostWritesAtOnce);
    }
#endif
    return otherwise;
}

Expected<OutputFolder> OutputFolder::openFor(const std::string& path) {
    const SplitPath parts = split(path);
    Fd folder = openFolder(AT_FDCWD, parts.folder);
    struct stat status {};
    if (!folder.valid() || ::fstat(folder.get(), &status) != 0)
        return systemError({});
    return OutputFolder(HeldHandle(folder.release()), identityOf(status), parts.folder);
}

} // namespace quillmere::files

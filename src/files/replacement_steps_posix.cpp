#include "posix_files.h"
#include "replacement_steps.h"
#include "tail_copy.h"

#include <fcntl.h>

namespace quillmere::files {
namespace {

constexpr int kLookUpsOfAVanishedFile = 3;

} // namespace

struct ReplacementState {
    OutputPlace place;
    struct stat old {}; // st_nlink 0: there is no old file
    Fd oldFile;
    std::optional<TemporaryFile> temporary;
    struct stat fresh {};
    // Whether the output's name named a file when it was looked up. Its link count is no
    // answer: a file that another writer replaces while it is looked up shows 0 links.
    bool existed = false;

    bool replacing() const { return old.st_nlink > 0; }
};

void DropReplacementState::operator()(ReplacementState* state) const noexcept {
    delete state;
}

namespace steps {

Expected<ReplacementStatePtr> resolve(const std::string& path, const OutputFolder* shared) {
    ReplacementStatePtr state(new ReplacementState);
    auto place = placeOf(path, state->old, shared);
    if (!place)
        return place.error();
    state->place = std::move(*place);
    if (state->replacing() && !S_ISREG(state->old.st_mode))
        return FileError{{}, notAFile(kindOf(state->old.st_mode))};
    state->existed = state->old.st_mode != 0; // nothing there: placeOf leaves it all zero
    return state;
}

std::optional<FileState> oldState(const ReplacementState& state) {
    if (!state.replacing())
        return std::nullopt;
    return stateOf(state.old);
}

Expected<Done> createTemporary(ReplacementState& state) {
    // Opened for writing, as a write in place would be: the system decides whether it may be
    // changed. Held open until after the rename, so that releasing the old file's blocks is
    // this close, not part of the rename.
    // The old file may be gone by now: removed, or replaced by another run, which on exFAT
    // over FUSE leaves the name empty for a moment. It is looked up again, and a name that
    // stays empty is written as a new file.
    for (int attempt = 0; state.replacing() && !state.oldFile.valid(); ++attempt) {
        state.oldFile = Fd(::openat(state.place.folder.get(), state.place.name.c_str(),
                                    O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (state.oldFile.valid())
            break;
        if (errno != ENOENT || attempt == kLookUpsOfAVanishedFile)
            return systemError({});
        if (::fstatat(state.place.folder.get(), state.place.name.c_str(), &state.old,
                      AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return systemError({});
            state.old = {};
        }
    }
    if (state.replacing()) {
        if (::fstat(state.oldFile.get(), &state.old) != 0)
            return systemError({});
        if (!S_ISREG(state.old.st_mode))
            return FileError{{}, notAFile(kindOf(state.old.st_mode))};
    }
    auto& temporary = state.temporary.emplace(state.place);
    // Private until it carries the old file's owner and access control list. An unnamed file,
    // which nobody else can open, may take the old file's plain permissions at once where the
    // owner stays: its mode then needs no change once written (copyMetadata).
    const bool plain = state.old.st_uid == effectiveUser() && (state.old.st_mode & 07000) == 0;
    const mode_t named = state.replacing() ? 0600 : 0666;
    const mode_t unnamed = state.replacing() && plain ? state.old.st_mode & 0777 : named;
    if (auto created = temporary.create(unnamed, named); !created)
        return created;
    if (::fstat(temporary.fd(), &state.fresh) != 0)
        return systemError({});
    return Done{};
}

Expected<Done> write(ReplacementState& state, std::span<const std::byte> bytes) {
    return state.temporary->write(bytes);
}

Expected<Done> copyRest(ReplacementState& state, const ReadOnlyFile& from, std::uint64_t offset) {
    if (const int error = copyTail(from.nativeHandle(), state.temporary->fd(), offset))
        return systemError("while copying the rest of the file into it", error);
    return Done{};
}

Expected<Done> carryMetadata(ReplacementState& state) {
    if (!state.replacing())
        return Done{};
    return copyMetadata(state.oldFile.get(), state.old, state.temporary->fd(), state.fresh);
}

Expected<Done> flush(ReplacementState& state) {
    return state.temporary->flush();
}

Expected<Done> name(ReplacementState& state) {
    return state.temporary->name();
}

std::optional<FileState> current(const ReplacementState& state) {
    struct stat now {};
    if (::fstatat(state.place.folder.get(), state.place.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) !=
        0)
        return std::nullopt;
    return stateOf(now);
}

FileIdentity incoming(const ReplacementState& state) {
    return identityOf(state.fresh);
}

bool namesOneFile(const ReplacementState& state, const std::string& a, const std::string& b) {
    return files::namesOneFile(state.place.folder.get(), a, b);
}

std::string outputName(const ReplacementState& state) {
    return state.place.name;
}

bool throughLink(const ReplacementState& state) {
    return state.place.throughLink;
}

Expected<Done> renameOverOutput(ReplacementState& state) {
    return state.temporary->renameOverOutput(state.existed);
}

Written written(ReplacementState& state) {
    Written written;
    written.identity = identityOf(state.fresh);
    // 0 links: someone removed the old file meanwhile; it has no other names then either.
    written.otherNames = state.old.st_nlink > 1 ? state.old.st_nlink - 1 : 0;
    written.replacedFile = HeldHandle(state.oldFile.release());
    return written;
}

std::optional<OutputFolder> folder(ReplacementState& state) {
    if (!state.place.folder.owned())
        return std::nullopt;
    return OutputFolder(HeldHandle(state.place.folder.release()), state.place.folderIdentity,
                        std::move(state.place.shownFolder));
}

} // namespace steps
} // namespace quillmere::files

#include "replacement_steps.h"
#include "tail_copy.h"
#include "unicode_text.h"
#include "win32_files.h"

#include <chrono>
#include <thread>

namespace quillmere::files {
namespace {

// Another program (a viewer, a virus scanner) may hold the old output open for a moment.
constexpr int kReplaceAttempts = 20;
constexpr auto kReplacePause = std::chrono::milliseconds(50);
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                  FILE_ATTRIBUTE_ENCRYPTED;

} // namespace

// The old output's security descriptor and attributes are given to the temporary when it is
// created: the rename then stays the one step that changes the output, every failure before it
// leaves the old output as it was, and a new output takes the same way as a replaced one.
struct ReplacementState {
    Destination destination;
    std::string shownFolder;
    Handle folder;
    FileIdentity folderIdentity;
    TemporaryFile temporary;
    FileIdentity incoming;
    std::uint64_t otherNames = 0;
};

void DropReplacementState::operator()(ReplacementState* state) const noexcept {
    delete state;
}

namespace steps {

// Each output's folder is opened for it: openFor() keeps none to share here.
Expected<ReplacementStatePtr> resolve(const std::string& path, const OutputFolder*) {
    const auto wide = systemPath(path);
    if (!wide)
        return notUtf8();
    ReplacementStatePtr state(new ReplacementState);
    if (auto resolved = files::resolve(*wide, state->destination); !resolved)
        return resolved.error();
    const Destination& destination = state->destination;
    state->shownFolder = shownFolder(path, destination.folder, destination.throughLink);
    state->folder = openFolder(destination.folder);
    if (!state->folder.valid()) {
        const DWORD error = ::GetLastError();
        return systemError({}, error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
    }
    const auto folderInfo = infoOf(state->folder.get());
    if (!folderInfo)
        return folderInfo.error();
    state->folderIdentity = folderInfo->identity;
    return state;
}

std::optional<FileState> oldState(const ReplacementState& state) {
    if (!state.destination.old)
        return std::nullopt;
    return stateOf(state.destination.old->details);
}

Expected<Done> createTemporary(ReplacementState& state) {
    const auto& old = state.destination.old;
    const DWORD kept = old ? old->details.dwFileAttributes & kKeptAttributes : 0;
    auto created =
        state.temporary.create(state.destination.folder, state.destination.name, state.shownFolder,
                               old ? &old->security : nullptr, kept ? kept : FILE_ATTRIBUTE_NORMAL);
    if (!created)
        return created;
    BY_HANDLE_FILE_INFORMATION details{};
    if (!::GetFileInformationByHandle(state.temporary.get(), &details))
        return systemError({});
    state.incoming = identityOf(details);
    return Done{};
}

Expected<Done> write(ReplacementState& state, std::span<const std::byte> bytes) {
    return state.temporary.write(bytes);
}

Expected<Done> copyRest(ReplacementState& state, const ReadOnlyFile& from, std::uint64_t offset) {
    if (const int error = copyTail(from.nativeHandle(),
                                   reinterpret_cast<std::intptr_t>(state.temporary.get()), offset))
        return systemError("while copying the rest of the file into it", static_cast<DWORD>(error));
    return Done{};
}

Expected<Done> flush(ReplacementState& state) {
    return state.temporary.flush();
}

// Security and attributes came with the creation; the creation time is what is left.
Expected<Done> carryMetadata(ReplacementState& state) {
    const auto& old = state.destination.old;
    if (old &&
        !::SetFileTime(state.temporary.get(), &old->details.ftCreationTime, nullptr, nullptr))
        return systemError("while giving it the old file's attributes");
    return Done{};
}

// Named from the start: Windows removes it should the process end before the rename.
Expected<Done> name(ReplacementState&) {
    return Done{};
}

std::optional<FileState> current(const ReplacementState& state) {
    std::uint64_t otherNames = 0;
    return lookAt(state.destination.target, otherNames);
}

bool throughLink(const ReplacementState& state) {
    return state.destination.throughLink;
}

FileIdentity incoming(const ReplacementState& state) {
    return state.incoming;
}

bool namesOneFile(const ReplacementState& state, const std::string& a, const std::string& b) {
    return files::namesOneFile(state.destination.folder, utf16Of(a), utf16Of(b));
}

std::string outputName(const ReplacementState& state) {
    return utf8Of(state.destination.name);
}

// Renames the finished temporary over the output, waiting a little for another program that
// holds the old output open. A name that appears where the last look saw none is not replaced.
Expected<Done> renameOverOutput(ReplacementState& state) {
    const std::wstring& target = state.destination.target;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 1;; ++attempt) {
        const auto now = lookAt(target, state.otherNames);
        error = state.temporary.renameTo(target, now.has_value());
        if (error == ERROR_SUCCESS) {
            if (!now)
                state.otherNames = 0;
            return Done{};
        }
        if (error == ERROR_OPERATION_ABORTED)
            return FileError{{}, kInterrupted};
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                          (error == ERROR_ACCESS_DENIED && heldByAnother(target));
        if (!held || attempt == kReplaceAttempts)
            return systemError("while replacing the old file", error);
        std::this_thread::sleep_for(kReplacePause);
    }
}

Written written(ReplacementState& state) {
    Written written;
    written.identity = state.incoming;
    written.otherNames = state.otherNames;
    return written;
}

std::optional<OutputFolder> folder(ReplacementState& state) {
    return OutputFolder(HeldHandle(reinterpret_cast<std::intptr_t>(state.folder.release())),
                        state.folderIdentity, state.shownFolder);
}

} // namespace steps
} // namespace quillmere::files

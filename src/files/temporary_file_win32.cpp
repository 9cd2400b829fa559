// Temporaries that only this program makes, found again by name. A temporary for the output
// NAME is named ".NAME.quillmere-SLOT.part", SLOT one of a few small numbers (NAME cut between
// characters, with a hash of the whole name, where it is too long). A live run holds its
// temporary open without sharing it, from its creation to its rename, and marks it for deletion
// at once, so Windows removes it when a killed run's handles close; only a machine that stops
// leaves one. A run looks up the few names of its own output and removes one only when it can
// open it without sharing (so no process has it open, and none holds a lock in it), it is a
// plain file with one name, and its owner is the owner this process gives its new files.

#include "temporaries_in_flight.h"
#include "unicode_text.h"
#include "win32_files.h"

#include <aclapi.h>
#include <chrono>
#include <cstring>
#include <set>
#include <vector>

namespace quillmere::files {
namespace {

constexpr int kSlots = kTemporarySlots;

std::wstring temporaryNameFor(const std::wstring& output, int slot) {
    return utf16Of(files::temporaryNameFor(utf8Of(output), {}, slot, NameUnits::Utf16Units));
}

// What the temporary is created with, so that it never exists with other rights than the old
// output's: its owner and group where the process may give them, and always its access list.
// Entries the old list inherited are inherited afresh from the same folder.
class SecurityForNewFile {
public:
    enum class Part { OwnerAndGroup, GroupOnly, ListOnly };

    SecurityForNewFile(const OldSecurity& old, Part part) {
        ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
        ::SetSecurityDescriptorDacl(&descriptor_, TRUE, old.dacl, FALSE);
        // A protected list stays so; one that took entries from its folder takes them afresh.
        if (old.control & SE_DACL_PROTECTED)
            ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        else if (old.control & SE_DACL_AUTO_INHERITED)
            ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_AUTO_INHERIT_REQ,
                                           SE_DACL_AUTO_INHERIT_REQ);
        if (part == Part::OwnerAndGroup && old.owner)
            ::SetSecurityDescriptorOwner(&descriptor_, old.owner, FALSE);
        if (part != Part::ListOnly && old.group)
            ::SetSecurityDescriptorGroup(&descriptor_, old.group, FALSE);
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    SecurityForNewFile(const SecurityForNewFile&) = delete;
    SecurityForNewFile& operator=(const SecurityForNewFile&) = delete;

    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

private:
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
};

bool ownerRefused(DWORD error) {
    return error == ERROR_INVALID_OWNER || error == ERROR_INVALID_PRIMARY_GROUP ||
           error == ERROR_PRIVILEGE_NOT_HELD;
}

bool setPendingDelete(HANDLE handle, bool pending) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = pending ? TRUE : FALSE;
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                        sizeof disposition) != 0;
}

// Whether `sid` is this process's user, or the owner it gives the files it makes.
bool isThisProcess(PSID sid) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    bool ours = false;
    for (const auto kind : {TokenUser, TokenOwner}) {
        DWORD size = 0;
        ::GetTokenInformation(token, kind, nullptr, 0, &size);
        std::vector<std::byte> buffer(size);
        if (size == 0 || !::GetTokenInformation(token, kind, buffer.data(), size, &size))
            continue;
        const PSID candidate = kind == TokenUser
                                   ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                   : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
        ours = ours || ::EqualSid(candidate, sid) != 0;
    }
    ::CloseHandle(token);
    return ours;
}

bool ownedByThisProcess(HANDLE file) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const bool ours = owner != nullptr && isThisProcess(owner);
    ::LocalFree(descriptor);
    return ours;
}

// Removes `path` if it is an abandoned temporary of this user's; see the top of this file.
void removeIfAbandoned(const std::wstring& path) {
    // No sharing: the open fails while any other handle has the file.
    Handle file(::CreateFileW(path.c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES, 0,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION details{};
    if (!file.valid() || !::GetFileInformationByHandle(file.get(), &details))
        return;
    const DWORD notPlain =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
    if ((details.dwFileAttributes & notPlain) || details.nNumberOfLinks != 1 ||
        !ownedByThisProcess(file.get()))
        return;
    setPendingDelete(file.get(), true);
}

FileError folderRefuses(const std::string& folder, DWORD code) {
    return {{}, "the folder \"" + folder + "\" does not allow new files: " + systemText(code)};
}

} // namespace

TemporaryFile::~TemporaryFile() {
    if (!handle_.valid())
        return;
    setPendingDelete(handle_.get(), true);
    if (!forgetTemporary(inFlight_))
        handle_.release(); // the interrupt has taken it, and closes it
}

DWORD TemporaryFile::createAs(const std::wstring& path, DWORD attributes,
                              SECURITY_ATTRIBUTES* security) {
    const int entry = beginMaking();
    if (entry < 0)
        return ERROR_OPERATION_ABORTED;
    Handle handle(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, security, CREATE_NEW,
                                attributes, nullptr));
    if (!handle.valid()) {
        const DWORD error = ::GetLastError();
        notMade(entry);
        return error;
    }
    setPendingDelete(handle.get(), true);
    made(entry, {reinterpret_cast<std::intptr_t>(handle.get()), {}});
    inFlight_ = entry;
    handle_ = std::move(handle);
    return ERROR_SUCCESS;
}

Expected<Done> TemporaryFile::create(const std::wstring& folder, const std::wstring& name,
                                     const std::string& shownFolder, const OldSecurity* old,
                                     DWORD attributes) {
    for (int slot = 0; slot < kSlots; ++slot)
        removeIfAbandoned(folder + temporaryNameFor(name, slot));
    const bool withSecurity = old && old->whole;
    for (int slot = 0; slot < kSlots; ++slot) {
        const std::wstring path = folder + temporaryNameFor(name, slot);
        DWORD error = ERROR_SUCCESS;
        if (!withSecurity) {
            error = createAs(path, attributes, nullptr);
        } else {
            for (auto part :
                 {SecurityForNewFile::Part::OwnerAndGroup, SecurityForNewFile::Part::GroupOnly,
                  SecurityForNewFile::Part::ListOnly}) {
                SecurityForNewFile security(*old, part);
                error = createAs(path, attributes, security.attributes());
                if (!ownerRefused(error))
                    break;
            }
        }
        if (error == ERROR_SUCCESS)
            return Done{};
        if (error == ERROR_OPERATION_ABORTED)
            return FileError{{}, kInterrupted};
        if (error == ERROR_ACCESS_DENIED)
            return folderRefuses(shownFolder, error);
        if (withSecurity && (error == ERROR_INVALID_ACL || error == ERROR_INVALID_SECURITY_DESCR))
            return systemError("while giving it the old file's access control list", error);
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return systemError({}, error);
    }
    return FileError{{}, kTemporaryNamesTaken};
}

Expected<Done> TemporaryFile::write(std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!::WriteFile(handle_.get(), bytes.data(), asked, &written, nullptr))
            return systemError("while writing");
        if (written == 0)
            return systemError("while writing", ERROR_WRITE_FAULT);
        bytes = bytes.subspan(written);
    }
    return Done{};
}

Expected<Done> TemporaryFile::flush() {
    if (!::FlushFileBuffers(handle_.get()))
        return systemError("while flushing it to disk");
    return Done{};
}

// Renames the temporary to `target` through its own handle: no other file can take its
// place on the way. ReplaceIfExists only when something stood there at the last look.
DWORD TemporaryFile::renameTo(const std::wstring& target, bool replace) {
    std::vector<std::byte> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, target.data(), rename->FileNameLength);

    if (!beginRenaming(inFlight_))
        return ERROR_OPERATION_ABORTED;
    if (!setPendingDelete(handle_.get(), false)) {
        const DWORD error = ::GetLastError();
        renamingDone(inFlight_, false);
        return error;
    }
    if (!::SetFileInformationByHandle(handle_.get(), FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size()))) {
        const DWORD error = ::GetLastError();
        setPendingDelete(handle_.get(), true);
        renamingDone(inFlight_, false);
        return error;
    }
    renamingDone(inFlight_, true);
    inFlight_ = -1;
    handle_ = Handle();
    return ERROR_SUCCESS;
}

} // namespace quillmere::files

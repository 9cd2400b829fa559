#include "file_layer.h"
#include "temporaries_in_flight.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <aclapi.h>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <tuple>
#include <vector>
#include <windows.h>

namespace quillmere::files {
namespace {

constexpr int kTemporaryNameAttempts = 64;
constexpr std::size_t kTemporaryStemLength = 200;
// Another program (a viewer, a virus scanner) may hold the old output open for a moment.
constexpr int kReplaceAttempts = 20;
constexpr auto kReplacePause = std::chrono::milliseconds(50);
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                  FILE_ATTRIBUTE_ENCRYPTED;
constexpr const char* kDanglingLink = "it is a symbolic link to a file that does not exist";
constexpr const char* kInterrupted = "the run was interrupted";

// Paths arrive as UTF-8 and meet the system as UTF-16, converted here and only here.
std::optional<std::wstring> widen(const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                             static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                          wide.data(), length);
    return wide;
}

std::string narrow(const std::wstring& wide) {
    if (wide.empty())
        return {};
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                          length, nullptr, nullptr);
    return text;
}

// Windows' own words for an error, without the full stop and line break it ends with.
std::string systemText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 ? std::wstring(buffer, length) : std::wstring();
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                             text.back() == L'.'))
        text.pop_back();
    if (text.empty())
        return "system error " + std::to_string(code);
    return narrow(text);
}

bool isNotFound(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

FileError systemError(std::string step, DWORD code = ::GetLastError()) {
    return {std::move(step), systemText(code), isNotFound(code)};
}

FileError notUtf8() {
    return {{}, "the path is not valid UTF-8", false};
}

// A Win32 path the way Windows itself reads it (relative to the current folder, "/" as "\",
// "." and ".." taken away), then in the "\\?\" form, which lifts the limit of 260 characters
// and which nothing later reinterprets. Devices ("\\.\", "NUL") stay as they are.
std::optional<std::wstring> systemPath(const std::string& path) {
    auto wide = widen(path);
    if (!wide)
        return std::nullopt;
    if (wide->empty() || wide->starts_with(L"\\\\?\\") || wide->starts_with(L"\\\\.\\"))
        return wide;
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFullPathNameW(wide->c_str(), static_cast<DWORD>(full.size()),
                                                full.data(), nullptr);
        if (length == 0)
            return wide; // left for the open to report
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);
    }
    if (full.starts_with(L"\\\\.\\") || full.starts_with(L"\\\\?\\"))
        return full;
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// A path as a person would type it: without the "\\?\" that only the system needs.
std::string shownPath(const std::wstring& path) {
    if (path.starts_with(L"\\\\?\\UNC\\"))
        return narrow(L"\\\\" + path.substr(8));
    if (path.starts_with(L"\\\\?\\"))
        return narrow(path.substr(4));
    return narrow(path);
}

class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    Handle(Handle&& other) noexcept : handle_(other.release()) {}
    Handle& operator=(Handle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~Handle() {
        if (valid())
            ::CloseHandle(handle_);
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    HANDLE release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

private:
    HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens without reading or writing, only to learn what the path names; others may go on
// reading, writing or deleting it meanwhile.
Handle openForInspection(const std::wstring& path, DWORD access = FILE_READ_ATTRIBUTES,
                         DWORD flags = 0) {
    return Handle(::CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
}

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& details) {
    return {details.dwVolumeSerialNumber,
            (std::uint64_t(details.nFileIndexHigh) << 32) | details.nFileIndexLow};
}

Expected<FileInfo> infoOf(HANDLE handle) {
    FileInfo info;
    switch (::GetFileType(handle)) {
    case FILE_TYPE_CHAR:
        info.kind = FileKind::Device;
        return info;
    case FILE_TYPE_PIPE:
        info.kind = FileKind::Pipe;
        return info;
    case FILE_TYPE_DISK:
        break;
    default:
        info.kind = FileKind::Other;
        return info;
    }
    BY_HANDLE_FILE_INFORMATION details{};
    if (!::GetFileInformationByHandle(handle, &details))
        return systemError({});
    info.kind = (details.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Directory
                                                                      : FileKind::Regular;
    info.identity = identityOf(details);
    return info;
}

std::optional<std::wstring> finalPathOf(HANDLE handle) {
    std::wstring final(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(
            handle, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
        if (length == 0)
            return std::nullopt;
        if (length < final.size()) {
            final.resize(length);
            return final;
        }
        final.resize(length + 1);
    }
}

// The security descriptor of the old output, as the system hands it over, freed with it.
struct OldSecurity {
    PSECURITY_DESCRIPTOR whole = nullptr;
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;

    OldSecurity() = default;
    OldSecurity(const OldSecurity&) = delete;
    OldSecurity& operator=(const OldSecurity&) = delete;
    ~OldSecurity() { ::LocalFree(whole); }
};

// The old output, as the write found it at the end of its links.
struct OldOutput {
    BY_HANDLE_FILE_INFORMATION details{};
    OldSecurity security;
};

std::optional<FileError> readSecurity(HANDLE handle, OldSecurity& into) {
    const DWORD error = ::GetSecurityInfo(
        handle, SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        &into.owner, &into.group, &into.dacl, nullptr, &into.whole);
    // A file system without security (FAT) has none to keep.
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION)
        return std::nullopt;
    if (error != ERROR_SUCCESS)
        return systemError("while giving it the old file's access control list", error);
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(into.whole, &into.control, &revision);
    return std::nullopt;
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

std::wstring randomSuffix() {
    static constexpr wchar_t kAlphabet[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator{
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        ::GetCurrentProcessId()};
    std::wstring suffix(8, L'x');
    for (auto& c : suffix)
        c = kAlphabet[generator() % (sizeof kAlphabet / sizeof kAlphabet[0] - 1)];
    return suffix;
}

// ".NAME.xxxxxxxx.part", as the temporaries are named.
bool isTemporaryName(const std::wstring& name) {
    constexpr std::size_t kTail = 1 + 8 + 5; // ".xxxxxxxx.part"
    if (name.size() < 1 + 1 + kTail || name[0] != L'.' || !name.ends_with(L".part"))
        return false;
    const std::size_t dot = name.size() - kTail;
    if (name[dot] != L'.')
        return false;
    for (std::size_t at = dot + 1; at < dot + 9; ++at)
        if (!((name[at] >= L'a' && name[at] <= L'z') || (name[at] >= L'0' && name[at] <= L'9')))
            return false;
    return true;
}

bool setPendingDelete(HANDLE handle, bool pending) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = pending ? TRUE : FALSE;
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                        sizeof disposition) != 0;
}

// The folders this process has already swept.
struct InFlight {
    std::mutex mutex;
    // By identity and path: a folder made anew may get the index of a removed one.
    std::set<std::tuple<std::uint64_t, std::uint64_t, std::wstring>> sweptFolders;
};

InFlight& inFlight() {
    static InFlight state;
    return state;
}

// Removes temporaries of runs that are gone. A live writer holds its temporary open without
// letting anyone delete it, so a delete can only succeed on one that nobody writes any more.
void sweepAbandoned(const std::wstring& folder, FileIdentity identity) {
    {
        std::lock_guard lock(inFlight().mutex);
        if (!inFlight().sweptFolders.emplace(identity.volume, identity.index, folder).second)
            return;
    }
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileExW((folder + L".*.part").c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const DWORD notPlain =
            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
        if (!(found.dwFileAttributes & notPlain) && isTemporaryName(found.cFileName))
            ::DeleteFileW((folder + found.cFileName).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!handle_.valid())
            return;
        setPendingDelete(handle_.get(), true);
        if (!forgetTemporary(inFlight_))
            handle_.release(); // the interrupt has taken it, and closes it
    }

    HANDLE get() const { return handle_.get(); }

    // Created open for this process alone, and marked for deletion at once: should the process
    // be killed, Windows removes it when it closes the process's handles.
    DWORD create(const std::wstring& path, DWORD attributes, SECURITY_ATTRIBUTES* security) {
        const int slot = beginMaking();
        if (slot < 0)
            return ERROR_OPERATION_ABORTED;
        Handle handle(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, security, CREATE_NEW,
                                    attributes, nullptr));
        if (!handle.valid()) {
            const DWORD error = ::GetLastError();
            notMade(slot);
            return error;
        }
        setPendingDelete(handle.get(), true);
        made(slot, {reinterpret_cast<std::intptr_t>(handle.get()), {}});
        inFlight_ = slot;
        handle_ = std::move(handle);
        return ERROR_SUCCESS;
    }

    std::optional<FileError> write(std::span<const std::byte> bytes) {
        while (!bytes.empty()) {
            DWORD written = 0;
            const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
            if (!::WriteFile(handle_.get(), bytes.data(), asked, &written, nullptr))
                return systemError("while writing");
            if (written == 0)
                return systemError("while writing", ERROR_WRITE_FAULT);
            bytes = bytes.subspan(written);
        }
        if (!::FlushFileBuffers(handle_.get()))
            return systemError("while flushing it to disk");
        return std::nullopt;
    }

    // Renames the temporary to `target` through its own handle: no other file can take its
    // place on the way. ReplaceIfExists only when something stood there at the last look.
    DWORD renameTo(const std::wstring& target, bool replace) {
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
        handle_ = Handle();
        return ERROR_SUCCESS;
    }

private:
    Handle handle_;
    int inFlight_ = -1; // its slot among the temporaries in flight
};

// A refusal to rename over the old output may only mean that someone holds it open for a
// moment; a refusal of the right to delete it is final.
bool heldByAnother(const std::wstring& target) {
    Handle probe = openForInspection(target, DELETE, FILE_FLAG_OPEN_REPARSE_POINT);
    return probe.valid() || ::GetLastError() == ERROR_SHARING_VIOLATION;
}

// How a message names the output's folder: as typed, or the current folder when none was.
std::string shownFolder(const std::string& typed, const std::wstring& resolvedFolder,
                        bool throughLink) {
    if (throughLink)
        return shownPath(resolvedFolder.substr(0, resolvedFolder.size() - 1));
    const auto separator = typed.find_last_of("\\/");
    if (separator != std::string::npos)
        return typed.substr(0, std::max<std::size_t>(separator, 1));
    std::wstring current(::GetCurrentDirectoryW(0, nullptr), L'\0');
    current.resize(::GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data()));
    return shownPath(current);
}

FileError folderRefuses(const std::string& folder, DWORD code) {
    return {{}, "the folder \"" + folder + "\" does not allow new files: " + systemText(code)};
}

// Where the write lands: the old output at the end of its links, or the path itself.
struct Destination {
    std::wstring target;
    std::wstring folder; // ends in "\"
    std::wstring name;
    std::optional<OldOutput> old;
    bool throughLink = false;
};

std::optional<FileError> resolve(const std::wstring& path, const WriteOptions& options,
                                 Destination& into) {
    Handle existing = openForInspection(path, FILE_READ_ATTRIBUTES | READ_CONTROL);
    if (!existing.valid() && ::GetLastError() == ERROR_ACCESS_DENIED)
        return systemError("while giving it the old file's access control list");
    if (existing.valid()) {
        const auto info = infoOf(existing.get());
        if (!info)
            return info.error();
        if (info->kind != FileKind::Regular)
            return FileError{{}, notAFile(info->kind)};
        if (options.keepApartFrom && info->identity == *options.keepApartFrom)
            return FileError{{}, options.keptApartReason};
        auto& old = into.old.emplace();
        if (!::GetFileInformationByHandle(existing.get(), &old.details))
            return systemError({});
        if (auto error = readSecurity(existing.get(), old.security))
            return error;
        const auto final = finalPathOf(existing.get());
        into.target = final ? *final : path;
        into.throughLink = final && ::CompareStringOrdinal(final->c_str(), -1, path.c_str(), -1,
                                                           TRUE) != CSTR_EQUAL;
    } else {
        const DWORD error = ::GetLastError();
        if (!isNotFound(error))
            return systemError({}, error);
        // Nothing at the end of the path, but a name that does not resolve: a link to nothing.
        Handle link = openForInspection(path, FILE_READ_ATTRIBUTES, FILE_FLAG_OPEN_REPARSE_POINT);
        if (link.valid())
            return FileError{{}, kDanglingLink};
        into.target = path;
    }
    const auto separator = into.target.find_last_of(L'\\');
    if (separator == std::wstring::npos)
        return FileError{{}, "it names a folder, not a file"};
    into.folder = into.target.substr(0, separator + 1);
    into.name = into.target.substr(separator + 1);
    if (into.name.empty() || into.name == L"." || into.name == L"..")
        return FileError{{}, "it names a folder, not a file"};
    // A read-only output stays as it is, as a write to it would.
    if (into.old && (into.old->details.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        return systemError({}, ERROR_ACCESS_DENIED);
    return std::nullopt;
}

// Makes the temporary beside the output, with the old output's security and attributes.
std::optional<FileError> createTemporary(const Destination& destination, const std::string& folder,
                                         TemporaryFile& temporary) {
    const DWORD kept =
        destination.old ? destination.old->details.dwFileAttributes & kKeptAttributes : 0;
    const DWORD attributes = kept ? kept : FILE_ATTRIBUTE_NORMAL;
    const OldSecurity* old = destination.old ? &destination.old->security : nullptr;
    const bool withSecurity = old && old->whole;
    const std::wstring stem =
        destination.folder + L"." + destination.name.substr(0, kTemporaryStemLength) + L".";
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const std::wstring path = stem + randomSuffix() + L".part";
        DWORD error = ERROR_SUCCESS;
        if (!withSecurity) {
            error = temporary.create(path, attributes, nullptr);
        } else {
            for (auto part :
                 {SecurityForNewFile::Part::OwnerAndGroup, SecurityForNewFile::Part::GroupOnly,
                  SecurityForNewFile::Part::ListOnly}) {
                SecurityForNewFile security(*old, part);
                error = temporary.create(path, attributes, security.attributes());
                if (!ownerRefused(error))
                    break;
            }
        }
        if (error == ERROR_SUCCESS)
            return std::nullopt;
        if (error == ERROR_OPERATION_ABORTED)
            return FileError{{}, kInterrupted};
        if (error == ERROR_ACCESS_DENIED)
            return folderRefuses(folder, error);
        if (withSecurity && (error == ERROR_INVALID_ACL || error == ERROR_INVALID_SECURITY_DESCR))
            return systemError("while giving it the old file's access control list", error);
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return systemError({}, error);
    }
    return systemError({}, ERROR_FILE_EXISTS);
}

std::optional<FileState> lookAt(const std::wstring& target, std::uint64_t& otherNames) {
    Handle now = openForInspection(target);
    BY_HANDLE_FILE_INFORMATION details{};
    if (!now.valid() || !::GetFileInformationByHandle(now.get(), &details))
        return std::nullopt;
    otherNames = details.nNumberOfLinks > 1 ? details.nNumberOfLinks - 1 : 0;
    return FileState{
        identityOf(details), (std::uint64_t(details.nFileSizeHigh) << 32) | details.nFileSizeLow,
        static_cast<std::int64_t>((std::uint64_t(details.ftLastWriteTime.dwHighDateTime) << 32) |
                                  details.ftLastWriteTime.dwLowDateTime)};
}

// Renames the finished temporary over the output, asking the caller first when it wants to.
// Should a name appear where the last look saw none, the caller is asked again about it.
Expected<Written> replaceOutput(const Destination& destination, TemporaryFile& temporary,
                                FileIdentity folder, const WriteOptions& options) {
    BY_HANDLE_FILE_INFORMATION incoming{};
    if (!::GetFileInformationByHandle(temporary.get(), &incoming))
        return systemError("while naming it in its folder");
    Written written;
    written.identity = identityOf(incoming);
    for (int asked = 1;; ++asked) {
        std::optional<FileState> seen;
        std::uint64_t otherNames = 0;
        const ReplaceCheck check{folder, written.identity,
                                 [&] { return seen = lookAt(destination.target, otherNames); }};
        if (options.beforeReplace && options.beforeReplace(check) == ReplaceDecision::Keep) {
            written.replaced = false;
            written.identity = seen ? seen->identity : FileIdentity{};
            return written;
        }
        DWORD error = ERROR_SUCCESS;
        for (int attempt = 1;; ++attempt) {
            const auto current = lookAt(destination.target, otherNames);
            if (current && options.keepApartFrom && current->identity == *options.keepApartFrom)
                return FileError{{}, options.keptApartReason};
            error = temporary.renameTo(destination.target, current.has_value());
            if (error == ERROR_SUCCESS) {
                written.otherNames = current ? otherNames : 0;
                return written;
            }
            if (error == ERROR_OPERATION_ABORTED)
                return FileError{{}, kInterrupted};
            const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                              (error == ERROR_ACCESS_DENIED && heldByAnother(destination.target));
            if (!held || attempt == kReplaceAttempts)
                break;
            std::this_thread::sleep_for(kReplacePause);
        }
        const bool appeared = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
        if (!appeared || asked == kReplaceAttempts)
            return systemError("while replacing the old file", error);
        if (!lookAt(destination.target, otherNames))
            return FileError{{}, kDanglingLink};
    }
}

// The folder's handle, with the right to flush it where the file system allows that.
Handle openFolder(const std::wstring& folder) {
    Handle handle = openForInspection(folder, FILE_READ_ATTRIBUTES | FILE_ADD_FILE);
    if (!handle.valid())
        handle = openForInspection(folder, FILE_READ_ATTRIBUTES);
    return handle;
}

} // namespace

// The file layer's own way to make an OutputFolder.
struct OutputFolderAccess {
    static OutputFolder make(Handle handle, FileIdentity identity, std::string shown) {
        return OutputFolder(reinterpret_cast<std::intptr_t>(handle.release()), identity,
                            std::move(shown));
    }
};

OutputFolder::OutputFolder(OutputFolder&& other) noexcept
    : handle_(std::exchange(other.handle_, reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE))),
      identity_(other.identity_), shownPath_(std::move(other.shownPath_)) {}

OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept {
    std::swap(handle_, other.handle_);
    std::swap(identity_, other.identity_);
    std::swap(shownPath_, other.shownPath_);
    return *this;
}

OutputFolder::~OutputFolder() {
    if (reinterpret_cast<HANDLE>(handle_) != INVALID_HANDLE_VALUE)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

// A flush of the folder's handle asks the file system to put the folder's entries on disk.
// Where it offers no such flush (it refuses the call), the rename's own journaling is all
// there is, and the flush is left out rather than reported as a failure.
Expected<Done> OutputFolder::flush() {
    if (::FlushFileBuffers(reinterpret_cast<HANDLE>(handle_)))
        return Done{};
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_FUNCTION ||
        error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
        error == ERROR_INVALID_HANDLE)
        return Done{};
    return FileError{"while flushing its folder to disk", systemText(error)};
}

Expected<FileInfo> inspect(const std::string& path) {
    const auto wide = systemPath(path);
    if (!wide)
        return notUtf8();
    Handle handle = openForInspection(*wide);
    if (!handle.valid())
        return systemError({});
    return infoOf(handle.get());
}

Expected<ReadOnlyFile> ReadOnlyFile::open(const std::string& path, const FileInfo& expected) {
    const auto wide = systemPath(path);
    if (!wide)
        return notUtf8();
    // Others may keep reading, writing and even deleting the map while it is read.
    Handle handle(::CreateFileW(wide->c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle.valid())
        return systemError({});
    const auto opened = infoOf(handle.get());
    if (!opened)
        return opened.error();
    if (opened->kind != FileKind::Regular || opened->identity != expected.identity)
        return FileError{{}, "it was replaced by another file while it was being opened"};
    return ReadOnlyFile(reinterpret_cast<std::intptr_t>(handle.release()));
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept : handle_(other.handle_) {
    other.handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
}

ReadOnlyFile::~ReadOnlyFile() {
    if (reinterpret_cast<HANDLE>(handle_) != INVALID_HANDLE_VALUE)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

Expected<FileState> ReadOnlyFile::state() const {
    BY_HANDLE_FILE_INFORMATION details{};
    if (!::GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), &details))
        return systemError({});
    // In the units lookAt gives the writer's pre-rename check, so the two compare.
    return FileState{
        identityOf(details), (std::uint64_t(details.nFileSizeHigh) << 32) | details.nFileSizeLow,
        static_cast<std::int64_t>((std::uint64_t(details.ftLastWriteTime.dwHighDateTime) << 32) |
                                  details.ftLastWriteTime.dwLowDateTime)};
}

Expected<std::size_t> ReadOnlyFile::readAt(std::uint64_t offset, std::span<std::byte> into) {
    std::size_t total = 0;
    while (total < into.size()) {
        OVERLAPPED at{};
        const std::uint64_t position = offset + total;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD got = 0;
        if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), into.data() + total,
                        static_cast<DWORD>(into.size() - total), &got, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF)
                break;
            return systemError("while reading");
        }
        if (got == 0)
            break;
        total += got;
    }
    return total;
}

// The old output's security descriptor and attributes are given to the temporary when it is
// created, rather than left to ReplaceFileW: the rename then stays the one step that changes
// the output, every failure before it leaves the old output as it was, and a new output takes
// the same way as a replaced one.
Expected<Written> writeAtomically(const std::string& path, std::span<const std::byte> bytes,
                                  const WriteOptions& options) {
    const auto wide = systemPath(path);
    if (!wide)
        return notUtf8();
    Destination destination;
    if (auto error = resolve(*wide, options, destination))
        return *error;
    const std::string folderShown = shownFolder(path, destination.folder, destination.throughLink);

    Handle folder = openFolder(destination.folder);
    if (!folder.valid()) {
        const DWORD error = ::GetLastError();
        return systemError({}, error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
    }
    const auto folderInfo = infoOf(folder.get());
    if (!folderInfo)
        return folderInfo.error();
    sweepAbandoned(destination.folder, folderInfo->identity);

    TemporaryFile temporary;
    if (auto error = createTemporary(destination, folderShown, temporary))
        return *error;
    if (auto error = temporary.write(bytes))
        return *error;
    if (destination.old &&
        !::SetFileTime(temporary.get(), &destination.old->details.ftCreationTime, nullptr, nullptr))
        return systemError("while giving it the old file's attributes");

    auto written = replaceOutput(destination, temporary, folderInfo->identity, options);
    if (!written || !written->replaced)
        return written;
    if (!options.flushFolder) {
        written->folder =
            OutputFolderAccess::make(std::move(folder), folderInfo->identity, folderShown);
        return written;
    }
    auto handed = OutputFolderAccess::make(std::move(folder), folderInfo->identity, folderShown);
    if (auto flushed = handed.flush(); !flushed)
        return flushed.error();
    return written;
}

// A replaced file is not held open here: ReplaceFileW's release is its own.
void releaseOldOutput() {}

} // namespace quillmere::files

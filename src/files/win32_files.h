#pragma once

// What the Windows file layer's parts share: an owned handle, errors in Windows' words, paths
// in the form the system takes, and the temporary file that a replacement goes through.

#include "file_layer.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <optional>
#include <string>
#include <windows.h>

namespace quillmere::files {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr const char* kDanglingLink = "it is a symbolic link to a file that does not exist";
constexpr const char* kInterrupted = "the run was interrupted";

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

// Windows' own words for an error, without the full stop and line break it ends with.
std::string systemText(DWORD code);

inline FileError systemError(std::string step, DWORD code = ::GetLastError()) {
    return {std::move(step), systemText(code)};
}

inline bool isNotFound(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// A Win32 path the way Windows itself reads it, in the "\\?\" form; nothing when the path is
// not UTF-8.
std::optional<std::wstring> systemPath(const std::string& path);
FileError notUtf8();
// A path as a person would type it: without the "\\?\" that only the system needs.
std::string shownPath(const std::wstring& path);

// Opens without reading or writing, only to learn what the path names; others may go on
// reading, writing or deleting it meanwhile.
Handle openForInspection(const std::wstring& path, DWORD access = FILE_READ_ATTRIBUTES,
                         DWORD flags = 0);

inline FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& details) {
    return {details.dwVolumeSerialNumber,
            (std::uint64_t(details.nFileIndexHigh) << 32) | details.nFileIndexLow};
}

inline FileState stateOf(const BY_HANDLE_FILE_INFORMATION& details) {
    return FileState{
        identityOf(details), (std::uint64_t(details.nFileSizeHigh) << 32) | details.nFileSizeLow,
        static_cast<std::int64_t>((std::uint64_t(details.ftLastWriteTime.dwHighDateTime) << 32) |
                                  details.ftLastWriteTime.dwLowDateTime)};
}

Expected<FileInfo> infoOf(HANDLE handle);
std::optional<std::wstring> finalPathOf(HANDLE handle);

// Whether the folder (ending in "\\") names one file by both `a` and `b`.
bool namesOneFile(const std::wstring& folder, const std::wstring& a, const std::wstring& b);

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

// A new file beside the output, open for this process alone and marked for deletion at once:
// should the process be killed, Windows removes it when it closes the process's handles.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile();

    HANDLE get() const { return handle_.get(); }
    // In `folder` (ending in "\\"), for the output `name`, with the old output's security and
    // attributes where there is one.
    Expected<Done> create(const std::wstring& folder, const std::wstring& name,
                          const std::string& shownFolder, const OldSecurity* old, DWORD attributes);
    Expected<Done> write(std::span<const std::byte> bytes);
    Expected<Done> flush();
    // Renames it to `target` through its own handle: no other file can take its place on the
    // way. ReplaceIfExists only when something stood there at the last look.
    DWORD renameTo(const std::wstring& target, bool replace);

private:
    DWORD createAs(const std::wstring& path, DWORD attributes, SECURITY_ATTRIBUTES* security);

    Handle handle_;
    int inFlight_ = -1; // its slot among the temporaries in flight
};

// The old output, as the write found it at the end of its links.
struct OldOutput {
    BY_HANDLE_FILE_INFORMATION details{};
    OldSecurity security;
};

// Where the write lands: the old output at the end of its links, or the path itself.
struct Destination {
    std::wstring target;
    std::wstring folder; // ends in "\\"
    std::wstring name;
    std::optional<OldOutput> old;
    bool throughLink = false;
};

Expected<Done> resolve(const std::wstring& path, Destination& into);
// How a message names the output's folder: as typed, or the current folder when none was.
std::string shownFolder(const std::string& typed, const std::wstring& resolvedFolder,
                        bool throughLink);
// The folder's handle, with the right to flush it where the file system allows that.
Handle openFolder(const std::wstring& folder);
// What `target` names now, and its other names.
std::optional<FileState> lookAt(const std::wstring& target, std::uint64_t& otherNames);
// A refusal to rename over the old output may only mean that someone holds it open for a
// moment; a refusal of the right to delete it is final.
bool heldByAnother(const std::wstring& target);

} // namespace quillmere::files

#include "unicode_text.h"
#include "win32_files.h"

#include <aclapi.h>

namespace quillmere::files {

Expected<Done> readSecurity(HANDLE handle, OldSecurity& into) {
    const DWORD error = ::GetSecurityInfo(
        handle, SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        &into.owner, &into.group, &into.dacl, nullptr, &into.whole);
    // A file system without security (FAT) has none to keep.
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION)
        return Done{};
    if (error != ERROR_SUCCESS)
        return systemError("while giving it the old file's access control list", error);
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(into.whole, &into.control, &revision);
    return Done{};
}

bool heldByAnother(const std::wstring& target) {
    Handle probe = openForInspection(target, DELETE, FILE_FLAG_OPEN_REPARSE_POINT);
    return probe.valid() || ::GetLastError() == ERROR_SHARING_VIOLATION;
}

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

Expected<Done> resolve(const std::wstring& path, Destination& into) {
    Handle existing = openForInspection(path, FILE_READ_ATTRIBUTES | READ_CONTROL);
    if (!existing.valid() && ::GetLastError() == ERROR_ACCESS_DENIED)
        return systemError("while giving it the old file's access control list");
    if (existing.valid()) {
        const auto info = infoOf(existing.get());
        if (!info)
            return info.error();
        if (info->kind != FileKind::Regular)
            return FileError{{}, notAFile(info->kind)};
        auto& old = into.old.emplace();
        if (!::GetFileInformationByHandle(existing.get(), &old.details))
            return systemError({});
        if (auto read = readSecurity(existing.get(), old.security); !read)
            return read;
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
    return Done{};
}

std::optional<FileState> lookAt(const std::wstring& target, std::uint64_t& otherNames) {
    Handle now = openForInspection(target);
    BY_HANDLE_FILE_INFORMATION details{};
    if (!now.valid() || !::GetFileInformationByHandle(now.get(), &details))
        return std::nullopt;
    otherNames = details.nNumberOfLinks > 1 ? details.nNumberOfLinks - 1 : 0;
    return stateOf(details);
}

Handle openFolder(const std::wstring& folder) {
    Handle handle = openForInspection(folder, FILE_READ_ATTRIBUTES | FILE_ADD_FILE);
    if (!handle.valid())
        handle = openForInspection(folder, FILE_READ_ATTRIBUTES);
    return handle;
}

} // namespace quillmere::files

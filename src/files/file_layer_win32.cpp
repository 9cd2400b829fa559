#include "unicode_text.h"
#include "win32_files.h"

namespace quillmere::files {

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
    return utf8Of(text);
}

FileError notUtf8() {
    return {{}, "the path is not valid UTF-8"};
}

// Relative to the current folder, "/" as "\\", "." and ".." taken away, then in the "\\?\"
// form, which lifts the limit of 260 characters and which nothing later reinterprets. Devices
// ("\\.\", "NUL") stay as they are.
std::optional<std::wstring> systemPath(const std::string& path) {
    if (!isUtf8(path))
        return std::nullopt;
    auto wide = std::optional(utf16Of(path));
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

std::string shownPath(const std::wstring& path) {
    if (path.starts_with(L"\\\\?\\UNC\\"))
        return utf8Of(L"\\\\" + path.substr(8));
    if (path.starts_with(L"\\\\?\\"))
        return utf8Of(path.substr(4));
    return utf8Of(path);
}

Handle openForInspection(const std::wstring& path, DWORD access, DWORD flags) {
    return Handle(::CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
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

HeldHandle::~HeldHandle() {
    if (handle_ != kNone && reinterpret_cast<HANDLE>(handle_) != INVALID_HANDLE_VALUE)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

// A flush of the folder's handle asks the file system to put the folder's entries on disk.
// Where it offers no such flush (it refuses the call), the rename's own journaling is all
// there is, and the flush is left out rather than reported as a failure.
void OutputFolder::surveyLeftovers(std::size_t) {}

std::size_t OutputFolder::writesAtOnce(std::size_t otherwise) const {
    return otherwise;
}

Expected<OutputFolder> OutputFolder::openFor(const std::string&) {
    return FileError{{}, "each output's folder is opened for it here"};
}

Expected<Done> OutputFolder::flush() {
    if (::FlushFileBuffers(reinterpret_cast<HANDLE>(handle_.get())))
        return Done{};
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_FUNCTION ||
        error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
        error == ERROR_INVALID_HANDLE)
        return Done{};
    return FileError{"the folder \"" + shownPath_ + "\" could not be flushed to disk",
                     systemText(error)};
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
    ReadOnlyFile file(reinterpret_cast<std::intptr_t>(handle.release()));
    const auto found = file.state();
    if (!found)
        return found.error();
    file.opened_ = *found;
    return file;
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : handle_(other.handle_), opened_(other.opened_) {
    other.handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    std::swap(handle_, other.handle_);
    std::swap(opened_, other.opened_);
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
    return stateOf(details);
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

bool namesOneFile(const std::wstring& folder, const std::wstring& a, const std::wstring& b) {
    if (a == b)
        return true;
    const std::string first = utf8Of(a), second = utf8Of(b);
    if (foldedCase(first) != foldedCase(second))
        return false;
    // Every Windows folder ignores case unless it is made not to; asked of the folder itself.
    const auto third = thirdSpelling(first, second);
    return !third ||
           ::GetFileAttributesW((folder + utf16Of(*third)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool sameFile(const std::string& a, const std::string& b) {
    const auto first = systemPath(a), second = systemPath(b);
    if (!first || !second)
        return false;
    Handle one = openForInspection(*first), other = openForInspection(*second);
    if (!one.valid() || !other.valid())
        return false;
    const auto oneInfo = infoOf(one.get()), otherInfo = infoOf(other.get());
    if (oneInfo && otherInfo && oneInfo->identity == otherInfo->identity)
        return true;
    const auto onePath = finalPathOf(one.get()), otherPath = finalPathOf(other.get());
    if (!onePath || !otherPath)
        return false;
    const std::wstring_view oneView = *onePath, otherView = *otherPath;
    const std::size_t oneEnd = oneView.find_last_of(L'\\') + 1;
    const std::size_t otherEnd = otherView.find_last_of(L'\\') + 1;
    if (oneEnd == 0 || oneView.substr(0, oneEnd) != otherView.substr(0, otherEnd))
        return false;
    const std::wstring folder(oneView.substr(0, oneEnd));
    return namesOneFile(folder, std::wstring(oneView.substr(oneEnd)),
                        std::wstring(otherView.substr(otherEnd)));
}

} // namespace quillmere::files

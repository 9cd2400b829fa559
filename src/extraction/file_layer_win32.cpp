#include "file_layer.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <chrono>
#include <optional>
#include <random>
#include <thread>
#include <windows.h>

namespace quillmere::files {
namespace {

constexpr int kTemporaryNameAttempts = 64;
// Another program (a viewer, a virus scanner) may hold the old output for a moment.
constexpr int kReplaceAttempts = 20;
constexpr auto kReplacePause = std::chrono::milliseconds(50);

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

FileError systemError(std::string step, DWORD code = ::GetLastError()) {
    return {std::move(step), systemText(code),
            code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND};
}

FileError notUtf8() {
    return {{}, "the path is not valid UTF-8", false};
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

// Opens without reading or writing, only to learn what the path names; others may go on
// reading, writing or deleting it meanwhile.
Handle openForInspection(const std::wstring& path) {
    return Handle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
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
    info.identity = {details.dwVolumeSerialNumber,
                     (std::uint64_t(details.nFileIndexHigh) << 32) | details.nFileIndexLow};
    return info;
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

// The path a write lands on: where an existing file's links lead, or the path itself.
std::wstring finalPath(const std::wstring& path) {
    Handle existing = openForInspection(path);
    if (!existing.valid())
        return path;
    std::wstring final(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(
            existing.get(), final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
        if (length == 0)
            return path;
        if (length < final.size()) {
            final.resize(length);
            return final;
        }
        final.resize(length + 1);
    }
}

class TemporaryFile {
public:
    ~TemporaryFile() {
        handle_ = Handle();
        if (!path_.empty())
            ::DeleteFileW(path_.c_str());
    }

    std::optional<FileError> create(const std::wstring& folder, const std::wstring& name) {
        const std::wstring stem = folder + L"." + name.substr(0, 200) + L".";
        for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
            std::wstring candidate = stem + randomSuffix() + L".part";
            handle_ = Handle(::CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
            if (handle_.valid()) {
                path_ = std::move(candidate);
                return std::nullopt;
            }
            if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS)
                return systemError({});
        }
        return systemError({}, ERROR_FILE_EXISTS);
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
        return std::nullopt;
    }

    std::optional<FileError> flushAndClose() {
        if (!::FlushFileBuffers(handle_.get()))
            return systemError("while flushing it to disk");
        if (!::CloseHandle(handle_.release()))
            return systemError("while closing it");
        return std::nullopt;
    }

    // Hidden, system and archive flags of the old output carry over to the new one.
    void copyAttributes(DWORD attributes) {
        ::SetFileAttributesW(path_.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    }

    std::optional<FileError> replace(const std::wstring& target) {
        for (int attempt = 1;; ++attempt) {
            if (::MoveFileExW(path_.c_str(), target.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
                path_.clear();
                return std::nullopt;
            }
            const DWORD error = ::GetLastError();
            const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                              error == ERROR_ACCESS_DENIED;
            if (!held || attempt == kReplaceAttempts)
                return systemError("while replacing the old file", error);
            std::this_thread::sleep_for(kReplacePause);
        }
    }

private:
    Handle handle_;
    std::wstring path_;
};

} // namespace

Expected<FileInfo> inspect(const std::string& path) {
    const auto wide = widen(path);
    if (!wide)
        return notUtf8();
    Handle handle = openForInspection(*wide);
    if (!handle.valid())
        return systemError({});
    return infoOf(handle.get());
}

Expected<ReadOnlyFile> ReadOnlyFile::open(const std::string& path, const FileInfo& expected) {
    const auto wide = widen(path);
    if (!wide)
        return notUtf8();
    // Others may keep reading, writing and even deleting the map while it is read.
    Handle handle(::CreateFileW(wide->c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
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
    const auto wide = [](DWORD high, DWORD low) { return (std::uint64_t(high) << 32) | low; };
    return FileState{
        {details.dwVolumeSerialNumber, wide(details.nFileIndexHigh, details.nFileIndexLow)},
        wide(details.nFileSizeHigh, details.nFileSizeLow),
        static_cast<std::int64_t>(
            wide(details.ftLastWriteTime.dwHighDateTime, details.ftLastWriteTime.dwLowDateTime))};
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

Expected<Done> writeAtomically(const std::string& path, std::span<const std::byte> bytes) {
    const auto wide = widen(path);
    if (!wide)
        return notUtf8();
    const std::wstring target = finalPath(*wide);
    const auto separator = target.find_last_of(L"\\/:");
    const std::wstring folder =
        separator == std::wstring::npos ? L"" : target.substr(0, separator + 1);
    const std::wstring name =
        separator == std::wstring::npos ? target : target.substr(separator + 1);
    if (name.empty() || name == L"." || name == L"..")
        return FileError{{}, "it names a folder, not a file"};

    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    const bool replacing = attributes != INVALID_FILE_ATTRIBUTES;
    if (replacing && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return FileError{{}, "it is not a regular file"};
    // A read-only output stays as it is, as a write to it would.
    if (replacing && (attributes & FILE_ATTRIBUTE_READONLY))
        return systemError({}, ERROR_ACCESS_DENIED);

    TemporaryFile temporary;
    if (auto error = temporary.create(folder, name))
        return *error;
    if (auto error = temporary.write(bytes))
        return *error;
    if (auto error = temporary.flushAndClose())
        return *error;
    if (replacing)
        temporary.copyAttributes(attributes);
    if (auto error = temporary.replace(target))
        return *error;
    return Done{};
}

} // namespace quillmere::files

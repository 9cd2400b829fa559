#pragma once

// The little of the operating system that the extraction needs, in one place per system.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <variant>

namespace quillmere::files {

struct FileError {
    std::string step;   // "while writing", or empty when the path could not be used at all
    std::string reason; // the system's own words
    bool notFound = false;
};

template <typename T> class Expected {
public:
    Expected(T value) : state_(std::move(value)) {}
    Expected(FileError error) : state_(std::move(error)) {}

    explicit operator bool() const { return state_.index() == 0; }
    T& operator*() { return std::get<0>(state_); }
    const T& operator*() const { return std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }
    const T* operator->() const { return &std::get<0>(state_); }
    const FileError& error() const { return std::get<1>(state_); }

private:
    std::variant<T, FileError> state_;
};

struct Done {};

enum class FileKind { Regular, Directory, Pipe, Device, Socket, Other };

// Tells two paths for the same file apart from two files, through links of either kind.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct FileInfo {
    FileKind kind = FileKind::Other;
    FileIdentity identity;
};

// What the path names, following symbolic links.
Expected<FileInfo> inspect(const std::string& path);

// A regular file opened for reading only: never created, changed or locked.
class ReadOnlyFile {
public:
    static Expected<ReadOnlyFile> open(const std::string& path, const FileInfo& expected);

    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile();

    // Fills `into` from `offset` on; fewer bytes come back only where the file ends.
    Expected<std::size_t> readAt(std::uint64_t offset, std::span<std::byte> into);

private:
    explicit ReadOnlyFile(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

// Replaces the file at `path` (or at the end of its symbolic links) with `bytes`: a temporary
// file beside it is written, flushed to disk and renamed over it, so that the old file stands
// whole until the new one is complete. An old file's permission bits carry over.
Expected<Done> writeAtomically(const std::string& path, std::span<const std::byte> bytes);

} // namespace quillmere::files

#pragma once

// The little of the operating system that the extraction needs, in one place per system.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
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

// Why a path that must name a regular file cannot be used: "it is a folder, not a file".
inline std::string notAFile(FileKind kind) {
    switch (kind) {
    case FileKind::Regular:
    case FileKind::Other:
        break;
    case FileKind::Directory:
        return "it is a folder, not a file";
    case FileKind::Pipe:
        return "it is a named pipe, not a file";
    case FileKind::Device:
        return "it is a device, not a file";
    case FileKind::Socket:
        return "it is a socket, not a file";
    }
    return "it is not a regular file";
}

// What the path names, following symbolic links.
Expected<FileInfo> inspect(const std::string& path);

// A file as it stands at one moment: enough to tell whether it changed since.
struct FileState {
    FileIdentity identity;
    std::uint64_t size = 0;
    std::int64_t modified = 0; // in the system's own units; compare only with another FileState
    bool operator==(const FileState&) const = default;
};

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

    // The file as it stands now, to tell later whether it changed since it was read.
    Expected<FileState> state() const;

private:
    explicit ReadOnlyFile(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

// What stands at the output's place just before the new file is renamed over it.
struct ReplaceCheck {
    FileIdentity folder;   // the folder the output's name is in, after links
    FileIdentity incoming; // the new file, complete and flushed, about to take the name
    // What the name names at the moment of the call, after any wait the check needed; nothing
    // when it names nothing.
    std::function<std::optional<FileState>()> current;
};

enum class ReplaceDecision {
    Replace, // rename the new file over the output
    Keep,    // leave the output's name as it is and discard the new file
};

// The folder an output was renamed into, held open so that the rename can be made durable.
class OutputFolder {
public:
    OutputFolder(OutputFolder&& other) noexcept;
    OutputFolder& operator=(OutputFolder&& other) noexcept;
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;
    ~OutputFolder();

    FileIdentity identity() const { return identity_; }
    // Puts the folder's list of names on disk, with every rename made in it so far.
    Expected<Done> flush();

private:
    friend struct OutputFolderAccess; // the file layer's own way to make one
    OutputFolder(std::intptr_t handle, FileIdentity identity, std::string shownPath)
        : handle_(handle), identity_(identity), shownPath_(std::move(shownPath)) {}
    std::intptr_t handle_;
    FileIdentity identity_;
    std::string shownPath_; // how messages name it
};

struct WriteOptions {
    // Called once the new file is complete and flushed, on the resolved folder and name,
    // immediately before the rename; a check that must hold at the rename goes here. Calls
    // from several threads may overlap: a caller that needs an order keeps it itself.
    std::function<ReplaceDecision(const ReplaceCheck&)> beforeReplace;
    // false: the folder is not flushed here; Written::folder is handed back for the caller to
    // flush once for many outputs, before it tells anyone they are done.
    bool flushFolder = true;
    // A file that must not be replaced, such as the one the bytes come from: an output that
    // turns out to be it is refused with `keptApartReason`, before anything is written.
    std::optional<FileIdentity> keepApartFrom;
    std::string keptApartReason;
    // true: the replaced file, held open through the rename, is not closed here but by this
    // thread's next releaseOldOutput(). Closing the last hold on a file releases its blocks,
    // which takes a while; a caller that lets its next rename go first does that outside its
    // order.
    bool deferRelease = false;
};

// Closes the file that this thread's last write with deferRelease replaced, if any.
void releaseOldOutput();

struct Written {
    bool replaced = true;               // false when beforeReplace kept the old name
    FileIdentity identity;              // the file the output's name now names
    std::uint64_t otherNames = 0;       // the replaced file's other hard links: they keep its bytes
    std::optional<OutputFolder> folder; // with flushFolder false: still to be flushed
};

// Replaces the file at `path` with `bytes`. Symbolic links are followed only as the system
// itself follows them (its protections included), and one to nothing is refused. In the
// folder and under the name so found, a temporary file gets the bytes, the old file's owner,
// group, mode, access control list and other attributes (as far as the process may give
// them; setuid and setgid only with their owner and group; a list that cannot be kept fails
// the write), is flushed, renamed over the old file, and the folder is flushed. The old file
// stands whole until the rename. Leftover temporaries of killed runs in that folder are
// removed the first time a process writes there, and only those.
Expected<Written> writeAtomically(const std::string& path, std::span<const std::byte> bytes,
                                  const WriteOptions& options = {});

} // namespace quillmere::files

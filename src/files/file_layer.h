#pragma once

// The little of the operating system that the extraction needs, in one place per system.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quillmere::files {

struct FileError {
    std::string step;   // "while writing", or empty when the path could not be used at all
    std::string reason; // the system's own words
    // true: the new file had already taken the output's name; what failed came after it.
    bool afterReplacing = false;
};

// A value, or why there is none. Steps that give nothing back return Expected<Done>.
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

// Tells two paths for the same file apart from two files, through links of either kind, on file
// systems that number their files; see sameFile() for those that give each spelling a number.
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

// Whether two paths name one existing file: one identity, or, in a folder that treats two
// spellings of a name as one (as exFAT and FAT do, or ext4 with casefold), two names that fold
// to one, whatever numbers the file system gives each spelling.
bool sameFile(const std::string& a, const std::string& b);

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
    // The file as it was found when it was opened.
    const FileState& opened() const { return opened_; }

    // The system's own handle, for the file layer's steps.
    std::intptr_t nativeHandle() const { return handle_; }

private:
    explicit ReadOnlyFile(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
    FileState opened_;
};

// A handle the file layer gives back for its holder to close when it suits it: the replaced
// output, whose closing releases its blocks, or the folder an output was renamed into.
class HeldHandle {
public:
    HeldHandle() = default;
    explicit HeldHandle(std::intptr_t handle) : handle_(handle) {}
    HeldHandle(HeldHandle&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}
    HeldHandle& operator=(HeldHandle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    HeldHandle(const HeldHandle&) = delete;
    HeldHandle& operator=(const HeldHandle&) = delete;
    ~HeldHandle();

    std::intptr_t get() const { return handle_; }

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;
};

// The folder an output was renamed into, held open so that the rename can be made durable.
class OutputFolder {
public:
    OutputFolder(HeldHandle handle, FileIdentity identity, std::string shownPath)
        : handle_(std::move(handle)), identity_(identity), shownPath_(std::move(shownPath)) {}

    // The folder of the output `path`, opened once for many outputs there (a batch's): a
    // replacement given it in WriteOptions::sharedFolder uses it rather than opening its own.
    // Fails where the system keeps no such handle for replacements (Windows).
    static Expected<OutputFolder> openFor(const std::string& path);

    FileIdentity identity() const { return identity_; }
    std::intptr_t handle() const { return handle_.get(); }
    const std::string& shownPath() const { return shownPath_; }
    // Puts the folder's list of names on disk, with every rename made in it so far.
    Expected<Done> flush();
    // How many replacements in the folder are best in flight at once. Each waits mostly on its
    // flush, and a disk serves as many flushes at once as its request queue holds: a quarter of
    // that queue, from 4 to kMostWritesAtOnce, where the system tells it (Linux); `otherwise`
    // elsewhere.
    static constexpr std::size_t kMostWritesAtOnce = 64;
    std::size_t writesAtOnce(std::size_t otherwise) const;

    // Reads the folder's names once, unless it holds more than `mostNames`, and keeps those
    // that may be temporaries a killed run of this user left: the replacements made in it then
    // look up only those, not each of their output's names. For many outputs at once; a folder
    // of many names costs a look at `mostNames` of them at most. Does nothing on Windows.
    void surveyLeftovers(std::size_t mostNames);
    // The names kept by surveyLeftovers(), sorted; nothing when it did not read them all.
    const std::optional<std::vector<std::string>>& leftovers() const { return leftovers_; }

private:
    HeldHandle handle_;
    FileIdentity identity_;
    std::string shownPath_; // how messages name it
    std::optional<std::vector<std::string>> leftovers_;
};

struct WriteOptions {
    // false: the folder is not flushed here; Written::folder is handed back for the caller to
    // flush once for many outputs, before it tells anyone they are done.
    bool flushFolder = true;
    // A file that must not be replaced, such as the one the bytes come from, as found at
    // `keepApartPath`: an output that turns out to be it, by its number or, in a folder that
    // takes two spellings as one, by its name, is refused with `keptApartReason`, before
    // anything is written and again at the rename.
    std::optional<FileState> keepApartFrom;
    std::string keepApartPath;
    std::string_view keptApartReason; // a text that outlives the write, such as a literal
    // Set: the output is replaced only if it is still as it was then; otherwise it is left as it
    // is and Written::replaced is false.
    std::optional<FileState> unchangedSince;
    // Set: an output whose path names this folder as openFor() split it is written there, and
    // Written::folder stays empty (its holder flushes it); other outputs open their own.
    const OutputFolder* sharedFolder = nullptr;
};

struct Written {
    bool replaced = true;         // false when the output changed since `unchangedSince`
    FileIdentity identity;        // the file the output's name now names
    std::uint64_t otherNames = 0; // the replaced file's other hard links: they keep its bytes
    // The replaced file, still open: closing it releases its blocks, which takes a while, so
    // its holder chooses when (a batch lets its next rename go first).
    HeldHandle replacedFile;
    std::optional<OutputFolder> folder; // with flushFolder false: still to be flushed
};

// What the new file holds: `bytes`, then, where `rest` is set, everything of that file after
// as many bytes, copied without passing through memory (blocks shared where the file system
// can, holes kept).
struct Content {
    std::span<const std::byte> bytes;
    const ReadOnlyFile* rest = nullptr;
};

struct ReplacementState; // each system's own: the folder, the names, the files open
struct DropReplacementState {
    void operator()(ReplacementState* state) const noexcept;
};
using ReplacementStatePtr = std::unique_ptr<ReplacementState, DropReplacementState>;

// One replacement of a file, in two halves: prepare() resolves the path, writes and flushes a
// temporary beside the output with the old file's metadata; commit() names it, checks, renames
// it over the output and flushes the folder. A caller that must look at the output just before
// the rename (a batch keeping its outputs apart) does so with current() after name(); dropping
// an uncommitted replacement removes its temporary and leaves the output as it was.
//
// Symbolic links are followed only as the system itself follows them (its protections
// included), and one to nothing is refused. The new file gets the old one's owner, group,
// access control list, other attributes and mode, as far as the process may give them, after
// its data; special bits only where the system keeps them for a rewritten file. The old file
// stands whole until the rename.
class Replacement {
public:
    static Expected<Replacement> prepare(const std::string& path, const Content& content,
                                         const WriteOptions& options = {});
    Replacement(Replacement&&) noexcept;
    Replacement& operator=(Replacement&&) noexcept;
    ~Replacement();

    // What the output's name names at this moment; nothing when it names nothing.
    std::optional<FileState> current() const;
    // The new file, complete and flushed.
    FileIdentity incoming() const;
    // Whether the output's name is a symbolic link that led to another name, which other
    // outputs may name too.
    bool throughLink() const;
    // Whether the output's folder treats `name` and the output's own name as one.
    bool namesOneFile(const std::string& name) const;

    // Gives the temporary its name beside the output; commit() does it too, once.
    Expected<Done> name();
    Expected<Written> commit();
    // commit(), for a caller that named the temporary and then looked at the output: `seen` is
    // what current() found, and the output is not looked up again.
    Expected<Written> commit(const std::optional<FileState>& seen);

private:
    Replacement(ReplacementStatePtr state, std::string path, WriteOptions options);
    Expected<Done> keptApart(const std::optional<FileState>& output) const;

    ReplacementStatePtr state_;
    std::string path_;
    WriteOptions options_;
};

// prepare() and commit() in one.
Expected<Written> writeAtomically(const std::string& path, const Content& content,
                                  const WriteOptions& options = {});

} // namespace quillmere::files

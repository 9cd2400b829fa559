#pragma once

// Names as text: UTF-8 everywhere in the program, UTF-16 where Windows takes them. The one
// conversion between the two, for the file layer, the command line and the window.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillmere::files {

// Whether `text` is well-formed UTF-8.
bool isUtf8(std::string_view text);

// The longest start of `text` of at most `limit` bytes that ends between two characters.
std::string_view cutBetweenCharacters(std::string_view text, std::size_t limit);

// How a file system counts a name's length: in bytes (Linux), or in UTF-16 units (Windows).
enum class NameUnits { Utf8Bytes, Utf16Units };

// The temporary file's name for the output `output`: ".NAME.quillmere-OWNER-SLOT.part", or
// ".NAME.quillmere-SLOT.part" with no owner, within 255 `units`. NAME is the output's name in
// lower case; where that has other characters than ASCII, or is too long, its ASCII start
// followed by a hash of the whole, so that the name is spelled one way only and still says
// which output it is for.
std::string temporaryNameFor(std::string_view output, std::string_view owner, int slot,
                             NameUnits units);
inline constexpr int kTemporarySlots = 8; // runs writing one output at the same moment
// Why no temporary could be made when every slot's name is taken: by live runs, or by files
// that are not provably ours and abandoned (another user's, one in use), which stay.
inline constexpr const char* kTemporaryNamesTaken =
    "all 8 names for its temporary file are taken, by other runs writing it at this moment or by "
    "files this program may not remove (another user's, or one in use)";

// `name` with each letter that has a simple other case (ASCII, Latin-1, Greek, Cyrillic) in
// lower case: two names that differ here may be one in a folder that ignores case.
std::string foldedCase(std::string_view name);
// Whether every character of `name` is ASCII, which every folder folds alike (A to Z alone).
bool isAscii(std::string_view name);

// A third spelling of `a`, folding to the same as `a` and `b` but equal to neither, for a
// folder to be asked about; nothing when `a` has no such spelling.
std::optional<std::string> thirdSpelling(std::string_view a, std::string_view b);

#ifdef _WIN32
// Ill-formed input becomes U+FFFD, as Windows itself converts.
std::wstring utf16Of(std::string_view utf8);
std::string utf8Of(std::wstring_view utf16);
#endif

} // namespace quillmere::files

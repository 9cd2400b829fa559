#pragma once

// The steps of a replacement that each system takes its own way; replacement.cpp puts them in
// their order, once for both.

#include "file_layer.h"

#include <memory>
#include <string>

namespace quillmere::files::steps {

// The output's folder and name after links, and the old file there, opened so that the system
// says now whether it may be replaced.
Expected<ReplacementStatePtr> resolve(const std::string& path, const OutputFolder* shared);
// The old file's identity; nothing when the output does not exist yet.
std::optional<FileState> oldState(const ReplacementState& state);
// A new file beside the output, private to this process's user until it is finished.
Expected<Done> createTemporary(ReplacementState& state);
Expected<Done> write(ReplacementState& state, std::span<const std::byte> bytes);
// Copies everything of `from` after its first `offset` bytes to the same place in the new file.
Expected<Done> copyRest(ReplacementState& state, const ReadOnlyFile& from, std::uint64_t offset);
// Puts the data on disk.
Expected<Done> flush(ReplacementState& state);
// Owner, group, attributes, access control list, then the mode: after the data, whose writing
// would clear what the system clears on a write.
Expected<Done> carryMetadata(ReplacementState& state);
// Gives the finished temporary its name in the folder, where it had none.
Expected<Done> name(ReplacementState& state);
std::optional<FileState> current(const ReplacementState& state);
FileIdentity incoming(const ReplacementState& state);
// Whether the output's folder names one file by both `a` and `b`, both names in it.
bool namesOneFile(const ReplacementState& state, const std::string& a, const std::string& b);
std::string outputName(const ReplacementState& state);
// Whether the output's name is a symbolic link that led to another name.
bool throughLink(const ReplacementState& state);
Expected<Done> renameOverOutput(ReplacementState& state);
// After the rename: what Written tells, the replaced file and the folder handed over.
Written written(ReplacementState& state);
// Nothing where the output is in the shared folder: its holder flushes that.
std::optional<OutputFolder> folder(ReplacementState& state);

} // namespace quillmere::files::steps

#pragma once

#include <cstdint>

namespace quillmere::files {

// Copies the file `from`, from `offset` to its end, into `to` at the same offset, and leaves `to`
// exactly as long as `from`. Nothing passes through more than a small buffer: blocks are shared
// where the file system can share them, holes stay holes, and the rest is copied in the kernel
// where it can be. Returns 0, or the system's error code (errno; on Windows, GetLastError).
int copyTail(std::intptr_t from, std::intptr_t to, std::uint64_t offset);

} // namespace quillmere::files

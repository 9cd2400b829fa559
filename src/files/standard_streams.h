#pragma once

namespace quillmere::files {

// Holds each closed standard stream (input, output, error) with a descriptor that takes no
// writes. Otherwise the next file opened would get its number, and a report written to
// standard output would land in a tile set. Call once at start, before any thread begins.
void holdClosedStandardStreams();

} // namespace quillmere::files

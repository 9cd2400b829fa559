#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace quillmere::cli {

// A console takes text as wide characters, whatever its code page; a pipe or a file takes the
// report's UTF-8 bytes as they are. Nothing of the console is changed: it is shared with
// whoever started the program.

// Notes which of standard output and error are consoles. Call once at start.
void prepareConsole();
// Writes UTF-8 text to the console `descriptor` (1 or 2) is, and says how many of its bytes
// were taken (all, or -1 on failure); nothing when it is not a console. A character cut in two
// between writes is joined before it is shown.
std::optional<long> writeToConsole(int descriptor, const char* data, std::size_t size);
// What clears the progress line: a carriage return, spaces across the console and a carriage
// return, which every console understands (not every one understands an escape sequence).
std::string_view clearLineText();

} // namespace quillmere::cli

#pragma once

#include <string_view>

namespace quillmere::cli {

// The console is shared with whoever started the program: what it changes there for a run,
// it puts back at every way out.

// UTF-8 output, and escape sequences understood on standard error where the console can.
void prepareConsole();
// Puts back the code page and mode prepareConsole() changed. Safe from any thread, and again.
void restoreConsole();
// What clears the progress line: an escape sequence, or spaces where a classic console would
// print the escape sequence as it is.
std::string_view clearLineText();

} // namespace quillmere::cli

#pragma once

#include "command_line.h"

#include <ostream>

namespace quillmere::cli {

// Runs the conversions, or the put, an invocation asks for, reporting each on `out` (complete)
// or `err` (warnings and failures). Returns the process's exit status.
int runConversions(const Invocation& invocation, std::ostream& out, std::ostream& err,
                   bool showProgress);

} // namespace quillmere::cli

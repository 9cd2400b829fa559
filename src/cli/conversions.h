#pragma once

#include "command_line.h"
#include "report_buffer.h"

namespace quillmere::cli {

// Runs the conversions, or the put, an invocation asks for, reporting each on `out` (complete)
// or `err` (warnings and failures). Returns the process's exit status.
int runConversions(const Invocation& invocation, ReportBuffer& out, ReportBuffer& err,
                   bool showProgress);

} // namespace quillmere::cli

#pragma once

#include "command_line.h"
#include "file_layer.h"
#include "report_buffer.h"

#include <cstddef>

namespace quillmere::cli {

// Runs the conversions, or the put, an invocation asks for, reporting each on `out` (complete)
// or `err` (warnings and failures). Returns the process's exit status.
int runConversions(const Invocation& invocation, ReportBuffer& out, ReportBuffer& err,
                   bool showProgress);

// How many maps a batch converts at once into `folder`: sized to its disk.
std::size_t conversionsAtOnce(const files::OutputFolder* folder);

} // namespace quillmere::cli

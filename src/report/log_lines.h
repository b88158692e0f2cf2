// What every line of the tool's log means and what an administrator does about it: one table,
// from which docs/log-lines.md is generated and by which the fleet report explains the lines
// it finds. The rows stand in a table per kind of line (log_lines_start_end.h,
// log_lines_paths.h, log_lines_drivers_ui.h); log_line_matcher.h reads messages against them.
#pragma once

#include <cstddef>

#include "report/log_line.h"

namespace report {

// Every line, in the order of the guide.
const LogLine* logLines(size_t& count);

// The first line of the table with this id (for ids that name a single line).
const LogLine& logLine(LineId id);

}  // namespace report

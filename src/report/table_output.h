// The report as a readable table for the terminal: one row per host (those needing attention
// first), under it the reason and each failure line with its meaning and next action, and the
// totals per outcome at the end.
#pragma once

#include <cstdio>

#include "report/fleet.h"

namespace report {

// Writes the host rows (unless totalsOnly) and the totals. The fleet must be ordered.
void writeTable(std::FILE* out, const Fleet& fleet, bool totalsOnly);

}  // namespace report

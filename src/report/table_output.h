// The report as a readable table for the terminal: the causes first (hosts, meaning, next
// action), then the hosts under their cause, each with its cause and next action in one line
// (its failure lines on demand), and the totals per outcome at the end.
#pragma once

#include <cstdio>

#include "report/fleet.h"

namespace report {

// Writes the causes, the host rows (unless totalsOnly; with every failure line when `failures`)
// and the totals. The fleet must be ordered.
void writeTable(std::FILE* out, const Fleet& fleet, bool totalsOnly, bool failures = false);

}  // namespace report

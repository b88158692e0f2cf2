// The report as files for other programs: CSV (one row per host, its cause, the cause's host
// count and next action first) and JSON (an object: when and from what the report was made, the
// totals, the causes with their host counts and next actions, then "hosts" with one object per
// host, for dashboards). Both list the hosts in the fleet's order, so by cause.
#pragma once

#include <filesystem>

#include "report/fleet.h"

namespace report {

// False when the file cannot be written.
bool writeCsv(const std::filesystem::path& path, const Fleet& fleet);
bool writeJson(const std::filesystem::path& path, const Fleet& fleet);

}  // namespace report

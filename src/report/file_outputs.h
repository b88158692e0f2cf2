// The report as files for other programs: CSV (one row per host) and JSON (an array with one
// object per host, for dashboards). Both list the hosts in the fleet's order.
#pragma once

#include <filesystem>

#include "report/fleet.h"

namespace report {

// False when the file cannot be written.
bool writeCsv(const std::filesystem::path& path, const Fleet& fleet);
bool writeJson(const std::filesystem::path& path, const Fleet& fleet);

}  // namespace report

// The report as one self-contained web page: no script, no style sheet, font or image from
// elsewhere, so that it opens anywhere without network access. The totals per outcome are drawn
// as a bar chart (inline SVG); the hosts needing attention are listed first, each row carrying
// its host, outcome, path and exit code as data attributes as well as text.
#pragma once

#include <filesystem>

#include "report/fleet.h"

namespace report {

// False when the file cannot be written. The fleet must be ordered.
bool writeHtml(const std::filesystem::path& path, const Fleet& fleet);

}  // namespace report

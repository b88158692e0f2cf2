// The report as one self-contained web page: no script, no style sheet, font or image from
// elsewhere, so that it opens anywhere without network access. The totals per outcome are drawn
// as a bar chart (inline SVG). It says when it was made, from which folders and over how many
// files; the causes come first (hosts, meaning, next action), then the hosts needing attention
// under their cause, each row carrying its host, outcome, path, exit code and cause as data
// attributes as well as text, its other failure lines in a <details> element; of the hosts
// running the new agent only the first kMaxHealthyRows (the CSV and JSON have all). Columns have
// fixed shares of the page's width and long texts wrap, so that it fits 1280 pixels.
#pragma once

#include <filesystem>

#include "report/fleet.h"

namespace report {

// False when the file cannot be written. The fleet must be ordered.
bool writeHtml(const std::filesystem::path& path, const Fleet& fleet);

}  // namespace report

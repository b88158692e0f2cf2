// The operator's guide to the log, docs/log-lines.md, made from the tables the report uses:
// the log lines, the Win32 codes, the outcomes, and the header and record layout.
#pragma once

#include <string>

namespace report {

// The whole Markdown text of docs/log-lines.md.
std::string logLinesGuide();

}  // namespace report

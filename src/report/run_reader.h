// Reads one file as a log of the tool: what kind of file it is, its header block and its
// records, judged into the host's report. The file is read as a stream in blocks; reading stops
// as soon as the file shows it is no log of the tool.
#pragma once

#include "cryptfile/text_format.h"
#include "report/host_report.h"

namespace report {

// Fills everything of `report` but host, file and run. Never fails: a file that is no log, or
// cannot be read to its end, gets the outcome that says so and a reason.
void readRun(cryptfile::ByteSource& source, HostReport& report);

}  // namespace report

// The preflight outputs of a pilot: the files relocator-check --json wrote on each host,
// collected as HOST_relocator-check.json (or relocator-check.json in a folder named after the
// host), each read into what it says of its host (planned path, problems, next action), and
// totalled by the path the tool would take and by the problems seen ahead.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "report/host_report.h"
#include "report/preflight_name.h"  // isPreflightName, for the totals' callers

namespace report {

struct PreflightTotals {
    size_t hosts = 0;
    size_t migration = 0;
    size_t restart = 0;
    size_t fallback = 0;
    size_t unreadable = 0;  // files that are no preflight output (damaged, cut, another program's)
    size_t clean = 0;       // would migrate or restart with no problem seen
    std::map<std::string, size_t> problems;  // problem id: hosts that have it
};

// Reads one preflight output (its bytes) of the file `file` (UTF-8): its planned path, its
// problems (each id once) and the first problem's next action. The host is named after the
// file (HOST_relocator-check.json, or the folder of relocator-check.json), else after the
// output's own "host" field. Anything but a relocator-check output is unreadable, with why.
Preflight readPreflight(const std::string& text, const std::string& file);

// The same from the file (one too large or that cannot be read is unreadable). Never throws
// but for memory.
Preflight readPreflightFile(const std::filesystem::path& path);

// Adds one host's preflight output to the totals.
void addPreflight(const Preflight& preflight, PreflightTotals& totals);

// Reads one preflight output file into the totals.
void addPreflightFile(const std::filesystem::path& path, PreflightTotals& totals);

// Reads every preflight output of the inputs (files as named when their name fits, folders
// searched however deep as the logs' walk searches them, links not followed) into the totals.
// Never throws.
void totalPreflights(const std::vector<std::filesystem::path>& inputs, PreflightTotals& totals);

// The totals as the terminal shows them, after the logs' table; nothing when there are none.
void writePreflightTotals(std::FILE* out, const PreflightTotals& totals);

}  // namespace report

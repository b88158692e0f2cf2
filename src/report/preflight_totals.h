// The preflight outputs of a pilot: the files relocator-check --json wrote on each host,
// collected as HOST_relocator-check.json (or relocator-check.json in a folder named after the
// host), totalled by the path the tool would take and by the problems seen ahead.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace report {

// True for the file names of preflight outputs, ignoring case.
bool isPreflightName(const std::string& fileName);

struct PreflightTotals {
    size_t hosts = 0;
    size_t migration = 0;
    size_t restart = 0;
    size_t fallback = 0;
    size_t unreadable = 0;  // files that are no preflight output (damaged, cut, another program's)
    size_t clean = 0;       // would migrate or restart with no problem seen
    std::map<std::string, size_t> problems;  // problem id: hosts that have it
};

// Adds one preflight output (its bytes) to the totals.
void addPreflight(const std::string& text, PreflightTotals& totals);

// Reads one preflight output file into the totals (a file too large or unreadable counts as
// no preflight output). Never throws but for memory.
void addPreflightFile(const std::filesystem::path& path, PreflightTotals& totals);

// Reads every preflight output of the inputs (files as named when their name fits, folders
// searched however deep as the logs' walk searches them, links not followed) into the totals.
// Never throws.
void totalPreflights(const std::vector<std::filesystem::path>& inputs, PreflightTotals& totals);

// The totals as the terminal shows them, after the logs' table; nothing when there are none.
void writePreflightTotals(std::FILE* out, const PreflightTotals& totals);

}  // namespace report

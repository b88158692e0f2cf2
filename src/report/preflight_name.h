// The file names of preflight outputs (HOST_relocator-check.json, or relocator-check.json in a
// folder named after the host). Below both the logs' walk, which hands such files on, and the
// preflight totals, which read them: the walk needs the names only.
#pragma once

#include <filesystem>
#include <string>

namespace report {

// True for the file names of preflight outputs, ignoring case.
bool isPreflightName(const std::string& fileName);

// The host a preflight output's file name stands for; empty when it names none.
std::string hostOfPreflightFile(const std::filesystem::path& path);

}  // namespace report

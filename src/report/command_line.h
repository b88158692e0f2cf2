// The report's command line: relocator-report [options] PATH...
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "report/log_collection.h"

namespace report {

struct Options {
    std::vector<std::filesystem::path> inputs;
    std::filesystem::path csv;  // empty: not asked for
    std::filesystem::path json;
    std::filesystem::path html;
    std::filesystem::path hosts;  // the fleet's inventory; empty: none
    HostNaming naming = HostNaming::Auto;
    bool allRuns = false;
    bool totalsOnly = false;
    bool failures = false;  // every failure line on the terminal
    bool help = false;
};

// Reads the arguments (UTF-8, without the program name). False with a message when they make
// no sense; the caller then shows usageText() and ends with exit code 2.
bool parseCommandLine(const std::vector<std::string>& args, Options& options, std::string& error);

const char* usageText();

}  // namespace report

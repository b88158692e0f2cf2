// Runs a program as its debugger, to read what it writes to the debugger output.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ptest {

struct DebugRun {
    bool started = false;
    DWORD exitCode = 0;
    std::vector<std::wstring> debugStrings;  // in the order written
};

// Starts commandLine in currentFolder under DEBUG_ONLY_THIS_PROCESS, collects every debugger
// string until the process exits (at most timeoutMs), and returns them with the exit code.
DebugRun runUnderDebugger(const std::wstring& commandLine,
                          const std::wstring& currentFolder,
                          DWORD timeoutMs = 60000);

}  // namespace ptest

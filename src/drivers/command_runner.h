// Runs one installer command line as a separate process with a hidden console and waits for
// it to end.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Characters CreateProcessW accepts in a command line, the terminator included.
constexpr size_t kMaxCommandLineChars = 32767;

// Runs commandLine (the program, quoted, as its first token) in currentFolder, hidden, in a new
// console, and waits without a time limit. Returns the process's exit code, or the Win32 error
// of the failed start; the two ranges are not told apart. Logs the command line at INFO and a
// failed start at ERROR, except a missing program (2), which the callers report. A command line
// of any length up to the system's limit runs whole; a longer one is refused with an ERROR line
// and ERROR_FILENAME_EXCED_RANGE (206), and nothing is run.
DWORD ExecuteCommand(const std::wstring& commandLine, const std::wstring& currentFolder);

// Told of each program ExecuteCommand starts, before it is waited for (the migration records
// it, so that a later run can find an installer that a killed run left running). Empty: none.
void setChildStartedObserver(std::function<void(HANDLE process, const std::wstring& commandLine)> observer);

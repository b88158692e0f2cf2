// Finding and ending the new agent's service process when its start hangs.
#pragma once

#include <windows.h>

// True when a running process has exactly this executable name (case counts).
bool isProcessRunning(const wchar_t* name);

// Id of the first listed process whose first module, or, when its modules cannot be read
// (a 64-bit process seen from this 32-bit tool), whose image file is named so, ignoring case.
// 0 when none is found.
DWORD findProcessId(const wchar_t* name);

// Enables SeDebugPrivilege and terminates the first "thService.exe" with exit code 9999.
// Logs each outcome; returns nothing.
void terminateTarvosProcess();

// Exit code given to a terminated agent process.
constexpr UINT kTerminatedExitCode = 9999;

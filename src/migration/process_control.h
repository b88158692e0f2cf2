// Finding and ending the new agent's service process when its start hangs.
#pragma once

#include <windows.h>

// True when a running process has exactly this executable name (case counts).
bool isProcessRunning(const wchar_t* name);

// Id of the first listed process whose first module, or, when its modules cannot be read
// (a 64-bit process seen from this 32-bit tool), whose image file is named so, ignoring case.
// 0 when none is found.
DWORD findProcessId(const wchar_t* name);

// Enables SeDebugPrivilege and terminates the hung agent with exit code 9999: the process the
// service control manager reports for the service (serviceProcessId) when its image is
// "thService.exe", otherwise, when none is reported, the first process found by that name. Waits
// for it to end (at most kTerminateWaitMs) on the handle it was checked and ended with, so that
// the second start never meets the old process still stopping. Logs each outcome; returns
// nothing.
void terminateTarvosProcess(DWORD serviceProcessId = 0);

// How long the rescue waits for the ended agent process to be gone.
constexpr DWORD kTerminateWaitMs = 10000;

// Exit code given to a terminated agent process.
constexpr UINT kTerminatedExitCode = 9999;

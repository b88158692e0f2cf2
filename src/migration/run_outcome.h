// What a run says about its end: the names of service states in the end record and LastRun, and
// the exit codes of the tool's own choosing. Below the paths, whose rows set them.
#pragma once

#include <windows.h>

// The name of a service state for the end record and LastRun: "running", "stopped",
// "start-pending", ...; "not-started" for 0 (the tool did not get it started).
const wchar_t* agentStateName(DWORD state);

// Exit codes of our own choosing.
// A new agent whose start was accepted but that was not seen running at the end of the run.
constexpr DWORD kAgentNotRunningExitCode = ERROR_SERVICE_REQUEST_TIMEOUT;  // 1053
// The fallback path: the upgrade was not done.
constexpr DWORD kNewAgentMissingExitCode = ERROR_FILE_NOT_FOUND;   // thService.exe is missing
constexpr DWORD kArgumentGivenExitCode = ERROR_INVALID_PARAMETER;  // an argument forbids it
// A migration waits for a restart that has come and did not free its services.
constexpr DWORD kRestartDidNotFreeExitCode = ERROR_SERVICE_MARKED_FOR_DELETE;  // 1072

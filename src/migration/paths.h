// Detection of the path to take and the three paths themselves.
#pragma once

#include "migration/run_context.h"

// Pause between ending a hung agent process and the second start.
constexpr DWORD kRestartPauseMs = 1000;

// The new agent registered and present: restart. Otherwise any argument forbids the
// migration; without one, its files decide between migration and fallback.
RunPath choosePath(bool tarvosKeyPresent, bool tarvosExecutableExists, int argumentCount);
// The same, where a migration that an earlier run began and did not finish (its record is
// there) is taken up again without an argument, whatever the new agent's registration, as long
// as the new agent's files are there to finish it with.
RunPath choosePath(bool interruptedMigration,
                   bool tarvosKeyPresent,
                   bool tarvosExecutableExists,
                   int argumentCount);
const wchar_t* pathName(RunPath path);  // "migration", "restart", "fallback"

// Whether the new agent's service is seen running after a start with this result: a start
// that was accepted, or answered "already running" (1056, which a start-pending service answers
// too), is watched while it is start-pending (at most 30 s); a failed start counts only when the
// service reports itself running all the same. Logs "KLOTarvos is already running" for a
// running service that the start did not start, and at ERROR a service not running after the
// wait; records the state seen in the context.
bool seeNewAgentRunning(RunContext& context, DWORD startResult);

// After a start that did not bring the new agent up: when a "thService.exe" runs, the rescue
// (end the service's own process, pause, start once more, watch again); when the agent still
// does not run, the old agent "Glacis" is started so that the host is not left without one.
// Logs the specified lines; the exit code is not touched.
void rescueNewAgent(RunContext& context);

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

DWORD RestartPath(RunContext& context);
DWORD MigrationPath(RunContext& context);
// Returns kNewAgentMissingExitCode or kArgumentGivenExitCode: the host was not upgraded.
DWORD FallbackPath(RunContext& context);

// Makes the root of the working folder current (end of every run).
void endRun(const RunContext& context);

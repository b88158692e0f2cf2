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

// True when the new agent's service runs although its start did not succeed: the start
// answered "already running" (1056, which a start-pending service answers too), or the
// service reports itself running.
bool newAgentRuns(StartStop& services, DWORD startResult);

DWORD RestartPath(RunContext& context);
DWORD MigrationPath(RunContext& context);
DWORD FallbackPath(RunContext& context);

// Makes the root of the working folder current (end of every run).
void endRun(const RunContext& context);

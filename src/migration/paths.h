// Detection of the path to take, the entries of the three paths, and the exit codes of our own
// choosing.
#pragma once

#include "migration/run_context.h"
#include "migration/run_outcome.h"

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

// Each path walks its rows (restart_steps.cpp, migration_steps.cpp, fallback_steps.cpp) and
// returns the exit code they set. The fallback path's is kNewAgentMissingExitCode or
// kArgumentGivenExitCode: the host was not upgraded.
DWORD RestartPath(RunContext& context);
DWORD MigrationPath(RunContext& context);
DWORD FallbackPath(RunContext& context);

// Makes the root of the working folder current (end of every run).
void endRun(const RunContext& context);

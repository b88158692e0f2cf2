// Detection of the path to take and the three paths themselves.
#pragma once

#include "migration/run_context.h"

// Pause between ending a hung agent process and the second start.
constexpr DWORD kRestartPauseMs = 1000;

enum class RunPath { Restart, Migration, Fallback };

// The new agent registered and present: restart. Otherwise any argument forbids the
// migration; without one, its files decide between migration and fallback.
RunPath choosePath(bool tarvosKeyPresent, bool tarvosExecutableExists, int argumentCount);

DWORD RestartPath(RunContext& context);
DWORD MigrationPath(RunContext& context);
DWORD FallbackPath(RunContext& context);

// Makes the root of the working folder current (end of every run).
void endRun(const RunContext& context);

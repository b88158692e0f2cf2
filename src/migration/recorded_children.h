// The programs a run starts and waits for (the installers, Rampart.exe -s), on every path, kept
// under the tool's key (kChildrenKey) so that a later run can find one that a killed run left
// running: a process id is reused, the id with the process's creation time is not.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "migration/run_record.h"

// Adds a program the run has just started to the kept list (those seen ended are dropped), so
// that a later run finds it if this one is killed while it runs. A list that cannot be written
// costs only that; it is said once.
void noteChildStarted(HANDLE process, const std::wstring& commandLine);

// Whether a program an earlier run recorded still runs: the first such one's program and id.
// Only a list that nobody but SYSTEM and administrators can change counts.
bool leftChildRunning(std::wstring& program, DWORD& processId);

// How long a run waits for a program that a killed run left running before it ends it: a
// deployment system usually killed that run because the program hung.
constexpr DWORD kLeftChildWaitMs = 2 * 60 * 1000;

// Before a run starts anything: waits for each program an earlier run recorded that still runs
// (at most kLeftChildWaitMs), then ends it, logging each, on one process handle from the
// creation-time check to the end, so that nothing else that came to have its id is waited for or
// ended; never two of a program at once. A list others than SYSTEM and administrators can
// change is said and ignored. The list is emptied.
void endLeftChildren();

// At the end of a run, whose programs have all been waited for: the list goes.
void forgetChildren();

// The programs a migration starts and waits for (the installers, Rampart.exe -s), as the record
// keeps them so that a later run can find one that a killed run left running: a process id is
// reused, the id with the process's creation time is not.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "migration/run_record.h"

// The record of a program just started; false when its creation time cannot be read.
bool recordChild(HANDLE process, const std::wstring& commandLine, RecordedChild& child);

// Whether a recorded program still runs: the same process id with the same creation time.
bool childRunning(const RecordedChild& child);
// Whether any of the record's children still runs: the first such one's program and process id.
bool recordedChildRunning(const MigrationRecord& record, std::wstring& program, DWORD& processId);

// How long a resumed run waits for a program that a killed run left running before it ends it:
// a deployment system usually killed that run because the program hung.
constexpr DWORD kLeftChildWaitMs = 2 * 60 * 1000;

// Waits for each recorded child that still runs (at most kLeftChildWaitMs), then ends it,
// logging each; on one process handle from the creation-time check to the end, so that nothing
// else that came to have its id is waited for or ended.
void endLeftChildren(const std::vector<RecordedChild>& children);

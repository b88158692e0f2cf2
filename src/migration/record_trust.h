// Whether the tool may act on its migration record. The record tells an elevated program which
// steps to skip and which processes to end, so it is taken only from a key that nobody but
// SYSTEM and administrators can change.
#pragma once

#include <windows.h>

#include <string>

#include "migration/run_record.h"

// What is wrong with a record's key of the tool (kMigrationKey, kChildrenKey) for it to be
// trusted, in words for the log; empty when only SYSTEM and administrators can change it: its DACL
// grants write access to no one else, and its owner is SYSTEM, Administrators or the account this
// program runs as (what the system makes the owner of the keys this program creates: Administrators
// or SYSTEM on Windows, the token's own owner on Wine). Also empty when there is no record, or its
// security cannot be read by a program that may not read it anyway (the caller then finds no
// record).
std::wstring recordDistrust(const wchar_t* keyPath);
inline std::wstring migrationRecordDistrust() {
    return recordDistrust(kMigrationKey);
}

// A record that others than SYSTEM and administrators can change is no instruction for an
// elevated program: when recordDistrust finds it so, it is said (WARN) and removed with
// `remove`, and true is returned: the caller acts as if there were none.
bool dropUntrustedRecord(const wchar_t* keyPath, DWORD (*remove)());

// Versions and ages of a record whose facts a run takes on trust; older records are said in
// the log and the migration is done again from the start. A record that waits for a restart is
// always taken on trust.
constexpr long long kRecordTrustDays = 30;
bool recordTrusted(const MigrationRecord& record);

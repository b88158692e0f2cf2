// The tool's own records on the host, in one registry key of its own:
// HKLM\SOFTWARE\QSX\Relocator in the 32-bit view (HKLM\SOFTWARE\WOW6432Node\QSX\Relocator on
// 64-bit Windows), which grants write access to SYSTEM and administrators only.
//
// - "Migration": present while a migration is under way. It is written before the migration's
//   first change and removed after its last step, so a run that finds it knows that an earlier
//   one was cut off (killed, or the host lost power) and finishes the job.
// - "LastRun": how the last run that got to its end ended, for a deployment system's detection
//   rule: path, exit code, version, time, the state of the new agent's service, and the result
//   for the host ("migrated" only when the migration is complete and the new agent runs).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "migration/tool_key.h"

constexpr wchar_t kMigrationKey[] = L"SOFTWARE\\QSX\\Relocator\\Migration";
constexpr wchar_t kLastRunKey[] = L"SOFTWARE\\QSX\\Relocator\\LastRun";
// The programs a run started and waits for (installers, Rampart.exe -s), on every path, so that
// a later run finds one that a killed run left running.
constexpr wchar_t kChildrenKey[] = L"SOFTWARE\\QSX\\Relocator\\Children";
// Volatile: written with a 3010, and dropped by the host's restart, so that a later run can tell
// whether the host has restarted since (a boot time from the tick count cannot be compared on
// every platform the tool is tested on).
constexpr wchar_t kRestartMarkerKey[] = L"SOFTWARE\\QSX\\Relocator\\RestartPending";

// The migration's steps, in order; each is recorded when it begins.
enum class MigrationStep {
    None,
    Drivers,       // network and filter drivers
    OldServices,   // Glacis, HotMend and Rampart removed
    Registration,  // Glacis, Rampart and KLOTarvos registered
    LocalUi,       // policy read, user interface installed or removed
    Start,         // KLOTarvos started
    Cleanup,       // policy files deleted
    Rampart,       // the application-protection program run
};
constexpr int kMigrationStepCount = static_cast<int>(MigrationStep::Rampart) + 1;
const wchar_t* stepName(MigrationStep step);  // "drivers", ...; "" for None
MigrationStep stepByName(const std::wstring& name);

// What the local UI step decided, so that a run cut off in the middle of it is finished the same
// way, and a later run can tell from the host whether it was done: Install and Keep want the
// program and its shortcuts there, Remove and Absent want them gone.
enum class UiAction { None, Install, Remove, Keep, Absent };
const wchar_t* uiActionName(UiAction action);  // "install", "remove", "keep", "absent", ""
UiAction uiActionByName(const std::wstring& name);

// A program a migration started and waited for (an installer), as a later run finds it again:
// a process id is reused, its creation time with it is not.
struct RecordedChild {
    DWORD processId = 0;
    unsigned long long created = 0;  // FILETIME as a number
    std::wstring program;            // its file name, for the log
};

struct MigrationRecord {
    MigrationStep step = MigrationStep::None;  // the step begun last
    bool rampartPresent = false;               // Rampart was registered when it began
    UiAction uiAction = UiAction::None;
    std::wstring begun;        // "YYYY-MM-DDThh:mm:ssZ"
    std::wstring version;      // of the tool that began it
    DWORD runs = 0;            // runs that have worked on it
    DWORD done = 0;            // a bit per MigrationStep whose work a run finished
    std::wstring agentFiles;   // fileIdentity of thService.exe when the drivers were installed
    bool restartWait = false;  // it ended with 3010: services wait for a restart
    // A restart came and did not free them: no run gives 3010 for this record again.
    bool restartFailed = false;

    bool isDone(MigrationStep s) const { return (done & bit(s)) != 0; }
    void setDone(MigrationStep s) { done |= bit(s); }
    static DWORD bit(MigrationStep s) { return 1u << static_cast<int>(s); }
};

// Days since the record's "begun" time; -1 when it cannot be read.
long long recordAgeDays(const MigrationRecord& record);

// 0 and the record when one is there; ERROR_FILE_NOT_FOUND when none is.
DWORD readMigrationRecord(MigrationRecord& record);
// Writes the whole record (made first, or taken over by a later run) and flushes it to disk.
DWORD writeMigrationRecord(const MigrationRecord& record);
DWORD removeMigrationRecord();
bool migrationRecordPresent();

// The programs recorded under kChildrenKey (none when there is no key).
DWORD readRecordedChildren(std::vector<RecordedChild>& children);
DWORD writeRecordedChildren(const std::vector<RecordedChild>& children);
DWORD removeRecordedChildren();

// The restart marker: written when a run ends with 3010, gone after the host restarts.
DWORD writeRestartMarker();
bool restartMarkerPresent();
DWORD removeRestartMarker();

struct LastRunRecord {
    std::wstring path;  // "migration", "restart", "fallback"
    DWORD exitCode = 0;
    std::wstring version;
    std::wstring ended;     // "YYYY-MM-DDThh:mm:ssZ"
    std::wstring newAgent;  // agentStateName() of KLOTarvos at the end
    // What the run left the host as: "migrated" (no migration record left and the new agent
    // seen running), "restart-needed" or "failed". A detection rule keys on "migrated".
    std::wstring result;
    // agentStateName() of Glacis at the end, "absent" when it is not registered: the agent that
    // protects a host whose new agent does not run.
    std::wstring oldAgent;
};
DWORD writeLastRun(const LastRunRecord& record);
DWORD readLastRun(LastRunRecord& record);
// Removes LastRun's "Result" when a migration begins: a run cut off before its end must not
// leave an earlier "migrated" standing for a host that is being changed.
DWORD clearLastRunResult();

// The current time in UTC as "YYYY-MM-DDThh:mm:ssZ".
std::wstring utcNow();

// Relocator: moves a host from the Glacis agent to the Tarvos agent, restarts an installed
// Tarvos agent, or starts Glacis again when the upgrade cannot be done.
#include <windows.h>

#include <cstdio>

#include "drivers/command_runner.h"
#include "logging/logger.h"
#include "migration/host_queries.h"
#include "migration/paths.h"
#include "migration/record_trust.h"
#include "migration/recorded_children.h"
#include "migration/run_guard.h"
#include "migration/run_record.h"
#include "migration/version.h"
#include "win/file_exists.h"
#include "win/library_search.h"
#include "win/registry.h"
#include "win/strings.h"

namespace {

constexpr DWORD kUnhandledExceptionExitCode = 574;  // ERROR_UNHANDLED_EXCEPTION

std::wstring logFilePath() {
    std::wstring windows = windowsFolder();
    return windows.empty() ? windows : windows + L"\\Relocator.log";
}

// A deciphered policy outlives its step only when a run is cut off in it; whatever run comes
// next removes it, whichever path it takes.
void deleteLeftOverPolicyText(const RunContext& context) {
    if (!win::fitsPath(context.decryptedPolicyFile) || !fileExists(context.decryptedPolicyFile))
        return;
    if (DeleteFileW(context.decryptedPolicyFile.c_str())) {
        logMessage(gLogger, LOG_INFO, L"Deleted %s left behind by an interrupted run\n",
                   context.decryptedPolicyFile.c_str());
    } else {
        logMessage(gLogger, LOG_ERROR,
                   L"Can't delete %s left behind by an interrupted run. Errcode :%d \n",
                   context.decryptedPolicyFile.c_str(), GetLastError());
    }
}

// What the deployment system is told. Success (0, or 1056 where the specified code is the
// start's "already running") only for a host that runs the new agent now with nothing left to
// finish; 3010 for one whose migration the first run after a restart finishes; otherwise a
// failure code: the failed start's own code, or 1053 for a start that was accepted but never
// came up (still start-pending, or stopped again).
DWORD settledExitCode(RunContext& context) {
    if (context.path == RunPath::Fallback || context.exitCode == kUnhandledExceptionExitCode)
        return context.exitCode;
    // Seen at the end of the run, not when the start was answered.
    if (context.agentState != 0)
        context.agentState = context.startStop.serviceState(kTarvosService);
    if (context.agentState != SERVICE_RUNNING)
        return context.startError != 0 ? context.startError : kAgentNotRunningExitCode;
    if (context.restartDidNotFree)
        return kRestartDidNotFreeExitCode;
    if (!context.waitingForRestart.empty())
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    if (context.recordError != ERROR_SUCCESS)
        return context.recordError;
    // No success while a migration is left to finish, whatever path this run took: only an
    // argument keeps a run that finds a record from taking it up.
    if (migrationRecordPresent())
        return kArgumentGivenExitCode;
    // The host's state, not the first answer: a start that failed and was rescued, or came up
    // while it was watched, is a success; 1056 stays where the start's code is returned.
    return context.exitCode == ERROR_SERVICE_ALREADY_RUNNING ? context.exitCode : ERROR_SUCCESS;
}

// The host as the run leaves it, for a detection rule: "migrated" only when nothing is left to
// finish and the new agent runs.
const wchar_t* resultName(DWORD exitCode) {
    switch (exitCode) {
        case ERROR_SUCCESS:
        case ERROR_SERVICE_ALREADY_RUNNING:
            return L"migrated";
        case ERROR_SUCCESS_REBOOT_REQUIRED:
            return L"restart-needed";
        default:
            return L"failed";
    }
}

// The run's end, in the registry for a detection rule and as the log's last record: a log
// without it is one whose run was cut off.
void recordEnd(const RunContext& context) {
    LastRunRecord last;
    last.path = pathName(context.path);
    last.exitCode = context.exitCode;
    last.version = kRelocatorVersion;
    last.ended = utcNow();
    last.newAgent = agentStateName(context.agentState);
    last.result = resultName(context.exitCode);
    // Which agent protects the host when the new one does not run: the rescue starts the old.
    const DWORD oldState = context.startStop.serviceState(context.glacisService.c_str());
    last.oldAgent = oldState == 0 ? L"absent" : agentStateName(oldState);
    DWORD e = writeLastRun(last);
    if (e != ERROR_SUCCESS) {
        logMessage(gLogger, LOG_WARN, L"Can't record the run's end in %s. Errcode :%d \n",
                   kLastRunKey, e);
    }
    logMessage(gLogger, LOG_INFO,
               L"Relocator %s finished with exit code %u (path: %s, new agent: %s, result: %s, "
               L"old agent: %s)\n",
               kRelocatorVersion, context.exitCode, last.path.c_str(), last.newAgent.c_str(),
               last.result.c_str(), last.oldAgent.c_str());
}

DWORD runPath(RunContext& context, int argc) {
    // A migration then begins from the start with a record of its own.
    const bool untrusted = dropUntrustedRecord(kMigrationKey, removeMigrationRecord);
    // Never two of a program at once: what a killed run left running is waited for or ended
    // first, and every program this run starts is recorded until it has ended.
    endLeftChildren();
    setChildStartedObserver(noteChildStarted);
    MigrationRecord interrupted;
    const bool resume = !untrusted && readMigrationRecord(interrupted) == ERROR_SUCCESS;
    const bool tarvosKey = win::keyPresent(HKEY_LOCAL_MACHINE, kTarvosServiceKey);
    context.path = choosePath(resume, tarvosKey, fileExists(context.tarvosExecutable), argc);
    if (resume && context.path != RunPath::Migration) {
        // Kept for the run that can finish it; said, so that nobody takes this run for that one.
        logMessage(
            gLogger, LOG_WARN,
            L"A migration begun %s by Relocator %s is not finished (last step begun: %s). "
            L"This run leaves it to the first run without arguments that finds %s\n",
            interrupted.begun.c_str(), interrupted.version.c_str(),
            interrupted.step == MigrationStep::None ? L"unknown" : stepName(interrupted.step),
            context.tarvosExecutable.c_str());
    }
    switch (context.path) {
        case RunPath::Restart:
            return RestartPath(context);
        case RunPath::Migration:
            return MigrationPath(context);
        case RunPath::Fallback:
            break;
    }
    return FallbackPath(context);
}

DWORD run(int argc) {
    // Before anything is read or changed: a second copy leaves the first's log and services
    // alone.
    RunGuard guard;
    if (guard.state() == RunGuard::State::HeldByAnother) {
        fputws(win::formatWide(L"Relocator: another run is working on this host (%s is held). "
                               L"Nothing was changed; exit code %u.\n",
                               guard.path().c_str(), kAnotherRunExitCode)
                   .c_str(),
               stderr);
        return kAnotherRunExitCode;
    }
    // An administrator's run that cannot take the guard for any other reason (a folder of that
    // name, a file a scanner holds, access refused) does not go on unguarded: two such runs
    // would delete each other's log and change the same services. It changes nothing, not even
    // the log, and asks for a retry. Without administrative rights the run goes on as before,
    // and says so.
    if (guard.state() != RunGuard::State::Held && runsWithAdministrativeRights()) {
        fputws(win::formatWide(L"Relocator: can't take the run guard %s (error %u). Nothing was "
                               L"changed; exit code %u: run again later.\n",
                               guard.path().c_str(), guard.error(), kAnotherRunExitCode)
                   .c_str(),
               stderr);
        return kAnotherRunExitCode;
    }

    RunContext context;
    buildRunContext(context, getInstallDir());

    context.logPath = logFilePath();
    if (!context.logPath.empty() && fileExists(context.logPath)) {
        DeleteFileW(context.logPath.c_str());
    }
    gLogger = THSingletonLogger::instance(context.logPath.c_str(), LOG_ERROR | LOG_WARN | LOG_INFO,
                                          LOG_FILE);
    logMessage(gLogger, LOG_INFO, L"starting Logging Now\n ");
    logMessage(gLogger, LOG_INFO, L"Relocator %s started as process %u\n", kRelocatorVersion,
               GetCurrentProcessId());
    if (guard.state() != RunGuard::State::Held) {
        logMessage(gLogger, LOG_WARN, L"Can't take the run guard %s. Errcode :%d \n",
                   guard.path().c_str(), guard.error());
    }
    deleteLeftOverPolicyText(context);

    try {
        context.exitCode = runPath(context, argc);
    } catch (...) {
        // Nothing may escape; an unexpected failure must not read as success.
        context.exitCode = kUnhandledExceptionExitCode;
    }
    setChildStartedObserver(nullptr);
    forgetChildren();
    context.exitCode = settledExitCode(context);
    recordEnd(context);
    endRun(context);
    return context.exitCode;
}

}  // namespace

int wmain(int argc, wchar_t** /*argv*/, wchar_t** /*envp*/) {
    // Before anything can load a library: the tool runs elevated, often from a folder that
    // ordinary users can write to, and must not pick up a library planted there.
    win::hardenLibrarySearch();
    try {
        return static_cast<int>(run(argc));
    } catch (...) {
        // Nothing may escape; an unexpected failure must not read as success.
        return static_cast<int>(kUnhandledExceptionExitCode);
    }
}

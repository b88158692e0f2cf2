// The migration sequence: the old agent's services out, the new agent's in, the local user
// interface as the policy says, the new agent started. Each step is recorded in the tool's
// registry key as it begins, so that a run that was cut off (killed by a deployment system, or
// the host lost power) is finished by the next one: the steps the interrupted run finished are
// skipped, the one it was in is done again, and work found already done is said as such rather
// than reported as a failure.
#include <cstdio>

#include "logging/logger.h"
#include "migration/paths.h"
#include "migration/run_record.h"
#include "migration/steps.h"
#include "migration/version.h"
#include "win/file_exists.h"
#include "win/registry.h"
#include "win/strings.h"

namespace {

class MigrationProgress {
  public:
    // Takes up the record of an interrupted migration, or begins a new one.
    explicit MigrationProgress(bool rampartRegistered) {
        resumed_ = readMigrationRecord(record_) == ERROR_SUCCESS;
        if (!resumed_) {
            record_ = MigrationRecord();
            record_.rampartPresent = rampartRegistered;
            record_.begun = utcNow();
            record_.version = kRelocatorVersion;
            record_.runs = 1;
            clearLastRunResult();
            return;
        }
        interrupted_ = record_.step;
        interruptedUi_ = record_.uiAction;
        // Registered now although the interrupted run found it absent: someone added it since.
        record_.rampartPresent = record_.rampartPresent || rampartRegistered;
        record_.runs += 1;
        if (awaitingRestart()) {
            logMessage(gLogger, LOG_INFO,
                       L"Finishing the migration begun %s by Relocator %s, which waited for a "
                       L"restart\n",
                       record_.begun.c_str(), record_.version.c_str());
        } else {
            logMessage(gLogger, LOG_INFO,
                       L"Resuming the migration begun %s by Relocator %s, cut off in step %s\n",
                       record_.begun.c_str(), record_.version.c_str(),
                       interrupted_ == MigrationStep::None ? L"unknown" : stepName(interrupted_));
        }
        save();
    }

    // An earlier run did everything but what only a restart makes possible.
    bool awaitingRestart() const {
        return resumed_ && interrupted_ == MigrationStep::AfterRestart;
    }

    bool rampartPresent() const { return record_.rampartPresent; }

    // Records the step as begun and says whether to run it: a step that the interrupted run
    // finished and that leaves nothing to check again is skipped, and said so.
    bool begin(MigrationStep step) {
        if (resumed_ && step < interrupted_ && step <= MigrationStep::LocalUi) {
            logMessage(gLogger, LOG_INFO, L"Step %s was done by the interrupted run\n",
                       stepName(step));
            return false;
        }
        record_.step = step;
        save();
        return true;
    }

    // True for the step the interrupted run was in (or any step when it is not known which):
    // part of its work may be done already.
    bool redoing(MigrationStep step) const {
        return resumed_ && (interrupted_ == step || interrupted_ == MigrationStep::None);
    }

    UiAction interruptedUiAction() const {
        return redoing(MigrationStep::LocalUi) ? interruptedUi_ : UiAction::None;
    }

    void recordUiAction(UiAction action) {
        record_.uiAction = action;
        save();
    }

    // The last step is done: no later run has anything to finish. Returns why the record
    // stays, 0 when it is gone.
    DWORD finish() {
        DWORD e = removeMigrationRecord();
        if (e != ERROR_SUCCESS) {
            logMessage(gLogger, LOG_WARN, L"Can't remove the migration record %s. Errcode :%d \n",
                       kMigrationKey, e);
        }
        return e;
    }

    // Everything is done but the registration of services that only a restart frees: the
    // record stays for the first run after it.
    void awaitRestart(const std::wstring& services) {
        record_.step = MigrationStep::AfterRestart;
        save();
        logMessage(gLogger, LOG_WARN,
                   L"Restart needed: %s stays marked for deletion until the host restarts. The "
                   L"first run after the restart registers it and finishes the migration\n",
                   services.c_str());
    }

  private:
    // A record that cannot be written costs only the resumption; it is said once.
    void save() {
        DWORD e = writeMigrationRecord(record_);
        if (e != ERROR_SUCCESS && !saveFailed_) {
            saveFailed_ = true;
            logMessage(gLogger, LOG_WARN,
                       L"Can't record the migration's progress in %s. Errcode :%d \n",
                       kMigrationKey, e);
        }
    }

    MigrationRecord record_;
    bool resumed_ = false;
    bool saveFailed_ = false;
    MigrationStep interrupted_ = MigrationStep::None;
    UiAction interruptedUi_ = UiAction::None;
};

// Deletes a file of the run context; a path too long to be the real one is not touched.
DWORD deleteFile(const std::wstring& path) {
    if (!win::fitsPath(path))
        return win::kPathTooLong;
    return DeleteFileW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
}

std::wstring programFolder() {
    std::wstring folder;
    if (!win::moduleFolder(folder)) {
        logMessage(gLogger, LOG_ERROR, L"can't get current module name\n");
        folder.clear();
    }
    logMessage(gLogger, LOG_ERROR, L"Pick up GlacisUi from %s\n", folder.c_str());
    return folder;
}

void removeOldServices(RunContext& context, const MigrationProgress& progress) {
    StartStop& services = context.startStop;
    // Done already by the interrupted run: said, not reported as a failure.
    const bool redo = progress.redoing(MigrationStep::OldServices);
    DWORD e = services.deleteGlacisd();
    if (e == ERROR_SERVICE_DOES_NOT_EXIST && redo) {
        logMessage(gLogger, LOG_INFO, L"Glacis is already removed\n");
    } else if (e != 0) {
        logMessage(gLogger, LOG_ERROR, L"Glacisd can't be removed with errcode: %d\n", e);
    }
    e = services.removeService(context.hotMendService.c_str());
    if (e == ERROR_SERVICE_DOES_NOT_EXIST && redo) {
        logMessage(gLogger, LOG_INFO, L"HotMend is already removed\n");
    } else if (e != 0) {
        logMessage(gLogger, LOG_ERROR, L"HotMend can't be removed with errcode: %d\n", e);
    }
    e = deleteFile(context.hotMendExecutable);
    if (e == ERROR_FILE_NOT_FOUND && redo) {
        logMessage(gLogger, LOG_INFO, L"hotmend.exe is already deleted\n");
    } else if (e != 0) {
        logMessage(gLogger, LOG_ERROR, L"HotMend can't be deleted with errcode: %d\n", e);
    }

    if (win::keyPresent(HKEY_LOCAL_MACHINE, kRampartServiceKey)) {
        logMessage(gLogger, LOG_INFO, L"Rampart Found. Removing.. \n");
        fputs("\nRamp found ", stdout);
        fflush(stdout);
        if ((e = services.removeService(context.rampartService.c_str())) != 0) {
            logMessage(gLogger, LOG_ERROR, L"Rampart can't be removed with errcode: %d\n", e);
        }
    } else if (context.rampartPresent) {
        // Removed by the interrupted run before it could register it again.
        logMessage(gLogger, LOG_INFO, L"Rampart is already removed. Registering it again\n");
    } else {
        logMessage(gLogger, LOG_INFO, L"Rampart Doesnt exist. Not Removing \n");
    }
}

// A registration refused because the old one is still marked for deletion waits for a
// restart; the service's name is noted for the end of the run.
void noteRestartWait(RunContext& context, DWORD result, const wchar_t* service) {
    if (result != ERROR_SERVICE_MARKED_FOR_DELETE)
        return;
    if (!context.waitingForRestart.empty())
        context.waitingForRestart += L", ";
    context.waitingForRestart += service;
}

void registerServices(RunContext& context) {
    StartStop& services = context.startStop;
    DWORD e = 0;
    if ((e = services.addService(context.daemonExecutable.c_str(), context.glacisService.c_str(),
                                 context.glacisService.c_str())) != 0) {
        logMessage(gLogger, LOG_ERROR, L"Glacisd can't be added with errcode: %d\n", e);
        noteRestartWait(context, e, context.glacisService.c_str());
    }
    if (context.rampartPresent) {
        logMessage(gLogger, LOG_INFO, L"Installing ramp.. \n");
        if ((e = services.addService(context.rampartExecutable.c_str(),
                                     context.rampartService.c_str(),
                                     context.rampartService.c_str())) != 0) {
            logMessage(gLogger, LOG_ERROR, L"Rampart cant be added with errcode: %d\n", e);
            noteRestartWait(context, e, context.rampartService.c_str());
        }
    }
    if ((e = services.addService(context.tarvosExecutable.c_str())) != 0) {
        logMessage(gLogger, LOG_ERROR, L"TarvosAgent can't be added with errcode: %d\n", e);
        noteRestartWait(context, e, kTarvosService);
    }
}

DWORD startNewAgent(RunContext& context) {
    DWORD result = context.startStop.startSingleService(kTarvosService);
    if (!seeNewAgentRunning(context, result) && result != ERROR_SUCCESS &&
        result != ERROR_SERVICE_ALREADY_RUNNING) {
        logMessage(gLogger, LOG_ERROR, L"TarvosAgent can't be started with errcode: %d\n", result);
        context.startError = result;
    }
    return result;
}

// The end of a migration: the record goes, or stays for the run after a restart.
void settle(RunContext& context, MigrationProgress& progress) {
    if (context.waitingForRestart.empty())
        context.recordError = progress.finish();
    else
        progress.awaitRestart(context.waitingForRestart);
}

// The run after a restart: only the registrations it waited for and the start are left.
DWORD finishAfterRestart(RunContext& context, MigrationProgress& progress) {
    registerServices(context);
    DWORD exitCode = startNewAgent(context);
    settle(context, progress);
    return exitCode;
}

}  // namespace

DWORD MigrationPath(RunContext& context) {
    MigrationProgress progress(win::keyPresent(HKEY_LOCAL_MACHINE, kRampartServiceKey));
    context.rampartPresent = progress.rampartPresent();
    if (progress.awaitingRestart())
        return finishAfterRestart(context, progress);

    if (progress.begin(MigrationStep::Drivers)) {
        networkDriverStep(context);
        filterDriverStep(context);
    }
    if (progress.begin(MigrationStep::OldServices))
        removeOldServices(context, progress);
    if (progress.begin(MigrationStep::Registration))
        registerServices(context);
    if (progress.begin(MigrationStep::LocalUi)) {
        localUiStep(context, programFolder(), progress.interruptedUiAction(),
                    [&progress](UiAction action) { progress.recordUiAction(action); });
    }

    progress.begin(MigrationStep::Start);
    DWORD exitCode = startNewAgent(context);

    progress.begin(MigrationStep::Cleanup);
    if (fileExists(context.policyFile))
        deleteFile(context.policyFile);
    if (fileExists(context.decryptedPolicyFile))
        deleteFile(context.decryptedPolicyFile);

    if (context.rampartPresent) {
        progress.begin(MigrationStep::Rampart);
        if (context.startStop.startRampart() != 0)
            logMessage(gLogger, LOG_ERROR, L"Rogue service failed to start.\n");
    }
    settle(context, progress);
    return exitCode;
}

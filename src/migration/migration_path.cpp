// The migration sequence: the old agent's services out, the new agent's in, the local user
// interface as the policy says, the new agent started; its steps are the list of
// migration_steps.cpp.
//
// Each step is recorded in the tool's registry key as it begins and as it ends, so that a run
// that was cut off (killed by a deployment system, or the host lost power) is finished by the
// next one: that run looks at the host and skips only the steps whose work it finds done. A
// service that stays marked for deletion (it was running) can be registered again only after
// the host restarts: the run then keeps the record, ends with 3010, and the first run after the
// restart registers what is left and finishes the migration. A restart that did not free them
// (seen by a volatile marker that the restart drops) ends with 1072 instead, then and on every
// later run until the host lets the migration finish: never a 3010 again.
#include "logging/logger.h"
#include "migration/host_facts.h"
#include "migration/migration_steps.h"
#include "migration/paths.h"
#include "migration/record_trust.h"
#include "migration/run_record.h"
#include "migration/version.h"
#include "personality/personality_win.h"
#include "win/registry.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

class MigrationProgress {
  public:
    // Takes up the record of an interrupted migration, or begins a new one.
    MigrationProgress(const HostFacts& host, bool rampartRegistered) : record_(host.record) {
        resumed_ = host.recordFound;
        if (!resumed_) {
            record_ = MigrationRecord();
            record_.rampartPresent = rampartRegistered;
            record_.begun = utcNow();
            record_.version = kRelocatorVersion;
            record_.runs = 1;
            clearLastRunResult();
            return;
        }
        // Registered now although the interrupted run found it absent: someone added it since.
        record_.rampartPresent = record_.rampartPresent || rampartRegistered;
        record_.runs += 1;
        trusted_ = recordTrusted(record_);
        // The marker goes with the host's restart: gone, the restart the 3010 asked for came.
        restartCame_ = record_.restartFailed || (record_.restartWait && !restartMarkerPresent());
        if (record_.restartWait) {
            logMessage(gLogger, LOG_INFO,
                       L"Finishing the migration begun %s by Relocator %s, which waited for a "
                       L"restart\n",
                       record_.begun.c_str(), record_.version.c_str());
        } else {
            logMessage(gLogger, LOG_INFO,
                       L"Resuming the migration begun %s by Relocator %s, cut off in step %s\n",
                       record_.begun.c_str(), record_.version.c_str(),
                       record_.step == MigrationStep::None ? L"unknown" : stepName(record_.step));
        }
        if (!trusted_) {
            logMessage(gLogger, LOG_WARN,
                       L"The migration record was written by Relocator %s on %s (another version, "
                       L"or more than %u days ago): the migration is done again from the start\n",
                       record_.version.c_str(), record_.begun.c_str(),
                       static_cast<unsigned>(kRecordTrustDays));
        }
        save();
    }

    bool resumed() const { return resumed_; }
    bool trusted() const { return trusted_; }
    bool rampartPresent() const { return record_.rampartPresent; }
    // The record as the earlier run left it: what the steps' tests read.
    const MigrationRecord& earlier() const { return earlier_; }

    void begin(MigrationStep step) {
        record_.step = step;
        save();
    }

    void finished(MigrationStep step, bool complete, const std::wstring& agentFiles) {
        if (complete)
            record_.setDone(step);
        if (step == MigrationStep::Drivers)
            record_.agentFiles = agentFiles;
        save();
    }

    void recordUiAction(UiAction action) {
        record_.uiAction = action;
        save();
    }

    // The last step is done: no later run has anything to finish. Returns why the record
    // stays, 0 when it is gone.
    DWORD finish() {
        removeRestartMarker();
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
        record_.restartWait = true;
        save();
        // Without it the next run would take any retry for the run after the restart.
        const DWORD e = writeRestartMarker();
        if (e != ERROR_SUCCESS) {
            logMessage(gLogger, LOG_WARN, L"Can't write the restart marker %s. Errcode :%d \n",
                       kRestartMarkerKey, e);
        }
        logMessage(gLogger, LOG_WARN,
                   L"Restart needed: %s stays marked for deletion until the host restarts. The "
                   L"first run after the restart registers it and finishes the migration\n",
                   services.c_str());
    }

    // The restart asked for came (now or for an earlier run) and the services are still
    // marked for deletion: asking for another would restart the host for ever. The record
    // stays, so that a run that finds them freed finishes the migration.
    void restartDidNotFree(const std::wstring& services) {
        record_.restartWait = true;
        record_.restartFailed = true;
        save();
        logMessage(gLogger, LOG_ERROR,
                   L"The restart did not free %s: it is still marked for deletion (1072), and no "
                   L"restart is asked for again. Look for what holds it or registers it again (a "
                   L"watchdog of the old agent, protection of its registry key, a shut-down with "
                   L"Fast Startup instead of a restart); a run after it is gone finishes the "
                   L"migration\n",
                   services.c_str());
    }

    // The host has restarted since a run of this migration ended with 3010.
    bool restartCame() const { return restartCame_; }

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
    const MigrationRecord earlier_ = record_;
    bool resumed_ = false;
    bool trusted_ = false;
    bool restartCame_ = false;
    bool saveFailed_ = false;
};

// The end of a migration: the record goes, or stays for the run after a restart.
void settle(RunContext& context, MigrationProgress& progress) {
    if (context.waitingForRestart.empty()) {
        context.recordError = progress.finish();
    } else if (progress.restartCame()) {
        context.restartDidNotFree = true;
        progress.restartDidNotFree(context.waitingForRestart);
    } else {
        progress.awaitRestart(context.waitingForRestart);
    }
}

}  // namespace

DWORD MigrationPath(RunContext& context) {
    const HostFacts host = readHostFacts(context);
    MigrationProgress progress(host, host.rampartKey);
    context.rampartPresent = progress.rampartPresent();

    const StepEnv env{
        context,          host, progress.earlier(), progress.resumed(), progress.trusted(),
        *GetPersonality()};
    StepHooks hooks;
    hooks.uiDecided = [&progress](UiAction action) { progress.recordUiAction(action); };

    const std::vector<StepRow>& steps = migrationSteps();
    const std::vector<StepDecision> decisions = decideSteps(steps, env);
    for (size_t i = 0; i < steps.size(); ++i) {
        const StepRow& step = steps[i];
        if (decisions[i] == StepDecision::NotApplicable)
            continue;
        if (decisions[i] == StepDecision::Skip) {
            logMessage(gLogger, LOG_INFO, L"Step %s was done by the interrupted run\n",
                       stepName(step.id));
            continue;
        }
        progress.begin(step.id);
        const bool complete = step.run(context, env, hooks);
        progress.finished(step.id, complete, fileIdentity(context.tarvosExecutable));
    }
    settle(context, progress);
    return context.exitCode;
}

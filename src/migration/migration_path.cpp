// The migration sequence: the old agent's services out, the new agent's in, the local user
// interface as the policy says, the new agent started; its steps are the list of
// migration_steps.cpp.
//
// Each step is recorded in the tool's registry key as it begins and as it ends, so that a run
// that was cut off (killed by a deployment system, or the host lost power) is finished by the
// next one: that run looks at the host and skips only the steps whose work it finds done. A
// service that stays marked for deletion (it was running) can be registered again only after
// the host restarts: the run then keeps the record, ends with 3010, and the first run after the
// restart registers what is left and finishes the migration.
#include "logging/logger.h"
#include "migration/host_facts.h"
#include "migration/migration_steps.h"
#include "migration/paths.h"
#include "migration/run_record.h"
#include "migration/version.h"
#include "personality/personality_win.h"
#include "win/registry.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

// How long a resumed run waits for an installer that a killed run left running before it
// ends it: a deployment system usually killed that run because the installer hung.
constexpr DWORD kLeftChildWaitMs = 2 * 60 * 1000;

unsigned long long fileTimeNumber(const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

std::wstring fileNameOf(const std::wstring& commandLine) {
    std::wstring program = commandLine;
    if (!program.empty() && program[0] == L'"')
        program = program.substr(1, program.find(L'"', 1) - 1);
    const size_t slash = program.find_last_of(L"\\/");
    return slash == std::wstring::npos ? program : program.substr(slash + 1);
}

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
        endLeftChildren();
        record_.restartWait = false;
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
        if (step == MigrationStep::Drivers) {
            record_.agentFiles = agentFiles;
            record_.children.clear();
        }
        save();
    }

    void recordUiAction(UiAction action) {
        record_.uiAction = action;
        save();
    }

    // An installer started: a later run finds it if this one is killed while it runs.
    void recordChild(HANDLE process, const std::wstring& commandLine) {
        FILETIME created = {};
        FILETIME exited = {};
        FILETIME kernel = {};
        FILETIME user = {};
        if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
            return;
        RecordedChild child;
        child.processId = GetProcessId(process);
        child.created = fileTimeNumber(created);
        child.program = fileNameOf(commandLine);
        record_.children.push_back(child);
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
        record_.restartWait = true;
        save();
        logMessage(gLogger, LOG_WARN,
                   L"Restart needed: %s stays marked for deletion until the host restarts. The "
                   L"first run after the restart registers it and finishes the migration\n",
                   services.c_str());
    }

  private:
    // An installer that the interrupted run left running is given time to end, then ended:
    // never two installers on one driver.
    void endLeftChildren() {
        for (const RecordedChild& child : record_.children) {
            if (!childRunning(child))
                continue;
            const std::wstring& program = child.program;
            const DWORD processId = child.processId;
            win::ScopedHandle process(
                OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId));
            if (!process)
                continue;
            logMessage(gLogger, LOG_INFO,
                       L"Waiting up to 2 minutes for %s (process %u) left running by the "
                       L"interrupted run\n",
                       program.c_str(), processId);
            if (WaitForSingleObject(process.get(), kLeftChildWaitMs) == WAIT_OBJECT_0)
                continue;
            if (TerminateProcess(process.get(), ERROR_PROCESS_ABORTED)) {
                WaitForSingleObject(process.get(), 10000);
                logMessage(gLogger, LOG_WARN,
                           L"Ended %s (process %u), left running by the interrupted run\n",
                           program.c_str(), processId);
            } else {
                logMessage(gLogger, LOG_ERROR,
                           L"Can't end %s (process %u), left running by the interrupted run. "
                           L"Errcode :%d \n",
                           program.c_str(), processId, GetLastError());
            }
        }
        record_.children.clear();
    }

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
    bool saveFailed_ = false;
};

// The end of a migration: the record goes, or stays for the run after a restart.
void settle(RunContext& context, MigrationProgress& progress) {
    if (context.waitingForRestart.empty())
        context.recordError = progress.finish();
    else
        progress.awaitRestart(context.waitingForRestart);
}

}  // namespace

DWORD MigrationPath(RunContext& context) {
    const HostFacts host = readHostFacts(context);
    MigrationProgress progress(host, host.rampartKey);
    context.rampartPresent = progress.rampartPresent();

    const StepEnv env{context,           host, progress.earlier(), progress.resumed(),
                      progress.trusted(), *GetPersonality()};
    StepHooks hooks;
    hooks.uiDecided = [&progress](UiAction action) { progress.recordUiAction(action); };
    hooks.childStarted = [&progress](HANDLE process, const std::wstring& commandLine) {
        progress.recordChild(process, commandLine);
    };

    const std::vector<StepDecision> decisions = decideSteps(env);
    const std::vector<MigrationStepDef>& steps = migrationSteps();
    for (size_t i = 0; i < steps.size(); ++i) {
        const MigrationStepDef& step = steps[i];
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

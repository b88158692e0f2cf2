#include "migration/plan.h"

#include "migration/fallback_steps.h"
#include "migration/host_facts.h"
#include "migration/migration_steps.h"
#include "migration/paths.h"
#include "migration/record_trust.h"
#include "migration/recorded_children.h"
#include "migration/restart_steps.h"
#include "win/file_exists.h"
#include "win/registry.h"
#include "win/strings.h"

namespace {

const std::vector<StepRow>& stepsOf(RunPath path) {
    switch (path) {
        case RunPath::Migration:
            return migrationSteps();
        case RunPath::Restart:
            return restartSteps();
        case RunPath::Fallback:
            break;
    }
    return fallbackSteps();
}

class Planner {
  public:
    Planner(const RunContext& context, const Personality& personality, RunPlan& plan)
        : c_(context), personality_(personality), plan_(plan), out_(plan) {}

    void plan();

  private:
    void recordProblems(const HostFacts& host);
    void commonProblems(const HostFacts& host);
    void describePath(const StepEnv& env);

    RunContext c_;  // a copy: the plan decides Rampart's presence as the run does
    const Personality& personality_;
    RunPlan& plan_;
    PlanBuilder out_;
};

// What the record means on the path the run takes.
void Planner::recordProblems(const HostFacts& host) {
    if (!host.recordDistrust.empty()) {
        out_.problem("record-untrusted",
                     std::wstring(L"The migration record HKLM\\") + kMigrationKey +
                         L" can be changed by others than SYSTEM and administrators: " +
                         host.recordDistrust + L".",
                     L"The run ignores it (no step is skipped and no process it lists is ended), "
                     L"removes it and says so in the log (WARN).",
                     L"Find out who wrote it; the tool keeps its records under "
                     L"HKLM\\SOFTWARE\\QSX\\Relocator for SYSTEM and administrators only.");
    }
    if (!host.recordFound)
        return;
    const MigrationRecord& r = host.record;
    const std::wstring begun = L"A migration begun " + r.begun + L" by Relocator " + r.version;
    if (plan_.path != RunPath::Migration) {
        out_.problem("interrupted-run",
                     begun + L" is not finished (last step begun: " + stepName(r.step) + L").",
                     L"This run takes the " + std::wstring(pathName(plan_.path)) +
                         L" path and leaves the record (the log says so); the first run without "
                         L"arguments that finds the new agent's files finishes the migration, "
                         L"with the driver step again if the files have changed.",
                     L"Copy the Tarvos files into the installation folder and run the tool "
                     L"without arguments; to give the migration up instead, delete "
                     L"HKLM\\SOFTWARE\\QSX\\Relocator\\Migration (32-bit view).");
    } else if (r.restartFailed || (r.restartWait && !restartMarkerPresent())) {
        out_.problem("restart-did-not-free",
                     begun + L" waited for a restart, and the host has restarted since.",
                     L"If the old service is still marked for deletion, the run ends with 1072 "
                     L"(no 3010: a restart did not free it); once it is gone, the run finishes the "
                     L"migration.",
                     L"Find what holds Glacis or registers it again (a watchdog of the old agent, "
                     L"protection of its registry key, a Fast Startup shut-down instead of a "
                     L"restart), then run the tool.");
    } else if (r.restartWait) {
        out_.problem("restart-pending",
                     begun +
                         L" waits for a restart: a service it registers again was marked "
                         L"for deletion.",
                     L"Before the restart the run ends with 3010 again; the first run after it "
                     L"registers the services and finishes the migration.",
                     L"Restart the host, then run the tool (a deployment system that got 3010 "
                     L"does both).");
    } else {
        out_.problem("interrupted-run", begun + L" was cut off in step " + stepName(r.step) + L".",
                     recordTrusted(r)
                         ? L"The run resumes it: it skips the steps whose work it finds done on "
                           L"the host and does the others again."
                         : L"The record is of another version or too old to be trusted: the run "
                           L"does the whole migration again.",
                     L"Nothing to do but run the tool; to give the migration up instead, delete "
                     L"HKLM\\SOFTWARE\\QSX\\Relocator\\Migration (32-bit view).");
    }
}

void Planner::commonProblems(const HostFacts& host) {
    if (plan_.runningNow == GuardProbe::Held) {
        out_.problem("run-in-progress", L"A run of Relocator.exe is working on this host now.",
                     L"A run started meanwhile returns 1618 and changes nothing.",
                     L"Wait until it has ended, then check again.");
    }
    recordProblems(host);
    std::wstring program;
    DWORD processId = 0;
    if (leftChildRunning(program, processId)) {
        out_.problem("installer-left-running",
                     program + L" (process " + std::to_wstring(processId) +
                         L"), started by an interrupted run, still runs.",
                     L"The next run waits up to 2 minutes for it to end, then ends it before it "
                     L"starts any program, so that two of it never run at once.",
                     L"Find out why it hangs (an installer's log is in the installation folder).");
    }
    for (const std::wstring* path : {&c_.daemonExecutable, &c_.rampartExecutable, &c_.uiExecutable,
                                     &c_.tarvosExecutable, &c_.policyFile}) {
        if (!win::fitsPath(*path)) {
            out_.problem("path-too-long", *path + L" is longer than 260 characters.",
                         L"The run refuses to use it (206) rather than act on another file.",
                         L"Use a shorter installation folder.");
        }
    }
}

// The path's rows, each as the run decides it: skipped ones said, the others described.
void Planner::describePath(const StepEnv& env) {
    const std::vector<StepRow>& rows = stepsOf(plan_.path);
    const std::vector<StepDecision> decisions = decideSteps(rows, env);
    for (size_t i = 0; i < rows.size(); ++i) {
        switch (decisions[i]) {
            case StepDecision::NotApplicable:
                break;
            case StepDecision::Skip:
                plan_.skipped.push_back(stepName(rows[i].id));
                out_.step(std::wstring(rows[i].title) + L": done by the interrupted run, skipped");
                break;
            case StepDecision::Run:
                rows[i].describe(env, out_);
                break;
        }
    }
}

void Planner::plan() {
    const HostFacts host = readHostFacts(c_);
    plan_.recordFound = host.recordFound;
    plan_.interrupted = host.record;
    plan_.lastRunKnown = readLastRun(plan_.lastRun) == ERROR_SUCCESS;
    std::wstring guardPath;
    plan_.runningNow = probeRunGuard(guardPath);
    const bool tarvosKey = win::keyPresent(HKEY_LOCAL_MACHINE, kTarvosServiceKey);
    plan_.path = choosePath(host.recordFound, tarvosKey, fileExists(c_.tarvosExecutable), 1);
    plan_.resumes = host.recordFound && plan_.path == RunPath::Migration;
    plan_.leftOverPolicyText = host.policyText;
    if (host.policyText) {
        out_.step(L"Delete " + c_.decryptedPolicyFile +
                  L", the deciphered policy an interrupted run left");
    }
    c_.rampartPresent = host.rampartKey || (plan_.resumes && host.record.rampartPresent);
    commonProblems(host);

    const StepEnv env{c_,          host, host.record, plan_.resumes, recordTrusted(host.record),
                      personality_};
    describePath(env);
}

}  // namespace

RunPlan planRun(const RunContext& context, const Personality& personality) {
    RunPlan plan;
    Planner(context, personality, plan).plan();
    return plan;
}

#include "migration/plan.h"

#include "drivers/filter_driver.h"
#include "drivers/network_driver.h"
#include "migration/paths.h"
#include "migration/server_core.h"
#include "migration/steps.h"
#include "policy_ui/policy_reader.h"
#include "win/file_exists.h"
#include "win/registry.h"
#include "win/strings.h"

namespace {

class Planner {
  public:
    Planner(const RunContext& context, const Personality& personality, RunPlan& plan)
        : c_(context), personality_(personality), plan_(plan) {}

    void plan();

  private:
    void problem(const char* id,
                 const std::wstring& text,
                 const std::wstring& consequence,
                 const std::wstring& action) {
        plan_.problems.push_back({id, text, consequence, action});
    }
    void step(const std::wstring& text) { plan_.steps.push_back(text); }
    // A step the interrupted run finished is skipped, as the run skips it.
    bool skipped(MigrationStep s, const wchar_t* what) {
        if (plan_.resumes && s < plan_.interrupted.step && s <= MigrationStep::LocalUi) {
            step(std::wstring(what) + L": done by the interrupted run, skipped");
            return true;
        }
        return false;
    }
    bool redoing(MigrationStep s) const {
        return plan_.resumes &&
               (plan_.interrupted.step == s || plan_.interrupted.step == MigrationStep::None);
    }
    void run(const std::wstring& commandLine, const wchar_t* installers);
    void networkDrivers();
    void filterDriver();
    void oldServices();
    void registration();
    void localUi();
    void startNewAgent();
    void rampartProgram();
    void commonProblems();
    // Running, or on its way to or from running: its deletion would not be immediate.
    bool serviceRuns(const wchar_t* name) const {
        const DWORD state = c_.startStop.serviceState(name);
        return state != 0 && state != SERVICE_STOPPED;
    }

    const RunContext& c_;
    const Personality& personality_;
    RunPlan& plan_;
    bool rampartPresent_ = false;
};

bool serviceRegistered(const wchar_t* name) {
    return win::keyPresent(HKEY_LOCAL_MACHINE,
                           (std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + name).c_str());
}

void Planner::run(const std::wstring& commandLine, const wchar_t* installers) {
    plan_.programs.push_back(commandLine);
    step(L"Run " + commandLine);
    const std::wstring program = programOf(commandLine);
    if (!program.empty() && !fileExists(program)) {
        problem("installer-missing", program + L" is missing.",
                L"That driver is not reinstalled; the run logs code 2 or 3 for it and goes on.",
                std::wstring(L"Copy the agent's ") + installers +
                    L" folder for this host's bitness into the installation folder.");
    }
}

void Planner::networkDrivers() {
    const std::vector<std::wstring> commands = networkDriverCommands(c_.installDir, personality_);
    if (commands.empty())
        step(L"Network drivers: not touched on Windows Server 2008");
    for (const std::wstring& command : commands)
        run(command, L"NetInstall");
    if (!commands.empty() && !fileExists(c_.installDir + L"\\drivers\\qsxnet")) {
        problem("driver-folder-missing", c_.installDir + L"\\drivers\\qsxnet is missing.",
                L"The network drivers cannot be installed from it.",
                L"Copy the agent's drivers folder into the installation folder.");
    }
}

void Planner::filterDriver() {
    const FilterDriverPlan filter = filterDriverPlan(c_.installDir, personality_);
    if (!filter.uninstall.empty())
        run(filter.uninstall, L"IfsInstall");
    run(filter.install, L"IfsInstall");
    if (!fileExists(c_.installDir + L"\\drivers\\qsxfltr")) {
        problem("driver-folder-missing", c_.installDir + L"\\drivers\\qsxfltr is missing.",
                L"The filter driver cannot be installed from it.",
                L"Copy the agent's drivers folder into the installation folder.");
    }
    step(L"Copy " + filter.librarySource + L" to " + filter.libraryDestination);
    if (filter.librarySource.empty() || !fileExists(filter.librarySource)) {
        problem("filter-library-missing",
                L"The filter library's source " + filter.librarySource + L" is missing.",
                L"QsxFFilter.dll is not copied into the product folder.",
                L"Check the driver package of the agent files.");
    } else if (!win::fitsPath(filter.libraryDestination)) {
        problem("path-too-long", filter.libraryDestination + L" is longer than 260 characters.",
                L"QsxFFilter.dll is not copied.", L"Use a shorter product folder.");
    }
}

void Planner::oldServices() {
    if (!serviceRegistered(L"Glacis")) {
        step(L"Service Glacis is not registered: nothing to delete (the run logs 1060)");
    } else {
        step(L"Delete service Glacis");
        if (serviceRuns(L"Glacis")) {
            problem("old-agent-running", L"The old agent's service Glacis is running.",
                    L"Its deletion waits a minute and leaves it marked for deletion until a "
                    L"restart, so it cannot be registered again (the run logs 1072): the run "
                    L"ends with 3010 and the first run after the restart finishes the migration.",
                    L"Stop Glacis before the run, or let the deployment system restart the host "
                    L"on 3010 and run the tool again.");
        }
    }
    if (serviceRegistered(L"HotMend"))
        step(L"Stop and delete service HotMend");
    step(L"Delete " + c_.hotMendExecutable);
    if (serviceRegistered(L"Rampart"))
        step(L"Stop and delete service Rampart (registered again below)");
    else if (rampartPresent_)
        step(L"Service Rampart: removed by the interrupted run (registered again below)");
}

void Planner::registration() {
    step(L"Register service Glacis for \"" + c_.daemonExecutable + L"\" (demand start)");
    if (rampartPresent_)
        step(L"Register service Rampart for \"" + c_.rampartExecutable + L"\" (demand start)");
    step(L"Register service KLOTarvos for \"" + c_.tarvosExecutable + L"\" (automatic start)");
}

void Planner::localUi() {
    const PolicyPreview policy = previewPolicy(c_.installDir);
    if (policy == PolicyPreview::Missing || policy == PolicyPreview::CannotDecipher ||
        policy == PolicyPreview::NoMarker) {
        plan_.localUi = L"left as it is (the policy cannot be used)";
        step(L"Local user interface: " + plan_.localUi);
        const wchar_t* text = policy == PolicyPreview::Missing ? L" is missing."
                              : policy == PolicyPreview::NoMarker
                                  ? L" holds no IncludeLocalGUI='true' or 'false' marker."
                                  : L" cannot be read or deciphered.";
        problem(policy == PolicyPreview::Missing    ? "policy-missing"
                : policy == PolicyPreview::NoMarker ? "policy-no-marker"
                                                    : "policy-unreadable",
                c_.policyFile + text,
                L"The user interface is left as it is (installed or not); the run logs "
                L"\"Something went wrong with reading policy file\".",
                L"Deploy a valid policy.xml with the agent files.");
        return;
    }
    const bool wanted = policy == PolicyPreview::IncludeUi && !runsOnServerCore();
    const UiAction interrupted =
        redoing(MigrationStep::LocalUi) ? plan_.interrupted.uiAction : UiAction::None;
    std::wstring folder;
    win::moduleFolder(folder);
    const std::wstring source = folder + L"\\glacis.exe";
    switch (decideUiStep(wanted, fileExists(c_.uiExecutable), interrupted)) {
        case UiStep::Install:
        case UiStep::InstallAgain:
            plan_.localUi = L"install (the policy asks for it)";
            step(L"Copy " + source + L" to " + c_.uiExecutable + L" and make its three shortcuts");
            if (!fileExists(source)) {
                problem("ui-program-missing", source + L" is missing beside the tool.",
                        L"The user interface is not installed (the run logs the copy failure, 2).",
                        L"Put glacis.exe beside Relocator.exe in the package.");
            }
            return;
        case UiStep::Keep:
            plan_.localUi = L"keep (the policy asks for it and it is installed)";
            break;
        case UiStep::Remove:
            plan_.localUi = L"remove (the policy asks against it, or Server Core)";
            step(L"Delete " + c_.uiExecutable + L" and its three shortcuts");
            return;
        case UiStep::RemoveShortcuts:
            plan_.localUi = L"delete the shortcuts an interrupted removal left";
            break;
        case UiStep::Nothing:
            plan_.localUi = L"none (not wanted, not installed)";
            break;
    }
    step(L"Local user interface: " + plan_.localUi);
}

void Planner::startNewAgent() {
    if (c_.startStop.serviceState(L"KLOTarvos") == SERVICE_START_PENDING) {
        problem("new-agent-start-pending", L"The new agent's service KLOTarvos is start-pending.",
                L"The run waits up to 30 s for it; on the restart path it then ends "
                L"thService.exe and starts it once more. A run that does not see it running "
                L"ends with a failure code (1053).",
                L"Look at the agent's own log on the host; end a hung thService.exe.");
    }
    if (serviceRuns(L"KLOTarvos")) {
        step(
            L"Start service KLOTarvos: it runs already, nothing is terminated (exit code "
            L"1056 where the start's code is returned)");
    } else {
        step(L"Start service KLOTarvos and wait up to 30 s to see it running");
    }
}

void Planner::rampartProgram() {
    const std::wstring& program = c_.startStop.rampartExecutable();
    std::wstring quoted;
    quotePath(program, quoted);
    plan_.programs.push_back(quoted + L" -s");
    step(L"Run " + quoted + L" -s and wait for it");
    if (!fileExists(program)) {
        problem("rampart-program-missing",
                program +
                    L" is missing (Rampart is registered; it is run from the working "
                    L"folder).",
                L"The application-protection program is not run; the run logs \"Rogue service "
                L"failed to start.\" on the migration path.",
                L"Put Rampart.exe in the folder the deployment runs the tool from.");
    }
}

void Planner::commonProblems() {
    if (plan_.runningNow == GuardProbe::Held) {
        problem("run-in-progress", L"A run of Relocator.exe is working on this host now.",
                L"A run started meanwhile returns 1618 and changes nothing.",
                L"Wait until it has ended, then check again.");
    }
    if (plan_.resumes && plan_.interrupted.step == MigrationStep::AfterRestart) {
        problem("restart-pending",
                L"The migration begun " + plan_.interrupted.begun + L" by Relocator " +
                    plan_.interrupted.version +
                    L" waits for a restart: a service it registers again was marked for "
                    L"deletion.",
                L"Before the restart the run ends with 3010 again; the first run after it "
                L"registers the services and finishes the migration.",
                L"Restart the host, then run the tool (a deployment system that got 3010 does "
                L"both).");
    } else if (plan_.resumes) {
        problem("interrupted-run",
                L"A migration begun " + plan_.interrupted.begun + L" by Relocator " +
                    plan_.interrupted.version + L" was cut off in step " +
                    stepName(plan_.interrupted.step) + L".",
                L"The run resumes it: it skips the steps that were done and does the one that "
                L"was cut off again.",
                L"Nothing to do but run the tool; to give the migration up instead, delete "
                L"HKLM\\SOFTWARE\\QSX\\Relocator\\Migration (32-bit view).");
    }
    for (const std::wstring* path : {&c_.daemonExecutable, &c_.rampartExecutable, &c_.uiExecutable,
                                     &c_.tarvosExecutable, &c_.policyFile}) {
        if (!win::fitsPath(*path)) {
            problem("path-too-long", *path + L" is longer than 260 characters.",
                    L"The run refuses to use it (206) rather than act on another file.",
                    L"Use a shorter installation folder.");
        }
    }
}

void Planner::plan() {
    plan_.resumes = readMigrationRecord(plan_.interrupted) == ERROR_SUCCESS;
    plan_.lastRunKnown = readLastRun(plan_.lastRun) == ERROR_SUCCESS;
    std::wstring guardPath;
    plan_.runningNow = probeRunGuard(guardPath);
    const bool tarvosKey = win::keyPresent(HKEY_LOCAL_MACHINE, kTarvosServiceKey);
    const bool tarvosProgram = fileExists(c_.tarvosExecutable);
    const bool rampartKey = win::keyPresent(HKEY_LOCAL_MACHINE, kRampartServiceKey);
    plan_.path = choosePath(plan_.resumes, tarvosKey, tarvosProgram, 1);
    plan_.resumes = plan_.resumes && plan_.path == RunPath::Migration;
    rampartPresent_ = rampartKey || (plan_.resumes && plan_.interrupted.rampartPresent);
    commonProblems();

    switch (plan_.path) {
        case RunPath::Migration:
            if (plan_.interrupted.step == MigrationStep::AfterRestart && plan_.resumes) {
                // The run after the restart: what waited for it, and the start.
                registration();
                startNewAgent();
                break;
            }
            if (!skipped(MigrationStep::Drivers, L"Drivers")) {
                networkDrivers();
                filterDriver();
            }
            if (!skipped(MigrationStep::OldServices, L"Old services"))
                oldServices();
            if (!skipped(MigrationStep::Registration, L"Registration"))
                registration();
            if (!skipped(MigrationStep::LocalUi, L"Local user interface"))
                localUi();
            startNewAgent();
            step(L"Delete " + c_.policyFile + L" and " + c_.decryptedPolicyFile);
            if (rampartPresent_)
                rampartProgram();
            break;
        case RunPath::Restart:
            networkDrivers();
            startNewAgent();
            step(
                L"If the start fails, or KLOTarvos is not running 30 s after it, while "
                L"thService.exe runs: terminate it, start again; if it still does not run: "
                L"start Glacis");
            if (rampartKey)
                rampartProgram();
            else
                step(L"Remove service Rampart (not registered: the run logs 1060)");
            break;
        case RunPath::Fallback:
            plan_.fallbackReason = c_.tarvosExecutable + L" is missing";
            problem("new-agent-missing",
                    L"The new agent's program " + c_.tarvosExecutable + L" is missing.",
                    L"The run takes the fallback path: it logs the failure banner, starts the old "
                    L"agent again and returns 2.",
                    L"Copy the Tarvos files into the installation folder " + c_.installDir +
                        L" before the run.");
            step(L"Log \"*** AGENT UPGRADE FAILED ...\" and start service Glacis");
            if (rampartKey)
                rampartProgram();
            break;
    }
}

}  // namespace

std::wstring programOf(const std::wstring& commandLine) {
    if (commandLine.empty() || commandLine[0] != L'"')
        return std::wstring();
    const size_t close = commandLine.find(L'"', 1);
    return close == std::wstring::npos ? std::wstring() : commandLine.substr(1, close - 1);
}

RunPlan planRun(const RunContext& context, const Personality& personality) {
    RunPlan plan;
    Planner(context, personality, plan).plan();
    return plan;
}

#include "migration/migration_steps.h"

#include <cstdio>

#include "drivers/command_runner.h"
#include "drivers/filter_driver.h"
#include "drivers/network_driver.h"
#include "logging/logger.h"
#include "migration/paths.h"
#include "migration/plan.h"
#include "migration/server_core.h"
#include "migration/steps.h"
#include "migration/version.h"
#include "policy_ui/local_ui.h"
#include "policy_ui/policy_reader.h"
#include "win/file_exists.h"
#include "win/registry.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

constexpr DWORD kOwnProcess = SERVICE_WIN32_OWN_PROCESS;
constexpr DWORD kTarvosType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;

// The command path the migration registers a service with (empty for a path too long to be
// registered, which then matches no registration).
std::wstring quoted(const std::wstring& path) {
    std::wstring command;
    quotePath(path, command);
    return command;
}

// Deletes a file of the run context; a path too long to be the real one is not touched.
DWORD deleteFile(const std::wstring& path) {
    if (!win::fitsPath(path))
        return win::kPathTooLong;
    return DeleteFileW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
}

bool rampartApplies(const StepEnv& env) {
    return env.context.rampartPresent;
}

bool always(const StepEnv&) {
    return true;
}

// ---- Drivers: the network drivers, then the filter driver, before any service changes.

// The host cannot show it; the record can, for the same files of the new agent.
bool driversDone(const StepEnv& env) {
    return env.record.isDone(MigrationStep::Drivers) && !env.host.agentFiles.empty() &&
           env.record.agentFiles == env.host.agentFiles;
}

void describeFilterDriver(const StepEnv& env, PlanBuilder& plan) {
    const std::wstring& dir = env.context.installDir;
    const FilterDriverPlan filter = filterDriverPlan(dir, env.personality);
    if (!filter.uninstall.empty())
        plan.program(filter.uninstall, L"IfsInstall");
    plan.program(filter.install, L"IfsInstall");
    if (!fileExists(dir + L"\\drivers\\qsxfltr")) {
        plan.problem("driver-folder-missing", dir + L"\\drivers\\qsxfltr is missing.",
                     L"The filter driver cannot be installed from it.",
                     L"Copy the agent's drivers folder into the installation folder.");
    }
    plan.step(L"Copy " + filter.librarySource + L" to " + filter.libraryDestination);
    if (filter.librarySource.empty() || !fileExists(filter.librarySource)) {
        plan.problem("filter-library-missing",
                     L"The filter library's source " + filter.librarySource + L" is missing.",
                     L"QsxFFilter.dll is not copied into the product folder.",
                     L"Check the driver package of the agent files.");
    } else if (!win::fitsPath(filter.libraryDestination)) {
        plan.problem("path-too-long",
                     filter.libraryDestination + L" is longer than 260 characters.",
                     L"QsxFFilter.dll is not copied.", L"Use a shorter product folder.");
    }
}

void describeDrivers(const StepEnv& env, PlanBuilder& plan) {
    describeNetworkDrivers(env, plan);
    describeFilterDriver(env, plan);
}

bool runDrivers(RunContext& context, const StepEnv&, const StepHooks& hooks) {
    setChildStartedObserver(hooks.childStarted);
    networkDriverStep(context);
    filterDriverStep(context);
    setChildStartedObserver(nullptr);
    return true;
}

// ---- Old services: Glacis deleted, HotMend removed with its program, Rampart removed.

bool oldServicesDone(const StepEnv& env) {
    const HostFacts& h = env.host;
    const RunContext& c = env.context;
    // Gone, or already registered again as the registration step leaves it.
    const bool glacisGone =
        !h.glacis.registered ||
        h.glacis.registeredAs(quoted(c.daemonExecutable), SERVICE_DEMAND_START, kOwnProcess);
    const bool rampartGone =
        !h.rampart.registered ||
        h.rampart.registeredAs(quoted(c.rampartExecutable), SERVICE_DEMAND_START, kOwnProcess);
    return env.record.isDone(MigrationStep::OldServices) && !h.hotMend.registered &&
           !h.hotMendProgram && glacisGone && rampartGone;
}

void describeOldServices(const StepEnv& env, PlanBuilder& plan) {
    const HostFacts& h = env.host;
    if (!h.glacis.registered) {
        plan.step(L"Service Glacis is not registered: nothing to delete (the run logs 1060)");
    } else {
        plan.step(L"Delete service Glacis");
        if (h.glacis.state != 0 && h.glacis.state != SERVICE_STOPPED) {
            plan.problem("old-agent-running", L"The old agent's service Glacis is running.",
                         L"Its deletion waits a minute and leaves it marked for deletion until a "
                         L"restart, so it cannot be registered again (the run logs 1072): the "
                         L"run ends with 3010 and the first run after the restart finishes the "
                         L"migration.",
                         L"Stop Glacis before the run, or let the deployment system restart the "
                         L"host on 3010 and run the tool again.");
        }
    }
    if (h.hotMend.registered)
        plan.step(L"Stop and delete service HotMend");
    plan.step(L"Delete " + env.context.hotMendExecutable);
    if (h.rampart.registered)
        plan.step(L"Stop and delete service Rampart (registered again below)");
    else if (env.context.rampartPresent)
        plan.step(L"Service Rampart: removed by the interrupted run (registered again below)");
}

bool runOldServices(RunContext& context, const StepEnv& env, const StepHooks&) {
    StartStop& services = context.startStop;
    // On a resumed run, work found done already is said, not reported as a failure.
    const bool again = env.resumed;
    DWORD e = services.deleteGlacisd();
    if (e == ERROR_SERVICE_DOES_NOT_EXIST && again) {
        logMessage(gLogger, LOG_INFO, L"Glacis is already removed\n");
    } else if (e != 0) {
        logMessage(gLogger, LOG_ERROR, L"Glacisd can't be removed with errcode: %d\n", e);
    }
    e = services.removeService(context.hotMendService.c_str());
    if (e == ERROR_SERVICE_DOES_NOT_EXIST && again) {
        logMessage(gLogger, LOG_INFO, L"HotMend is already removed\n");
    } else if (e != 0) {
        logMessage(gLogger, LOG_ERROR, L"HotMend can't be removed with errcode: %d\n", e);
    }
    e = deleteFile(context.hotMendExecutable);
    if (e == ERROR_FILE_NOT_FOUND && again) {
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
    return true;
}

// ---- Registration: Glacis and Rampart again, KLOTarvos for automatic start.

bool registrationDone(const StepEnv& env) {
    const HostFacts& h = env.host;
    const RunContext& c = env.context;
    return env.record.isDone(MigrationStep::Registration) &&
           h.glacis.registeredAs(quoted(c.daemonExecutable), SERVICE_DEMAND_START, kOwnProcess) &&
           (!c.rampartPresent || h.rampart.registeredAs(quoted(c.rampartExecutable),
                                                        SERVICE_DEMAND_START, kOwnProcess)) &&
           h.tarvos.registered &&
           _wcsicmp(h.tarvos.command.c_str(), quoted(c.tarvosExecutable).c_str()) == 0 &&
           h.tarvos.startType == SERVICE_AUTO_START && h.tarvos.type == kTarvosType;
}

void describeRegistration(const StepEnv& env, PlanBuilder& plan) {
    const RunContext& c = env.context;
    plan.step(L"Register service Glacis for \"" + c.daemonExecutable + L"\" (demand start)");
    if (c.rampartPresent)
        plan.step(L"Register service Rampart for \"" + c.rampartExecutable + L"\" (demand start)");
    plan.step(L"Register service KLOTarvos for \"" + c.tarvosExecutable + L"\" (automatic start)");
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

bool runRegistration(RunContext& context, const StepEnv&, const StepHooks&) {
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
    // What waits for a restart is done by the first run after it.
    return context.waitingForRestart.empty();
}

// ---- Local user interface: installed or removed as the policy says.

// The program and its shortcuts are as the decision the record holds wants them.
bool localUiDone(const StepEnv& env) {
    const HostFacts& h = env.host;
    switch (env.record.uiAction) {
        case UiAction::Install:
        case UiAction::Keep:
            return env.record.isDone(MigrationStep::LocalUi) && h.uiProgram && h.uiShortcuts == 3;
        case UiAction::Remove:
        case UiAction::Absent:
            return env.record.isDone(MigrationStep::LocalUi) && !h.uiProgram && h.uiShortcuts == 0;
        case UiAction::None:
            break;
    }
    return false;
}

// What a run cut off in this step had set out to do: its installation or removal is finished
// even where the program's presence already says otherwise.
UiAction interruptedUiAction(const StepEnv& env) {
    return env.resumed ? env.record.uiAction : UiAction::None;
}

// When the policy cannot be read on a resumed run, the decision the interrupted run made.
bool recordedUiWish(const StepEnv& env, bool& wanted) {
    switch (interruptedUiAction(env)) {
        case UiAction::Install:
        case UiAction::Keep:
            wanted = true;
            return true;
        case UiAction::Remove:
        case UiAction::Absent:
            wanted = false;
            return true;
        case UiAction::None:
            break;
    }
    return false;
}

void describeLocalUi(const StepEnv& env, PlanBuilder& plan) {
    const RunContext& c = env.context;
    const PolicyPreview policy = previewPolicy(c.installDir);
    bool wanted = policy == PolicyPreview::IncludeUi && !runsOnServerCore();
    if (policy == PolicyPreview::Missing || policy == PolicyPreview::CannotDecipher ||
        policy == PolicyPreview::NoMarker) {
        const wchar_t* text = policy == PolicyPreview::Missing ? L" is missing."
                              : policy == PolicyPreview::NoMarker
                                  ? L" holds no IncludeLocalGUI='true' or 'false' marker."
                                  : L" cannot be read or deciphered.";
        if (!recordedUiWish(env, wanted)) {
            plan.localUi(L"left as it is (the policy cannot be used)");
            plan.step(L"Local user interface: left as it is (the policy cannot be used)");
            plan.problem(policy == PolicyPreview::Missing    ? "policy-missing"
                         : policy == PolicyPreview::NoMarker ? "policy-no-marker"
                                                             : "policy-unreadable",
                         c.policyFile + text,
                         L"The user interface is left as it is (installed or not); the run logs "
                         L"\"Something went wrong with reading policy file\".",
                         L"Deploy a valid policy.xml with the agent files.");
            return;
        }
        plan.step(
            L"The policy cannot be used now: the user interface step of the interrupted "
            L"run is finished as it decided");
    }
    std::wstring folder;
    win::moduleFolder(folder);
    const std::wstring source = folder + L"\\glacis.exe";
    std::wstring decision;
    switch (decideUiStep(wanted, env.host.uiProgram, interruptedUiAction(env))) {
        case UiStep::Install:
        case UiStep::InstallAgain:
            plan.localUi(L"install (the policy asks for it)");
            plan.step(L"Copy " + source + L" to " + c.uiExecutable +
                      L" and make its three shortcuts");
            if (!fileExists(source)) {
                plan.problem("ui-program-missing", source + L" is missing beside the tool.",
                             L"The user interface is not installed (the run logs the copy "
                             L"failure, 2).",
                             L"Put glacis.exe beside Relocator.exe in the package.");
            }
            return;
        case UiStep::Remove:
            plan.localUi(L"remove (the policy asks against it, or Server Core)");
            plan.step(L"Delete " + c.uiExecutable + L" and its three shortcuts");
            return;
        case UiStep::Keep:
            decision = L"keep (the policy asks for it and it is installed)";
            break;
        case UiStep::RemoveShortcuts:
            decision = L"delete the shortcuts an interrupted removal left";
            break;
        case UiStep::Nothing:
            decision = L"none (not wanted, not installed)";
            break;
    }
    plan.localUi(decision);
    plan.step(L"Local user interface: " + decision);
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

bool runLocalUi(RunContext& context, const StepEnv& env, const StepHooks& hooks) {
    const std::wstring folder = programFolder();
    bool includeLocalGUI = false;
    bool wanted = false;
    if (readPolicy(context.installDir, includeLocalGUI)) {
        // A Server Core installation has no desktop: the policy's request is overruled there.
        wanted = includeLocalGUI && !runsOnServerCore();
    } else if (recordedUiWish(env, wanted)) {
        logMessage(gLogger, LOG_INFO,
                   L"The policy cannot be read now: finishing the user interface step as the "
                   L"interrupted run decided\n");
    } else {
        logMessage(gLogger, LOG_ERROR, L"Something went wrong with reading policy file\n");
        return false;
    }
    localUiStep(context, folder, wanted, interruptedUiAction(env), hooks.uiDecided);
    return true;
}

// ---- Start of the new agent; its result is the exit code. Never skipped.

void describeStart(const StepEnv& env, PlanBuilder& plan) {
    const DWORD state = env.host.tarvos.state;
    if (state == SERVICE_START_PENDING) {
        plan.problem("new-agent-start-pending",
                     L"The new agent's service KLOTarvos is start-pending.",
                     L"The run waits up to 30 s for it, then ends thService.exe and starts it "
                     L"once more; if it still does not run, it starts Glacis. A run that does not "
                     L"see the new agent running ends with a failure code (1053).",
                     L"Look at the agent's own log on the host; end a hung thService.exe.");
    }
    if (state != 0 && state != SERVICE_STOPPED) {
        plan.step(
            L"Start service KLOTarvos: it runs already, nothing is terminated (exit code "
            L"1056 where the start's code is returned)");
    } else {
        plan.step(L"Start service KLOTarvos and wait up to 30 s to see it running");
    }
    plan.step(
        L"If the start fails, or KLOTarvos is not running 30 s after it, while thService.exe "
        L"runs: terminate it, start again; if it still does not run: start Glacis");
}

bool runStart(RunContext& context, const StepEnv&, const StepHooks&) {
    const DWORD result = context.startStop.startSingleService(kTarvosService);
    context.exitCode = result;
    if (seeNewAgentRunning(context, result))
        return true;
    if (result != ERROR_SUCCESS && result != ERROR_SERVICE_ALREADY_RUNNING) {
        logMessage(gLogger, LOG_ERROR, L"TarvosAgent can't be started with errcode: %d\n", result);
        context.startError = result;
    }
    // The old agent's services are gone or only registered again: without the restart path's
    // rescue the host would run no agent at all.
    rescueNewAgent(context);
    return true;
}

// ---- Cleanup: both policy files deleted. Never skipped: it only deletes what is there.

void describeCleanup(const StepEnv& env, PlanBuilder& plan) {
    plan.step(L"Delete " + env.context.policyFile + L" and " + env.context.decryptedPolicyFile);
}

bool runCleanup(RunContext& context, const StepEnv&, const StepHooks&) {
    if (fileExists(context.policyFile))
        deleteFile(context.policyFile);
    if (fileExists(context.decryptedPolicyFile))
        deleteFile(context.decryptedPolicyFile);
    return true;
}

// ---- The application-protection program, run once where Rampart was registered.

bool rampartRunDone(const StepEnv& env) {
    return env.record.isDone(MigrationStep::Rampart);
}

bool runRampartProgram(RunContext& context, const StepEnv&, const StepHooks& hooks) {
    if (context.startStop.startRampart(hooks.childStarted) != 0)
        logMessage(gLogger, LOG_ERROR, L"Rogue service failed to start.\n");
    return true;
}

const std::vector<MigrationStepDef> kSteps = {
    {MigrationStep::Drivers, L"Drivers", MigrationStep::None, driversDone, always, describeDrivers,
     runDrivers},
    {MigrationStep::OldServices, L"Old services", MigrationStep::None, oldServicesDone, always,
     describeOldServices, runOldServices},
    {MigrationStep::Registration, L"Registration", MigrationStep::OldServices, registrationDone,
     always, describeRegistration, runRegistration},
    {MigrationStep::LocalUi, L"Local user interface", MigrationStep::None, localUiDone, always,
     describeLocalUi, runLocalUi},
    {MigrationStep::Start, L"Start", MigrationStep::None, nullptr, always, describeStart, runStart},
    {MigrationStep::Cleanup, L"Cleanup", MigrationStep::None, nullptr, always, describeCleanup,
     runCleanup},
    {MigrationStep::Rampart, L"Application protection", MigrationStep::None, rampartRunDone,
     rampartApplies, describeRampartProgram, runRampartProgram},
};

}  // namespace

const std::vector<MigrationStepDef>& migrationSteps() {
    return kSteps;
}

bool recordTrusted(const MigrationRecord& record) {
    // One that waits for a restart is finished by the host's checks alone (the registration is
    // what it waits for), however long the restart took and whichever version asked for it.
    if (record.restartWait || record.restartFailed)
        return true;
    const long long age = recordAgeDays(record);
    return record.version == kRelocatorVersion && age >= 0 && age <= kRecordTrustDays;
}

std::vector<StepDecision> decideSteps(const StepEnv& env) {
    std::vector<StepDecision> decisions;
    std::vector<MigrationStep> ran;
    for (const MigrationStepDef& step : kSteps) {
        if (!step.applies(env)) {
            decisions.push_back(StepDecision::NotApplicable);
            continue;
        }
        bool followsRun = false;
        for (MigrationStep earlier : ran)
            followsRun = followsRun || earlier == step.after;
        const bool skip =
            env.resumed && env.trusted && !followsRun && step.done != nullptr && step.done(env);
        decisions.push_back(skip ? StepDecision::Skip : StepDecision::Run);
        if (!skip)
            ran.push_back(step.id);
    }
    return decisions;
}

void describeNetworkDrivers(const StepEnv& env, PlanBuilder& plan) {
    const std::wstring& dir = env.context.installDir;
    const std::vector<std::wstring> commands = networkDriverCommands(dir, env.personality);
    if (commands.empty())
        plan.step(L"Network drivers: not touched on Windows Server 2008");
    for (const std::wstring& command : commands)
        plan.program(command, L"NetInstall");
    if (!commands.empty() && !fileExists(dir + L"\\drivers\\qsxnet")) {
        plan.problem("driver-folder-missing", dir + L"\\drivers\\qsxnet is missing.",
                     L"The network drivers cannot be installed from it.",
                     L"Copy the agent's drivers folder into the installation folder.");
    }
}

void describeRampartProgram(const StepEnv& env, PlanBuilder& plan) {
    const std::wstring& program = env.context.startStop.rampartExecutable();
    std::wstring command;
    quotePath(program, command);
    plan.program(command + L" -s", nullptr);
    if (!fileExists(program)) {
        plan.problem("rampart-program-missing",
                     program +
                         L" is missing (Rampart is registered; it is run from the working "
                         L"folder).",
                     L"The application-protection program is not run; the run logs \"Rogue "
                     L"service failed to start.\" on the migration path.",
                     L"Put Rampart.exe in the folder the deployment runs the tool from.");
    }
}

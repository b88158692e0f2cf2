// The migration as its rows: drivers, old services out, registration, local user interface,
// start of the new agent, cleanup, Rampart's program. The run, the resume and the preflight
// walk this table (step_row.h says how).
#include "migration/migration_steps.h"

#include <cstdio>

#include "drivers/filter_driver.h"
#include "logging/logger.h"
#include "migration/new_agent_start.h"
#include "migration/recorded_children.h"
#include "migration/shared_steps.h"
#include "migration/steps.h"
#include "win/file_exists.h"
#include "win/registry.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

constexpr DWORD kOwnProcess = SERVICE_WIN32_OWN_PROCESS;
constexpr DWORD kTarvosType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;

// Deletes a file of the run context; a path too long to be the real one is not touched.
DWORD deleteFile(const std::wstring& path) {
    if (!win::fitsPath(path))
        return win::kPathTooLong;
    return DeleteFileW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
}

bool rampartApplies(const StepEnv& env) {
    return env.context.rampartPresent;
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

bool runDrivers(RunContext& context, const StepEnv&, const StepHooks&) {
    networkDriverStep(context);
    filterDriverStep(context);
    return true;
}

// ---- Old services: Glacis deleted, HotMend removed with its program, Rampart removed.

bool oldServicesDone(const StepEnv& env) {
    const HostFacts& h = env.host;
    const RunContext& c = env.context;
    // Gone, or already registered again as the registration step leaves it.
    const bool glacisGone =
        !h.glacis.registered ||
        h.glacis.registeredAs(quotePath(c.daemonExecutable), SERVICE_DEMAND_START, kOwnProcess);
    const bool rampartGone =
        !h.rampart.registered ||
        h.rampart.registeredAs(quotePath(c.rampartExecutable), SERVICE_DEMAND_START, kOwnProcess);
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
           h.glacis.registeredAs(quotePath(c.daemonExecutable), SERVICE_DEMAND_START,
                                 kOwnProcess) &&
           (!c.rampartPresent || h.rampart.registeredAs(quotePath(c.rampartExecutable),
                                                        SERVICE_DEMAND_START, kOwnProcess)) &&
           h.tarvos.registered &&
           _wcsicmp(h.tarvos.command.c_str(), quotePath(c.tarvosExecutable).c_str()) == 0 &&
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

// ---- Start of the new agent; its result is the exit code. Never skipped.

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

bool runRampartProgram(RunContext& context, const StepEnv&, const StepHooks&) {
    if (context.startStop.startRampart(noteChildStarted) != 0)
        logMessage(gLogger, LOG_ERROR, L"Rogue service failed to start.\n");
    return true;
}

const std::vector<StepRow> kSteps = {
    {MigrationStep::Drivers, L"Drivers", MigrationStep::None, driversDone, alwaysApplies,
     describeDrivers, runDrivers},
    {MigrationStep::OldServices, L"Old services", MigrationStep::None, oldServicesDone,
     alwaysApplies, describeOldServices, runOldServices},
    {MigrationStep::Registration, L"Registration", MigrationStep::OldServices, registrationDone,
     alwaysApplies, describeRegistration, runRegistration},
    {MigrationStep::LocalUi, L"Local user interface", MigrationStep::None, localUiDone,
     alwaysApplies, describeLocalUi, runLocalUi},
    {MigrationStep::Start, L"Start", MigrationStep::None, nullptr, alwaysApplies,
     describeNewAgentStart, runStart},
    {MigrationStep::Cleanup, L"Cleanup", MigrationStep::None, nullptr, alwaysApplies,
     describeCleanup, runCleanup},
    {MigrationStep::Rampart, L"Application protection", MigrationStep::None, rampartRunDone,
     rampartApplies, describeRampartProgram, runRampartProgram},
};

}  // namespace

const std::vector<StepRow>& migrationSteps() {
    return kSteps;
}

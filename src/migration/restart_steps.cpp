// The restart path as its rows: the network drivers, the start of the new agent with its
// rescue (and the old agent after a failed one), and Rampart's program or its removal.
#include "migration/restart_steps.h"

#include "logging/logger.h"
#include "migration/new_agent_start.h"
#include "migration/shared_steps.h"
#include "migration/steps.h"
#include "win/registry.h"

namespace {

// ---- Network drivers (the filter driver is not touched on this path).

void describeDrivers(const StepEnv& env, PlanBuilder& plan) {
    describeNetworkDrivers(env, plan);
    if (env.host.tarvos.state == SERVICE_RUNNING) {
        plan.problem("drivers-reinstalled",
                     L"The new agent runs already, and the run reinstalls its network drivers.",
                     L"The network drivers are uninstalled and installed again: the host's "
                     L"network is interrupted for a moment, and an installer failure leaves it "
                     L"without them.",
                     L"Keep the deployment from running the tool on migrated hosts: detection "
                     L"rule LastRun\\Result equals migrated.");
    }
}

bool runDrivers(RunContext& context, const StepEnv&, const StepHooks&) {
    networkDriverStep(context);
    return true;
}

// ---- Start of the new agent; with Rampart registered its first result is the exit code.

bool runStart(RunContext& context, const StepEnv&, const StepHooks&) {
    logMessage(gLogger, LOG_INFO,
               L"Tarvos Server 2.0 detected. Starting KLO Tarvos and exiting..\n");
    const DWORD result = context.startStop.startSingleService(kTarvosService);
    context.exitCode = result;
    if (result == 0)
        logMessage(gLogger, LOG_INFO, L"Successfull thService Start\n");
    if (result != ERROR_SUCCESS && result != ERROR_SERVICE_ALREADY_RUNNING)
        context.startError = result;
    // A start that failed, or was accepted but left the service start-pending (hung) or stopped,
    // is rescued alike.
    if (!seeNewAgentRunning(context, result))
        rescueNewAgent(context);
    return true;
}

// ---- Application protection: its program where Rampart is registered, else its removal.

void describeRampart(const StepEnv& env, PlanBuilder& plan) {
    if (env.host.rampartKey)
        describeRampartProgram(env, plan);
    else
        plan.step(L"Remove service Rampart (not registered: the run logs 1060)");
}

bool runRampart(RunContext& context, const StepEnv&, const StepHooks&) {
    if (win::keyPresent(HKEY_LOCAL_MACHINE, kRampartServiceKey)) {
        runDetectedRampart(context);
        return true;
    }
    logMessage(gLogger, LOG_INFO,
               L"Removing Installed Rampart as Rampart is not supposed to be installed\n");
    const DWORD e = context.startStop.removeService(context.rampartService.c_str());
    if (e != 0)
        logMessage(gLogger, LOG_ERROR, L"Rampart can't be removed with errcode: %d\n", e);
    context.exitCode = 0;
    return true;
}

const std::vector<StepRow> kSteps = {
    {MigrationStep::None, L"Network drivers", MigrationStep::None, nullptr, alwaysApplies,
     describeDrivers, runDrivers},
    {MigrationStep::None, L"Start", MigrationStep::None, nullptr, alwaysApplies,
     describeNewAgentStart, runStart},
    {MigrationStep::None, L"Application protection", MigrationStep::None, nullptr, alwaysApplies,
     describeRampart, runRampart},
};

}  // namespace

const std::vector<StepRow>& restartSteps() {
    return kSteps;
}

#include "migration/new_agent_start.h"

#include "logging/logger.h"
#include "migration/run_outcome.h"
#include "migration/process_control.h"

namespace {

// Starts "Glacis" when the new agent cannot be started; only logged. A Glacis that runs
// already (1056) is what was wanted.
void startOldAgent(RunContext& context, const wchar_t* failureLine) {
    logMessage(gLogger, LOG_INFO, L"Can't Start thService. Trying start Glacisd and Rampart\n");
    const DWORD e = context.startStop.startSingleService(context.glacisService.c_str());
    if (e != ERROR_SUCCESS && e != ERROR_SERVICE_ALREADY_RUNNING)
        logMessage(gLogger, LOG_INFO, failureLine);
}

}  // namespace

bool seeNewAgentRunning(RunContext& context, DWORD startResult) {
    StartStop& services = context.startStop;
    const bool accepted =
        startResult == ERROR_SUCCESS || startResult == ERROR_SERVICE_ALREADY_RUNNING;
    if (!accepted) {
        if (services.serviceState(kTarvosService) != SERVICE_RUNNING)
            return false;
        context.agentState = SERVICE_RUNNING;
    } else {
        context.agentState = services.waitWhileStartPending(kTarvosService);
    }
    if (context.agentState == SERVICE_RUNNING) {
        // A running agent is not a hung one: ending it would leave the host unprotected.
        if (startResult != ERROR_SUCCESS)
            logMessage(gLogger, LOG_INFO, L"KLOTarvos is already running\n");
        return true;
    }
    logMessage(gLogger, LOG_ERROR, L"KLOTarvos was not seen running within 30 s (state: %s)\n",
               agentStateName(context.agentState));
    return false;
}

void rescueNewAgent(RunContext& context) {
    StartStop& services = context.startStop;
    if (!isProcessRunning(L"thService.exe")) {
        startOldAgent(context, L"Can't Start Glacsd.\n");
        return;
    }
    // The service process runs but never came up: end it and try once more.
    logMessage(gLogger, LOG_INFO,
               L"thService.exe seems to be stuck in 1053. Terminating and restarting\n");
    terminateTarvosProcess(services.serviceProcessId(kTarvosService));
    Sleep(kRestartPauseMs);
    const DWORD second = services.startSingleService(kTarvosService);
    if (second == 0)
        logMessage(gLogger, LOG_INFO, L"SuccessFully Started thService\n");
    if (!seeNewAgentRunning(context, second))
        startOldAgent(context, L"Can't Start Glacisd.\n");
}

void describeNewAgentStart(const StepEnv& env, PlanBuilder& plan) {
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

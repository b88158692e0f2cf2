#include "migration/shared_steps.h"

#include "drivers/network_driver.h"
#include "logging/logger.h"
#include "migration/recorded_children.h"
#include "win/file_exists.h"

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
    plan.program(quotePath(program) + L" -s", nullptr);
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

void runDetectedRampart(RunContext& context) {
    logMessage(gLogger, LOG_INFO, L"Rampart DETECTED. Starting it\n");
    context.startStop.startRampart(noteChildStarted);
}

#include "migration/paths.h"

#include "logging/logger.h"
#include "win/file_exists.h"
#include "migration/process_control.h"
#include "migration/steps.h"
#include "win/strings.h"
#include "win/registry.h"

void buildRunContext(RunContext& context, const std::wstring& installDir) {
    context.hotMendService = L"HotMend";
    context.rampartService = L"Rampart";
    context.glacisService = L"Glacis";
    context.installDir = installDir;
    context.daemonExecutable = installDir + L"\\" + L"glacisd.exe";
    context.rampartExecutable = installDir + L"\\" + L"Rampart.exe";
    context.uiExecutable = installDir + L"\\" + L"glacis.exe";
    context.tarvosExecutable = installDir + L"\\" + L"thService.exe";
    context.hotMendExecutable = installDir + L"\\" + L"hotmend.exe";
    context.policyFile = installDir + L"\\" + L"policy.xml";
    context.decryptedPolicyFile = installDir + L"\\policy.txt";
}

RunPath choosePath(bool tarvosKeyPresent, bool tarvosExecutableExists, int argumentCount) {
    return choosePath(false, tarvosKeyPresent, tarvosExecutableExists, argumentCount);
}

RunPath choosePath(bool interruptedMigration,
                   bool tarvosKeyPresent,
                   bool tarvosExecutableExists,
                   int argumentCount) {
    if (interruptedMigration && tarvosExecutableExists && argumentCount <= 1)
        return RunPath::Migration;
    if (tarvosKeyPresent && tarvosExecutableExists)
        return RunPath::Restart;
    if (argumentCount > 1)
        return RunPath::Fallback;
    if (tarvosExecutableExists)
        return RunPath::Migration;
    return RunPath::Fallback;
}

const wchar_t* pathName(RunPath path) {
    switch (path) {
        case RunPath::Migration:
            return L"migration";
        case RunPath::Restart:
            return L"restart";
        case RunPath::Fallback:
            break;
    }
    return L"fallback";
}

DWORD FallbackPath(RunContext& context) {
    // clang-format off
    logMessage(gLogger, LOG_ERROR, L"*** AGENT UPGRADE FAILED. PLEASE GENERATE AGENT BUILD AND INSTALL LATEST VERSION MANUALLY *****.\n");
    // clang-format on
    logMessage(gLogger, LOG_ERROR, L"Starting old Glacis Service\n");
    if (context.startStop.startSingleService(context.glacisService.c_str()) != 0) {
        logMessage(gLogger, LOG_ERROR, L"Can't Start Glacisd Service.\n");
    }
    if (win::keyPresent(HKEY_LOCAL_MACHINE, kRampartServiceKey)) {
        logMessage(gLogger, LOG_INFO, L"Rampart DETECTED. Starting it\n");
        context.startStop.startRampart();
    }
    // Nothing was upgraded: a deployment system must not count this host as done. With the new
    // agent's program there, only an argument can have sent the run here.
    return fileExists(context.tarvosExecutable) ? kArgumentGivenExitCode : kNewAgentMissingExitCode;
}

const wchar_t* agentStateName(DWORD state) {
    switch (state) {
        case 0:
            return L"not-started";
        case SERVICE_RUNNING:
            return L"running";
        case SERVICE_STOPPED:
            return L"stopped";
        case SERVICE_START_PENDING:
            return L"start-pending";
        case SERVICE_STOP_PENDING:
            return L"stop-pending";
        case SERVICE_PAUSED:
        case SERVICE_PAUSE_PENDING:
        case SERVICE_CONTINUE_PENDING:
            return L"paused";
        default:
            return L"unknown";
    }
}

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

DWORD RestartPath(RunContext& context) {
    StartStop& services = context.startStop;
    networkDriverStep(context);
    logMessage(gLogger, LOG_INFO,
               L"Tarvos Server 2.0 detected. Starting KLO Tarvos and exiting..\n");

    DWORD exitCode = services.startSingleService(kTarvosService);
    if (exitCode == 0)
        logMessage(gLogger, LOG_INFO, L"Successfull thService Start\n");
    const bool accepted = exitCode == 0 || exitCode == ERROR_SERVICE_ALREADY_RUNNING;
    if (!accepted)
        context.startError = exitCode;
    // A start that failed, or was accepted but left the service start-pending (hung) or stopped,
    // is rescued alike.
    if (!seeNewAgentRunning(context, exitCode))
        rescueNewAgent(context);

    if (win::keyPresent(HKEY_LOCAL_MACHINE, kRampartServiceKey)) {
        logMessage(gLogger, LOG_INFO, L"Rampart DETECTED. Starting it\n");
        services.startRampart();
    } else {
        logMessage(gLogger, LOG_INFO,
                   L"Removing Installed Rampart as Rampart is not supposed to be installed\n");
        DWORD e = services.removeService(context.rampartService.c_str());
        if (e != 0)
            logMessage(gLogger, LOG_ERROR, L"Rampart can't be removed with errcode: %d\n", e);
        exitCode = 0;
    }
    return exitCode;
}

void endRun(const RunContext& context) {
    const std::wstring& folder = context.startStop.workingFolder();
    size_t slash = folder.find(L'\\');
    if (slash == std::wstring::npos)
        return;
    SetCurrentDirectoryW(folder.substr(0, slash + 1).c_str());
}

#include "migration/paths.h"

#include <cstdio>

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
    if (tarvosKeyPresent && tarvosExecutableExists)
        return RunPath::Restart;
    if (argumentCount > 1)
        return RunPath::Fallback;
    if (tarvosExecutableExists)
        return RunPath::Migration;
    return RunPath::Fallback;
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
    return 0;
}

namespace {

// Starts "Glacis" when the new agent cannot be started; only logged.
void startOldAgent(RunContext& context, const wchar_t* failureLine) {
    logMessage(gLogger, LOG_INFO, L"Can't Start thService. Trying start Glacisd and Rampart\n");
    if (context.startStop.startSingleService(context.glacisService.c_str()) != 0) {
        logMessage(gLogger, LOG_INFO, failureLine);
    }
}

// Deletes a file of the run context; a path too long to be the real one is not touched.
DWORD deleteFile(const std::wstring& path) {
    if (!win::fitsPath(path))
        return win::kPathTooLong;
    return DeleteFileW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
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

}  // namespace

DWORD RestartPath(RunContext& context) {
    StartStop& services = context.startStop;
    networkDriverStep(context);
    logMessage(gLogger, LOG_INFO,
               L"Tarvos Server 2.0 detected. Starting KLO Tarvos and exiting..\n");

    DWORD exitCode = services.startSingleService(kTarvosService);
    if (exitCode == 0) {
        logMessage(gLogger, LOG_INFO, L"Successfull thService Start\n");
    } else if (isProcessRunning(L"thService.exe")) {
        // The service process runs but never answered its start: end it and try once more.
        logMessage(gLogger, LOG_INFO,
                   L"thService.exe seems to be stuck in 1053. Terminating and restarting\n");
        terminateTarvosProcess();
        Sleep(kRestartPauseMs);
        if (services.startSingleService(kTarvosService) == 0) {
            logMessage(gLogger, LOG_INFO, L"SuccessFully Started thService\n");
        } else {
            startOldAgent(context, L"Can't Start Glacisd.\n");
        }
    } else {
        startOldAgent(context, L"Can't Start Glacsd.\n");
    }

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

DWORD MigrationPath(RunContext& context) {
    StartStop& services = context.startStop;
    DWORD e = 0;

    networkDriverStep(context);
    filterDriverStep(context);

    if ((e = services.deleteGlacisd()) != 0) {
        logMessage(gLogger, LOG_ERROR, L"Glacisd can't be removed with errcode: %d\n", e);
    }
    if ((e = services.removeService(context.hotMendService.c_str())) != 0) {
        logMessage(gLogger, LOG_ERROR, L"HotMend can't be removed with errcode: %d\n", e);
    }
    if ((e = deleteFile(context.hotMendExecutable)) != 0) {
        logMessage(gLogger, LOG_ERROR, L"HotMend can't be deleted with errcode: %d\n", e);
    }

    context.rampartPresent = win::keyPresent(HKEY_LOCAL_MACHINE, kRampartServiceKey);
    if (context.rampartPresent) {
        logMessage(gLogger, LOG_INFO, L"Rampart Found. Removing.. \n");
        fputs("\nRamp found ", stdout);
        fflush(stdout);
        if ((e = services.removeService(context.rampartService.c_str())) != 0) {
            logMessage(gLogger, LOG_ERROR, L"Rampart can't be removed with errcode: %d\n", e);
        }
    } else {
        logMessage(gLogger, LOG_INFO, L"Rampart Doesnt exist. Not Removing \n");
    }

    if ((e = services.addService(context.daemonExecutable.c_str(), context.glacisService.c_str(),
                                 context.glacisService.c_str())) != 0) {
        logMessage(gLogger, LOG_ERROR, L"Glacisd can't be added with errcode: %d\n", e);
    }
    if (context.rampartPresent) {
        logMessage(gLogger, LOG_INFO, L"Installing ramp.. \n");
        if ((e = services.addService(context.rampartExecutable.c_str(),
                                     context.rampartService.c_str(),
                                     context.rampartService.c_str())) != 0) {
            logMessage(gLogger, LOG_ERROR, L"Rampart cant be added with errcode: %d\n", e);
        }
    }
    if ((e = services.addService(context.tarvosExecutable.c_str())) != 0) {
        logMessage(gLogger, LOG_ERROR, L"TarvosAgent can't be added with errcode: %d\n", e);
    }

    localUiStep(context, programFolder());

    DWORD exitCode = services.startSingleService(kTarvosService);
    if (exitCode != 0) {
        logMessage(gLogger, LOG_ERROR, L"TarvosAgent can't be started with errcode: %d\n",
                   exitCode);
    }

    if (fileExists(context.policyFile))
        deleteFile(context.policyFile);
    if (fileExists(context.decryptedPolicyFile))
        deleteFile(context.decryptedPolicyFile);

    if (context.rampartPresent && services.startRampart() != 0) {
        logMessage(gLogger, LOG_ERROR, L"Rogue service failed to start.\n");
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

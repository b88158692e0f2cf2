#include "migration/paths.h"

#include "logging/logger.h"
#include "migration/host_queries.h"
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
    if (tarvosKeyPresent && tarvosExecutableExists) return RunPath::Restart;
    if (argumentCount > 1) return RunPath::Fallback;
    if (tarvosExecutableExists) return RunPath::Migration;
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

DWORD RestartPath(RunContext&) { return 0; }

DWORD MigrationPath(RunContext&) { return 0; }

void endRun(const RunContext& context) {
    const std::wstring& folder = context.startStop.workingFolder();
    size_t slash = folder.find(L'\\');
    if (slash == std::wstring::npos) return;
    SetCurrentDirectoryW(folder.substr(0, slash + 1).c_str());
}

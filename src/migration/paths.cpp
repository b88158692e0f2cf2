#include "migration/paths.h"

#include "migration/fallback_steps.h"
#include "migration/host_facts.h"
#include "migration/restart_steps.h"
#include "personality/personality_win.h"

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

// The restart and fallback paths are their rows (restart_steps.cpp, fallback_steps.cpp),
// walked on the facts read at their start.
DWORD RestartPath(RunContext& context) {
    const HostFacts host = readHostFacts(context);
    const StepEnv env{context, host, host.record, false, false, *GetPersonality()};
    return runSteps(restartSteps(), context, env);
}

DWORD FallbackPath(RunContext& context) {
    const HostFacts host = readHostFacts(context);
    const StepEnv env{context, host, host.record, false, false, *GetPersonality()};
    return runSteps(fallbackSteps(), context, env);
}

void endRun(const RunContext& context) {
    const std::wstring& folder = context.startStop.workingFolder();
    size_t slash = folder.find(L'\\');
    if (slash == std::wstring::npos)
        return;
    SetCurrentDirectoryW(folder.substr(0, slash + 1).c_str());
}

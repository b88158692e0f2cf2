// What the entry point prepares for every path: service names, the installation folder and
// the paths built from it, the service-control object and the exit code.
#pragma once

#include <windows.h>

#include <string>

#include "drivers/new_agent.h"
#include "migration/start_stop.h"

enum class RunPath { Restart, Migration, Fallback };

struct RunContext {
    StartStop startStop;  // made first of all: it records the working folder
    std::wstring hotMendService;
    std::wstring rampartService;
    std::wstring glacisService;
    std::wstring installDir;
    std::wstring daemonExecutable;
    std::wstring rampartExecutable;
    std::wstring uiExecutable;
    std::wstring tarvosExecutable;
    std::wstring hotMendExecutable;
    std::wstring policyFile;
    std::wstring decryptedPolicyFile;
    std::wstring logPath;
    DWORD exitCode = 0;
    bool rampartPresent = false;
    RunPath path = RunPath::Fallback;
    // The state the new agent's service was last seen in after the tool started it (or found
    // it running); 0 when the tool did not get it started.
    DWORD agentState = 0;
    // The Win32 code of the first start of the new agent that failed; 0 when none failed (a
    // start answered "already running" is no failure).
    DWORD startError = 0;
    // Services that stay marked for deletion until the host restarts and so could not be
    // registered again ("Glacis", ...); the migration is finished by the first run after it.
    std::wstring waitingForRestart;
    // A restart of the host came and did not free them: the migration cannot be finished until
    // someone looks at the host, and no restart is asked for again.
    bool restartDidNotFree = false;
    // Why the migration record could not be removed at the end; 0 when it was.
    DWORD recordError = 0;
};

// Fills the names and the paths of the installation folder (start-up steps 2 and 3).
void buildRunContext(RunContext& context, const std::wstring& installDir);

constexpr wchar_t kRampartServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Rampart";

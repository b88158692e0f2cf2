// What a migration's steps look at on the host, read once: the agents' services as the service
// control manager shows them, the files of the installation folder, the user interface's
// shortcuts and the tool's migration record. The run decides from it which steps of a resumed
// migration are done, and the preflight describes the same steps from the same facts.
#pragma once

#include <windows.h>

#include <string>

#include "migration/run_context.h"
#include "migration/run_record.h"

struct ServiceFacts {
    bool registered = false;  // the service control manager knows it (what the run asks)
    DWORD state = 0;          // SERVICE_RUNNING ...; 0 when it cannot be queried
    std::wstring command;     // the registered command path
    DWORD startType = 0;
    DWORD type = 0;

    // Registered as the migration registers it: this command path, start type and type. Running
    // or not: someone may have started it since (the rescue starts Glacis), and a resumed run
    // must not stop what is right.
    bool registeredAs(const std::wstring& command, DWORD startType, DWORD type) const;
};

ServiceFacts readServiceFacts(const wchar_t* name);

struct HostFacts {
    ServiceFacts glacis;
    ServiceFacts hotMend;
    ServiceFacts rampart;
    ServiceFacts tarvos;
    bool rampartKey = false;  // the service key of Rampart opens (the specified test)
    bool hotMendProgram = false;
    bool uiProgram = false;  // glacis.exe in the installation folder
    int uiShortcuts = -1;    // of the three; -1 when the shell folders cannot be had
    bool policyFile = false;
    bool policyText = false;  // a deciphered policy.txt is there
    // thService.exe's size and last write time: which files of the new agent the drivers were
    // installed from.
    std::wstring agentFiles;
    bool recordFound = false;  // a record the tool may act on
    MigrationRecord record;
    // Why a record that is there is not acted on (others than SYSTEM and administrators can
    // change it); empty when there is none or it is trusted.
    std::wstring recordDistrust;
};

HostFacts readHostFacts(const RunContext& context);

// The identity of a file for telling a copy of other files apart: its size and last write
// time; empty when it cannot be read.
std::wstring fileIdentity(const std::wstring& path);

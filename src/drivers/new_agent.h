// What both driver updates ask of the host: is the new agent's service registered?
#pragma once

#include <windows.h>

#include "win/registry.h"

constexpr wchar_t kNewAgentServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\KLOTarvos";

// True when the service key opens for reading or opening it is refused (access denied).
inline bool newAgentServiceRegistered() {
    return win::keyPresent(HKEY_LOCAL_MACHINE, kNewAgentServiceKey);
}

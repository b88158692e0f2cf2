// The new agent's service: its name and key, here below both the driver updates and the
// migration that use them.
#pragma once

#include <windows.h>

#include "win/registry.h"

constexpr wchar_t kTarvosService[] = L"KLOTarvos";
constexpr wchar_t kTarvosDisplayName[] = L"KLO Tarvos";  // used only when it is registered
constexpr wchar_t kTarvosServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\KLOTarvos";

// True when the service key opens for reading or opening it is refused (access denied).
inline bool newAgentServiceRegistered() {
    return win::keyPresent(HKEY_LOCAL_MACHINE, kTarvosServiceKey);
}

// Reinstalls the network drivers "qsxnet" (and, on 32-bit hosts coming from the old agent,
// "qsxnfh") with "NetInst.exe" from the installation folder; Windows Server 2008 is left alone.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "personality/personality.h"

// Runs the un-install and install pair that fits the host (by the personality's wow64 and, on
// 32-bit Windows, whether the new agent's service is registered), logs both results in one
// line and pauses 2 s. On Windows Server 2008 it logs that it skips and returns at once.
// Command lines run whole at any length.
void UpdateNetworkDrivers(const std::wstring& installDir);
// The same with the personality given instead of GetPersonality().
void UpdateNetworkDrivers(const std::wstring& installDir, const Personality& personality);

// The installer command lines UpdateNetworkDrivers runs on this host now, in order; none on
// Windows Server 2008. The run and the preflight both take them from here.
std::vector<std::wstring> networkDriverCommands(const std::wstring& installDir,
                                                const Personality& personality);

// True on Windows Server 2008 (a domain controller included), asked of the system.
bool IsLongHornServer();
// The decision on a version record: Windows NT 6.0 whose product type is not workstation.
bool IsLongHornServer(const OSVERSIONINFOEXW& version);

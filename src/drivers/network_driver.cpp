#include "drivers/network_driver.h"

#include "drivers/command_runner.h"
#include "drivers/new_agent.h"
#include "logging/logger.h"
#include "win/registry.h"
#include "win/strings.h"
#include "win/version.h"

namespace {

constexpr DWORD kSettleMs = 2000;

struct CommandPair {
    std::wstring first;
    std::wstring second;
    const wchar_t* report;  // filled with the two results
};

constexpr wchar_t kReinstallReport[] =
    L"Previous QSXNET uninstallation Returned %ld and latest QSXNET Installation Returned %ld \n";
constexpr wchar_t kFirstInstallReport[] =
    L"QSXNET Installation Returned %ld and QSXNFH Installation Returned %ld\n";

CommandPair commandsFor(const std::wstring& installDir, bool wow64) {
    const wchar_t* f = installDir.c_str();
    if (wow64) {
        // 64-bit hosts always reinstall qsxnet and never get qsxnfh.
        return {
            win::formatWide(L"\"%s\\NetInstall\\x64\\NetInst.exe\" -u qsxnet ", f),
            win::formatWide(
                L"\"%s\\NetInstall\\x64\\NetInst.exe\" -i qsxnet \"%s\\drivers\\qsxnet\"", f, f),
            kReinstallReport};
    }
    if (newAgentServiceRegistered()) {
        return {
            win::formatWide(L"\"%s\\NetInstall\\x86\\NetInst.exe\" -u qsxnet ", f),
            win::formatWide(
                L"\"%s\\NetInstall\\x86\\NetInst.exe\" -i qsxnet \"%s\\drivers\\qsxnet\"", f, f),
            kReinstallReport};
    }
    // Coming from the old agent: both components are installed afresh, from one driver folder.
    return {win::formatWide(
                L"\"%s\\NetInstall\\x86\\NetInst.exe\" -i qsxnet \"%s\\drivers\\qsxnet\"", f, f),
            win::formatWide(
                L"\"%s\\NetInstall\\x86\\NetInst.exe\" -i qsxnfh \"%s\\drivers\\qsxnet\"", f, f),
            kFirstInstallReport};
}

}  // namespace

bool IsLongHornServer(const OSVERSIONINFOEXW& version) {
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion == 6 &&
           version.dwMinorVersion == 0 && version.wProductType != VER_NT_WORKSTATION;
}

bool IsLongHornServer() {
    OSVERSIONINFOEXW version;
    return win::queryVersion(version) && IsLongHornServer(version);
}

std::vector<std::wstring> networkDriverCommands(const std::wstring& installDir,
                                                const Personality& personality) {
    if (IsLongHornServer())
        return {};
    CommandPair commands = commandsFor(installDir, personality.wow64 != 0);
    return {commands.first, commands.second};
}

void UpdateNetworkDrivers(const std::wstring& installDir, const Personality& personality) try {
    if (IsLongHornServer()) {
        if (gLogger) {
            logMessage(gLogger, LOG_INFO,
                       L"IsLongHornServer()::returned true...skipping driver update\n");
        }
        return;
    }
    CommandPair commands = commandsFor(installDir, personality.wow64 != 0);
    DWORD first = ExecuteCommand(commands.first, installDir);
    DWORD second = ExecuteCommand(commands.second, installDir);
    if (gLogger) {
        logMessage(gLogger, LOG_INFO, commands.report, static_cast<long>(first),
                   static_cast<long>(second));
    }
    Sleep(kSettleMs);
} catch (...) {
    // The update has no result; the path goes on.
}

void UpdateNetworkDrivers(const std::wstring& installDir) {
    UpdateNetworkDrivers(installDir, *GetPersonality());
}

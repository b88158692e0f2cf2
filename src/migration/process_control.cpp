#define PSAPI_VERSION 1  // psapi.dll exports, present on every Windows the tool supports
#include "migration/process_control.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <vector>

#include "logging/logger.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

constexpr DWORD kMaxProcessIds = 2048;
constexpr DWORD kProcessEntrySize = 556;  // PROCESSENTRY32W
constexpr DWORD kQueryLimitedInformation = 0x1000;

const wchar_t* baseName(const wchar_t* path) {
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

// The image file name of a process through the limited query right, which also reaches
// processes whose modules this 32-bit process cannot list. Vista and later only.
bool imageBaseNameMatches(HANDLE process, const wchar_t* name) {
    using QueryImage = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
    static const auto query = reinterpret_cast<QueryImage>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW")));
    if (!query)
        return false;
    wchar_t image[win::kMaxPathChars * 4] = {};
    DWORD size = static_cast<DWORD>(sizeof(image) / sizeof(image[0]));
    if (!query(process, 0, image, &size))
        return false;
    image[sizeof(image) / sizeof(image[0]) - 1] = L'\0';
    return _wcsicmp(baseName(image), name) == 0;
}

bool imageBaseNameMatches(DWORD pid, const wchar_t* name) {
    win::ScopedHandle process(OpenProcess(kQueryLimitedInformation, FALSE, pid));
    return process && imageBaseNameMatches(process.get(), name);
}

}  // namespace

bool isProcessRunning(const wchar_t* name) try {
    HMODULE kernel = GetModuleHandleW(L"KERNEL32.DLL");
    if (!kernel)
        return false;
    using Snapshot = HANDLE(WINAPI*)(DWORD, DWORD);
    using Walk = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);
    auto snapshot = reinterpret_cast<Snapshot>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "CreateToolhelp32Snapshot")));
    auto first =
        reinterpret_cast<Walk>(reinterpret_cast<void*>(GetProcAddress(kernel, "Process32FirstW")));
    auto next =
        reinterpret_cast<Walk>(reinterpret_cast<void*>(GetProcAddress(kernel, "Process32NextW")));
    if (!snapshot || !first || !next)
        return false;

    win::ScopedHandle processes(snapshot(TH32CS_SNAPPROCESS, 0));
    if (!processes)
        return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = kProcessEntrySize;
    for (BOOL more = first(processes.get(), &entry); more; more = next(processes.get(), &entry)) {
        entry.szExeFile[MAX_PATH - 1] = L'\0';
        if (wcscmp(baseName(entry.szExeFile), name) == 0)
            return true;
    }
    return false;
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return false;
}

DWORD findProcessId(const wchar_t* name) try {
    std::vector<DWORD> ids(kMaxProcessIds);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes) ||
        bytes == 0) {
        return 0;
    }
    DWORD count = bytes / sizeof(DWORD);
    for (DWORD i = 0; i < count; ++i) {
        DWORD pid = ids[i];
        win::ScopedHandle process(
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
        HMODULE module = nullptr;
        DWORD needed = 0;
        if (process && EnumProcessModules(process.get(), &module, sizeof(module), &needed)) {
            wchar_t moduleName[win::kMaxPathChars + 1] = {};
            if (GetModuleBaseNameW(process.get(), module, moduleName,
                                   static_cast<DWORD>(win::kMaxPathChars)) &&
                _wcsicmp(moduleName, name) == 0) {
                return pid;
            }
            continue;
        }
        if (imageBaseNameMatches(pid, name))
            return pid;
    }
    return 0;
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return 0;
}

namespace {

// The agent's process to end, opened once: the service's own when its image is the agent's
// program, otherwise the first found by name. Logs the specified line when none can be had.
win::ScopedHandle openAgentProcess(DWORD serviceProcessId) {
    constexpr DWORD kAccess = PROCESS_TERMINATE | SYNCHRONIZE;
    if (serviceProcessId != 0) {
        win::ScopedHandle process(
            OpenProcess(kAccess | kQueryLimitedInformation, FALSE, serviceProcessId));
        if (process && imageBaseNameMatches(process.get(), L"thService.exe"))
            return process;
    }
    const DWORD pid = findProcessId(L"thService.exe");
    if (pid == 0) {
        logMessage(gLogger, LOG_INFO, L"Cant open thService, cant get PID %d\n", GetLastError());
        return win::ScopedHandle();
    }
    win::ScopedHandle process(OpenProcess(kAccess, FALSE, pid));
    if (!process)
        logMessage(gLogger, LOG_INFO, L"Cant open thService, %d\n", GetLastError());
    return process;
}

}  // namespace

void terminateTarvosProcess(DWORD serviceProcessId) try {
    win::ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.receive())) {
        logMessage(gLogger, LOG_ERROR, L"OpenProcessToken failed: %u\n", GetLastError());
        return;
    }
    LUID debugPrivilege = {};
    if (!LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &debugPrivilege)) {
        logMessage(gLogger, LOG_ERROR, L"LookupPrivilegeValue error: %u \n", GetLastError());
        return;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = debugPrivilege;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) {
        logMessage(gLogger, LOG_ERROR, L"AdjustTokenPrivileges error: %u\n", GetLastError());
        return;
    }

    logMessage(gLogger, LOG_INFO, L"Terminating thService, It Should'nt be running now\n");
    win::ScopedHandle process = openAgentProcess(serviceProcessId);
    if (!process)
        return;
    if (TerminateProcess(process.get(), kTerminatedExitCode)) {
        logMessage(gLogger, LOG_INFO, L"Terminated thService\n");
        WaitForSingleObject(process.get(), kTerminateWaitMs);
    } else {
        logMessage(gLogger, LOG_INFO, L"Cant TERMINATE thService %d\n", GetLastError());
    }
} catch (...) {
    // Nothing is terminated; the caller makes its second start anyway.
}

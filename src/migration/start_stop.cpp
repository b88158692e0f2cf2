#include "migration/start_stop.h"

#include <errno.h>
#include <io.h>

#include "drivers/new_agent.h"
#include "win/child_process.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

constexpr wchar_t kGlacisService[] = L"Glacis";
constexpr DWORD kPollIntervalMs = 100;
constexpr int kMaxPolls = 600;
constexpr int kMaxStartPendingPolls = 300;  // 30 s

}  // namespace

bool quotePath(const std::wstring& path, std::wstring& quoted) {
    quoted.clear();
    if (path.size() + 2 > win::kMaxPathChars - 1)
        return false;
    quoted = L"\"" + path + L"\"";
    return true;
}

std::wstring quotePath(const std::wstring& path) {
    std::wstring quoted;
    quotePath(path, quoted);
    return quoted;
}

StartStop::StartStop() {
    wchar_t folder[win::kMaxPathChars + 1] = {};
    DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(win::kMaxPathChars + 1), folder);
    if (n > 0 && n <= win::kMaxPathChars) {
        workingFolder_.assign(folder, n);
        for (wchar_t& c : workingFolder_) {
            if (c == L'/')
                c = L'\\';
        }
        SetCurrentDirectoryW(workingFolder_.c_str());
        rampartExecutable_ = workingFolder_ + L"\\" + L"Rampart.exe";
    }
}

DWORD StartStop::waitUntilGone(SC_HANDLE manager, const wchar_t* name) {
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        win::ScopedServiceHandle probe(OpenServiceW(manager, name, SERVICE_ALL_ACCESS));
        if (!probe)
            return ERROR_SUCCESS;
        probe.reset();
        Sleep(kPollIntervalMs);
    }
    win::ScopedServiceHandle probe(OpenServiceW(manager, name, SERVICE_ALL_ACCESS));
    return probe ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SUCCESS;
}

DWORD StartStop::deleteAndWait(SC_HANDLE manager, SC_HANDLE service, const wchar_t* name) {
    DWORD deleteError = DeleteService(service) ? ERROR_SUCCESS : GetLastError();
    CloseServiceHandle(service);
    // A service someone else already marked may still vanish within the minute; any other
    // refusal means it never will.
    if (deleteError != ERROR_SUCCESS && deleteError != ERROR_SERVICE_MARKED_FOR_DELETE) {
        return deleteError;
    }
    return waitUntilGone(manager, name);
}

DWORD StartStop::deleteGlacisd() try {
    win::ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return GetLastError();
    SC_HANDLE service = OpenServiceW(manager.get(), kGlacisService, SERVICE_ALL_ACCESS);
    if (!service)
        return GetLastError();
    return deleteAndWait(manager.get(), service, kGlacisService);
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

DWORD StartStop::removeService(const wchar_t* name) try {
    win::ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return GetLastError();
    SC_HANDLE service = OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS);
    if (!service)
        return GetLastError();

    SERVICE_STATUS status = {};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        for (int poll = 0; poll < kMaxPolls && status.dwCurrentState != SERVICE_STOPPED; ++poll) {
            QueryServiceStatus(service, &status);
            Sleep(kPollIntervalMs);
        }
    }
    return deleteAndWait(manager.get(), service, name);
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

DWORD StartStop::createService(const wchar_t* executable,
                               const wchar_t* name,
                               const wchar_t* displayName,
                               DWORD type,
                               DWORD startType) try {
    win::ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return GetLastError();

    win::ScopedServiceHandle existing(OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS));
    if (existing) {
        // A registration that is only waiting to vanish is not one to keep.
        if (!ChangeServiceConfigW(existing.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                  SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr) &&
            GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) {
            return ERROR_SERVICE_MARKED_FOR_DELETE;
        }
        return ERROR_SUCCESS;
    }

    std::wstring command;
    if (!quotePath(executable ? executable : L"", command))
        return win::kPathTooLong;
    win::ScopedServiceHandle created(CreateServiceW(
        manager.get(), name, displayName, SERVICE_ALL_ACCESS, type, startType, SERVICE_ERROR_NORMAL,
        command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return created ? ERROR_SUCCESS : GetLastError();
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

DWORD StartStop::addService(const wchar_t* executable,
                            const wchar_t* name,
                            const wchar_t* displayName) {
    return createService(executable, name, displayName, SERVICE_WIN32_OWN_PROCESS,
                         SERVICE_DEMAND_START);
}

DWORD StartStop::addService(const wchar_t* executable) {
    return createService(executable, kTarvosService, kTarvosDisplayName,
                         SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                         SERVICE_AUTO_START);
}

DWORD StartStop::startSingleService(const wchar_t* name) try {
    win::ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, MAXIMUM_ALLOWED));
    if (!manager)
        return GetLastError();
    win::ScopedServiceHandle service(OpenServiceW(manager.get(), name, MAXIMUM_ALLOWED));
    if (!service)
        return GetLastError();
    return StartServiceW(service.get(), 0, nullptr) ? ERROR_SUCCESS : GetLastError();
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

DWORD StartStop::serviceState(const wchar_t* name) const try {
    win::ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return 0;
    win::ScopedServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    if (!service || !QueryServiceStatus(service.get(), &status))
        return 0;
    return status.dwCurrentState;
} catch (...) {
    // Out of memory: the state is unknown.
    return 0;
}

DWORD StartStop::serviceProcessId(const wchar_t* name) const try {
    win::ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return 0;
    win::ScopedServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!service ||
        !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof(status), &needed)) {
        return 0;
    }
    return status.dwCurrentState == SERVICE_STOPPED ? 0 : status.dwProcessId;
} catch (...) {
    // Out of memory: none is known.
    return 0;
}

DWORD StartStop::waitWhileStartPending(const wchar_t* name) const {
    DWORD state = serviceState(name);
    for (int poll = 0; poll < kMaxStartPendingPolls && state == SERVICE_START_PENDING; ++poll) {
        Sleep(kPollIntervalMs);
        state = serviceState(name);
    }
    return state;
}

DWORD StartStop::startRampart(const ChildStarted& started) try {
    if (rampartExecutable_.empty() || !win::fitsPath(rampartExecutable_))
        return ENAMETOOLONG;
    if (_waccess(rampartExecutable_.c_str(), 0) != 0)
        return static_cast<DWORD>(errno);
    std::wstring quoted;
    if (!quotePath(rampartExecutable_, quoted))
        return ENAMETOOLONG;
    // Started by hand rather than by the C runtime's spawn, which hands the child our standard
    // handles and open files, and cannot tell an exit code of -1 from a failed start.
    const std::wstring commandLine = quoted + L" -s";
    DWORD exitCode = 0;
    DWORD error = win::runChild(commandLine, win::ChildOptions(), exitCode, [&](HANDLE process) {
        if (started)
            started(process, commandLine);
    });
    return error != ERROR_SUCCESS ? error : exitCode;
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

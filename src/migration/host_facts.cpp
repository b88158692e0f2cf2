#include "migration/host_facts.h"

#include <vector>

#include "policy_ui/local_ui.h"
#include "win/file_exists.h"
#include "win/registry.h"
#include "win/scoped.h"
#include "win/strings.h"

bool ServiceFacts::registeredAs(const std::wstring& wanted, DWORD wantedStart,
                                DWORD wantedType) const {
    return registered && _wcsicmp(command.c_str(), wanted.c_str()) == 0 &&
           startType == wantedStart && type == wantedType && state != SERVICE_RUNNING;
}

ServiceFacts readServiceFacts(const wchar_t* name) try {
    ServiceFacts facts;
    win::ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return facts;
    win::ScopedServiceHandle service(
        OpenServiceW(manager.get(), name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!service) {
        // Registered all the same when only the rights are missing.
        facts.registered = GetLastError() == ERROR_ACCESS_DENIED;
        return facts;
    }
    facts.registered = true;
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service.get(), &status))
        facts.state = status.dwCurrentState;
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    if (needed == 0 || needed > 64 * 1024)
        return facts;
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (QueryServiceConfigW(service.get(), config, needed, &needed)) {
        facts.command = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
        facts.startType = config->dwStartType;
        facts.type = config->dwServiceType;
    }
    return facts;
} catch (...) {
    // Out of memory: nothing known of it.
    return ServiceFacts();
}

std::wstring fileIdentity(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!win::fitsPath(path) || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return std::wstring();
    const unsigned long long size =
        (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const unsigned long long written =
        (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
        data.ftLastWriteTime.dwLowDateTime;
    return win::formatWide(L"%I64u:%I64u", size, written);
}

namespace {

bool present(const std::wstring& path) {
    return win::fitsPath(path) && fileExists(path);
}

}  // namespace

HostFacts readHostFacts(const RunContext& context) {
    HostFacts host;
    host.glacis = readServiceFacts(context.glacisService.c_str());
    host.hotMend = readServiceFacts(context.hotMendService.c_str());
    host.rampart = readServiceFacts(context.rampartService.c_str());
    host.tarvos = readServiceFacts(kTarvosService);
    host.rampartKey = win::keyPresent(HKEY_LOCAL_MACHINE, kRampartServiceKey);
    host.hotMendProgram = present(context.hotMendExecutable);
    host.uiProgram = present(context.uiExecutable);
    host.uiShortcuts = uiShortcutsPresent();
    host.policyFile = present(context.policyFile);
    host.policyText = present(context.decryptedPolicyFile);
    host.agentFiles = fileIdentity(context.tarvosExecutable);
    host.recordFound = readMigrationRecord(host.record) == ERROR_SUCCESS;
    return host;
}

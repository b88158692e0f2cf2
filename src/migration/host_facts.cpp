#include "migration/host_facts.h"

#include <vector>

#include "migration/record_trust.h"
#include "policy_ui/local_ui.h"
#include "win/file_exists.h"
#include "win/registry.h"
#include "win/scoped.h"
#include "win/strings.h"

bool ServiceFacts::registeredAs(const std::wstring& wanted,
                                DWORD wantedStart,
                                DWORD wantedType) const {
    return registered && _wcsicmp(command.c_str(), wanted.c_str()) == 0 &&
           startType == wantedStart && type == wantedType;
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
    return win::formatWide(L"%I64u:%I64u", size, win::fileTimeNumber(data.ftLastWriteTime));
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
    host.recordDistrust = migrationRecordDistrust();
    host.recordFound =
        host.recordDistrust.empty() && readMigrationRecord(host.record) == ERROR_SUCCESS;
    if (!host.recordFound)
        host.record = MigrationRecord();
    return host;
}

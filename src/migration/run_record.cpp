#include "migration/run_record.h"

#include <sddl.h>

#include <iterator>

#include "win/registry.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

// The 32-bit view on every Windows, whichever program reads or writes it.
constexpr REGSAM kView = KEY_WOW64_32KEY;
// SYSTEM and administrators full access, users read (a detection rule or a check without
// administrative rights may read it); nothing inherited from SOFTWARE.
constexpr wchar_t kKeySecurity[] = L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";
constexpr size_t kMaxValueChars = 64;

const wchar_t* const kStepNames[] = {L"",         L"drivers", L"old-services", L"registration",
                                     L"local-ui", L"start",   L"cleanup",      L"rampart"};
const wchar_t* const kUiActionNames[] = {L"", L"install", L"remove"};

// Creates (or opens) a key of the tool and gives it the tool's access rules, whoever made it.
DWORD createKey(const wchar_t* path, win::ScopedRegKey& key) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kKeySecurity, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return GetLastError();
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0,
                              KEY_READ | KEY_WRITE | WRITE_DAC | kView, &attributes, key.receive(),
                              nullptr);
    if (rc == ERROR_SUCCESS)
        rc = RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return static_cast<DWORD>(rc);
}

DWORD setText(HKEY key, const wchar_t* name, const std::wstring& value) {
    return static_cast<DWORD>(RegSetValueExW(key, name, 0, REG_SZ,
                                             reinterpret_cast<const BYTE*>(value.c_str()),
                                             static_cast<DWORD>((value.size() + 1) * 2)));
}

DWORD setNumber(HKEY key, const wchar_t* name, DWORD value) {
    return static_cast<DWORD>(RegSetValueExW(key, name, 0, REG_DWORD,
                                             reinterpret_cast<const BYTE*>(&value), sizeof(value)));
}

DWORD readNumber(HKEY key, const wchar_t* name, DWORD& value) {
    DWORD type = 0;
    DWORD bytes = sizeof(value);
    DWORD stored = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&stored), &bytes);
    if (rc != ERROR_SUCCESS)
        return static_cast<DWORD>(rc);
    if (type != REG_DWORD || bytes != sizeof(stored))
        return ERROR_INVALID_DATA;
    value = stored;
    return ERROR_SUCCESS;
}

// A text value; a missing or unreadable one reads as empty.
std::wstring readText(HKEY key, const wchar_t* name) {
    std::wstring value;
    if (win::readStringValue(key, name, kMaxValueChars, value) != ERROR_SUCCESS)
        value.clear();
    return value;
}

DWORD openForReading(const wchar_t* path, win::ScopedRegKey& key) {
    return static_cast<DWORD>(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | kView, key.receive()));
}

}  // namespace

const wchar_t* stepName(MigrationStep step) {
    const size_t index = static_cast<size_t>(step);
    return index < std::size(kStepNames) ? kStepNames[index] : L"";
}

MigrationStep stepByName(const std::wstring& name) {
    for (size_t i = 1; i < std::size(kStepNames); ++i) {
        if (name == kStepNames[i])
            return static_cast<MigrationStep>(i);
    }
    return MigrationStep::None;
}

const wchar_t* uiActionName(UiAction action) {
    const size_t index = static_cast<size_t>(action);
    return index < std::size(kUiActionNames) ? kUiActionNames[index] : L"";
}

UiAction uiActionByName(const std::wstring& name) {
    for (size_t i = 1; i < std::size(kUiActionNames); ++i) {
        if (name == kUiActionNames[i])
            return static_cast<UiAction>(i);
    }
    return UiAction::None;
}

DWORD readMigrationRecord(MigrationRecord& record) try {
    record = MigrationRecord();
    win::ScopedRegKey key;
    DWORD rc = openForReading(kMigrationKey, key);
    if (rc != ERROR_SUCCESS)
        return rc;
    record.step = stepByName(readText(key.get(), L"Step"));
    DWORD rampart = 0;
    readNumber(key.get(), L"Rampart", rampart);
    record.rampartPresent = rampart != 0;
    record.uiAction = uiActionByName(readText(key.get(), L"UiAction"));
    record.begun = readText(key.get(), L"Begun");
    record.version = readText(key.get(), L"Version");
    readNumber(key.get(), L"Runs", record.runs);
    return ERROR_SUCCESS;
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

DWORD writeMigrationRecord(const MigrationRecord& record) try {
    win::ScopedRegKey tool;
    DWORD rc = createKey(kToolKey, tool);
    win::ScopedRegKey key;
    if (rc == ERROR_SUCCESS)
        rc = createKey(kMigrationKey, key);
    if (rc != ERROR_SUCCESS)
        return rc;
    DWORD results[] = {
        setText(key.get(), L"Step", stepName(record.step)),
        setNumber(key.get(), L"Rampart", record.rampartPresent ? 1 : 0),
        setText(key.get(), L"UiAction", uiActionName(record.uiAction)),
        setText(key.get(), L"Begun", record.begun),
        setText(key.get(), L"Version", record.version),
        setNumber(key.get(), L"Runs", record.runs),
    };
    for (DWORD result : results) {
        if (result != ERROR_SUCCESS)
            return result;
    }
    // The record must outlive a loss of power right after the step it announces.
    return static_cast<DWORD>(RegFlushKey(key.get()));
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

DWORD removeMigrationRecord() {
    win::ScopedRegKey tool;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kToolKey, 0, KEY_READ | KEY_WRITE | kView,
                            tool.receive());
    if (rc == ERROR_SUCCESS)
        rc = RegDeleteKeyW(tool.get(), L"Migration");
    if (rc == ERROR_SUCCESS)
        RegFlushKey(tool.get());
    return static_cast<DWORD>(rc);
}

DWORD writeLastRun(const LastRunRecord& record) try {
    win::ScopedRegKey tool;
    DWORD rc = createKey(kToolKey, tool);
    win::ScopedRegKey key;
    if (rc == ERROR_SUCCESS)
        rc = createKey(kLastRunKey, key);
    if (rc != ERROR_SUCCESS)
        return rc;
    DWORD results[] = {
        setText(key.get(), L"Path", record.path),
        setNumber(key.get(), L"ExitCode", record.exitCode),
        setText(key.get(), L"Version", record.version),
        setText(key.get(), L"Ended", record.ended),
        setText(key.get(), L"NewAgent", record.newAgent),
    };
    for (DWORD result : results) {
        if (result != ERROR_SUCCESS)
            return result;
    }
    return static_cast<DWORD>(RegFlushKey(key.get()));
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

DWORD readLastRun(LastRunRecord& record) try {
    record = LastRunRecord();
    win::ScopedRegKey key;
    DWORD rc = openForReading(kLastRunKey, key);
    if (rc != ERROR_SUCCESS)
        return rc;
    record.path = readText(key.get(), L"Path");
    readNumber(key.get(), L"ExitCode", record.exitCode);
    record.version = readText(key.get(), L"Version");
    record.ended = readText(key.get(), L"Ended");
    record.newAgent = readText(key.get(), L"NewAgent");
    return ERROR_SUCCESS;
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

std::wstring utcNow() {
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    return win::formatWide(L"%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
                           now.wHour, now.wMinute, now.wSecond);
}

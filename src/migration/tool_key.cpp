#include "migration/tool_key.h"

#include <sddl.h>

#include "win/registry.h"

namespace toolkey {

namespace {

// SYSTEM and administrators full access, users read (a detection rule or a check without
// administrative rights may read it); nothing inherited from SOFTWARE.
constexpr wchar_t kKeySecurity[] = L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";

constexpr size_t kMaxValueChars = 64;

}  // namespace

// Creates (or opens) a key of the tool and gives it the tool's access rules, whoever made it.
DWORD createKey(const wchar_t* path, win::ScopedRegKey& key, DWORD options) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kKeySecurity, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return GetLastError();
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, options,
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

// Deletes a subkey of the tool's key, flushed to disk.
DWORD removeToolSubkey(const wchar_t* name) {
    win::ScopedRegKey tool;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kToolKey, 0, KEY_READ | KEY_WRITE | kView,
                            tool.receive());
    if (rc == ERROR_SUCCESS)
        rc = RegDeleteKeyW(tool.get(), name);
    if (rc == ERROR_SUCCESS)
        RegFlushKey(tool.get());
    return static_cast<DWORD>(rc);
}

// Whether a key of the tool is there (access refused counts as there).
bool keyOpens(const wchar_t* path) {
    win::ScopedRegKey key;
    const LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | kView, key.receive());
    return rc == ERROR_SUCCESS || rc == ERROR_ACCESS_DENIED;
}

// Makes the tool's key and the record's subkey, has the values written, and flushes them to
// disk: a record must outlive a loss of power right after the step it announces.
DWORD writeRecord(const wchar_t* path, const std::function<DWORD(HKEY)>& writeValues) try {
    win::ScopedRegKey tool;
    DWORD rc = createKey(kToolKey, tool);
    win::ScopedRegKey key;
    if (rc == ERROR_SUCCESS)
        rc = createKey(path, key);
    if (rc == ERROR_SUCCESS)
        rc = writeValues(key.get());
    if (rc == ERROR_SUCCESS)
        rc = static_cast<DWORD>(RegFlushKey(key.get()));
    return rc;
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

// Opens a record's key and has its values read; ERROR_FILE_NOT_FOUND when there is none. A
// value that is missing or cannot be read reads as empty or 0.
DWORD readRecord(const wchar_t* path, const std::function<void(HKEY)>& readValues) try {
    win::ScopedRegKey key;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | kView, key.receive());
    if (rc == ERROR_SUCCESS)
        readValues(key.get());
    return static_cast<DWORD>(rc);
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

}  // namespace toolkey

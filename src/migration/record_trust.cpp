#include "migration/record_trust.h"

#include <sddl.h>

#include <vector>

#include "logging/logger.h"
#include "migration/version.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

// Rights on a key that change it or what it says.
constexpr ACCESS_MASK kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE |
                                     WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

struct LocalText {
    wchar_t* text = nullptr;
    ~LocalText() { LocalFree(text); }
};

std::wstring sidText(PSID sid) {
    LocalText text;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, &text.text))
        return L"(unknown)";
    return text.text;
}

bool isWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
    BYTE buffer[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(buffer);
    return CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer);
}

// The owner this process gives what it creates, and its own account.
bool ownAccount(PSID sid) {
    win::ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()))
        return false;
    for (TOKEN_INFORMATION_CLASS what : {TokenOwner, TokenUser}) {
        DWORD size = 0;
        GetTokenInformation(token.get(), what, nullptr, 0, &size);
        std::vector<BYTE> buffer(size + 1);
        if (size == 0 || !GetTokenInformation(token.get(), what, buffer.data(), size, &size))
            continue;
        PSID own = what == TokenOwner ? reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner
                                      : reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        if (EqualSid(sid, own))
            return true;
    }
    return false;
}

bool administrative(PSID sid) {
    return isWellKnown(sid, WinLocalSystemSid) || isWellKnown(sid, WinBuiltinAdministratorsSid);
}

std::wstring daclDistrust(PACL dacl) {
    if (dacl == nullptr)
        return L"it has no access list: everyone may change it";
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)))
            return L"its access list cannot be read";
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;  // applies to subkeys only
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == SYSTEM_AUDIT_ACE_TYPE)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return L"its access list holds an entry of a kind the tool does not judge";
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        PSID sid = &ace->SidStart;
        if ((ace->Mask & kWriteRights) != 0 && !administrative(sid))
            return L"it grants write access to " + sidText(sid);
    }
    return std::wstring();
}

}  // namespace

std::wstring recordDistrust(const wchar_t* keyPath) try {
    win::ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, READ_CONTROL | KEY_WOW64_32KEY,
                      key.receive()) != ERROR_SUCCESS) {
        return std::wstring();
    }
    DWORD size = 0;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    RegGetKeySecurity(key.get(), what, nullptr, &size);
    std::vector<BYTE> descriptor(size + 1);
    if (size == 0 || RegGetKeySecurity(key.get(), what, descriptor.data(), &size) != ERROR_SUCCESS)
        return L"its security cannot be read";
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted) && owner != nullptr &&
        !administrative(owner) && !ownAccount(owner)) {
        return L"it is owned by " + sidText(owner);
    }
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted))
        return L"its access list cannot be read";
    return daclDistrust(present ? dacl : nullptr);
} catch (...) {
    // Out of memory: nothing may escape; a record that cannot be judged is not acted on.
    return L"its security cannot be judged";
}

bool recordTrusted(const MigrationRecord& record) {
    // One that waits for a restart is finished by the host's checks alone (the registration is
    // what it waits for), however long the restart took and whichever version asked for it.
    if (record.restartWait || record.restartFailed)
        return true;
    const long long age = recordAgeDays(record);
    return record.version == kRelocatorVersion && age >= 0 && age <= kRecordTrustDays;
}

bool dropUntrustedRecord(const wchar_t* keyPath, DWORD (*remove)()) {
    const std::wstring distrust = recordDistrust(keyPath);
    if (distrust.empty())
        return false;
    const DWORD e = remove();
    logMessage(gLogger, LOG_WARN,
               L"The record %s is ignored: %s, and only SYSTEM and administrators may change it. "
               L"%s\n",
               keyPath, distrust.c_str(),
               e == ERROR_SUCCESS ? L"It was removed" : L"It can't be removed");
    return true;
}

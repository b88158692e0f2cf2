#include "migration/run_guard.h"

#include <sddl.h>

#include "win/strings.h"

namespace {

// SYSTEM and administrators only; not inherited from the Windows folder.
constexpr wchar_t kGuardSecurity[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

}  // namespace

std::wstring windowsFolder() {
    wchar_t folder[win::kMaxPathChars + 1] = {};
    UINT n = GetWindowsDirectoryW(folder, static_cast<UINT>(win::kMaxPathChars + 1));
    if (n == 0 || n > win::kMaxPathChars)
        return std::wstring();
    return std::wstring(folder, n);
}

RunGuard::RunGuard() try {
    const std::wstring folder = windowsFolder();
    if (folder.empty()) {
        error_ = ERROR_FILENAME_EXCED_RANGE;
        return;
    }
    path_ = folder + L"\\Relocator.lock";

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kGuardSecurity, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        descriptor = nullptr;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    file_.reset(CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &attributes,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                            nullptr));
    error_ = file_ ? ERROR_SUCCESS : GetLastError();
    if (descriptor)
        LocalFree(descriptor);
    if (file_) {
        state_ = State::Held;
    } else if (error_ == ERROR_SHARING_VIOLATION) {
        state_ = State::HeldByAnother;
    }
} catch (...) {
    // Out of memory: no guard; the run goes on as a run without one.
    error_ = ERROR_NOT_ENOUGH_MEMORY;
}

bool runsWithAdministrativeRights() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &administrators)) {
        return false;
    }
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators, &member))
        member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

GuardProbe probeRunGuard(std::wstring& path) {
    const std::wstring folder = windowsFolder();
    path = folder.empty() ? std::wstring() : folder + L"\\Relocator.lock";
    if (path.empty())
        return GuardProbe::Unknown;
    win::ScopedHandle file(CreateFileW(path.c_str(), FILE_READ_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    if (file)
        return GuardProbe::Free;  // left by a run the host lost power under
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return GuardProbe::Free;
        case ERROR_SHARING_VIOLATION:
            return GuardProbe::Held;
        default:
            // Without administrative rights the file cannot be opened; it exists only while a
            // run holds it, unless the host lost power under one.
            return GuardProbe::Unknown;
    }
}

#include "drivers/filter_driver.h"

#include <windows.h>

#include <shlobj.h>

#include "drivers/command_runner.h"
#include "drivers/new_agent.h"
#include "logging/logger.h"
#include "personality/personality_win.h"
#include "win/library_search.h"
#include "win/registry.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

constexpr wchar_t kInstallerName[] = L"IfsInst.exe";
constexpr wchar_t kLibraryName[] = L"QsxFFilter.dll";
constexpr wchar_t kLibrary32Source[] = L"%windir%\\system32\\QsxFFilter.dll";
constexpr wchar_t kProgramFilesDefault[] = L"c:\\Program Files";
constexpr DWORD kSettleMs = 3000;

std::wstring userName() {
    wchar_t name[win::kMaxPathChars + 1] = {};
    DWORD size = static_cast<DWORD>(win::kMaxPathChars + 1);
    if (!GetUserNameW(name, &size))
        return std::wstring();
    name[win::kMaxPathChars] = L'\0';
    return name;
}

// Copies the library, refusing paths that do not fit rather than touching another file.
DWORD copyLibrary(const std::wstring& source, const std::wstring& destination) {
    if (!win::fitsPath(source) || !win::fitsPath(destination))
        return ERROR_FILENAME_EXCED_RANGE;
    return CopyFileW(source.c_str(), destination.c_str(), FALSE) ? ERROR_SUCCESS : GetLastError();
}

// "%windir%\system32\QsxFFilter.dll" with the system's variables; empty when it does not fit
// or the expansion cannot be had. userenv.dll is no KnownDLL: it is loaded here, by its full
// path, rather than imported, so that no copy beside the tool can run in its place.
std::wstring library32Source() {
    using ExpandForUserFn = BOOL(WINAPI*)(HANDLE, LPCWSTR, LPWSTR, DWORD);
    win::ScopedLibrary userenv(win::loadSystemLibrary(L"userenv.dll"));
    const auto expand =
        win::procAddress<ExpandForUserFn>(userenv.get(), "ExpandEnvironmentStringsForUserW");
    wchar_t expanded[win::kMaxPathChars + 1] = {};
    if (expand == nullptr ||
        !expand(nullptr, kLibrary32Source, expanded, static_cast<DWORD>(win::kMaxPathChars + 1))) {
        return std::wstring();
    }
    expanded[win::kMaxPathChars] = L'\0';
    return expanded;
}

void copyLibrary32(const std::wstring& source, const std::wstring& destination) {
    DWORD rc = source.empty() ? ERROR_FILENAME_EXCED_RANGE : copyLibrary(source, destination);
    if (rc != ERROR_SUCCESS && gLogger) {
        logMessage(gLogger, LOG_INFO,
                   L"UpdateminiFilterDriver::Failed to copy driver dll from system32 folder\n");
    }
}

void copyLibrary64(const std::wstring& source, const std::wstring& destination) {
    DWORD rc = copyLibrary(source, destination);
    if (rc != ERROR_SUCCESS) {
        OutputDebugStringW(source.c_str());
        OutputDebugStringW(destination.c_str());
        if (gLogger) {
            // clang-format off
            logMessage(gLogger, LOG_INFO, L"UpdateminiFilterDriver::Failed to copy driver dll from %s folder to %s. Errcode %d\n",
                       source.c_str(), destination.c_str(), static_cast<int>(rc));
            // clang-format on
        }
    }
    if (gLogger) {
        logMessage(gLogger, LOG_INFO,
                   L"UpdateminiFilterDriver()::NOT INSTALLING Rogue SERVICE...64\n");
    }
}

bool installDirOfProduct(const std::wstring& keyPath, std::wstring& folder) {
    // An empty key path would open HKEY_LOCAL_MACHINE itself.
    if (keyPath.empty() || !win::fitsPath(keyPath))
        return false;
    win::ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.receive()) !=
        ERROR_SUCCESS) {
        return false;
    }
    return win::readStringValue(key.get(), L"InstallDir", win::kMaxPathChars, folder) ==
               ERROR_SUCCESS &&
           !folder.empty();
}

}  // namespace

bool getProductFolder(const Personality& personality, std::wstring& folder) try {
    folder.clear();
    if (installDirOfProduct(toWide(personality.RegistryKey), folder))
        return true;
    wchar_t programFiles[MAX_PATH + 1] = {};
    std::wstring base = SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr,
                                                   SHGFP_TYPE_CURRENT, programFiles))
                            ? std::wstring(programFiles)
                            : std::wstring(kProgramFilesDefault);
    folder = base + L"\\QSX\\" + toWide(personality.ProductName);
    return false;
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return false;
}

bool getProductFolder(std::wstring& folder) {
    return getProductFolder(*GetPersonality(), folder);
}

// Where the library is copied from and to, looked up when the copy is due.
void libraryPaths(const std::wstring& installDir,
                  const Personality& personality,
                  std::wstring& source,
                  std::wstring& destination) {
    std::wstring productFolder;
    getProductFolder(personality, productFolder);
    destination = productFolder + L"\\" + kLibraryName;
    // The product's programs are 32-bit, so on 64-bit Windows they load the 32-bit library of
    // the package.
    source = personality.wow64 ? installDir + L"\\drivers\\qsxfltr\\x86\\Win2K3\\" + kLibraryName
                               : library32Source();
}

FilterDriverPlan filterDriverPlan(const std::wstring& installDir, const Personality& personality) {
    FilterDriverPlan plan;
    const wchar_t* f = installDir.c_str();
    const std::wstring logArgument = win::formatWide(L"\"%s\\qsxfltr.log\"", f);
    const std::wstring driverFolder = win::formatWide(L"%s\\drivers\\qsxfltr", f);
    const wchar_t* arch = personality.wow64 ? L"x64" : L"x86";
    if (newAgentServiceRegistered()) {
        plan.uninstall = win::formatWide(L"\"%s\\IfsInstall\\%s\\%s\" -u qsxfltr %s", f, arch,
                                         kInstallerName, logArgument.c_str());
    }
    plan.install = win::formatWide(L"\"%s\\IfsInstall\\%s\\%s\" -i \"%s\" %s", f, arch,
                                   kInstallerName, driverFolder.c_str(), logArgument.c_str());
    libraryPaths(installDir, personality, plan.librarySource, plan.libraryDestination);
    return plan;
}

void UpdateminiFilterDriver(const std::wstring& installDir, const Personality& personality) try {
    if (gLogger) {
        logMessage(gLogger, LOG_INFO, L"UpdateminiFilterDriver:: Installing QSX IFS Drivers.\n");
        logMessage(gLogger, LOG_INFO, L"User Logged in:  %s\n", userName().c_str());
    }
    const FilterDriverPlan plan = filterDriverPlan(installDir, personality);
    if (!plan.uninstall.empty()) {
        DWORD result = ExecuteCommand(plan.uninstall, installDir);
        if (gLogger) {
            logMessage(gLogger, LOG_INFO,
                       L"UpdateminiFilterDriver:: IFS driver un-install returned %ld\n",
                       static_cast<long>(result));
        }
    }
    DWORD result = ExecuteCommand(plan.install, installDir);
    if (gLogger) {
        logMessage(gLogger, LOG_INFO,
                   L"UpdateminiFilterDriver:: IFS driver installer returned %ld\n",
                   static_cast<long>(result));
    }

    Sleep(kSettleMs);

    std::wstring source;
    std::wstring destination;
    libraryPaths(installDir, personality, source, destination);
    if (personality.wow64) {
        copyLibrary64(source, destination);
    } else {
        copyLibrary32(source, destination);
    }
} catch (...) {
    // The update has no result; the path goes on.
}

void UpdateminiFilterDriver(const std::wstring& installDir) {
    UpdateminiFilterDriver(installDir, *GetPersonality());
}

#include "migration/host_queries.h"

#include <windows.h>

#include "personality/personality_win.h"
#include "win/registry.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

constexpr wchar_t kDesktopKey[] = L"SOFTWARE\\QSX\\Tarvos Desktop";
constexpr wchar_t kServerDefault[] = L"c:\\program files\\qsx\\tarvos server\\";
constexpr wchar_t kDesktopDefault[] = L"c:\\program files\\qsx\\tarvos desktop\\";
constexpr int kServerEdition = 1;

std::wstring gInstallDirCache;

std::wstring currentFolder() {
    wchar_t folder[win::kMaxPathChars + 1] = {};
    DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(win::kMaxPathChars + 1), folder);
    if (n == 0 || n > win::kMaxPathChars)
        return L".";
    return std::wstring(folder, n);
}

}  // namespace

std::wstring lookUpInstallDir(int edition, const std::wstring& serverRegistryKey) {
    if (!gInstallDirCache.empty())
        return gInstallDirCache;

    bool server = edition == kServerEdition;
    std::wstring keyPath = server ? serverRegistryKey : std::wstring(kDesktopKey);
    win::ScopedRegKey key;
    // A key path that does not fit is refused like a key that does not open.
    if (!win::fitsPath(keyPath) || RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ,
                                                 key.receive()) != ERROR_SUCCESS) {
        gInstallDirCache = server ? kServerDefault : kDesktopDefault;
        return gInstallDirCache;
    }
    std::wstring value;
    if (win::readStringValue(key.get(), L"InstallDir", win::kMaxPathChars - 1, value) !=
            ERROR_SUCCESS ||
        value.empty()) {
        // Services must never be registered with a relative command path.
        gInstallDirCache = currentFolder();
        return gInstallDirCache;
    }
    if (value.back() == L'\\')
        value.pop_back();
    gInstallDirCache = value.empty() ? currentFolder() : value;
    return gInstallDirCache;
}

void resetInstallDirCacheForTesting() {
    gInstallDirCache.clear();
}

std::wstring getInstallDir() {
    const Personality* personality = GetPersonality();
    return lookUpInstallDir(personality->edition, toWide(personality->RegistryKey));
}

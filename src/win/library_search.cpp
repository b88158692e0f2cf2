#include "win/library_search.h"

#include "win/strings.h"

namespace win {

bool hardenLibrarySearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = procAddress<SetDefaultDllDirectoriesFn>(
        GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    const bool applicationFolderOut =
        setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
    // Without the call above this still takes the current folder out.
    SetDllDirectoryW(L"");
    return applicationFolderOut;
}

std::wstring systemLibraryPath(const wchar_t* name) {
    wchar_t folder[kMaxPathChars + 1] = {};
    const UINT n = GetSystemDirectoryW(folder, static_cast<UINT>(kMaxPathChars + 1));
    if (n == 0 || n > kMaxPathChars)
        return std::wstring();
    std::wstring path = std::wstring(folder, n) + L"\\" + name;
    return fitsPath(path) ? path : std::wstring();
}

HMODULE loadSystemLibrary(const wchar_t* name) {
    const std::wstring path = systemLibraryPath(name);
    if (path.empty()) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    // The library's own imports: from the system folder alone where the system knows the
    // LOAD_LIBRARY_SEARCH flags (it does when it has SetDefaultDllDirectories), otherwise by the
    // altered search, which starts in the library's folder, the system folder.
    const bool searchFlags =
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories") != nullptr;
    return LoadLibraryExW(
        path.c_str(), nullptr,
        searchFlags ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace win

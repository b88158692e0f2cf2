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
    // Altered search: the library's own imports are looked up in the system folder first.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace win

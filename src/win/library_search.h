// Library loading for a program that runs elevated from a folder ordinary users may write to:
// no library is taken from the program's own folder or the current folder.
#pragma once

#include <windows.h>

#include <string>

namespace win {

// Takes the application folder and the current folder out of the library search of this
// process. Call first thing in wmain, before anything can load a library by name. Uses
// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) where the system has it (looked up at
// run time: Windows 7 and Server 2008 R2 without their 2011 security update lack it) and
// SetDllDirectoryW(L"") in any case. True when the application folder is out of the search too.
bool hardenLibrarySearch();

// "<system folder>\<name>"; empty when the system folder cannot be read or the path does not fit.
std::wstring systemLibraryPath(const wchar_t* name);

// Loads a library that is not on the KnownDLLs list by its full path in the system folder,
// never by a bare name; its own imports are looked up beside it. Null on failure (GetLastError
// tells why). The caller frees it (ScopedLibrary).
HMODULE loadSystemLibrary(const wchar_t* name);

// GetProcAddress typed for the caller: `auto f = procAddress<BOOL(WINAPI*)(DWORD)>(m, "F")`.
template <typename Fn>
Fn procAddress(HMODULE module, const char* name) {
    if (module == nullptr)
        return nullptr;
    // Through the generic function type, which the compiler accepts as a cast source.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace win

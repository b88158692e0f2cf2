// Shortcut maker: writes one ".lnk" file for a target file through the shell's link object.
// Nothing is logged here; the HRESULT is the only report.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The answer for a link path or target path that would not fit the 260-character path buffers.
// Such a path is refused before anything is written, so no shortcut is made for a cut path.
constexpr HRESULT kShortcutPathTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

// Writes the shortcut at linkPath for targetFolder "\" targetFileName. A file name that begins
// with "glacis" (any letter case) gets the argument "-closed" and icon 30, any other none and
// icon 0; the description is the file name. Initialises COM (single-threaded apartment) on the
// first call of the process and never uninitialises it.
HRESULT createShortcut(const std::wstring& linkPath,
                       const std::wstring& targetFolder,
                       const std::wstring& targetFileName);

// Writes the shortcut at linkPath, replacing an existing file. The target is expanded to a full
// path (E_FAIL when that fails), which is also the icon file; the working folder is the folder
// of the full target. arguments may be null (none are set). Expects COM to be initialised.
HRESULT createLink(const std::wstring& linkPath,
                   const std::wstring& targetPath,
                   const std::wstring& description,
                   const wchar_t* arguments,
                   int32_t iconIndex);

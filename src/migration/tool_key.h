// The tool's own registry key, HKLM\SOFTWARE\QSX\Relocator in the 32-bit view on every
// Windows: its keys made with the tool's access rules (SYSTEM and administrators full access,
// users read), values written and flushed to disk, and read back. The records of run_record.h
// are kept with it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "win/scoped.h"

constexpr wchar_t kToolKey[] = L"SOFTWARE\\QSX\\Relocator";

namespace toolkey {

// The 32-bit view on every Windows, whichever program reads or writes it.
constexpr REGSAM kView = KEY_WOW64_32KEY;

// Creates (or opens) a key of the tool and gives it the tool's access rules, whoever made it.
DWORD createKey(const wchar_t* path, win::ScopedRegKey& key, DWORD options = 0);
DWORD setText(HKEY key, const wchar_t* name, const std::wstring& value);
DWORD setNumber(HKEY key, const wchar_t* name, DWORD value);
// A DWORD value; ERROR_INVALID_DATA for a value of another type or size.
DWORD readNumber(HKEY key, const wchar_t* name, DWORD& value);
// A text value of at most 64 characters; a missing or unreadable one reads as empty.
std::wstring readText(HKEY key, const wchar_t* name);
// Deletes a subkey of the tool's key, flushed to disk.
DWORD removeToolSubkey(const wchar_t* name);
// Whether a key of the tool is there (access refused counts as there).
bool keyOpens(const wchar_t* path);

// Makes the tool's key and the record's subkey, has the values written, and flushes them to
// disk: a record must outlive a loss of power right after the step it announces.
DWORD writeRecord(const wchar_t* path, const std::function<DWORD(HKEY)>& writeValues);
// Opens a record's key and has its values read; ERROR_FILE_NOT_FOUND when there is none.
DWORD readRecord(const wchar_t* path, const std::function<void(HKEY)>& readValues);

template <size_t N>
DWORD firstFailure(const DWORD (&results)[N]) {
    for (DWORD result : results) {
        if (result != ERROR_SUCCESS)
            return result;
    }
    return ERROR_SUCCESS;
}

}  // namespace toolkey

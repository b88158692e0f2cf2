// Registry reads under HKEY_LOCAL_MACHINE with the rules the tool relies on.
#pragma once

#include <windows.h>

#include <string>

namespace win {

// A key counts as present when it opens for reading or opening it is refused (access denied).
bool keyPresent(HKEY root, const wchar_t* subKey);

// Reads a value of any type as text of at most maxChars characters. The result is always
// terminated, even when the stored value is not; a value that does not fit is refused with
// ERROR_MORE_DATA rather than cut. Returns the Win32 code (0 on success).
LONG readStringValue(HKEY key, const wchar_t* name, size_t maxChars, std::wstring& value);

}  // namespace win

// The system's message text for a Win32 error code, as the log lines show it.
#pragma once

#include <windows.h>

// The system's message text for a Win32 code, without its trailing line break, or the code in
// decimal. Both return a process-wide buffer that the next call overwrites.
const wchar_t* errorText(DWORD code);
const char* errorTextUtf8(DWORD code);

// Windows side of the product personality: where "personality.ini" is found, the load that
// GetPersonality runs once per process, and the WOW64 query. The steps are declared here so
// that tests can run them on a Personality of their own, as often as they like.
#pragma once

#include <windows.h>

#include <string>

#include "personality/personality.h"

// The name of the personality file, looked for in the current folder first.
constexpr wchar_t kPersonalityFileName[] = L"personality.ini";
// The agent's key under HKEY_LOCAL_MACHINE whose "InstallDir" names the folder of the file.
constexpr wchar_t kHostAgentKey[] = L"SOFTWARE\\QSX\\HostAgent";

// The path of the personality file: the bare name when the file opens in the current folder,
// otherwise "<InstallDir>\personality.ini" from kHostAgentKey. False (path empty) when neither
// is there: the key does not open, the value is missing, empty or longer than 260 characters,
// or the joined path is longer than 260 characters. A trailing backslash of the value stays.
bool locatePersonalityFile(std::wstring& path);

// The whole load on a freshly made Personality: locate, read through CCryptFileHelper, fill
// the fields, and work out wow64 whether or not the file could be read. A file that cannot be
// located or read sets loadFailed and leaves every other field at its initial value. Never
// throws, never ends the process.
void loadPersonality(Personality& personality);

// The WOW64 query as the load makes it, with the query function and the debugger output given:
// query null means the system has no IsWow64Process. Writes the debugger texts, sets wow64 to
// 1 for a 64-bit system and 0 for a 32-bit one; a failed query leaves wow64 as it was. An
// answer other than 0 or 1 is logged to the debugger as an error condition and counts as
// 64-bit.
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using DebugOutputFn = void(WINAPI*)(LPCWSTR);
void isWow64With(Personality& personality, IsWow64ProcessFn query, DebugOutputFn debugOutput);

// Wide copies of the personality's texts, for the Windows calls.
inline std::wstring toWide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}
inline std::u16string toU16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}

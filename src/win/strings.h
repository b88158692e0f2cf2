// Path limits and small string helpers shared by the subsystems.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

namespace win {

// Characters a path may hold, without the terminator.
constexpr size_t kMaxPathChars = 260;
constexpr DWORD kPathTooLong = ERROR_FILENAME_EXCED_RANGE;  // 206

inline bool fitsPath(const std::wstring& path) {
    return path.size() <= kMaxPathChars;
}

// A FILETIME as one number of 100 ns ticks, for comparing and storing times.
inline unsigned long long fileTimeNumber(const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Formats with the Microsoft CRT's rules (%s wide, %S narrow) at whatever length the text
// needs. Empty on a formatting failure.
std::wstring formatWide(const wchar_t* format, ...);
std::wstring formatWideV(const wchar_t* format, va_list args);

// Bounded formatting into a fixed buffer: always terminated, false when the text was cut.
bool formatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);

std::string toNarrowUtf8(const std::wstring& text);

// A narrow copy for a "%S" placeholder of a log format. The CRT widens each byte of a %S
// argument to the same code in the C locale, so characters up to U+00FF come back as they were;
// others show as '?'.
std::string narrowForLog(const std::wstring& text);

// The folder of this program's own executable, without a trailing backslash (a drive root
// keeps its own); false when the path cannot be had whole.
bool moduleFolder(std::wstring& folder);

}  // namespace win

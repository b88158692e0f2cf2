#include "win/strings.h"

#include <cstdio>
#include <vector>

namespace win {

std::wstring formatWideV(const wchar_t* format, va_list args) {
    va_list probe;
    va_copy(probe, args);
    int needed = _vscwprintf(format, probe);
    va_end(probe);
    if (needed < 0)
        return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(needed) + 1);
    int written = _vsnwprintf(buffer.data(), buffer.size(), format, args);
    if (written < 0)
        return std::wstring();
    return std::wstring(buffer.data(), static_cast<size_t>(written));
}

std::wstring formatWide(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = formatWideV(format, args);
    va_end(args);
    return text;
}

bool formatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) {
    if (capacity == 0)
        return false;
    va_list args;
    va_start(args, format);
    int written = _vsnwprintf(buffer, capacity, format, args);
    va_end(args);
    // The Microsoft CRT writes no terminator when it cuts.
    buffer[capacity - 1] = L'\0';
    return written >= 0 && static_cast<size_t>(written) < capacity;
}

std::string toNarrowUtf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

std::string narrowForLog(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t c : text)
        narrow.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    return narrow;
}

bool moduleFolder(std::wstring& folder) {
    folder.clear();
    wchar_t path[kMaxPathChars + 1] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(kMaxPathChars + 1));
    // A result that fills the buffer was cut: refuse it rather than use a different path.
    if (n == 0 || n > kMaxPathChars)
        return false;
    std::wstring full(path, n);
    // As PathRemoveFileSpecW: the last component goes, a drive root keeps its backslash.
    size_t slash = full.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return true;
    bool driveRoot = slash == 2 && full[1] == L':';
    folder = full.substr(0, driveRoot ? slash + 1 : slash);
    return true;
}

}  // namespace win

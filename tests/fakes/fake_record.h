// Shared by the fakes: where a fake records its starts and how it learns what to do.
// Beside "X.exe": "X.exe.mode" chooses the behaviour, "X.exe.runs" receives one line per
// start: the raw command line, a tab, the current folder.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace fake {

inline std::wstring selfPath() {
    wchar_t path[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return path;
}

inline std::string utf8(const std::wstring& w) {
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

inline void recordStart() {
    wchar_t cwd[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(MAX_PATH * 4, cwd);
    std::string line = utf8(GetCommandLineW()) + "\t" + utf8(cwd) + "\n";
    FILE* f = _wfopen((selfPath() + L".runs").c_str(), L"ab");
    if (f) {
        fwrite(line.data(), 1, line.size(), f);
        fclose(f);
    }
}

// First word of the mode file (or defaultMode), and the number after it (or 0).
inline std::string readMode(const char* defaultMode, int& code) {
    code = 0;
    char word[64] = {};
    FILE* f = _wfopen((selfPath() + L".mode").c_str(), L"rb");
    if (!f)
        return defaultMode;
    int fields = fscanf(f, "%63s %d", word, &code);
    fclose(f);
    if (fields < 1)
        return defaultMode;
    return word;
}

}  // namespace fake

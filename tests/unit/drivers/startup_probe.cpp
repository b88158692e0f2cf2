// Records how it was started: the start-up flags, the show state and how many processes share
// its console, into "<its own path>.startup".
#include <windows.h>

#include <cstdio>

int wmain() {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    DWORD processes[8] = {};
    DWORD sharing = GetConsoleProcessList(processes, 8);
    wchar_t self[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    wcscat(self, L".startup");
    FILE* f = _wfopen(self, L"wb");
    if (!f)
        return 1;
    fprintf(f, "flags=%lu show=%u console=%lu", static_cast<unsigned long>(startup.dwFlags),
            static_cast<unsigned>(startup.wShowWindow), static_cast<unsigned long>(sharing));
    fclose(f);
    return 0;
}

// Stands in for a library planted by an ordinary user in a folder the tool searches: whenever a
// process loads it, it appends "<its own path>\t<the program's path>" to "<its own path>.loaded".
// It exports nothing, so a program that imports from it fails to start (which tests see too).
#include <windows.h>

namespace {

// Kernel32 only: the loader lock is held while this runs.
void recordLoad(HINSTANCE self) {
    wchar_t dll[MAX_PATH * 2] = {};
    wchar_t exe[MAX_PATH * 2] = {};
    GetModuleFileNameW(self, dll, MAX_PATH * 2 - 8);
    GetModuleFileNameW(nullptr, exe, MAX_PATH * 2 - 1);
    wchar_t record[MAX_PATH * 2] = {};
    lstrcpyW(record, dll);
    lstrcatW(record, L".loaded");
    HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char line[MAX_PATH * 12] = {};
    int n = WideCharToMultiByte(CP_UTF8, 0, dll, -1, line, sizeof(line) / 2, nullptr, nullptr);
    if (n > 0) {
        line[n - 1] = '\t';
        int m = WideCharToMultiByte(CP_UTF8, 0, exe, -1, line + n, sizeof(line) - n - 2, nullptr,
                                    nullptr);
        if (m > 0) {
            line[n + m - 1] = '\n';
            DWORD written = 0;
            WriteFile(file, line, static_cast<DWORD>(n + m), &written, nullptr);
        }
    }
    CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        recordLoad(self);
    return TRUE;
}

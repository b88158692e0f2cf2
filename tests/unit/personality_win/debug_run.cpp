#include "debug_run.h"

namespace ptest {

namespace {

std::wstring readDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    if (info.nDebugStringLength == 0)
        return std::wstring();
    if (info.fUnicode) {
        std::wstring text(info.nDebugStringLength, L'\0');
        SIZE_T got = 0;
        ReadProcessMemory(process, info.lpDebugStringData, &text[0],
                          info.nDebugStringLength * sizeof(wchar_t), &got);
        text.resize(got / sizeof(wchar_t));
        return text.substr(0, text.find(L'\0'));
    }
    std::string text(info.nDebugStringLength, '\0');
    SIZE_T got = 0;
    ReadProcessMemory(process, info.lpDebugStringData, &text[0], info.nDebugStringLength, &got);
    text.resize(got);
    text = text.substr(0, text.find('\0'));
    // The texts under test are ASCII.
    return std::wstring(text.begin(), text.end());
}

}  // namespace

DebugRun runUnderDebugger(const std::wstring& commandLine,
                          const std::wstring& currentFolder,
                          DWORD timeoutMs) {
    DebugRun run;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = commandLine;
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE,
                        DEBUG_ONLY_THIS_PROCESS | CREATE_NO_WINDOW, nullptr, currentFolder.c_str(),
                        &startup, &pi)) {
        return run;
    }
    run.started = true;
    DWORD start = GetTickCount();
    for (;;) {
        DEBUG_EVENT event = {};
        if (!WaitForDebugEvent(&event, 1000)) {
            if (GetTickCount() - start > timeoutMs) {
                TerminateProcess(pi.hProcess, 99);
                run.exitCode = 99;
                break;
            }
            continue;
        }
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
            case CREATE_PROCESS_DEBUG_EVENT:
                if (event.u.CreateProcessInfo.hFile)
                    CloseHandle(event.u.CreateProcessInfo.hFile);
                break;
            case LOAD_DLL_DEBUG_EVENT:
                if (event.u.LoadDll.hFile)
                    CloseHandle(event.u.LoadDll.hFile);
                break;
            case OUTPUT_DEBUG_STRING_EVENT:
                run.debugStrings.push_back(readDebugString(pi.hProcess, event.u.DebugString));
                break;
            case EXCEPTION_DEBUG_EVENT:
                // The first breakpoint is the loader's; any other exception is the program's.
                if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                    status = DBG_EXCEPTION_NOT_HANDLED;
                }
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                run.exitCode = event.u.ExitProcess.dwExitCode;
                break;
            default:
                break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
            break;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

}  // namespace ptest

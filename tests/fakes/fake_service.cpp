// Stands in for the agents' programs ("glacisd.exe", "thService.exe", "Rampart.exe",
// "hotmend.exe"). Mode file words:
//   service [N]  run as a service until stopped; run directly, exit with N (default)
//   hang         never answer the service control manager (sleep until killed)
//   hangonce     hang on the first start (leaves "X.exe.hung"), run as a service afterwards
//   pending      answer the service control manager, then stay start-pending until killed
//   exit N       exit at once with N
//   wait [N]     wait until "X.exe.release" exists, then exit with N
//   sleep N      sleep N seconds, then exit with 0 (an installer that takes its time)
//   resident     start a copy of itself that hangs, handing it every inheritable handle (as a
//                program that leaves a helper running does), then exit with 0
// "--mode=WORD[:N]" on the command line overrides the file.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "fake_record.h"

namespace {

SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
bool gPending = false;

void report(DWORD state) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(gStatusHandle, &status);
}

DWORD WINAPI handler(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        // Reporting STOPPED is the last act: the executable must not be busy afterwards.
        report(SERVICE_STOPPED);
        ExitProcess(0);
    }
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, wchar_t**) {
    gStatusHandle = RegisterServiceCtrlHandlerExW(L"", handler, nullptr);
    if (!gStatusHandle)
        return;
    if (gPending) {
        // A hung start: it never gets further, and accepts no stop.
        SERVICE_STATUS status = {};
        status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        status.dwCurrentState = SERVICE_START_PENDING;
        status.dwWaitHint = 5000;
        for (;;) {
            ++status.dwCheckPoint;
            SetServiceStatus(gStatusHandle, &status);
            Sleep(1000);
        }
    }
    report(SERVICE_RUNNING);
    Sleep(INFINITE);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    fake::recordStart();
    int code = 0;
    std::string mode = fake::readMode("service", code);
    for (int i = 1; i < argc; ++i) {
        if (wcsncmp(argv[i], L"--mode=", 7) == 0) {
            std::string arg = fake::utf8(argv[i] + 7);
            size_t colon = arg.find(':');
            mode = arg.substr(0, colon);
            code = colon == std::string::npos ? 0 : atoi(arg.c_str() + colon + 1);
        }
    }
    if (mode == "hangonce") {
        std::wstring marker = fake::selfPath() + L".hung";
        if (GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES) {
            FILE* f = _wfopen(marker.c_str(), L"wb");
            if (f)
                fclose(f);
            mode = "hang";
        }
    }
    if (mode == "hang") {
        Sleep(INFINITE);
    }
    if (mode == "sleep") {
        Sleep(static_cast<DWORD>(code) * 1000);
        return 0;
    }
    if (mode == "wait") {
        const std::wstring release = fake::selfPath() + L".release";
        while (GetFileAttributesW(release.c_str()) == INVALID_FILE_ATTRIBUTES)
            Sleep(50);
        return code;
    }
    if (mode == "resident") {
        std::wstring command = L"\"" + fake::selfPath() + L"\" --mode=hang";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION child = {};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                            &startup, &child)) {
            return 1;
        }
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
        return 0;
    }
    if (mode == "exit")
        return code;
    gPending = mode == "pending";
    wchar_t name[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table))
        return code;
    return 0;
}

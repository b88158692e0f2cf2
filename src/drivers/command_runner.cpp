#include "drivers/command_runner.h"

#include <vector>

#include "logging/logger.h"
#include "win/scoped.h"
#include "win/strings.h"

DWORD ExecuteCommand(const std::wstring& commandLine, const std::wstring& currentFolder) try {
    if (gLogger)
        logMessage(gLogger, LOG_INFO, L"ExecuteCommand: %s \n", commandLine.c_str());

    if (commandLine.size() + 1 > kMaxCommandLineChars) {
        // The system would refuse it too; say why and run nothing rather than a cut command.
        if (gLogger) {
            logMessage(gLogger, LOG_ERROR,
                       L"ExecuteCommand: ERROR:: Command line of %u characters is longer than "
                       L"%u, not run\n",
                       static_cast<unsigned>(commandLine.size()),
                       static_cast<unsigned>(kMaxCommandLineChars - 1));
        }
        return ERROR_FILENAME_EXCED_RANGE;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};

    // The system may write into the command line while it starts the process.
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');

    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                        nullptr, currentFolder.c_str(), &startup, &process)) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && gLogger) {
            logMessage(gLogger, LOG_ERROR,
                       L"ExecuteCommand: ERROR:: Failed to create process :: %S \n",
                       win::narrowForLog(commandLine).c_str());
        }
        return error;
    }
    win::ScopedHandle processHandle(process.hProcess);
    win::ScopedHandle threadHandle(process.hThread);

    WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(processHandle.get(), &exitCode))
        exitCode = GetLastError();
    return exitCode;
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

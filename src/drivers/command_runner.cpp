#include "drivers/command_runner.h"

#include "logging/logger.h"
#include "win/child_process.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

std::function<void(HANDLE, const std::wstring&)>& childStartedObserver() {
    static std::function<void(HANDLE, const std::wstring&)> observer;
    return observer;
}

}  // namespace

void setChildStartedObserver(std::function<void(HANDLE, const std::wstring&)> observer) {
    childStartedObserver() = std::move(observer);
}

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

    win::ChildOptions options;
    options.currentFolder = currentFolder.c_str();
    options.creationFlags = CREATE_NEW_CONSOLE;
    options.hidden = true;
    win::ScopedHandle processHandle;
    DWORD error = win::startChild(commandLine, options, processHandle);
    if (error != ERROR_SUCCESS) {
        if (error != ERROR_FILE_NOT_FOUND && gLogger) {
            logMessage(gLogger, LOG_ERROR,
                       L"ExecuteCommand: ERROR:: Failed to create process :: %S \n",
                       win::narrowForLog(commandLine).c_str());
        }
        return error;
    }

    if (childStartedObserver())
        childStartedObserver()(processHandle.get(), commandLine);
    WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(processHandle.get(), &exitCode))
        exitCode = GetLastError();
    return exitCode;
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return ERROR_NOT_ENOUGH_MEMORY;
}

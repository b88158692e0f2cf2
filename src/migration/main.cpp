// Relocator: moves a host from the Glacis agent to the Tarvos agent, restarts an installed
// Tarvos agent, or starts Glacis again when the upgrade cannot be done.
#include <windows.h>

#include "logging/logger.h"
#include "migration/host_queries.h"
#include "migration/paths.h"
#include "win/file_exists.h"
#include "win/library_search.h"
#include "win/registry.h"
#include "win/strings.h"

namespace {

std::wstring logFilePath() {
    wchar_t windows[win::kMaxPathChars + 1] = {};
    UINT n = GetWindowsDirectoryW(windows, static_cast<UINT>(win::kMaxPathChars + 1));
    if (n == 0 || n > win::kMaxPathChars)
        return std::wstring();
    return std::wstring(windows, n) + L"\\Relocator.log";
}

DWORD run(int argc) {
    RunContext context;
    buildRunContext(context, getInstallDir());

    context.logPath = logFilePath();
    if (!context.logPath.empty() && fileExists(context.logPath)) {
        DeleteFileW(context.logPath.c_str());
    }
    gLogger = THSingletonLogger::instance(context.logPath.c_str(), LOG_ERROR | LOG_WARN | LOG_INFO,
                                          LOG_FILE);
    logMessage(gLogger, LOG_INFO, L"starting Logging Now\n ");

    bool tarvosKey = win::keyPresent(HKEY_LOCAL_MACHINE, kTarvosServiceKey);
    switch (choosePath(tarvosKey, fileExists(context.tarvosExecutable), argc)) {
        case RunPath::Restart:
            context.exitCode = RestartPath(context);
            break;
        case RunPath::Migration:
            context.exitCode = MigrationPath(context);
            break;
        case RunPath::Fallback:
            context.exitCode = FallbackPath(context);
            break;
    }
    endRun(context);
    return context.exitCode;
}

}  // namespace

int wmain(int argc, wchar_t** /*argv*/, wchar_t** /*envp*/) {
    // Before anything can load a library: the tool runs elevated, often from a folder that
    // ordinary users can write to, and must not pick up a library planted there.
    win::hardenLibrarySearch();
    try {
        return static_cast<int>(run(argc));
    } catch (...) {
        // Nothing may escape; an unexpected failure must not read as success.
        return 574;  // ERROR_UNHANDLED_EXCEPTION
    }
}

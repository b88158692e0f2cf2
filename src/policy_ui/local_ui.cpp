#include "policy_ui/local_ui.h"

#include <windows.h>

#include <shlobj.h>

#include <cwchar>

#include "logging/logger.h"
#include "win/error_text.h"
#include "policy_ui/shortcut.h"
#include "win/strings.h"

namespace {

constexpr wchar_t kUiProgram[] = L"glacis.exe";
constexpr wchar_t kReadme[] = L"readme.htm";
constexpr wchar_t kCompanyFolder[] = L"\\QSX\\";
// Fixed product words: the menu does not change with the installed edition.
constexpr wchar_t kProductName[] = L"Tarvos Server";
constexpr wchar_t kAgentLinkSuffix[] = L" Agent.lnk";
constexpr wchar_t kReadmeLink[] = L"Tarvos Readme.lnk";
// What the shell writes a folder path into before it is copied out.
constexpr size_t kShellPathChars = 1024;

template <typename... Args>
void logLine(int32_t level, const wchar_t* format, Args... args) {
    if (gLogger != nullptr)
        logMessage(gLogger, level, format, args...);
}

bool shellFolder(int csidl, const wchar_t* failureText, std::wstring& dir) {
    wchar_t path[kShellPathChars] = {};
    HRESULT hr = SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    path[kShellPathChars - 1] = L'\0';
    size_t length = wcslen(path);
    // A folder that would not fit the callers' path buffers is refused rather than cut.
    if (FAILED(hr) || length > win::kMaxPathChars) {
        logLine(LOG_ERROR, failureText);
        return false;
    }
    dir.assign(path, length);
    return true;
}

// The Startup folder and, only when that was obtained, the Programs folder; false when either
// is missing, after logging which.
bool shellFolders(std::wstring& startup, std::wstring& programs) {
    if (RegCntrl::getStartupDir(startup))
        RegCntrl::getStartMenuDir(programs);
    if (startup.empty())
        logLine(LOG_ERROR, L"installUI(): getStartupDir() failed\n");
    if (programs.empty())
        logLine(LOG_ERROR, L"installUI(): getStartMenuDir() failed\n");
    return !startup.empty() && !programs.empty();
}

struct ShortcutPaths {
    std::wstring menuFolder;
    std::wstring menuAgentLink;
    std::wstring startupAgentLink;
    std::wstring readmeLink;
};

ShortcutPaths shortcutPaths(const std::wstring& startup, const std::wstring& programs) {
    ShortcutPaths p;
    p.menuFolder = programs + kCompanyFolder + kProductName;
    p.menuAgentLink = p.menuFolder + L"\\" + kProductName + kAgentLinkSuffix;
    p.startupAgentLink = startup + L"\\" + kProductName + kAgentLinkSuffix;
    p.readmeLink = p.menuFolder + L"\\" + kReadmeLink;
    return p;
}

// Creates the menu folder with its parents; only the codes that say it could not be made are
// logged, and the caller goes on either way.
void createMenuFolder(const std::wstring& folder) {
    int result = win::fitsPath(folder) ? SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr)
                                       : ERROR_FILENAME_EXCED_RANGE;
    switch (result) {
        case ERROR_CANCELLED:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
            logLine(LOG_ERROR, L"FileCntrl.CreateDir() failed on directory %S.  Error: (%d) %s\n",
                    win::narrowForLog(folder).c_str(), result,
                    errorText(static_cast<DWORD>(result)));
            break;
        default:
            break;
    }
}

DWORD copyProgram(const std::wstring& source, const std::wstring& destination) {
    if (!win::fitsPath(source) || !win::fitsPath(destination))
        return ERROR_FILENAME_EXCED_RANGE;
    return CopyFileW(source.c_str(), destination.c_str(), FALSE) ? ERROR_SUCCESS : GetLastError();
}

DWORD deleteFile(const std::wstring& path) {
    if (!win::fitsPath(path))
        return ERROR_FILENAME_EXCED_RANGE;
    return DeleteFileW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace

namespace RegCntrl {

bool getStartupDir(std::wstring& dir) {
    return shellFolder(CSIDL_COMMON_STARTUP,
                       L"RegCntrl.getStartupDir(): Can't get 'Common Startup' value.\n", dir);
}

bool getStartMenuDir(std::wstring& dir) {
    return shellFolder(CSIDL_COMMON_PROGRAMS,
                       L"RegCntrl.getStartupDir(): Can't get 'Common Programs' value.\n", dir);
}

}  // namespace RegCntrl

bool isDirectory(const std::wstring& path) {
    if (!win::fitsPath(path))
        return false;
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool installUI(const std::wstring& installDir, const std::wstring& programFolder) try {
    std::wstring source = programFolder + L"\\" + kUiProgram;
    std::wstring destination = installDir + L"\\" + kUiProgram;
    logLine(LOG_INFO, L"Copying file %s to %s\n", source.c_str(), destination.c_str());
    DWORD error = copyProgram(source, destination);
    if (error != ERROR_SUCCESS) {
        logLine(LOG_ERROR, L"File can't  be copied with errcode : %d\n", static_cast<int>(error));
        return false;
    }

    std::wstring startup;
    std::wstring programs;
    if (!shellFolders(startup, programs))
        return true;
    ShortcutPaths paths = shortcutPaths(startup, programs);

    createMenuFolder(paths.menuFolder);
    if (!isDirectory(paths.menuFolder)) {
        logLine(LOG_ERROR, L"%s not found. Shortcut cant be created", paths.menuFolder.c_str());
        return true;
    }

    // A shortcut that cannot be written leaves the program usable; nothing more to do about it.
    createShortcut(paths.menuAgentLink, installDir, kUiProgram);
    createShortcut(paths.startupAgentLink, installDir, kUiProgram);
    createShortcut(paths.readmeLink, installDir, kReadme);
    return true;
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return false;
}

void removeUiShortcuts() try {
    std::wstring startup;
    std::wstring programs;
    if (!shellFolders(startup, programs))
        return;
    ShortcutPaths paths = shortcutPaths(startup, programs);

    if (!isDirectory(paths.menuFolder)) {
        logLine(LOG_ERROR, L"%s not found. Shortcut cant be deleted\n", paths.menuFolder.c_str());
        return;
    }
    // Shortcuts already gone or not deletable are of no consequence to the caller.
    deleteFile(paths.menuAgentLink);
    deleteFile(paths.startupAgentLink);
    deleteFile(paths.readmeLink);
} catch (...) {
    // Out of memory: the shortcuts stay; nothing may escape to the caller.
}

int uiShortcutsPresent() try {
    wchar_t startup[kShellPathChars] = {};
    wchar_t programs[kShellPathChars] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_STARTUP, nullptr, SHGFP_TYPE_CURRENT,
                                startup)) ||
        FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT,
                                programs))) {
        return -1;
    }
    startup[kShellPathChars - 1] = L'\0';
    programs[kShellPathChars - 1] = L'\0';
    const ShortcutPaths paths = shortcutPaths(startup, programs);
    int count = 0;
    for (const std::wstring* link : {&paths.menuAgentLink, &paths.startupAgentLink, &paths.readmeLink}) {
        if (win::fitsPath(*link) && GetFileAttributesW(link->c_str()) != INVALID_FILE_ATTRIBUTES)
            ++count;
    }
    return count;
} catch (...) {
    // Out of memory: not known.
    return -1;
}

bool removeUI(const std::wstring& installDir) try {
    std::wstring program = installDir + L"\\" + kUiProgram;
    logLine(LOG_INFO, L"Deleting file %s \n", program.c_str());
    DWORD error = deleteFile(program);
    if (error != ERROR_SUCCESS) {
        logLine(LOG_ERROR, L"File can't  be deleted with errcode : %d\n", static_cast<int>(error));
        return false;
    }

    removeUiShortcuts();
    return true;
} catch (...) {
    // Out of memory: report it as this operation's failure; nothing may escape to the caller.
    return false;
}

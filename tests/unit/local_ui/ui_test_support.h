// Helpers for the local UI tests: reading shortcuts back through the shell, Unix symbolic links
// inside the Wine prefix, and a test log that gLogger points at.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "logging/logger.h"

namespace uitest {

// What a shortcut file holds, as IShellLinkW reports it after IPersistFile::Load.
struct LinkInfo {
    HRESULT loaded = E_FAIL;
    std::wstring path;
    std::wstring arguments;
    std::wstring iconPath;
    int iconIndex = -1;
    std::wstring workingFolder;
    std::wstring description;
};
// Uses the COM apartment that the product initialised on this thread.
LinkInfo loadLink(const std::wstring& linkPath);

// Makes linkPath a Unix symbolic link to the folder target, both inside the prefix. Wine cannot
// make a junction; its CreateSymbolicLinkW reports success and makes nothing, so the link is
// made by /bin/ln. False when it did not appear.
bool makeUnixSymlink(const std::wstring& linkPath, const std::wstring& target);
// Removes such a link with /bin/rm (nothing to do when the path is no link). Windows calls must
// not be used: on Wine, RemoveDirectoryW on the link removes the folder it points to and leaves
// the link.
bool removeUnixSymlink(const std::wstring& linkPath);

// A log file for one test, with gLogger pointing at it until close() or destruction.
class TestLog {
  public:
    explicit TestLog(const std::wstring& path);
    ~TestLog();
    TestLog(const TestLog&) = delete;
    TestLog& operator=(const TestLog&) = delete;
    // Closes the file and detaches gLogger; returns the records "LEVEL: message".
    std::vector<std::string> records();

  private:
    std::wstring path_;
    THLogger logger_;
};

std::string narrow(const std::wstring& text);  // UTF-8

}  // namespace uitest

// Test-side helpers that set up a simulated host on Wine and read it back afterwards:
// registry, services, files, fakes, running Relocator.exe and reading its log.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace host {

// The build's bin folder (RELOCATOR_BIN, a Unix path) as a Windows path.
std::wstring binDir();
std::wstring toWindowsPath(const std::string& unixPath);

// Files
bool writeFile(const std::wstring& path, const std::string& bytes);
std::string readFile(const std::wstring& path);  // empty when missing
bool exists(const std::wstring& path);
void removeTree(const std::wstring& path);
void makeDirs(const std::wstring& path);
std::wstring freshFolder(const std::wstring& path);  // removed and made again

// Fakes: copies bin\<fake> to dest and writes its mode file (empty mode: none).
void installFake(const std::wstring& fake, const std::wstring& dest, const std::string& mode = "");
void setMode(const std::wstring& exe, const std::string& mode);
// The starts the fake recorded: one entry per start, "command line\tcurrent folder".
std::vector<std::string> runsOf(const std::wstring& exe);
// Waits (bounded) until the fake has recorded at least `count` whole starts; a started process
// has then reached its main function and shows in the process list.
bool waitForRuns(const std::wstring& exe, size_t count, DWORD timeoutMs = 30000);

// Registry (the 32-bit view, which the tool reads)
void setString(const std::wstring& key, const std::wstring& name, const std::wstring& value);
void deleteKey(const std::wstring& key);

// Services
struct ServiceInfo {
    bool exists = false;
    std::wstring binaryPath;
    DWORD serviceType = 0;
    DWORD startType = 0;
    DWORD state = 0;  // SERVICE_STOPPED etc.; 0 when unknown
};
ServiceInfo queryService(const std::wstring& name);
DWORD createService(const std::wstring& name,
                    const std::wstring& command,
                    DWORD startType = SERVICE_DEMAND_START,
                    DWORD type = SERVICE_WIN32_OWN_PROCESS);
DWORD startService(const std::wstring& name);
// Stops (if running), deletes and waits until the service is gone.
void removeService(const std::wstring& name);
bool waitForState(const std::wstring& name, DWORD state, DWORD timeoutMs);

// Processes
struct RunResult {
    DWORD exitCode = 0;
    std::string output;  // standard output and error
};
RunResult run(const std::wstring& commandLine, const std::wstring& currentFolder);
// Runs a program as a deployment job does, reading a pipe for its standard output and error,
// for at most timeoutMs: `ended` tells whether it ended in time (it is killed otherwise),
// `endOfOutput` whether every holder of the pipe's writing end had closed it by then.
struct BoundedRun : RunResult {
    bool ended = false;
    bool endOfOutput = false;
};
BoundedRun runWithin(const std::wstring& commandLine,
                     const std::wstring& currentFolder,
                     DWORD timeoutMs);
// Starts a program without waiting; returns its process handle (caller closes).
HANDLE spawn(const std::wstring& commandLine, const std::wstring& currentFolder);
void killByName(const std::wstring& exeName);

// What a run may change on the host, as text: the registry under HKLM\SOFTWARE\QSX (32-bit
// view: the tool's and the product's keys) and the services' keys, every service's state, and the
// files (name, size, time) of the given folders, those ending in "\*" without their subfolders.
std::string hostSnapshot(const std::vector<std::wstring>& folders);

// Log: records after the header block as "LEVEL: message", CR LF turned into LF.
std::vector<std::string> logRecords(const std::wstring& logPath);
std::wstring windowsDir();
std::wstring logPath();  // <Windows>\Relocator.log
std::wstring userName();

}  // namespace host

// Service control for the migration: deleting, registering and starting the agents' services
// and running the application-protection program. Every operation opens and closes its own
// handles and returns a Win32 code (0 = success); none of them logs.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

class StartStop {
  public:
    // Records the current folder (slashes turned into backslashes) and makes it current again.
    StartStop();

    // Deletes "Glacis" without stopping it and waits up to a minute for it to disappear.
    // 1072 when it is still registered afterwards (it runs, so it was only marked).
    DWORD deleteGlacisd();
    // Stops a service, deletes it and waits up to a minute for it to disappear (1072 if not).
    DWORD removeService(const wchar_t* name);
    // Registers a demand-start service unless one of that name exists; an existing one marked
    // for deletion gives 1072, any other existing one is kept unchanged and gives 0.
    DWORD addService(const wchar_t* executable, const wchar_t* name, const wchar_t* displayName);
    // Registers the new agent's service "KLOTarvos" (automatic start, interactive).
    DWORD addService(const wchar_t* executable);
    // Asks the service control manager to start a service; does not wait for it to run.
    DWORD startSingleService(const wchar_t* name);
    // The service's current state (SERVICE_RUNNING ...), 0 when it cannot be queried.
    DWORD serviceState(const wchar_t* name) const;
    // Waits, at most 30 s, while the service is start-pending: a start the service control
    // manager accepted says nothing yet about whether the service comes up. Returns the state
    // it was last seen in, 0 when it cannot be queried.
    DWORD waitWhileStartPending(const wchar_t* name) const;
    // The id of the service's process as the service control manager reports it; 0 when it
    // reports none (stopped, or a program that never connected) or cannot be asked.
    DWORD serviceProcessId(const wchar_t* name) const;
    // Runs "Rampart.exe" of the working folder with "-s" (no handle of ours inherited) and waits
    // for it; `started`, when given, is told of the process before it is waited for (the
    // migration records it). Returns the CRT's error number when the file cannot be accessed,
    // the Win32 error when it cannot be started, and otherwise its exit code (0 = success).
    using ChildStarted = std::function<void(HANDLE process, const std::wstring& commandLine)>;
    DWORD startRampart(const ChildStarted& started = nullptr);

    const std::wstring& workingFolder() const { return workingFolder_; }
    const std::wstring& rampartExecutable() const { return rampartExecutable_; }

  private:
    DWORD waitUntilGone(SC_HANDLE manager, const wchar_t* name);
    DWORD deleteAndWait(SC_HANDLE manager, SC_HANDLE service, const wchar_t* name);
    DWORD createService(const wchar_t* executable,
                        const wchar_t* name,
                        const wchar_t* displayName,
                        DWORD type,
                        DWORD startType);

    std::wstring workingFolder_;
    std::wstring rampartExecutable_;
};

// A path in double quotes, as registered for a service; false when it would not fit 260
// characters with its quotes.
bool quotePath(const std::wstring& path, std::wstring& quoted);
// The same as a value: the command path a service is registered with, empty for a path too long
// to be registered (which then matches no registration).
std::wstring quotePath(const std::wstring& path);

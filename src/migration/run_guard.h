// One run of the tool at a time on a host. Deployment systems retry and re-run programs and an
// administrator may start one by hand while a deployment's copy still waits on an installer; two
// copies would rotate each other's log and change the same services at once.
//
// The guard is a file in the Windows folder, opened with no sharing and deleted when closed: a
// second opening fails while a run holds it, and Windows closes it when the holder ends in any
// way, a kill included, so a killed run never blocks the next. Only administrators can create
// files in the Windows folder, and the file itself grants access to SYSTEM and administrators
// alone, so a user without administrative rights can neither take it first nor hold it open.
#pragma once

#include <windows.h>

#include <string>

#include "win/scoped.h"

// Exit code of a run that found another one working (ERROR_INSTALL_ALREADY_RUNNING): deployment
// systems retry it later.
constexpr DWORD kAnotherRunExitCode = ERROR_INSTALL_ALREADY_RUNNING;  // 1618

class RunGuard {
  public:
    enum class State { Held, HeldByAnother, Unavailable };

    // Takes the guard "<Windows folder>\Relocator.lock".
    RunGuard();

    State state() const { return state_; }
    // The Win32 error of the failed attempt (for Unavailable and HeldByAnother).
    DWORD error() const { return error_; }
    const std::wstring& path() const { return path_; }

  private:
    std::wstring path_;
    win::ScopedHandle file_;
    State state_ = State::Unavailable;
    DWORD error_ = ERROR_SUCCESS;
};

// Whether a run holds the guard now, found without taking it or making anything: the file is
// opened only when it exists, and closed again at once.
enum class GuardProbe { Free, Held, Unknown };
GuardProbe probeRunGuard(std::wstring& path);

// True when the process runs with administrative rights (an elevated administrator, or SYSTEM):
// the Administrators group is enabled in its token.
bool runsWithAdministrativeRights();

// The folder Windows gives this program as its Windows folder (the system's own, since the tool
// is marked terminal-server aware); empty when it cannot be had whole.
std::wstring windowsFolder();

// The named mutexes that the agent's processes share to take turns on its configuration files.
// A table maps each known file's full path (in the running executable's folder) to its mutex,
// so a reader can lock a file by path without knowing the mutex's name.
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <string>

#include "win/scoped.h"

class CFileLockTable {
  public:
    // How long Lock waits for a mutex that another process or thread holds.
    static constexpr DWORD kLockWaitMs = 30000;
    // Units a path may hold without its terminator; longer paths are refused, never cut.
    static constexpr size_t kMaxPathUnits = 260;

    CFileLockTable() = default;
    // Closes every handle (Release).
    ~CFileLockTable();
    CFileLockTable(const CFileLockTable&) = delete;
    CFileLockTable& operator=(const CFileLockTable&) = delete;

    // Creates or opens every known file's mutex (open to every user, not owned, inheritable)
    // and keys it by the executable's folder followed by the file name. A mutex that cannot be
    // had leaves its row out. Calling it again first releases what an earlier call opened.
    void Initialize();

    // Waits up to kLockWaitMs for the mutex keyed exactly (case-sensitive) by path. True when
    // this thread now owns it, also when the previous owner ended without releasing it (the
    // caller then holds it and must Unlock it). False at once for a path that is not a key or
    // a table that is not initialised; false after the wait on a time-out or a failed wait.
    bool Lock(const std::wstring& path);

    // Releases the mutex keyed by path; must run on the thread that locked it. True when the
    // release succeeded.
    bool Unlock(const std::wstring& path);

    // Closes every handle and empties the table. Harmless when repeated.
    void Release();

    bool initialized() const { return initialized_; }
    size_t size() const { return mutexes_.size(); }

    // Turns a caller's path into the form of the keys: forward slashes become backslashes; a path
    // with a folder part and no drive (relative, rooted, ".\x") is made absolute against the
    // current directory; a drive path stays as it is; a bare file name is put in the
    // executable's folder. Writes the zero-terminated result to out (capacity in units, the
    // reader passes kMaxPathUnits + 1). False for a null or empty path, no output buffer, a
    // path longer than kMaxPathUnits, or a result that does not fit the buffer: nothing is cut.
    bool NormalizeLockPath(const wchar_t* path, wchar_t* out, size_t capacity) const;

    // The executable's folder with its trailing backslash; false (and empty) when its path
    // cannot be had whole or holds no backslash.
    static bool ExecutableFolder(std::wstring& folder);

  private:
    bool initialized_ = false;
    std::map<std::wstring, win::ScopedHandle> mutexes_;
};

// Starting a program that gets no handle of ours. A deployment job reads the tool's standard
// output until every writer is gone; a child (or a program the child leaves running) that held
// a copy of it, or of the open log, would keep the job waiting and the log locked.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "win/scoped.h"

namespace win {

struct ChildOptions {
    const wchar_t* currentFolder = nullptr;  // null: this process's current folder
    DWORD creationFlags = 0;                 // e.g. CREATE_NEW_CONSOLE
    bool hidden = false;                     // SW_HIDE for its window
    // Name the inherited handles where the system can (false: as before Vista; for tests).
    bool handleList = true;
};

// Starts commandLine (the program, quoted, as its first token) with the NUL device as its
// standard input, output and error and no other handle of this process: where the system can
// name the handles a child inherits (Vista and later) only the NUL handles are handed over;
// elsewhere the NUL handles are inherited and this process's own standard handles are made
// non-inheritable first (nothing else of the tool's is inheritable). Returns 0 and the process
// handle, or the Win32 error of the failed start.
DWORD startChild(const std::wstring& commandLine,
                 const ChildOptions& options,
                 ScopedHandle& process);

// Starts a child as above, tells `started` (when given) of its process, waits without a time
// limit and gives its exit code as the child's own (any value, -1 included). Returns 0 when the
// child ran, or the Win32 error of the failed start or wait.
DWORD runChild(const std::wstring& commandLine,
               const ChildOptions& options,
               DWORD& exitCode,
               const std::function<void(HANDLE process)>& started = nullptr);

}  // namespace win

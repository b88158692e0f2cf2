// Test helper: owns a named mutex in a process of its own.
//   mutex_holder <mutex name> <event tag> hold|abandon <ms>
// It takes the mutex, sets the event "<tag>_ready", then either holds the mutex until the event
// "<tag>_done" is set or <ms> pass and releases it (hold), or ends at once without releasing
// it, which leaves the mutex abandoned (abandon).
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "win/scoped.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 5)
        return 2;
    const std::wstring tag = argv[2];
    const std::wstring mode = argv[3];
    const DWORD holdMs = static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10));

    win::ScopedHandle mutex(CreateMutexW(nullptr, FALSE, argv[1]));
    if (!mutex)
        return 3;
    const DWORD wait = WaitForSingleObject(mutex.get(), 20000);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
        return 4;

    win::ScopedHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, (tag + L"_ready").c_str()));
    win::ScopedHandle done(OpenEventW(SYNCHRONIZE, FALSE, (tag + L"_done").c_str()));
    if (ready)
        SetEvent(ready.get());
    // Ends owning the mutex: the system marks it abandoned for the next waiter.
    if (mode == L"abandon")
        return 0;
    if (done)
        WaitForSingleObject(done.get(), holdMs);
    else
        Sleep(holdMs);
    ReleaseMutex(mutex.get());
    return 0;
}

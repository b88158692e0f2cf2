// Runs the network driver update in a process of its own, so that a test can give it a
// Windows version of its own (Wine's per-program version is chosen by the program's name):
//   driver_probe <installation folder> <log path>
// Prints "longhorn=<0|1>" and "elapsed=<ms>" on standard output.
#include <windows.h>

#include <cstdio>

#include "drivers/network_driver.h"
#include "logging/logger.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3)
        return 64;
    THLogger logger;
    logger.open(argv[2], LOG_ERROR | LOG_WARN | LOG_INFO, LOG_FILE, nullptr);
    gLogger = &logger;
    bool longHorn = IsLongHornServer();
    DWORD start = GetTickCount();
    UpdateNetworkDrivers(argv[1]);
    DWORD elapsed = GetTickCount() - start;
    gLogger = nullptr;
    printf("longhorn=%d\nelapsed=%lu\n", longHorn ? 1 : 0, static_cast<unsigned long>(elapsed));
    return 0;
}

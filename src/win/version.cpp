#include "win/version.h"

namespace win {

static_assert(sizeof(OSVERSIONINFOEXW) == 284, "extended version record size");
static_assert(sizeof(OSVERSIONINFOW) == 276, "basic version record size");

bool queryVersion(OSVERSIONINFOEXW& version) {
    version = OSVERSIONINFOEXW{};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)))
        return true;
    version = OSVERSIONINFOEXW{};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)))
        return true;
    version = OSVERSIONINFOEXW{};
    return false;
}

}  // namespace win

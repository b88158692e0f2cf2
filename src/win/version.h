// The Windows version record, as the version rules of the tool read it.
#pragma once

#include <windows.h>

namespace win {

// Asks for the extended record (284 bytes) and, where the system refuses it, for the basic
// one (276 bytes), whose product type then stays 0. False, with an all-zero record, when both
// requests fail.
bool queryVersion(OSVERSIONINFOEXW& version);

}  // namespace win

// The Win32 codes the tool can write into its log, with the system's English message text for
// each: one table, the same on every platform, so that the report explains a code alike on
// Linux and on Windows without asking the system it runs on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace report {

struct Win32Code {
    int64_t code;
    const char* name;  // the SDK's symbol, e.g. ERROR_SERVICE_REQUEST_TIMEOUT
    const char* text;  // the system message as FormatMessage gives it, without the line break
};

// Every entry, in ascending order of code.
const Win32Code* win32Codes(size_t& count);

// The entry for a code, or null when the code is not one the tool is known to log.
const Win32Code* findWin32Code(int64_t code);

}  // namespace report

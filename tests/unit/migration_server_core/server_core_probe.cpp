// Reports what this program's Windows version looks like to the Server Core test and the log
// header: run under a per-program Wine version to see those rules on other Windows versions.
// server_core_probe.exe OUTPUT writes one UTF-16 text to OUTPUT; the exit code is 0 when the
// text was written.
#include <windows.h>

#include <cwchar>

#include "logging/log_header.h"
#include "migration/server_core.h"
#include "win/version.h"

namespace {

class ScopedFile {
  public:
    explicit ScopedFile(HANDLE h) : h_(h) {}
    ~ScopedFile() {
        if (h_ != INVALID_HANDLE_VALUE) {
            CloseHandle(h_);
        }
    }
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;
    HANDLE get() const { return h_; }

  private:
    HANDLE h_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        return 2;
    }
    OSVERSIONINFOEXW v;
    const bool haveVersion = win::queryVersion(v);
    DWORD productType = 0;
    const bool haveProductType = queryProductType(v, &productType);
    wchar_t os[kHeaderBufferChars] = L"";
    describeOs(v, os, kHeaderBufferChars);

    wchar_t text[4096];
    const int n = _snwprintf(text, 4096,
                             L"version=%u.%u.%u type=%u suite=0x%x version_ok=%d\n"
                             L"product_info=%u product_info_ok=%d\n"
                             L"server_core=%d\n"
                             L"os=%s\n",
                             v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber,
                             static_cast<unsigned>(v.wProductType),
                             static_cast<unsigned>(v.wSuiteMask), haveVersion ? 1 : 0, productType,
                             haveProductType ? 1 : 0, runsOnServerCore() ? 1 : 0, os);
    if (n < 0 || n >= 4096) {
        return 3;
    }
    ScopedFile out(CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (out.get() == INVALID_HANDLE_VALUE) {
        return 4;
    }
    DWORD written = 0;
    const DWORD bytes = static_cast<DWORD>(n) * sizeof(wchar_t);
    return WriteFile(out.get(), text, bytes, &written, nullptr) && written == bytes ? 0 : 5;
}

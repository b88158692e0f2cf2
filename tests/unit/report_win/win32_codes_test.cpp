// The report's table of Win32 codes against the system's own message texts. Where Wine's text
// differs from Windows' (which the table holds), the test states Wine's answer.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>

#include "report/win32_codes.h"

namespace {

// The system's English text for a code, without the line break; empty when it has none.
std::string systemText(DWORD code) {
    wchar_t text[512] = {};
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, 512, nullptr);
    std::wstring wide(text, n < 512 ? n : 0);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' '))
        wide.pop_back();
    char utf8[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

bool onWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

TEST(Win32Codes, TableAgreesWithTheSystemsMessages) {
    // Wine 8 words every one of these codes its own way (its message table is not Windows').
    const std::map<int64_t, std::string> wine = {
        {0, "Success."},
        {2, "File not found."},
        {3, "Path not found."},
        {5, "Access denied."},
        {6, "Invalid handle."},
        {8, "Not enough memory."},
        {18, "No more files."},
        {32, "Sharing violation."},
        {80, "File exists."},
        {87, "Invalid parameter."},
        {112, "Disk full."},
        {123, "Invalid name."},
        {161, "Path is invalid."},
        {183, "File already exists."},
        {193, "Bad EXE format for %1."},
        {206, "File name is too long."},
        {1053, "Service request timeout."},
        {1056, "Service already running."},
        {1057, "Invalid service account."},
        {1058, "Service is disabled."},
        {1059, "Circular dependency."},
        {1060, "Service does not exist."},
        {1067, "Process aborted."},
        {1068, "Service dependency failed."},
        {1069, "Service login failed."},
        {1072, "Service marked for delete."},
        {1073, "Service exists."},
        {1075, "Service dependency deleted."},
        {1078, "Duplicate service name."},
        {1223, "Operation canceled by user."},
        {1313, "No such privilege."},
        {1618, "Installation already running."},
        {3010, ""},  // Wine has no message for it
    };
    size_t count = 0;
    const report::Win32Code* codes = report::win32Codes(count);
    ASSERT_GT(count, 20u);
    for (size_t i = 0; i < count; ++i) {
        // On Windows itself the table's text is the answer.
        const auto own = onWine() ? wine.find(codes[i].code) : wine.end();
        const std::string expected = own != wine.end() ? own->second : codes[i].text;
        EXPECT_EQ(systemText(static_cast<DWORD>(codes[i].code)), expected)
            << codes[i].code << " " << codes[i].name;
        if (i > 0) {
            EXPECT_LT(codes[i - 1].code, codes[i].code) << "ascending, for the lookup";
        }
        EXPECT_EQ(report::findWin32Code(codes[i].code), &codes[i]);
    }
    EXPECT_EQ(report::findWin32Code(4), nullptr);
}

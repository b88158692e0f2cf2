// The product's wide formats follow Microsoft's rules: %s a wide string, %S a narrow one.
// MinGW's own C99 printf family reads %s as narrow in C++ builds, so the product formats with
// the Microsoft CRT's _snwprintf/_vsnwprintf; these tests pin what those do in this toolchain.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cwchar>

namespace {

int viaVsnwprintf(wchar_t* buf, size_t cap, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = _vsnwprintf(buf, cap, format, args);
    va_end(args);
    return n;
}

TEST(WidePrintf, LowerSIsWideUpperSIsNarrow) {
    wchar_t buf[64];
    ASSERT_EQ(_snwprintf(buf, 64, L"%s|%S|%u.%u|%d", L"wide", "narrow", 6u, 1u, -5), 18);
    EXPECT_STREQ(buf, L"wide|narrow|6.1|-5");
    ASSERT_EQ(viaVsnwprintf(buf, 64, L"[%s] %S", L"T\u00e4g", "abc"), 9);
    EXPECT_STREQ(buf, L"[T\u00e4g] abc");
}

TEST(WidePrintf, CutWritesNoTerminatorAndReturnsMinusOne) {
    wchar_t buf[8];
    wmemset(buf, L'X', 8);
    EXPECT_EQ(_snwprintf(buf, 4, L"%s", L"abcdef"), -1);
    EXPECT_EQ(std::wstring(buf, 8), L"abcdXXXX");

    // An exact fit reports the length but leaves no room for the terminator either.
    wmemset(buf, L'X', 8);
    EXPECT_EQ(viaVsnwprintf(buf, 4, L"%s", L"abcd"), 4);
    EXPECT_EQ(std::wstring(buf, 8), L"abcdXXXX");

    wmemset(buf, L'X', 8);
    EXPECT_EQ(_snwprintf(buf, 4, L"%s", L"abc"), 3);
    EXPECT_EQ(std::wstring(buf, 4), std::wstring(L"abc\0", 4));
}

}  // namespace

// The portable UTF-8 conversion: the rules of the Windows conversion on hand-picked input.
// The same cases run against the real MultiByteToWideChar/WideCharToMultiByte in the
// differential test on Wine (utf8_cases.h).
#include <gtest/gtest.h>

#include <string>

#include "cryptfile/utf8.h"
#include "utf8_cases.h"

namespace {

using namespace cryptfile;

std::u16string ToUtf16(const std::string& s) {
    std::u16string out;
    EXPECT_TRUE(Utf8ToUtf16(reinterpret_cast<const uint8_t*>(s.data()), s.size(), out));
    EXPECT_EQ(out.size(), Utf8ToUtf16Length(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
    return out;
}

std::string ToUtf8(const std::u16string& s) {
    std::string out;
    EXPECT_TRUE(Utf16ToUtf8(s.data(), s.size(), out));
    EXPECT_EQ(out.size(), Utf16ToUtf8Length(s.data(), s.size()));
    return out;
}

TEST(Utf8ToUtf16, HandPickedCases) {
    for (const auto& c : utf8_cases::kToUtf16) {
        EXPECT_EQ(ToUtf16(c.bytes), c.units) << c.name;
    }
}

TEST(Utf16ToUtf8, HandPickedCases) {
    for (const auto& c : utf8_cases::kToUtf8) {
        EXPECT_EQ(ToUtf8(c.units), c.bytes) << c.name;
    }
}

// The line cutter relies on it: any one byte alone converts to exactly one unit.
TEST(Utf8ToUtf16, EverySingleByteIsOneUnit) {
    for (int b = 0; b < 256; ++b) {
        const uint8_t byte = static_cast<uint8_t>(b);
        ASSERT_EQ(Utf8ToUtf16Length(&byte, 1), 1u) << b;
        char16_t unit = 0;
        Utf8ToUtf16(&byte, 1, &unit);
        EXPECT_EQ(unit, b < 0x80 ? char16_t(b) : char16_t(0xFFFD)) << b;
    }
}

TEST(Utf8, EveryScalarValueRoundTrips) {
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        char bytes[4];
        const size_t n = EncodeUtf8(cp, bytes);
        const Utf8Char c = DecodeUtf8Char(reinterpret_cast<const uint8_t*>(bytes), n);
        ASSERT_TRUE(c.valid) << std::hex << cp;
        ASSERT_EQ(c.codePoint, cp);
        ASSERT_EQ(c.length, n);
        ASSERT_TRUE(IsWellFormedUtf8(reinterpret_cast<const uint8_t*>(bytes), n, false));
    }
}

TEST(Utf8, WellFormedness) {
    struct Case {
        std::string bytes;
        bool strict;
        bool cutAllowed;
    };
    const Case cases[] = {
        {"", true, true},
        {"plain ascii", true, true},
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         true, true},
        {"\xF0\x9F\x98\x80", true, true},
        {"\xC3", false, true},            // cut after the lead
        {"ab\xE2\x82", false, true},      // cut after two of three bytes
        {"ab\xF0\x9F\x98", false, true},  // cut after three of four bytes
        {"\xE0\x80", false, false},       // overlong start cannot complete
        {"\xED\xA0", false, false},       // surrogate start cannot complete
        {"\xF4\x90", false, false},       // above U+10FFFF
        {"\xE2\x82"
         "a",
         false, false},  // cut in the middle, not at the end
        {"\x80", false, false},
        {"\xC0\xAF", false, false},
        {"\xF5\x80\x80\x80", false, false},
        {std::string("a\0b", 3), true, true},  // a zero byte is well-formed UTF-8
    };
    for (const Case& c : cases) {
        const auto* p = reinterpret_cast<const uint8_t*>(c.bytes.data());
        EXPECT_EQ(IsWellFormedUtf8(p, c.bytes.size(), false), c.strict) << c.bytes;
        EXPECT_EQ(IsWellFormedUtf8(p, c.bytes.size(), true), c.cutAllowed) << c.bytes;
    }
}

TEST(Utf8, TrailCounts) {
    EXPECT_EQ(Utf8TrailCount(0x41), 0u);
    EXPECT_EQ(Utf8TrailCount(0x80), 0u);
    EXPECT_EQ(Utf8TrailCount(0xC1), 0u);
    EXPECT_EQ(Utf8TrailCount(0xC2), 1u);
    EXPECT_EQ(Utf8TrailCount(0xDF), 1u);
    EXPECT_EQ(Utf8TrailCount(0xE0), 2u);
    EXPECT_EQ(Utf8TrailCount(0xEF), 2u);
    EXPECT_EQ(Utf8TrailCount(0xF0), 3u);
    EXPECT_EQ(Utf8TrailCount(0xF4), 3u);
    EXPECT_EQ(Utf8TrailCount(0xF5), 0u);
    EXPECT_EQ(Utf8TrailCount(0xFF), 0u);
}

}  // namespace

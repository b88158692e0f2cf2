// The portable UTF-8 conversion against the system's MultiByteToWideChar(CP_UTF8, 0) and
// WideCharToMultiByte(CP_UTF8, 0): random byte strings biased towards UTF-8-like bytes, random
// unit strings biased towards surrogates, and the hand-picked cases of utf8_cases.h.
//
// On Wine 8 the system's answers differ from Unicode's recommended practice (one U+FFFD per
// maximal subpart) in two ways, and the portable conversion follows Wine: a lead byte with fewer
// bytes left than its sequence needs turns all the rest into one U+FFFD, and a second byte that
// is a continuation byte outside the lead's range (E0 80..9F, ED A0..BF, F0 80..8F, F4 90..BF) is
// replaced together with the lead.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cryptfile/utf8.h"
#include "utf8_cases.h"

namespace {

std::u16string SystemToUtf16(const std::string& bytes) {
    if (bytes.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    EXPECT_GT(n, 0);
    std::wstring out(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), int(bytes.size()), &out[0], n);
    return std::u16string(out.begin(), out.end());
}

std::string SystemToUtf8(const std::u16string& units) {
    if (units.empty())
        return {};
    const std::wstring w(units.begin(), units.end());
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    EXPECT_GT(n, 0);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::u16string PortableToUtf16(const std::string& bytes) {
    std::u16string out;
    cryptfile::Utf8ToUtf16(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
    return out;
}

std::string PortableToUtf8(const std::u16string& units) {
    std::string out;
    cryptfile::Utf16ToUtf8(units.data(), units.size(), out);
    return out;
}

std::string Hex(const std::string& s) {
    std::string out;
    char b[4];
    for (unsigned char c : s) {
        std::snprintf(b, sizeof(b), "%02X ", c);
        out += b;
    }
    return out;
}

std::string Hex(const std::u16string& s) {
    std::string out;
    char b[6];
    for (char16_t u : s) {
        std::snprintf(b, sizeof(b), "%04X ", unsigned(u));
        out += b;
    }
    return out;
}

// A byte drawn mostly from the ranges where UTF-8 decoding decides something.
uint8_t Utf8ishByte(std::mt19937& rng) {
    static const uint8_t lo[] = {0x00, 0x20, 0x0A, 0x80, 0x90, 0xA0, 0xC0, 0xC2,
                                 0xE0, 0xE1, 0xED, 0xEE, 0xF0, 0xF1, 0xF4, 0xF5};
    static const uint8_t hi[] = {0x1F, 0x7F, 0x0D, 0x8F, 0x9F, 0xBF, 0xC1, 0xDF,
                                 0xE0, 0xEC, 0xED, 0xEF, 0xF0, 0xF3, 0xF4, 0xFF};
    const size_t k = rng() % sizeof(lo);
    return static_cast<uint8_t>(lo[k] + rng() % (hi[k] - lo[k] + 1));
}

std::string RandomBytes(std::mt19937& rng) {
    std::string s;
    const size_t len = 1 + rng() % 24;
    while (s.size() < len) {
        if (rng() % 3 == 0) {
            // A well-formed character now and then, so that valid sequences meet broken ones.
            char32_t cp = rng() % 0x110000;
            if (cp >= 0xD800 && cp <= 0xDFFF)
                cp = 0x20AC;
            char buf[4];
            s.append(buf, cryptfile::EncodeUtf8(cp, buf));
        } else {
            s.push_back(static_cast<char>(Utf8ishByte(rng)));
        }
    }
    return s;
}

std::u16string RandomUnits(std::mt19937& rng) {
    std::u16string s;
    const size_t len = 1 + rng() % 12;
    while (s.size() < len) {
        switch (rng() % 5) {
            case 0:
                s.push_back(char16_t(0xD800 + rng() % 0x400));
                break;
            case 1:
                s.push_back(char16_t(0xDC00 + rng() % 0x400));
                break;
            case 2:
                s.push_back(char16_t(rng() % 0x80));
                break;
            case 3:
                s.push_back(char16_t(0x80 + rng() % 0x780));
                break;
            default:
                s.push_back(char16_t(rng() % 0x10000));
                break;
        }
    }
    return s;
}

constexpr int kRandomStrings = 200000;

TEST(Utf8Differential, HandPickedBytes) {
    for (const auto& c : utf8_cases::kToUtf16) {
        EXPECT_EQ(Hex(SystemToUtf16(c.bytes)), Hex(c.units)) << c.name;
        EXPECT_EQ(Hex(PortableToUtf16(c.bytes)), Hex(c.units)) << c.name;
    }
}

TEST(Utf8Differential, HandPickedUnits) {
    for (const auto& c : utf8_cases::kToUtf8) {
        EXPECT_EQ(Hex(SystemToUtf8(c.units)), Hex(c.bytes)) << c.name;
        EXPECT_EQ(Hex(PortableToUtf8(c.units)), Hex(c.bytes)) << c.name;
    }
}

TEST(Utf8Differential, EverySingleByteAndPair) {
    for (int a = 0; a < 256; ++a) {
        const std::string one(1, char(a));
        ASSERT_EQ(Hex(PortableToUtf16(one)), Hex(SystemToUtf16(one))) << a;
        for (int b = 0; b < 256; ++b) {
            const std::string two{char(a), char(b)};
            ASSERT_EQ(Hex(PortableToUtf16(two)), Hex(SystemToUtf16(two))) << Hex(two);
        }
    }
}

TEST(Utf8Differential, RandomBytes) {
    std::mt19937 rng(20240607);
    int mismatches = 0;
    for (int i = 0; i < kRandomStrings; ++i) {
        const std::string s = RandomBytes(rng);
        const std::u16string system = SystemToUtf16(s);
        const std::u16string portable = PortableToUtf16(s);
        const size_t length =
            cryptfile::Utf8ToUtf16Length(reinterpret_cast<const uint8_t*>(s.data()), s.size());
        if (system != portable || length != system.size()) {
            if (++mismatches <= 20) {
                ADD_FAILURE() << "bytes " << Hex(s) << "\n system   " << Hex(system)
                              << "\n portable " << Hex(portable);
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(Utf8Differential, RandomUnits) {
    std::mt19937 rng(7);
    int mismatches = 0;
    for (int i = 0; i < kRandomStrings; ++i) {
        const std::u16string s = RandomUnits(rng);
        const std::string system = SystemToUtf8(s);
        const std::string portable = PortableToUtf8(s);
        if (system != portable ||
            cryptfile::Utf16ToUtf8Length(s.data(), s.size()) != system.size()) {
            if (++mismatches <= 20) {
                ADD_FAILURE() << "units " << Hex(s) << "\n system   " << Hex(system)
                              << "\n portable " << Hex(portable);
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace

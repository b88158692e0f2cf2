// UTF-8 <-> UTF-16 conversion with the results of MultiByteToWideChar(CP_UTF8, 0, ...) and
// WideCharToMultiByte(CP_UTF8, 0, ...) on Windows (Vista and later, as Wine implements them),
// so that the readers behave the same on every platform and in the native tests.
// Portable: no <windows.h>.
//
// UTF-8 to UTF-16, for every byte string:
// - a well-formed character becomes its code point (two units above U+FFFF);
// - a byte 80..C1 or F5..FF becomes one U+FFFD;
// - a lead byte C2..F4 that has fewer following bytes before the end of the input than its
//   sequence needs takes everything up to the end into one U+FFFD, whatever those bytes are;
// - otherwise the lead takes each following continuation byte while the sequence can still
//   become well-formed, and one U+FFFD replaces what it took; the second byte is taken even when
//   it is outside the lead's range (E0 80..9F overlong, ED A0..BF surrogate, F0 80..8F overlong,
//   F4 90..BF above U+10FFFF), so lead and that byte make one U+FFFD.
// The last two rules are where Wine's conversion departs from Unicode's recommended practice
// (one U+FFFD per maximal subpart); the differential test on Wine pins them.
// UTF-16 to UTF-8: a high surrogate followed by a low one is one 4-byte character; any other
// surrogate unit becomes U+FFFD (EF BF BD).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cryptfile {

constexpr char32_t kReplacementChar = 0xFFFD;

// One decoded step of a UTF-8 byte string.
struct Utf8Char {
    char32_t codePoint;  // kReplacementChar for an invalid sequence
    size_t length;       // bytes taken, 1 to 4, never more than were available
    bool valid;          // false when the bytes were replaced
};

// Number of bytes that follow a lead byte in its sequence: 1 for C2..DF, 2 for E0..EF,
// 3 for F0..F4, 0 for ASCII and for every byte that cannot lead a sequence.
size_t Utf8TrailCount(uint8_t lead);

// Decodes the character at the start of p; n is the number of bytes up to the end of the input
// and must be at least 1.
Utf8Char DecodeUtf8Char(const uint8_t* p, size_t n);

// Units the conversion of n bytes gives (what MultiByteToWideChar returns for a size query).
size_t Utf8ToUtf16Length(const uint8_t* p, size_t n);

// Converts n bytes into dst, which must hold Utf8ToUtf16Length(p, n) units; returns that count.
size_t Utf8ToUtf16(const uint8_t* p, size_t n, char16_t* dst);

// Converts into out; false (out emptied) only when memory runs out.
bool Utf8ToUtf16(const uint8_t* p, size_t n, std::u16string& out);

// Bytes the conversion of n units gives.
size_t Utf16ToUtf8Length(const char16_t* p, size_t n);

// Converts n units into dst, which must hold Utf16ToUtf8Length(p, n) bytes; returns that count.
size_t Utf16ToUtf8(const char16_t* p, size_t n, char* dst);

// Converts into out; false (out emptied) only when memory runs out.
bool Utf16ToUtf8(const char16_t* p, size_t n, std::string& out);

// Bytes of the UTF-8 form of one code point (1 to 4); writes them to dst when it is not null.
size_t EncodeUtf8(char32_t codePoint, char* dst);

// True when the n bytes are well-formed UTF-8 by the Unicode definition (no overlong form, no
// surrogate, nothing above U+10FFFF). With allowCutEnd, a sequence that is cut by the end of the
// bytes but could still become well-formed counts as well-formed.
bool IsWellFormedUtf8(const uint8_t* p, size_t n, bool allowCutEnd);

}  // namespace cryptfile

// What a stored configuration file is: its key rule, byte-order marks, and whether it is
// enciphered, judged from its first bytes. Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cryptfile/rc4.h"

namespace cryptfile {

// The one fixed key text of every enciphered file of the agent.
constexpr const char kKeyText[] = "0x7c41a9e3";
// Classification judges a file by this many bytes from its start.
constexpr size_t kSampleBytes = 16;

enum TextEncoding : int32_t {
    EncodingNone = 0,
    EncodingUtf8 = 1,
    EncodingUtf16LE = 2,
    EncodingUtf32LE = 3,
    EncodingUtf16BE = 4,
    EncodingUtf32BE = 5,
    EncodingAnsi = 6,
};

// Code 0..5 of the byte-order mark at the start of a sample of n bytes.
int32_t DetectByteOrderMark(const uint8_t* sample, size_t n);

// Length of the byte-order mark that an attached file of this code starts with (0, 2, 3 or 4).
size_t ByteOrderMarkLength(int32_t encoding);

// True for the codes whose text is cut into lines as bytes (1 and 6); the others as 16-bit units.
bool ReadsAsBytes(int32_t encoding);

// The strict test: the bytes after the 3-byte mark, up to the first zero byte, convert to
// exactly n - 3 UTF-16 units. ASCII text without zero bytes passes, and so do stray bytes that
// the conversion replaces one by one; a zero byte or a well-formed multi-byte character fails.
bool IsAsciiCleanAfterMark(const uint8_t* sample, size_t n);

// The test classification applies after a UTF-8 mark: what the strict test accepts, and also
// text without zero bytes that is well-formed UTF-8, where a character cut by the end of a full
// kSampleBytes sample passes. So a UTF-8 text whose first characters are not ASCII is settled
// as UTF-8 instead of being judged by the cipher.
bool IsUtf8CleanAfterMark(const uint8_t* sample, size_t n);

struct Classification {
    int32_t encoding = EncodingNone;
    bool encrypted = false;
};

// Judges a file by its first n stored bytes (n at most kSampleBytes; keyText zero-terminated,
// null acts as empty): tries the cipher on the sample, looks for byte-order marks and decides
// as TextDecoder::Attach does.
Classification ClassifySample(const uint8_t* sample, size_t n, const char* keyText);

// Effective key of a key text: its first kMaxKeyBytes bytes; null acts as empty.
size_t CopyKey(const char* keyText, uint8_t (&key)[kMaxKeyBytes]);

// ClassifySample with the key already cut to its effective bytes.
Classification ClassifyWithKey(const uint8_t* sample, size_t n, const uint8_t* key, size_t keyLen);

}  // namespace cryptfile

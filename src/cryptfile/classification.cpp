#include "cryptfile/classification.h"

#include <cstring>

#include "cryptfile/rc4.h"
#include "cryptfile/utf8.h"

namespace cryptfile {

size_t CopyKey(const char* keyText, uint8_t (&key)[kMaxKeyBytes]) {
    size_t len = 0;
    while (keyText && len < kMaxKeyBytes && keyText[len] != '\0') {
        key[len] = static_cast<uint8_t>(keyText[len]);
        ++len;
    }
    return len;
}

Classification ClassifyWithKey(const uint8_t* sample, size_t n, const uint8_t* key, size_t keyLen) {
    Classification c;
    if (n == 0)
        return c;
    if (n > kSampleBytes)
        n = kSampleBytes;
    const int32_t storedMark = DetectByteOrderMark(sample, n);

    if (n >= 2) {
        Rc4State state;
        Rc4Init(state, key, keyLen);
        uint8_t plain[kSampleBytes];
        std::memcpy(plain, sample, n);
        Rc4Apply(state, plain, n);
        const int32_t plainMark = DetectByteOrderMark(plain, n);
        if (plainMark != EncodingNone) {
            c.encoding = plainMark;
            c.encrypted = true;
            if (plainMark == EncodingUtf8 && IsUtf8CleanAfterMark(plain, n))
                return c;
            c.encrypted = false;
        }
    }

    switch (storedMark) {
        case EncodingNone:
            c.encoding = EncodingAnsi;
            c.encrypted = false;
            for (size_t k = 0; k < n; ++k) {
                if (sample[k] == 0 || sample[k] >= 0x80)
                    c.encrypted = true;
            }
            break;
        case EncodingUtf8:
            if (IsUtf8CleanAfterMark(sample, n)) {
                c.encrypted = false;
                c.encoding = EncodingUtf8;
            } else {
                c.encrypted = true;
            }
            break;
        default:
            c.encrypted = true;
            c.encoding = EncodingAnsi;
            break;
    }
    return c;
}

int32_t DetectByteOrderMark(const uint8_t* p, size_t n) {
    if (n >= 4) {
        if (p[0] == 0xFF && p[1] == 0xFE && p[2] == 0x00 && p[3] == 0x00)
            return EncodingUtf32LE;
        if (p[0] == 0x00 && p[1] == 0x00 && p[2] == 0xFE && p[3] == 0xFF)
            return EncodingUtf32BE;
    }
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
        return EncodingUtf8;
    if (n >= 2) {
        if (p[0] == 0xFF && p[1] == 0xFE)
            return EncodingUtf16LE;
        if (p[0] == 0xFE && p[1] == 0xFF)
            return EncodingUtf16BE;
    }
    return EncodingNone;
}

size_t ByteOrderMarkLength(int32_t encoding) {
    switch (encoding) {
        case EncodingUtf8:
            return 3;
        case EncodingUtf16LE:
        case EncodingUtf16BE:
            return 2;
        case EncodingUtf32LE:
        case EncodingUtf32BE:
            return 4;
        default:
            return 0;
    }
}

bool ReadsAsBytes(int32_t encoding) {
    return encoding == EncodingUtf8 || encoding == EncodingAnsi;
}

bool IsAsciiCleanAfterMark(const uint8_t* sample, size_t n) {
    if (n < 3)
        return false;
    size_t end = 3;
    while (end < n && sample[end] != 0)
        ++end;
    return Utf8ToUtf16Length(sample + 3, end - 3) == n - 3;
}

bool IsUtf8CleanAfterMark(const uint8_t* sample, size_t n) {
    if (n < 3)
        return false;
    if (IsAsciiCleanAfterMark(sample, n))
        return true;
    if (std::memchr(sample + 3, 0, n - 3))
        return false;
    return IsWellFormedUtf8(sample + 3, n - 3, n >= kSampleBytes);
}

Classification ClassifySample(const uint8_t* sample, size_t n, const char* keyText) {
    uint8_t key[kMaxKeyBytes];
    const size_t keyLen = CopyKey(keyText, key);
    return ClassifyWithKey(sample, n, key, keyLen);
}

}  // namespace cryptfile

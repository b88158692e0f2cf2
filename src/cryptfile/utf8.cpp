#include "cryptfile/utf8.h"

#include <new>

namespace cryptfile {
namespace {

bool IsContinuation(uint8_t b) {
    return (b & 0xC0) == 0x80;
}

// Whether b can follow lead as the second byte of a well-formed sequence: the leads E0, ED, F0
// and F4 narrow the range to keep out overlong forms, surrogates and values above U+10FFFF.
bool SecondByteInRange(uint8_t lead, uint8_t b) {
    switch (lead) {
        case 0xE0:
            return b >= 0xA0 && b <= 0xBF;
        case 0xED:
            return b >= 0x80 && b <= 0x9F;
        case 0xF0:
            return b >= 0x90 && b <= 0xBF;
        case 0xF4:
            return b >= 0x80 && b <= 0x8F;
        default:
            return IsContinuation(b);
    }
}

bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// The code point of the unit(s) at p (n available) and how many units it takes.
char32_t NextCodePoint(const char16_t* p, size_t n, size_t& units) {
    char16_t u = p[0];
    units = 1;
    if (u < 0xD800 || u > 0xDFFF)
        return u;
    if (IsHighSurrogate(u) && n >= 2 && IsLowSurrogate(p[1])) {
        units = 2;
        return 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(p[1]) - 0xDC00);
    }
    return kReplacementChar;
}

}  // namespace

size_t Utf8TrailCount(uint8_t lead) {
    if (lead < 0xC2)
        return 0;
    if (lead < 0xE0)
        return 1;
    if (lead < 0xF0)
        return 2;
    if (lead < 0xF5)
        return 3;
    return 0;
}

Utf8Char DecodeUtf8Char(const uint8_t* p, size_t n) {
    const uint8_t lead = p[0];
    if (lead < 0x80)
        return {lead, 1, true};
    const size_t trail = Utf8TrailCount(lead);
    if (trail == 0)
        return {kReplacementChar, 1, false};
    // Too short to hold the sequence: the rest of the input goes into one replacement.
    if (n - 1 < trail)
        return {kReplacementChar, n, false};
    if (!IsContinuation(p[1]))
        return {kReplacementChar, 1, false};
    if (!SecondByteInRange(lead, p[1]))
        return {kReplacementChar, 2, false};
    char32_t cp = lead & (0x7F >> (trail + 1));
    for (size_t i = 1; i <= trail; ++i) {
        if (!IsContinuation(p[i]))
            return {kReplacementChar, i, false};
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    return {cp, trail + 1, true};
}

size_t Utf8ToUtf16Length(const uint8_t* p, size_t n) {
    size_t units = 0;
    for (size_t i = 0; i < n;) {
        if (p[i] < 0x80) {
            ++i;
            ++units;
            continue;
        }
        const Utf8Char c = DecodeUtf8Char(p + i, n - i);
        i += c.length;
        units += c.codePoint > 0xFFFF ? 2 : 1;
    }
    return units;
}

size_t Utf8ToUtf16(const uint8_t* p, size_t n, char16_t* dst) {
    char16_t* out = dst;
    for (size_t i = 0; i < n;) {
        if (p[i] < 0x80) {
            *out++ = p[i++];
            continue;
        }
        const Utf8Char c = DecodeUtf8Char(p + i, n - i);
        i += c.length;
        if (c.codePoint > 0xFFFF) {
            *out++ = char16_t(0xD800 + ((c.codePoint - 0x10000) >> 10));
            *out++ = char16_t(0xDC00 + ((c.codePoint - 0x10000) & 0x3FF));
        } else {
            *out++ = char16_t(c.codePoint);
        }
    }
    return size_t(out - dst);
}

bool Utf8ToUtf16(const uint8_t* p, size_t n, std::u16string& out) {
    try {
        out.resize(Utf8ToUtf16Length(p, n));
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    if (!out.empty())
        Utf8ToUtf16(p, n, &out[0]);
    return true;
}

size_t EncodeUtf8(char32_t cp, char* dst) {
    size_t len = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    if (dst) {
        switch (len) {
            case 1:
                dst[0] = char(cp);
                break;
            case 2:
                dst[0] = char(0xC0 | (cp >> 6));
                dst[1] = char(0x80 | (cp & 0x3F));
                break;
            case 3:
                dst[0] = char(0xE0 | (cp >> 12));
                dst[1] = char(0x80 | ((cp >> 6) & 0x3F));
                dst[2] = char(0x80 | (cp & 0x3F));
                break;
            default:
                dst[0] = char(0xF0 | (cp >> 18));
                dst[1] = char(0x80 | ((cp >> 12) & 0x3F));
                dst[2] = char(0x80 | ((cp >> 6) & 0x3F));
                dst[3] = char(0x80 | (cp & 0x3F));
                break;
        }
    }
    return len;
}

size_t Utf16ToUtf8Length(const char16_t* p, size_t n) {
    size_t bytes = 0;
    for (size_t i = 0; i < n;) {
        size_t units;
        bytes += EncodeUtf8(NextCodePoint(p + i, n - i, units), nullptr);
        i += units;
    }
    return bytes;
}

size_t Utf16ToUtf8(const char16_t* p, size_t n, char* dst) {
    char* out = dst;
    for (size_t i = 0; i < n;) {
        size_t units;
        out += EncodeUtf8(NextCodePoint(p + i, n - i, units), out);
        i += units;
    }
    return size_t(out - dst);
}

bool Utf16ToUtf8(const char16_t* p, size_t n, std::string& out) {
    try {
        out.resize(Utf16ToUtf8Length(p, n));
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    if (!out.empty())
        Utf16ToUtf8(p, n, &out[0]);
    return true;
}

bool IsWellFormedUtf8(const uint8_t* p, size_t n, bool allowCutEnd) {
    for (size_t i = 0; i < n;) {
        const Utf8Char c = DecodeUtf8Char(p + i, n - i);
        if (c.valid) {
            i += c.length;
            continue;
        }
        if (!allowCutEnd)
            return false;
        // Only a sequence cut by the end can pass, and only while what is there can complete.
        const size_t trail = Utf8TrailCount(p[i]);
        const size_t have = n - i - 1;
        if (trail == 0 || have >= trail)
            return false;
        if (have >= 1 && !SecondByteInRange(p[i], p[i + 1]))
            return false;
        for (size_t k = 2; k <= have; ++k) {
            if (!IsContinuation(p[i + k]))
                return false;
        }
        return true;
    }
    return true;
}

}  // namespace cryptfile

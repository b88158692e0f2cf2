#include "cryptfile/text_decoder.h"

#include <cstring>

#include "cryptfile/utf8.h"

namespace cryptfile {
namespace {

constexpr uint8_t kCr = '\r';
constexpr uint8_t kLf = '\n';

// Copies src to dst up to the first carriage return or line feed among n bytes; returns how
// many bytes it copied (n when there is none). Four bytes at a time: this runs over every byte
// of every file read as bytes.
size_t CopyUntilCrOrLf(char* dst, const uint8_t* src, size_t n) {
    size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        uint32_t w;
        std::memcpy(&w, src + k, 4);
        const uint32_t lf = w ^ 0x0A0A0A0Au;
        const uint32_t cr = w ^ 0x0D0D0D0Du;
        if ((((lf - 0x01010101u) & ~lf) | ((cr - 0x01010101u) & ~cr)) & 0x80808080u)
            break;
        std::memcpy(dst + k, &w, 4);
    }
    for (; k < n; ++k) {
        const uint8_t c = src[k];
        if (c == kLf || c == kCr)
            break;
        dst[k] = static_cast<char>(c);
    }
    return k;
}

}  // namespace

TextDecoder::TextDecoder() = default;
TextDecoder::~TextDecoder() = default;

int TextDecoder::NextTextByte() {
    int c;
    do {
        c = DecodeByte();
    } while (c == kCr);
    return c;
}

int32_t TextDecoder::NextTextUnit(bool& sawOddByte) {
    for (;;) {
        const int lo = DecodeByte();
        if (lo < 0)
            return -1;
        const int hi = DecodeByte();
        if (hi < 0) {
            sawOddByte = true;
            return -1;
        }
        const int32_t unit = lo | (hi << 8);
        if (unit != kCr)
            return unit;
    }
}

char* TextDecoder::ReadLineUtf8(char* buffer, int32_t capacity) {
    if (!buffer)
        return nullptr;
    return ReadsAsBytes(encoding_) ? BytesToBytes(buffer, capacity)
                                   : UnitsToBytes(buffer, capacity);
}

char16_t* TextDecoder::ReadLineUtf16(char16_t* buffer, uint32_t capacity) {
    if (!buffer)
        return nullptr;
    return ReadsAsBytes(encoding_) ? BytesToUnits(buffer, capacity)
                                   : UnitsToUnits(buffer, capacity);
}

// Every byte converts on its own to exactly one UTF-16 unit (ASCII to itself, any other byte
// to U+FFFD), so each byte is a character group of its own; capacity - 3 keeps room for a
// group of three bytes and the terminator.
char* TextDecoder::BytesToBytes(char* buffer, int32_t capacity) {
    if (capacity < 4)
        return nullptr;
    const size_t limit = static_cast<size_t>(capacity) - 3;
    size_t a = 0;
    while (backLen_) {
        if (a >= limit) {
            buffer[a] = '\0';
            return buffer;
        }
        const uint8_t c = back_[--backLen_];
        if (c == kCr)
            continue;
        buffer[a++] = static_cast<char>(c);
        if (c == kLf) {
            buffer[a] = '\0';
            return buffer;
        }
    }
    for (;;) {
        if (a >= limit) {
            buffer[a] = '\0';
            return buffer;
        }
        if (pos_ == len_ && !Refill()) {
            if (a == 0)
                return nullptr;
            buffer[a] = '\0';
            return buffer;
        }
        size_t n = len_ - pos_;
        if (n > limit - a)
            n = limit - a;
        const size_t run = CopyUntilCrOrLf(buffer + a, block_ + pos_, n);
        a += run;
        pos_ += run;
        if (run < n) {
            if (block_[pos_++] == kLf) {
                buffer[a++] = '\n';
                buffer[a] = '\0';
                return buffer;
            }
            // a carriage return is dropped
        }
    }
}

size_t TextDecoder::ReadCrLfText(uint8_t* out, size_t capacity) {
    size_t a = 0;
    while (backLen_ && a + 2 <= capacity) {
        const uint8_t c = back_[--backLen_];
        if (c == kLf) {
            out[a++] = kCr;
            out[a++] = kLf;
        } else if (c != kCr) {
            out[a++] = c;
        }
    }
    // Room for one more byte than a run copies: a line feed takes two.
    while (a + 2 <= capacity) {
        if (pos_ == len_ && !Refill())
            break;
        size_t n = len_ - pos_;
        if (n > capacity - a - 1)
            n = capacity - a - 1;
        const size_t run = CopyUntilCrOrLf(reinterpret_cast<char*>(out + a), block_ + pos_, n);
        a += run;
        pos_ += run;
        if (run < n && block_[pos_++] == kLf) {
            out[a++] = kCr;
            out[a++] = kLf;
        }
    }
    return a;
}

char16_t* TextDecoder::UnitsToUnits(char16_t* buffer, uint32_t capacity) {
    if (capacity < 2)
        return nullptr;
    uint32_t u = 0;
    bool half = false;  // the low byte of the next unit has been read
    uint8_t lo = 0;
    for (;;) {
        if (u + 1 >= capacity) {
            buffer[u] = 0;
            return buffer;
        }
        const int c = DecodeByte();
        if (c < 0) {
            if (u == 0 && !half)
                return nullptr;
            buffer[u] = 0;
            return buffer;
        }
        if (!half) {
            lo = static_cast<uint8_t>(c);
            half = true;
            continue;
        }
        half = false;
        const char16_t unit = static_cast<char16_t>(lo | (c << 8));
        if (unit == kCr)
            continue;
        buffer[u++] = unit;
        if (unit == kLf) {
            buffer[u] = 0;
            return buffer;
        }
    }
}

char* TextDecoder::UnitsToBytes(char* buffer, int32_t capacity) {
    if (capacity < 2)
        return nullptr;
    const size_t cap = static_cast<size_t>(capacity);
    size_t a = 0;
    for (;;) {
        bool oddByte = false;
        const int32_t unit = NextTextUnit(oddByte);
        if (unit < 0) {
            if (a == 0 && !oddByte)
                return nullptr;
            buffer[a] = '\0';
            return buffer;
        }
        char16_t units[2] = {static_cast<char16_t>(unit), 0};
        size_t count = 1;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const int32_t next = NextTextUnit(oddByte);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                units[1] = static_cast<char16_t>(next);
                count = 2;
            } else if (next >= 0) {
                PushBackUnit(static_cast<char16_t>(next));
            }
        }
        const size_t need = Utf16ToUtf8Length(units, count);
        if (a + need + 1 > cap) {
            for (size_t k = count; k-- > 0;)
                PushBackUnit(units[k]);
            if (a == 0)
                return nullptr;
            buffer[a] = '\0';
            return buffer;
        }
        a += Utf16ToUtf8(units, count, buffer + a);
        if (unit == kLf) {
            buffer[a] = '\0';
            return buffer;
        }
    }
}

char16_t* TextDecoder::BytesToUnits(char16_t* buffer, uint32_t capacity) {
    if (capacity < 2)
        return nullptr;
    uint32_t u = 0;
    for (;;) {
        const int c = NextTextByte();
        if (c < 0) {
            if (u == 0)
                return nullptr;
            buffer[u] = 0;
            return buffer;
        }
        if (c == kLf) {
            if (u + 2 > capacity) {
                PushBack(kLf);
                if (u == 0)
                    return nullptr;
                buffer[u] = 0;
                return buffer;
            }
            buffer[u++] = kLf;
            buffer[u] = 0;
            return buffer;
        }
        // Gather what the lead needs, up to the line feed or the end: the line's text is
        // converted as one piece, so a sequence cut by either is replaced as at the end of input.
        uint8_t seq[4] = {static_cast<uint8_t>(c)};
        size_t n = 1;
        const size_t want = 1 + Utf8TrailCount(seq[0]);
        while (n < want) {
            const int d = NextTextByte();
            if (d < 0)
                break;
            if (d == kLf) {
                PushBack(kLf);
                break;
            }
            seq[n++] = static_cast<uint8_t>(d);
        }
        const Utf8Char ch = DecodeUtf8Char(seq, n);
        for (size_t k = n; k-- > ch.length;)
            PushBack(seq[k]);
        const uint32_t units = ch.codePoint > 0xFFFF ? 2 : 1;
        if (u + units + 1 > capacity) {
            for (size_t k = ch.length; k-- > 0;)
                PushBack(seq[k]);
            if (u == 0)
                return nullptr;
            buffer[u] = 0;
            return buffer;
        }
        if (units == 2) {
            buffer[u++] = static_cast<char16_t>(0xD800 + ((ch.codePoint - 0x10000) >> 10));
            buffer[u++] = static_cast<char16_t>(0xDC00 + ((ch.codePoint - 0x10000) & 0x3FF));
        } else {
            buffer[u++] = static_cast<char16_t>(ch.codePoint);
        }
    }
}

}  // namespace cryptfile

#include "cryptfile/text_format.h"

#include <cstring>
#include <new>

#include "cryptfile/utf8.h"

namespace cryptfile {
namespace {

// Bytes read from the source per block; large enough that a block read costs little per byte.
constexpr size_t kBlockBytes = 64 * 1024;

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

// Effective key of a key text: its first kMaxKeyBytes bytes; null acts as empty.
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

}  // namespace

void Rc4Init(Rc4State& state, const uint8_t* key, size_t keyLen) {
    static const uint8_t kZeroKey[1] = {0};
    if (!key || keyLen == 0) {
        key = kZeroKey;
        keyLen = 1;
    }
    if (keyLen > kMaxKeyBytes)
        keyLen = kMaxKeyBytes;
    for (int x = 0; x < 256; ++x)
        state.s[x] = static_cast<uint8_t>(x);
    uint8_t j = 0;
    size_t p = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<uint8_t>(j + state.s[i] + key[p]);
        const uint8_t t = state.s[i];
        state.s[i] = state.s[j];
        state.s[j] = t;
        if (++p == keyLen)
            p = 0;
    }
    state.i = 0;
    state.j = 0;
}

uint8_t Rc4NextByte(Rc4State& state) {
    const uint8_t i = static_cast<uint8_t>(state.i + 1);
    const uint8_t j = static_cast<uint8_t>(state.j + state.s[i]);
    const uint8_t t = state.s[i];
    state.s[i] = state.s[j];
    state.s[j] = t;
    state.i = i;
    state.j = j;
    return state.s[static_cast<uint8_t>(state.s[i] + t)];
}

// Works on a local copy of the permutation and XORs four keystream bytes as one word: the
// compiler then knows that data never overlaps the permutation, which more than doubles the
// speed of 32-bit builds. The bytes are still combined one by one, in order.
void Rc4Apply(Rc4State& state, uint8_t* data, size_t n) {
    uint8_t s[256];
    std::memcpy(s, state.s, sizeof(s));
    unsigned i = static_cast<uint8_t>(state.i);
    unsigned j = static_cast<uint8_t>(state.j);
    auto next = [&s, &i, &j]() -> unsigned {
        i = (i + 1) & 0xFF;
        const unsigned si = s[i];
        j = (j + si) & 0xFF;
        const unsigned sj = s[j];
        s[i] = static_cast<uint8_t>(sj);
        s[j] = static_cast<uint8_t>(si);
        return s[(si + sj) & 0xFF];
    };
    size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        uint32_t word;
        std::memcpy(&word, data + k, 4);
        const uint8_t ks[4] = {static_cast<uint8_t>(next()), static_cast<uint8_t>(next()),
                               static_cast<uint8_t>(next()), static_cast<uint8_t>(next())};
        uint32_t stream;
        std::memcpy(&stream, ks, 4);
        word ^= stream;
        std::memcpy(data + k, &word, 4);
    }
    for (; k < n; ++k)
        data[k] ^= static_cast<uint8_t>(next());
    std::memcpy(state.s, s, sizeof(s));
    state.i = static_cast<int32_t>(i);
    state.j = static_cast<int32_t>(j);
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

size_t ByteSource::Read(uint8_t* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        const int c = ReadByte();
        if (c < 0)
            break;
        buf[got++] = static_cast<uint8_t>(c);
    }
    return got;
}

int MemoryByteSource::ReadByte() {
    return pos_ < size_ ? data_[pos_++] : -1;
}

bool MemoryByteSource::Rewind() {
    pos_ = 0;
    return true;
}

size_t MemoryByteSource::Read(uint8_t* buf, size_t n) {
    const size_t avail = size_ - pos_;
    if (n > avail)
        n = avail;
    if (n)
        std::memcpy(buf, data_ + pos_, n);
    pos_ += n;
    return n;
}

TextDecoder::TextDecoder() : block_(smallBlock_), blockCap_(sizeof(smallBlock_)) {}
TextDecoder::~TextDecoder() = default;

void TextDecoder::Detach() {
    source_ = nullptr;
    encoding_ = EncodingNone;
    encrypted_ = false;
    sourceDone_ = false;
    error_ = false;
    keyLen_ = 0;
    pos_ = len_ = 0;
    backLen_ = 0;
}

void TextDecoder::Attach(ByteSource* source, const char* keyText) {
    Detach();
    if (!source)
        return;
    source_ = source;
    keyLen_ = CopyKey(keyText, key_);

    // The sample is the start of the file, wherever an earlier reader left the source.
    source->Rewind();
    uint8_t sample[kSampleBytes];
    const size_t n = source->Read(sample, kSampleBytes);
    if (source->ReadFailed())
        error_ = true;
    const Classification c = ClassifyWithKey(sample, n, key_, keyLen_);
    encoding_ = c.encoding;
    encrypted_ = c.encrypted;

    if (!source->Rewind()) {
        // Not read twice: what the sample holds is handed out first, then the rest.
        std::memcpy(block_, sample, n);
        len_ = n;
        sourceDone_ = n < kSampleBytes;
    }
    if (encrypted_) {
        Rc4Init(cipher_, key_, keyLen_);
        Rc4Apply(cipher_, block_, len_);
    }
    SkipBytes(static_cast<int32_t>(ByteOrderMarkLength(encoding_)));
}

int32_t TextDecoder::encoding() const {
    return encoding_;
}
bool TextDecoder::encrypted() const {
    return encrypted_;
}
bool TextDecoder::error() const {
    return error_;
}

bool TextDecoder::Refill() {
    if (!source_ || sourceDone_)
        return false;
    // A file that fills the inline block gets the large one; small files never allocate.
    if (block_ == smallBlock_ && len_ == blockCap_) {
        blockStore_.reset(new (std::nothrow) uint8_t[kBlockBytes]);
        if (blockStore_) {
            block_ = blockStore_.get();
            blockCap_ = kBlockBytes;
        }
    }
    const size_t n = source_->Read(block_, blockCap_);
    if (n < blockCap_) {
        sourceDone_ = true;
        if (source_->ReadFailed())
            error_ = true;
    }
    if (encrypted_)
        Rc4Apply(cipher_, block_, n);
    pos_ = 0;
    len_ = n;
    return n > 0;
}

int TextDecoder::DecodeByte() {
    if (backLen_)
        return back_[--backLen_];
    if (pos_ == len_ && !Refill())
        return -1;
    return block_[pos_++];
}

void TextDecoder::SkipBytes(int32_t count) {
    for (int32_t k = 0; k < count; ++k) {
        if (DecodeByte() < 0)
            break;
    }
}

void TextDecoder::PushBack(uint8_t byte) {
    // Never more than one character (and a line feed) is given back between two reads.
    if (backLen_ < sizeof(back_))
        back_[backLen_++] = byte;
    else
        error_ = true;
}

void TextDecoder::PushBackUnit(char16_t unit) {
    PushBack(static_cast<uint8_t>(unit >> 8));
    PushBack(static_cast<uint8_t>(unit & 0xFF));
}

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

#include "classify_lines_fuzz.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cryptfile/text_format.h"
#include "cryptfile/utf8.h"
#include "cryptfile_test_util.h"
#include "fuzz_check.h"

namespace {

using namespace cryptfile;
using cryptfile_test::Bytes;
using cryptfile_test::Encipher;

constexpr uint8_t kFill8 = 0xA5;
constexpr char16_t kFill16 = 0xA5A5;

Bytes Stored(uint8_t mode, const uint8_t* text, size_t n) {
    Bytes t(text, text + n);
    const Bytes bom = {0xEF, 0xBB, 0xBF};
    switch (mode % 5) {
        case 0:
            return t;
        case 1:
            return Encipher(t);
        case 2: {
            Bytes plain = bom;
            plain.insert(plain.end(), t.begin(), t.end());
            return Encipher(plain);
        }
        case 3: {
            Bytes plain = bom;
            plain.insert(plain.end(), t.begin(), t.end());
            return plain;
        }
        default: {
            // Stored bytes that open with a UTF-8 mark and a zero byte: read as 16-bit units.
            Bytes plain = {0xEF, 0xBB, 0xBF, 0x00};
            Rc4State ks;
            Rc4Init(ks, reinterpret_cast<const uint8_t*>(kKeyText), sizeof(kKeyText) - 1);
            for (uint8_t& b : plain)
                b ^= Rc4NextByte(ks);
            plain.insert(plain.end(), t.begin(), t.end());
            return Encipher(plain);
        }
    }
}

// Length of a returned piece: the decoder writes nothing past its terminator, so in a buffer
// filled beforehand the terminator is the last zero.
template <typename T>
size_t PieceLength(const std::vector<T>& buf) {
    for (size_t k = buf.size(); k-- > 0;) {
        if (buf[k] == 0)
            return k;
    }
    FUZZ_CHECK(!"no terminator");
    return 0;
}

size_t Utf8LengthOfLead(uint8_t lead) {
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

struct Attached {
    explicit Attached(const Bytes& stored) : source(stored.data(), stored.size()) {
        decoder.Attach(&source, kKeyText);
    }
    MemoryByteSource source;
    TextDecoder decoder;
};

// Every piece of ReadLineUtf8 at one capacity, joined; checks the bounds of each piece.
std::string Utf8Pieces(const Bytes& stored, int32_t cap, bool bytesFile, size_t maxCalls) {
    Attached a(stored);
    std::vector<char> buf(cap > 0 ? size_t(cap) : 1);
    std::string joined;
    size_t calls = 0;
    bool lastWasShort = false;
    for (;;) {
        std::fill(buf.begin(), buf.end(), char(kFill8));
        char* got = a.decoder.ReadLineUtf8(buf.data(), cap);
        if (!got)
            break;
        FUZZ_CHECK(got == buf.data());
        FUZZ_CHECK(++calls <= maxCalls);
        FUZZ_CHECK(!lastWasShort);  // a piece that is neither full nor a whole line ends the text
        const size_t len = PieceLength(buf);
        const std::string piece(buf.data(), len);
        const size_t lf = piece.find('\n');
        FUZZ_CHECK(lf == std::string::npos || lf == len - 1);
        if (bytesFile) {
            FUZZ_CHECK(cap >= 4 && len <= size_t(cap) - 3);
            FUZZ_CHECK(piece.find('\r') == std::string::npos);
            lastWasShort = lf == std::string::npos && len < size_t(cap) - 3;
        } else {
            FUZZ_CHECK(len < size_t(cap));
            FUZZ_CHECK(
                IsWellFormedUtf8(reinterpret_cast<const uint8_t*>(piece.data()), len, false));
        }
        joined += piece;
    }
    if (cap < 4 && bytesFile)
        FUZZ_CHECK(calls == 0);
    FUZZ_CHECK(!a.decoder.error());
    return joined;
}

std::u16string Utf16Pieces(const Bytes& stored, uint32_t cap, size_t maxCalls) {
    Attached a(stored);
    std::vector<char16_t> buf(cap > 0 ? cap : 1);
    std::u16string joined;
    size_t calls = 0;
    for (;;) {
        std::fill(buf.begin(), buf.end(), kFill16);
        char16_t* got = a.decoder.ReadLineUtf16(buf.data(), cap);
        if (!got)
            break;
        FUZZ_CHECK(got == buf.data());
        FUZZ_CHECK(++calls <= maxCalls);
        const size_t len = PieceLength(buf);
        FUZZ_CHECK(len < cap);
        const std::u16string piece(buf.data(), len);
        const size_t lf = piece.find(u'\n');
        FUZZ_CHECK(lf == std::u16string::npos || lf == len - 1);
        FUZZ_CHECK(piece.find(u'\r') == std::u16string::npos);
        joined += piece;
    }
    if (cap < 2)
        FUZZ_CHECK(calls == 0);
    FUZZ_CHECK(!a.decoder.error());
    return joined;
}

// Lines of the deciphered text after the mark: for a byte file, bytes with carriage returns
// removed; for a unit file, units with carriage-return units removed. Each line keeps its line
// feed; a last line without one is kept when it holds anything.
template <typename Unit>
std::vector<std::basic_string<Unit>> SplitLines(const std::basic_string<Unit>& text) {
    std::vector<std::basic_string<Unit>> lines(1);
    for (Unit u : text) {
        if (u == Unit('\r'))
            continue;
        lines.back().push_back(u);
        if (u == Unit('\n'))
            lines.emplace_back();
    }
    if (lines.back().empty())
        lines.pop_back();
    return lines;
}

std::u16string ConvertLine(const std::string& line) {
    const bool lf = !line.empty() && line.back() == '\n';
    std::u16string out;
    FUZZ_CHECK(Utf8ToUtf16(reinterpret_cast<const uint8_t*>(line.data()),
                           line.size() - (lf ? 1 : 0), out));
    if (lf)
        out.push_back(u'\n');
    return out;
}

std::string ConvertLine(const std::u16string& line) {
    std::string out;
    FUZZ_CHECK(Utf16ToUtf8(line.data(), line.size(), out));
    return out;
}

template <typename S>
std::vector<S> WithFinalLineFeeds(std::vector<S> lines) {
    for (S& l : lines) {
        if (l.empty() || l.back() != typename S::value_type('\n'))
            l.push_back(typename S::value_type('\n'));
    }
    return lines;
}

void CheckByteFile(const Bytes& stored,
                   const std::string& plain,
                   const std::vector<int32_t>& caps,
                   size_t maxCalls) {
    const std::vector<std::string> lines = SplitLines(plain);
    std::string bytes;
    std::u16string units;
    std::vector<std::u16string> wideLines;
    for (const std::string& l : lines) {
        bytes += l;
        wideLines.push_back(ConvertLine(l));
        units += wideLines.back();
    }
    for (int32_t cap : caps)
        FUZZ_CHECK(Utf8Pieces(stored, cap, true, maxCalls) == (cap >= 4 ? bytes : std::string()));
    for (int32_t c : caps) {
        const uint32_t cap = c < 0 ? 0u : uint32_t(c);
        const std::u16string joined = Utf16Pieces(stored, cap, maxCalls);
        if (joined != units) {
            // Only a surrogate pair can be too big, and only for a capacity of 2.
            FUZZ_CHECK(cap == 2 || (cap < 2 && joined.empty()));
            FUZZ_CHECK(units.compare(0, joined.size(), joined) == 0);
            if (cap == 2)
                FUZZ_CHECK(units[joined.size()] >= 0xD800 && units[joined.size()] <= 0xDBFF);
        }
    }
    if (plain.find('\0') == std::string::npos) {
        Attached a(stored);
        FUZZ_CHECK(cryptfile_test::NextLines(a.decoder) == WithFinalLineFeeds(lines));
        Attached w(stored);
        FUZZ_CHECK(cryptfile_test::NextWideLines(w.decoder) == WithFinalLineFeeds(wideLines));
    }
}

void CheckUnitFile(const Bytes& stored,
                   const std::string& plain,
                   const std::vector<int32_t>& caps,
                   size_t maxCalls) {
    std::u16string text;
    for (size_t k = 0; k + 1 < plain.size(); k += 2) {
        text.push_back(char16_t(uint8_t(plain[k]) | uint8_t(plain[k + 1]) << 8));
    }
    const bool oddByte = plain.size() % 2 == 1;
    const std::vector<std::u16string> lines = SplitLines(text);
    std::u16string units;
    std::string bytes;
    std::vector<std::string> narrowLines;
    for (const std::u16string& l : lines) {
        units += l;
        narrowLines.push_back(ConvertLine(l));
        bytes += narrowLines.back();
    }
    for (int32_t c : caps) {
        const uint32_t cap = c < 0 ? 0u : uint32_t(c);
        FUZZ_CHECK(Utf16Pieces(stored, cap, maxCalls) == (cap >= 2 ? units : std::u16string()));
    }
    for (int32_t cap : caps) {
        const std::string joined = Utf8Pieces(stored, cap, false, maxCalls);
        if (joined != bytes) {
            // Stopped before a character that cannot fit into an empty buffer of this capacity.
            FUZZ_CHECK(bytes.compare(0, joined.size(), joined) == 0);
            FUZZ_CHECK(cap < 2 ||
                       Utf8LengthOfLead(uint8_t(bytes[joined.size()])) + 1 > size_t(cap));
        }
    }
    // The lone last byte makes the call that meets it hand out a line, empty when nothing
    // precedes it on its line.
    const bool lastLineOpen = !lines.empty() && lines.back().back() != u'\n';
    std::vector<std::u16string> expectedWide = lines;
    std::vector<std::string> expectedNarrow = narrowLines;
    if (oddByte && !lastLineOpen) {
        expectedWide.emplace_back();
        expectedNarrow.emplace_back();
    }
    if (units.find(u'\0') == std::u16string::npos) {
        Attached a(stored);
        FUZZ_CHECK(cryptfile_test::NextLines(a.decoder) == WithFinalLineFeeds(expectedNarrow));
        Attached w(stored);
        FUZZ_CHECK(cryptfile_test::NextWideLines(w.decoder) == WithFinalLineFeeds(expectedWide));
    }
}

// Alternating readers share what one of them gave back; nothing may be lost or overflow.
void CheckMixedReads(const Bytes& stored, size_t maxCalls) {
    Attached a(stored);
    char narrow[6];
    char16_t wide[3];
    size_t calls = 0;
    for (;;) {
        // Both capacities hold any character, so two nulls in a row mean the end.
        const bool gotNarrow = a.decoder.ReadLineUtf8(narrow, sizeof(narrow)) != nullptr;
        const bool gotWide = a.decoder.ReadLineUtf16(wide, 3) != nullptr;
        if (!gotNarrow && !gotWide)
            break;
        FUZZ_CHECK(++calls <= maxCalls);
    }
    FUZZ_CHECK(!a.decoder.error());
    FUZZ_CHECK(a.decoder.DecodeByte() == -1);
}

}  // namespace

int ClassifyLinesFuzzOne(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const uint8_t mode = data[0];
    const int32_t extraCap = data[1];
    const Bytes stored = Stored(mode, data + 2, size - 2);
    const size_t n = stored.size();

    Attached a(stored);
    const int32_t encoding = a.decoder.encoding();
    const bool encrypted = a.decoder.encrypted();
    const size_t sampleLen = std::min(n, kSampleBytes);
    const Classification c = ClassifySample(stored.data(), sampleLen, kKeyText);
    FUZZ_CHECK(c.encoding == encoding && c.encrypted == encrypted);
    FUZZ_CHECK(encoding >= EncodingNone && encoding <= EncodingAnsi);
    if (n == 0)
        FUZZ_CHECK(encoding == EncodingNone && !encrypted);
    if (!encrypted)
        FUZZ_CHECK(encoding == EncodingAnsi || encoding == EncodingUtf8 || n == 0);
    if (mode % 5 == 4)
        FUZZ_CHECK(encoding == EncodingNone && encrypted);

    // The wider clean test accepts everything the strict one does.
    const Bytes deciphered =
        Encipher(Bytes(stored.begin(), stored.begin() + std::ptrdiff_t(sampleLen)));
    for (const Bytes* s : {&stored, &deciphered}) {
        if (IsAsciiCleanAfterMark(s->data(), sampleLen))
            FUZZ_CHECK(IsUtf8CleanAfterMark(s->data(), sampleLen));
    }

    // The byte stream: deciphered when enciphered, from after the mark.
    const Bytes all = encrypted ? Encipher(stored) : stored;
    const size_t mark = std::min(ByteOrderMarkLength(encoding), all.size());
    const std::string plain(all.begin() + std::ptrdiff_t(mark), all.end());
    for (char expected : plain)
        FUZZ_CHECK(a.decoder.DecodeByte() == uint8_t(expected));
    FUZZ_CHECK(a.decoder.DecodeByte() == -1);

    const std::vector<int32_t> caps = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 12, 64, extraCap};
    const size_t maxCalls = n + 2;
    if (ReadsAsBytes(encoding)) {
        CheckByteFile(stored, plain, caps, maxCalls);
    } else {
        CheckUnitFile(stored, plain, caps, maxCalls);
    }
    CheckMixedReads(stored, maxCalls);
    return 0;
}

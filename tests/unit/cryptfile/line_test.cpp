// Cutting lines from bytes and from 16-bit units, the cross conversions and tiny capacities.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "cryptfile/text_format.h"
#include "cryptfile/utf8.h"
#include "cryptfile_test_util.h"

namespace {

using namespace cryptfile;
using namespace cryptfile_test;
using Lines = std::vector<std::string>;
using WideLines = std::vector<std::u16string>;

// A decoder over bytes it keeps alive.
struct Reader {
    explicit Reader(Bytes stored) : bytes(std::move(stored)), source(bytes.data(), bytes.size()) {
        decoder.Attach(&source, kKeyText);
    }
    Bytes bytes;
    MemoryByteSource source;
    TextDecoder decoder;
};

// A plain text read as bytes (code 6), enciphered or not.
std::unique_ptr<Reader> ByteFile(const std::string& text, bool encipher = true) {
    auto r = std::make_unique<Reader>(encipher ? Encipher(ToBytes(text)) : ToBytes(text));
    EXPECT_EQ(r->decoder.encoding(), EncodingAnsi);
    EXPECT_EQ(r->decoder.encrypted(), encipher);
    return r;
}

// An enciphered file that classification reads as 16-bit units (code 0): its stored bytes open
// with a UTF-8 mark followed by a zero byte, so its deciphered text starts with two units of
// no meaning; they are put on a line of their own, which this reads away.
std::unique_ptr<Reader> UnitFile(const std::u16string& text) {
    Rc4State ks;
    Rc4Init(ks, reinterpret_cast<const uint8_t*>(kKeyText), sizeof(kKeyText) - 1);
    Bytes plain;
    for (uint8_t stored : {0xEF, 0xBB, 0xBF, 0x00})
        plain.push_back(stored ^ Rc4NextByte(ks));
    const char16_t prefix[] = {char16_t(plain[0] | plain[1] << 8),
                               char16_t(plain[2] | plain[3] << 8), u'\n', 0};
    const Bytes units = Utf16LeBytes(u"\n" + text);
    plain.insert(plain.end(), units.begin(), units.end());
    auto r = std::make_unique<Reader>(Encipher(plain));
    EXPECT_EQ(r->decoder.encoding(), EncodingNone);
    EXPECT_TRUE(r->decoder.encrypted());
    char16_t first[8];
    EXPECT_NE(r->decoder.ReadLineUtf16(first, 8), nullptr);
    EXPECT_EQ(std::u16string(first), std::u16string(prefix));
    return r;
}

// A plain UTF-8 text with its mark (code 1, not enciphered).
std::unique_ptr<Reader> Utf8File(const std::string& text) {
    auto r = std::make_unique<Reader>(ToBytes("\xEF\xBB\xBF" + text));
    EXPECT_EQ(r->decoder.encoding(), EncodingUtf8);
    return r;
}

std::u16string Utf16Of(const std::string& utf8) {
    std::u16string out;
    Utf8ToUtf16(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), out);
    return out;
}

TEST(BytesToBytes, CarriageReturnsGoLineFeedsStay) {
    EXPECT_EQ(Utf8Pieces(ByteFile("a\rb\n")->decoder, 64), (Lines{"ab\n"}));
    EXPECT_EQ(Utf8Pieces(ByteFile("one\r\ntwo\r\n\r\nlast")->decoder, 64),
              (Lines{"one\n", "two\n", "\n", "last"}));
    EXPECT_EQ(Utf8Pieces(ByteFile("x\r\r\r\n\r", false)->decoder, 64), (Lines{"x\n"}));
    // Only carriage returns to the end: nothing is read, so null.
    EXPECT_TRUE(Utf8Pieces(ByteFile("\r\r\r")->decoder, 64).empty());
    EXPECT_EQ(NextLines(ByteFile("A=x\ry\r\nB=1")->decoder), (Lines{"A=xy\n", "B=1\n"}));
}

TEST(BytesToBytes, LongLinesComeInPiecesOfCapacityLessThree) {
    EXPECT_EQ(Utf8Pieces(ByteFile("abcdefghijkl\n")->decoder, 8),
              (Lines{"abcde", "fghij", "kl\n"}));
    // A carriage return takes no room.
    EXPECT_EQ(Utf8Pieces(ByteFile("ab\r\rcdefg\n")->decoder, 8), (Lines{"abcde", "fg\n"}));
    // The line feed of a full piece comes alone.
    EXPECT_EQ(Utf8Pieces(ByteFile("abcde\nf")->decoder, 8), (Lines{"abcde", "\n", "f"}));
    // Bytes of a multi-byte character are cut like any byte; whole lines stay whole.
    EXPECT_EQ(Utf8Pieces(ByteFile("\xE2\x82\xAC\xE2\x82\xAC\n")->decoder, 5),
              (Lines{"\xE2\x82", "\xAC\xE2", "\x82\xAC", "\n"}));
    const std::string longLine(1000, 'q');
    EXPECT_EQ(NextLines(ByteFile(longLine + "\r\n" + longLine)->decoder),
              (Lines{longLine + "\n", longLine + "\n"}));
}

TEST(BytesToBytes, TinyCapacities) {
    auto r = ByteFile("ab\n");
    char buf[4] = {'#', '#', '#', '#'};
    for (int32_t cap : {-5, 0, 1, 2, 3}) {
        EXPECT_EQ(r->decoder.ReadLineUtf8(buf, cap), nullptr) << cap;
    }
    EXPECT_EQ(buf[0], '#');  // nothing written
    EXPECT_EQ(r->decoder.ReadLineUtf8(nullptr, 100), nullptr);
    // Nothing was consumed; capacity 4 holds one byte per piece.
    EXPECT_EQ(Utf8Pieces(r->decoder, 4), (Lines{"a", "b", "\n"}));
}

TEST(UnitsToUnits, CarriageReturnsGoLineFeedsStay) {
    EXPECT_EQ(Utf16Pieces(UnitFile(u"a\rb\n")->decoder, 64), (WideLines{u"ab\n"}));
    EXPECT_EQ(Utf16Pieces(UnitFile(u"one\r\ntwo\r\nlast")->decoder, 64),
              (WideLines{u"one\n", u"two\n", u"last"}));
    // The units 0x0D0A and 0x0A0D are neither.
    EXPECT_EQ(Utf16Pieces(UnitFile(u"x\u0D0A\u0A0Dy\n")->decoder, 64),
              (WideLines{u"x\u0D0A\u0A0Dy\n"}));
    EXPECT_TRUE(Utf16Pieces(UnitFile(u"\r\r")->decoder, 64).empty());
}

TEST(UnitsToUnits, LongLinesComeInPiecesOfCapacityLessOne) {
    EXPECT_EQ(Utf16Pieces(UnitFile(u"abcdefg\n")->decoder, 4), (WideLines{u"abc", u"def", u"g\n"}));
    EXPECT_EQ(Utf16Pieces(UnitFile(u"\U0001F600\n")->decoder, 2),
              (WideLines{u"\xD83D", u"\xDE00", u"\n"}));
    const std::u16string longLine(700, u'w');
    EXPECT_EQ(NextWideLines(UnitFile(longLine + u"\r\n" + longLine)->decoder),
              (WideLines{longLine + u"\n", longLine + u"\n"}));
}

TEST(UnitsToUnits, TinyCapacitiesAndOddLength) {
    auto r = UnitFile(u"xy\n");
    char16_t buf[2] = {u'#', u'#'};
    EXPECT_EQ(r->decoder.ReadLineUtf16(buf, 0), nullptr);
    EXPECT_EQ(r->decoder.ReadLineUtf16(buf, 1), nullptr);
    EXPECT_EQ(buf[0], u'#');
    EXPECT_EQ(Utf16Pieces(r->decoder, 2), (WideLines{u"x", u"y", u"\n"}));

    // A lone last byte is dropped; the call that meets it still counts as a line.
    auto odd = UnitFile(u"ab");
    odd->bytes.push_back(0x41);
    odd->source = MemoryByteSource(odd->bytes.data(), odd->bytes.size());
    odd->decoder.Attach(&odd->source, kKeyText);
    char16_t skip[8];
    ASSERT_NE(odd->decoder.ReadLineUtf16(skip, 8), nullptr);
    EXPECT_EQ(Utf16Pieces(odd->decoder, 64), (WideLines{u"ab"}));
}

TEST(UnitsToBytes, WholeLinesConvertAsOne) {
    const std::u16string text =
        u"Gr\u00FC\u00DFe \u20AC \U0001F600 \xD83D"
        u"x \xDE00\r\nnext";
    std::string firstLine;
    Utf16ToUtf8(text.data(), text.find(u'\r'), firstLine);
    EXPECT_EQ(NextLines(UnitFile(text)->decoder), (Lines{firstLine + "\n", "next\n"}));
    // A carriage return between the halves of a pair goes first, so the pair stays one character.
    EXPECT_EQ(NextLines(UnitFile(u"\xD83D\r\xDE00\n")->decoder), (Lines{"\xF0\x9F\x98\x80\n"}));
    // A high surrogate before the line feed becomes U+FFFD and the line feed still ends the line.
    EXPECT_EQ(NextLines(UnitFile(u"a\xD83D\nb")->decoder), (Lines{"a\xEF\xBF\xBD\n", "b\n"}));
}

TEST(UnitsToBytes, PiecesHoldWholeCharacters) {
    const std::u16string text = u"\u20AC\U0001F600a\u00E9\u20AC\n";
    std::string whole;
    Utf16ToUtf8(text.data(), text.size(), whole);
    for (int32_t cap = 2; cap <= 12; ++cap) {
        auto r = UnitFile(text);
        const Lines pieces = Utf8Pieces(r->decoder, cap);
        std::string joined;
        for (const std::string& p : pieces) {
            EXPECT_LT(p.size(), size_t(cap));
            EXPECT_TRUE(
                IsWellFormedUtf8(reinterpret_cast<const uint8_t*>(p.data()), p.size(), false))
                << cap;
            joined += p;
        }
        if (cap >= 5) {
            EXPECT_EQ(joined, whole) << cap;  // room for a pair: every character fits
        } else {
            EXPECT_LT(joined.size(), whole.size())
                << cap;  // stops at the first one that cannot fit
        }
        // A caller that grows its buffer gets the whole line from any start that holds the
        // first character; a smaller one gets null at once.
        EXPECT_EQ(NextLines(UnitFile(text)->decoder, cap), cap >= 4 ? Lines{whole} : Lines{})
            << cap;
    }
}

TEST(UnitsToBytes, TooSmallForTheNextCharacterKeepsIt) {
    auto r = UnitFile(u"a\u20AC\n");
    char buf[8];
    EXPECT_EQ(r->decoder.ReadLineUtf8(buf, 0), nullptr);
    EXPECT_EQ(r->decoder.ReadLineUtf8(buf, 1), nullptr);
    ASSERT_NE(r->decoder.ReadLineUtf8(buf, 3), nullptr);
    EXPECT_STREQ(buf, "a");
    EXPECT_EQ(r->decoder.ReadLineUtf8(buf, 3), nullptr);  // the euro sign needs 4
    ASSERT_NE(r->decoder.ReadLineUtf8(buf, 4), nullptr);
    EXPECT_STREQ(buf, "\xE2\x82\xAC");
    ASSERT_NE(r->decoder.ReadLineUtf8(buf, 2), nullptr);
    EXPECT_STREQ(buf, "\n");
    EXPECT_EQ(r->decoder.ReadLineUtf8(buf, 8), nullptr);
}

TEST(BytesToUnits, WholeLinesConvertAsOne) {
    EXPECT_EQ(NextWideLines(Utf8File("Gr\xC3\xBC\xC3\x9F"
                                     "e\r\n\xF0\x9F\x98\x80")
                                ->decoder),
              (WideLines{u"Gr\u00FC\u00DFe\n", u"\U0001F600\n"}));
    // A carriage return inside a character goes before the conversion.
    EXPECT_EQ(NextWideLines(ByteFile("\xE2\r\x82\xAC\n")->decoder), (WideLines{u"\u20AC\n"}));
    // A sequence cut by the line feed is replaced as at the end of the input; the line feed stays.
    EXPECT_EQ(NextWideLines(ByteFile("a\xE2\nb\xE2x\nc\xE2xy\n")->decoder),
              (WideLines{u"a\uFFFD\n", u"b\uFFFD\n", u"c\uFFFDxy\n"}));
    EXPECT_EQ(NextWideLines(ByteFile("end\xF0\x9F")->decoder), (WideLines{u"end\uFFFD\n"}));
}

TEST(BytesToUnits, PiecesHoldWholeCharacters) {
    const std::string text =
        "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z\x80\xE2\x82"
        "a\n";
    const std::u16string whole = Utf16Of(text.substr(0, text.size() - 1)) + u"\n";
    for (uint32_t cap = 2; cap <= 8; ++cap) {
        const WideLines pieces = Utf16Pieces(ByteFile(text)->decoder, cap);
        std::u16string joined;
        for (const std::u16string& p : pieces) {
            EXPECT_LT(p.size(), cap);
            if (!p.empty()) {
                EXPECT_FALSE(p.back() >= 0xD800 && p.back() <= 0xDBFF) << cap;  // no pair split
            }
            joined += p;
        }
        if (cap >= 3) {
            EXPECT_EQ(joined, whole) << cap;
        } else {
            EXPECT_EQ(joined, u"\u00E9\u20AC") << cap;  // the pair needs 3
        }
        EXPECT_EQ(NextWideLines(ByteFile(text)->decoder, cap), (WideLines{whole})) << cap;
    }
}

TEST(BytesToUnits, TinyCapacities) {
    auto r = Utf8File("\xF0\x9F\x98\x80!\n");
    char16_t buf[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(r->decoder.ReadLineUtf16(buf, 0), nullptr);
    EXPECT_EQ(r->decoder.ReadLineUtf16(buf, 1), nullptr);
    EXPECT_EQ(r->decoder.ReadLineUtf16(buf, 2), nullptr);  // the pair does not fit
    EXPECT_EQ(buf[0], u'#');
    ASSERT_NE(r->decoder.ReadLineUtf16(buf, 3), nullptr);
    EXPECT_EQ(std::u16string(buf), u"\U0001F600");
    EXPECT_EQ(Utf16Pieces(r->decoder, 2), (WideLines{u"!", u"\n"}));
}

// The line-end scan tests several bytes at once: every line end at every offset must be found,
// and bytes next to the line-end values must not be taken for them.
TEST(BytesToBytes, LineEndsAtEveryOffset) {
    const std::string fillers =
        std::string("\x09\x0B\x0C\x0E\x8A\x8D\x1A\x2A\xFF", 9) + std::string(1, '\0');
    std::string text;
    Lines expected;
    for (size_t len = 0; len < 40; ++len) {
        std::string line;
        for (size_t k = 0; k < len; ++k)
            line += fillers[(len * 7 + k) % fillers.size()];
        text += line + (len % 2 ? "\r\n" : "\n");
        expected.push_back(line + "\n");
    }
    for (bool encipher : {false, true}) {
        // A plain first line of ASCII, so that the plain file is judged plain.
        auto r = ByteFile(std::string(20, 'x') + "\n" + text, encipher);
        std::vector<char> buf(64);
        ASSERT_NE(r->decoder.ReadLineUtf8(buf.data(), 64), nullptr);
        for (const std::string& line : expected) {
            ASSERT_NE(r->decoder.ReadLineUtf8(buf.data(), 64), nullptr);
            // Zero bytes are part of the text: compare up to the line feed.
            const auto lf = std::find(buf.begin(), buf.end(), '\n');
            ASSERT_NE(lf, buf.end());
            EXPECT_EQ(std::string(buf.begin(), lf + 1), line);
        }
        EXPECT_EQ(r->decoder.ReadLineUtf8(buf.data(), 64), nullptr);
    }
}

// The byte path reads blocks; lines must come out whole across block boundaries.
TEST(Lines, LargeFileAcrossBlocks) {
    std::string text;
    Lines expected;
    for (int i = 0; i < 20000; ++i) {
        std::string line = "line " + std::to_string(i) + std::string(size_t(i % 97), 'x');
        text += line + (i % 3 ? "\r\n" : "\n");
        expected.push_back(line + "\n");
    }
    EXPECT_EQ(NextLines(ByteFile(text)->decoder), expected);
    EXPECT_EQ(NextLines(ByteFile(text, false)->decoder), expected);
}

}  // namespace

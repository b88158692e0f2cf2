// Byte-order marks, the clean-after-mark tests and the classification of attached files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cryptfile/text_format.h"
#include "cryptfile_test_util.h"

namespace {

using namespace cryptfile;
using namespace cryptfile_test;

int32_t Mark(const Bytes& b, size_t n) {
    return DetectByteOrderMark(b.data(), n);
}
int32_t Mark(const Bytes& b) {
    return Mark(b, b.size());
}

TEST(ByteOrderMark, Table) {
    EXPECT_EQ(Mark({}), EncodingNone);
    EXPECT_EQ(Mark({0xFF}), EncodingNone);
    EXPECT_EQ(Mark({0xFF, 0xFE}), EncodingUtf16LE);
    EXPECT_EQ(Mark({0xFE, 0xFF}), EncodingUtf16BE);
    EXPECT_EQ(Mark({0xEF, 0xBB}), EncodingNone);
    EXPECT_EQ(Mark({0xEF, 0xBB, 0xBF}), EncodingUtf8);
    EXPECT_EQ(Mark({0xEF, 0xBB, 0xBF, 0x00}), EncodingUtf8);
    EXPECT_EQ(Mark({0xFF, 0xFE, 0x00}), EncodingUtf16LE);  // three bytes: not yet UTF-32
    EXPECT_EQ(Mark({0xFF, 0xFE, 0x00, 0x00}), EncodingUtf32LE);
    EXPECT_EQ(Mark({0xFF, 0xFE, 0x00, 0x00, 0x41, 0x00}), EncodingUtf32LE);
    EXPECT_EQ(Mark({0xFF, 0xFE, 0x41, 0x00}), EncodingUtf16LE);
    EXPECT_EQ(Mark({0x00, 0x00, 0xFE, 0xFF}), EncodingUtf32BE);
    EXPECT_EQ(Mark({0x00, 0x00, 0xFE}), EncodingNone);
    EXPECT_EQ(Mark({0xFE, 0xFF, 0x00, 0x00}), EncodingUtf16BE);
    EXPECT_EQ(Mark({0x41, 0xFF, 0xFE}), EncodingNone);
    // Only the first n bytes count.
    EXPECT_EQ(Mark({0xFF, 0xFE, 0x00, 0x00}, 2), EncodingUtf16LE);
    EXPECT_EQ(Mark({0xEF, 0xBB, 0xBF}, 2), EncodingNone);
    EXPECT_EQ(Mark({0xFF, 0xFE}, 1), EncodingNone);
}

TEST(ByteOrderMark, LengthsAndReadingUnit) {
    EXPECT_EQ(ByteOrderMarkLength(EncodingNone), 0u);
    EXPECT_EQ(ByteOrderMarkLength(EncodingUtf8), 3u);
    EXPECT_EQ(ByteOrderMarkLength(EncodingUtf16LE), 2u);
    EXPECT_EQ(ByteOrderMarkLength(EncodingUtf32LE), 4u);
    EXPECT_EQ(ByteOrderMarkLength(EncodingUtf16BE), 2u);
    EXPECT_EQ(ByteOrderMarkLength(EncodingUtf32BE), 4u);
    EXPECT_EQ(ByteOrderMarkLength(EncodingAnsi), 0u);
    for (int32_t code = 0; code <= 6; ++code) {
        EXPECT_EQ(ReadsAsBytes(code), code == EncodingUtf8 || code == EncodingAnsi) << code;
    }
}

TEST(CleanAfterMark, StrictAndWellFormed) {
    struct Case {
        std::string sample;
        bool ascii;
        bool utf8;
    };
    const std::string bom = "\xEF\xBB\xBF";
    const Case cases[] = {
        {bom, true, true},
        {bom + "abc", true, true},
        {bom + "0123456789012", true, true},  // full sample of 16
        {bom + "Gr\xC3\xBC\xC3\x9F"
               "e",
         false, true},  // non-ASCII first characters
        {bom + "\xE2\x82\xAC 100", false, true},
        {bom + "abcdefghijk\xE2\x82", false, true},    // 16 bytes: cut by the sample's end
        {bom + "abcdefghij\xE2\x82", false, false},    // 15 bytes: the file ends there
        {bom + "abcdefghijk\xE0\x80", false, false},   // cut, but cannot complete
        {bom + "ab\xE2\x82z", false, false},           // broken in the middle
        {bom + std::string("a\0b", 3), false, false},  // a zero byte
        {bom + "\xC3\xA9" + std::string("\0", 1), false, false},
        // Stray bytes that the platform conversion replaces one by one pass the strict test
        // (one unit per byte), so they pass the wider test too.
        {bom + "abcdefghijkl\x80", true, true},
        {bom + "\xC0\xAF", true, true},
        {bom + "abcdefghijkl\xF0", true, true},
        {"\xEF\xBB", false, false},
    };
    for (const Case& c : cases) {
        const auto* p = reinterpret_cast<const uint8_t*>(c.sample.data());
        EXPECT_EQ(IsAsciiCleanAfterMark(p, c.sample.size()), c.ascii) << c.sample;
        EXPECT_EQ(IsUtf8CleanAfterMark(p, c.sample.size()), c.utf8) << c.sample;
    }
}

// Attaches a stored file and reports the classification and the first line.
struct Attached {
    int32_t encoding;
    bool encrypted;
    std::vector<std::string> lines;
};

Attached AttachAndRead(const Bytes& stored) {
    MemoryByteSource source(stored.data(), stored.size());
    TextDecoder decoder;
    decoder.Attach(&source, kKeyText);
    Attached a{decoder.encoding(), decoder.encrypted(), NextLines(decoder)};
    const Classification c =
        ClassifySample(stored.data(), stored.size() < 16 ? stored.size() : 16, kKeyText);
    EXPECT_EQ(c.encoding, a.encoding);
    EXPECT_EQ(c.encrypted, a.encrypted);
    EXPECT_FALSE(decoder.error());
    return a;
}

TEST(Classification, EmptyAndOneByteFiles) {
    Attached a = AttachAndRead({});
    EXPECT_EQ(a.encoding, EncodingNone);
    EXPECT_FALSE(a.encrypted);
    EXPECT_TRUE(a.lines.empty());

    a = AttachAndRead({'A'});
    EXPECT_EQ(a.encoding, EncodingAnsi);
    EXPECT_FALSE(a.encrypted);
    EXPECT_EQ(a.lines, (std::vector<std::string>{"A\n"}));

    for (uint8_t b : {0x00, 0x80, 0xFF}) {
        a = AttachAndRead({b});
        EXPECT_EQ(a.encoding, EncodingAnsi) << int(b);
        EXPECT_TRUE(a.encrypted) << int(b);
    }
    // One enciphered byte is not deciphered: 'Z' is stored as 0x0D, a plain carriage return,
    // which line cutting drops.
    a = AttachAndRead(Encipher({'Z'}));
    EXPECT_EQ(a.encoding, EncodingAnsi);
    EXPECT_FALSE(a.encrypted);
    EXPECT_TRUE(a.lines.empty());
}

TEST(Classification, PlainAndEncipheredWithoutMark) {
    const std::string text = "[Runtime]\r\nProductName=Agent\r\n";
    Attached a = AttachAndRead(ToBytes(text));
    EXPECT_EQ(a.encoding, EncodingAnsi);
    EXPECT_FALSE(a.encrypted);
    EXPECT_EQ(a.lines, (std::vector<std::string>{"[Runtime]\n", "ProductName=Agent\n"}));

    a = AttachAndRead(Encipher(ToBytes(text)));
    EXPECT_EQ(a.encoding, EncodingAnsi);
    EXPECT_TRUE(a.encrypted);
    EXPECT_EQ(a.lines, (std::vector<std::string>{"[Runtime]\n", "ProductName=Agent\n"}));
}

TEST(Classification, Utf8MarkAsciiText) {
    const std::string text =
        "\xEF\xBB\xBF"
        "abc\n";
    Attached a = AttachAndRead(ToBytes(text));
    EXPECT_EQ(a.encoding, EncodingUtf8);
    EXPECT_FALSE(a.encrypted);
    EXPECT_EQ(a.lines, (std::vector<std::string>{"abc\n"}));

    a = AttachAndRead(Encipher(ToBytes(text)));
    EXPECT_EQ(a.encoding, EncodingUtf8);
    EXPECT_TRUE(a.encrypted);
    EXPECT_EQ(a.lines, (std::vector<std::string>{"abc\n"}));

    // The mark alone.
    a = AttachAndRead(ToBytes("\xEF\xBB\xBF"));
    EXPECT_EQ(a.encoding, EncodingUtf8);
    EXPECT_FALSE(a.encrypted);
    EXPECT_TRUE(a.lines.empty());
}

// Under the strict test these files were sent to the cipher (plain) or left unsettled
// (enciphered); well-formed UTF-8 after the mark now settles them.
TEST(Classification, Utf8MarkNonAsciiText) {
    const std::string text =
        "\xEF\xBB\xBF"
        "Gr\xC3\xBC\xC3\x9F"
        "e, \xE2\x82\xAC 5\r\nzwei\r\n";
    ASSERT_FALSE(IsAsciiCleanAfterMark(reinterpret_cast<const uint8_t*>(text.data()), 16));

    Attached a = AttachAndRead(ToBytes(text));
    EXPECT_EQ(a.encoding, EncodingUtf8);
    EXPECT_FALSE(a.encrypted);
    EXPECT_EQ(a.lines, (std::vector<std::string>{"Gr\xC3\xBC\xC3\x9F"
                                                 "e, \xE2\x82\xAC 5\n",
                                                 "zwei\n"}));

    a = AttachAndRead(Encipher(ToBytes(text)));
    EXPECT_EQ(a.encoding, EncodingUtf8);
    EXPECT_TRUE(a.encrypted);
    EXPECT_EQ(a.lines, (std::vector<std::string>{"Gr\xC3\xBC\xC3\x9F"
                                                 "e, \xE2\x82\xAC 5\n",
                                                 "zwei\n"}));

    // A character cut by the end of the 16-byte sample.
    const std::string cut =
        "\xEF\xBB\xBF"
        "abcdefghijk\xE2\x82\xAC\n";
    a = AttachAndRead(ToBytes(cut));
    EXPECT_EQ(a.encoding, EncodingUtf8);
    EXPECT_FALSE(a.encrypted);
    a = AttachAndRead(Encipher(ToBytes(cut)));
    EXPECT_EQ(a.encoding, EncodingUtf8);
    EXPECT_TRUE(a.encrypted);
    EXPECT_EQ(a.lines, (std::vector<std::string>{"abcdefghijk\xE2\x82\xAC\n"}));
}

TEST(Classification, Utf8MarkWithStrayBytesStaysPlain) {
    // A Latin-1 byte after the mark converts to one U+FFFD, so the file still counts as plain.
    const std::string text =
        "\xEF\xBB\xBF"
        "caf\xE9 au lait\n";
    const Attached a = AttachAndRead(ToBytes(text));
    EXPECT_EQ(a.encoding, EncodingUtf8);
    EXPECT_FALSE(a.encrypted);
    EXPECT_EQ(a.lines, (std::vector<std::string>{"caf\xE9 au lait\n"}));
}

TEST(Classification, Utf8MarkWithMalformedTextIsJudgedEnciphered) {
    // A zero byte or an invalid byte after the mark fails both tests: judged enciphered; the
    // deciphered sample shows no mark, so the code stays 0 and the file is read as units.
    for (const std::string& text : {std::string("\xEF\xBB\xBF"
                                                "a\0b\n",
                                                7),
                                    std::string("\xEF\xBB\xBF"
                                                "a\xE2\x82z\n"),
                                    std::string("\xEF\xBB\xBF"
                                                "a\xE2\x82")}) {
        const Attached a = AttachAndRead(ToBytes(text));
        EXPECT_EQ(a.encoding, EncodingNone);
        EXPECT_TRUE(a.encrypted);
    }
}

TEST(Classification, KnownMisjudgementsStay) {
    // Plain text with a UTF-16 mark: judged enciphered, code 6.
    Bytes utf16 = {0xFF, 0xFE};
    for (char16_t u : std::u16string(u"IncludeLocalGUI='true'\r\n")) {
        utf16.push_back(static_cast<uint8_t>(u));
        utf16.push_back(static_cast<uint8_t>(u >> 8));
    }
    Attached a = AttachAndRead(utf16);
    EXPECT_EQ(a.encoding, EncodingAnsi);
    EXPECT_TRUE(a.encrypted);

    // Enciphered UTF-16 with its mark: the deciphered mark 2 does not settle it, the stored bytes
    // make it enciphered code 6, read as deciphered bytes with the mark kept.
    const Bytes stored = Encipher(utf16);
    MemoryByteSource s2(stored.data(), stored.size());
    TextDecoder decoder;
    decoder.Attach(&s2, kKeyText);
    EXPECT_EQ(decoder.encoding(), EncodingAnsi);
    EXPECT_TRUE(decoder.encrypted());
    EXPECT_EQ(decoder.DecodeByte(), 0xFF);
    EXPECT_EQ(decoder.DecodeByte(), 0xFE);
    EXPECT_EQ(decoder.DecodeByte(), 'I');
    EXPECT_EQ(decoder.DecodeByte(), 0x00);

    // A file enciphered with another key is not detected: it comes out as garbage.
    const std::string text =
        "\xEF\xBB\xBF"
        "abc\n";
    a = AttachAndRead(Encipher(ToBytes(text), "another key"));
    EXPECT_TRUE(a.encrypted);
    EXPECT_NE(a.lines, (std::vector<std::string>{"abc\n"}));
}

// A stored UTF-8 mark followed by a zero byte fails the clean test, so the file counts as
// enciphered and keeps the code its deciphered sample showed. The keys "b59" and "Hwa" turn the
// stored mark into FF FE and FE FF: codes 2 and 4, both read as 16-bit units, low byte first,
// with the two-byte mark skipped.
TEST(Classification, DecipheredUtf16MarkKeepsItsCode) {
    struct Case {
        const char* key;
        int32_t code;
    };
    for (const Case& c : {Case{"b59", EncodingUtf16LE}, Case{"Hwa", EncodingUtf16BE}}) {
        Rc4State ks;
        Rc4Init(ks, reinterpret_cast<const uint8_t*>(c.key), std::strlen(c.key));
        Bytes plain;
        for (uint8_t stored : {0xEF, 0xBB, 0xBF, 0x00})
            plain.push_back(stored ^ Rc4NextByte(ks));
        ASSERT_EQ(DetectByteOrderMark(plain.data(), 4), c.code) << c.key;
        const char16_t first = char16_t(plain[2] | plain[3] << 8);
        const Bytes rest = Utf16LeBytes(u"\nline two\r\n");
        plain.insert(plain.end(), rest.begin(), rest.end());
        const Bytes stored = Encipher(plain, c.key);

        MemoryByteSource source(stored.data(), stored.size());
        TextDecoder decoder;
        decoder.Attach(&source, c.key);
        EXPECT_EQ(decoder.encoding(), c.code) << c.key;
        EXPECT_TRUE(decoder.encrypted()) << c.key;
        EXPECT_EQ(NextWideLines(decoder),
                  (std::vector<std::u16string>{std::u16string{first, u'\n'}, u"line two\n"}))
            << c.key;
    }
}

TEST(Classification, SampleOfOneByteDoesNotTryTheCipher) {
    // The stored byte 0xEF ^ keystream[0] would not matter: n < 2 never deciphers the sample.
    const Classification c = ClassifySample(Bytes{0x41}.data(), 1, kKeyText);
    EXPECT_EQ(c.encoding, EncodingAnsi);
    EXPECT_FALSE(c.encrypted);
    const Classification z = ClassifySample(nullptr, 0, kKeyText);
    EXPECT_EQ(z.encoding, EncodingNone);
    EXPECT_FALSE(z.encrypted);
}

// A source that reads one byte per call and cannot go back.
class OneWaySource : public ByteSource {
  public:
    explicit OneWaySource(const Bytes& data) : data_(data) {}
    int ReadByte() override { return pos_ < data_.size() ? data_[pos_++] : -1; }
    bool Rewind() override { return false; }

  private:
    const Bytes& data_;
    size_t pos_ = 0;
};

TEST(Attach, SourceThatCannotRewindGivesTheSameText) {
    for (const std::string& text :
         {std::string("short\n"), std::string("a longer first line\r\nsecond\n"),
          std::string("\xEF\xBB\xBF"
                      "marked text over sixteen bytes\n")}) {
        for (const Bytes& stored : {ToBytes(text), Encipher(ToBytes(text))}) {
            OneWaySource oneWay(stored);
            TextDecoder decoder;
            decoder.Attach(&oneWay, kKeyText);
            const std::vector<std::string> viaOneWay = NextLines(decoder);
            EXPECT_EQ(viaOneWay, AttachAndRead(stored).lines) << text;
            EXPECT_FALSE(viaOneWay.empty());
        }
    }
}

TEST(Attach, DetachAndReattach) {
    const Bytes stored =
        Encipher(ToBytes("\xEF\xBB\xBF"
                         "one\ntwo\n"));
    MemoryByteSource source(stored.data(), stored.size());
    TextDecoder decoder;
    EXPECT_EQ(decoder.encoding(), EncodingNone);
    EXPECT_EQ(decoder.DecodeByte(), -1);
    decoder.Attach(&source, kKeyText);
    EXPECT_EQ(NextLines(decoder, 12, 1), (std::vector<std::string>{"one\n"}));
    // Attaching again rewinds and keys the cipher afresh.
    decoder.Attach(&source, kKeyText);
    EXPECT_EQ(NextLines(decoder), (std::vector<std::string>{"one\n", "two\n"}));
    decoder.Detach();
    EXPECT_EQ(decoder.encoding(), EncodingNone);
    EXPECT_FALSE(decoder.encrypted());
    char buf[16];
    EXPECT_EQ(decoder.ReadLineUtf8(buf, sizeof(buf)), nullptr);
    decoder.Attach(nullptr, kKeyText);
    EXPECT_EQ(decoder.encoding(), EncodingNone);
    EXPECT_EQ(decoder.DecodeByte(), -1);
}

TEST(Attach, SkipBytesDeciphersAndDrops) {
    const Bytes stored = Encipher(ToBytes("0123456789"));
    MemoryByteSource source(stored.data(), stored.size());
    TextDecoder decoder;
    decoder.Attach(&source, kKeyText);
    ASSERT_TRUE(decoder.encrypted());
    decoder.SkipBytes(3);
    EXPECT_EQ(decoder.DecodeByte(), '3');
    decoder.SkipBytes(-4);
    EXPECT_EQ(decoder.DecodeByte(), '4');
    decoder.SkipBytes(100);
    EXPECT_EQ(decoder.DecodeByte(), -1);
}

// A source that fails part way: reading stops, and the decoder says it was not the end.
class FailingSource : public ByteSource {
  public:
    FailingSource(const Bytes& data, size_t failAt) : data_(data), failAt_(failAt) {}
    int ReadByte() override {
        if (pos_ >= failAt_) {
            failed_ = pos_ < data_.size();
            return -1;
        }
        return data_[pos_++];
    }
    bool Rewind() override {
        pos_ = 0;
        return true;
    }
    bool ReadFailed() const override { return failed_; }

  private:
    const Bytes& data_;
    size_t failAt_;
    size_t pos_ = 0;
    bool failed_ = false;
};

TEST(Attach, ReadErrorIsToldApartFromTheEnd) {
    const Bytes stored = Encipher(ToBytes("first line\nsecond line\nthird line\n"));
    FailingSource failing(stored, 20);
    TextDecoder decoder;
    decoder.Attach(&failing, kKeyText);
    EXPECT_FALSE(decoder.error());
    const auto lines = NextLines(decoder);
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_TRUE(decoder.error());

    FailingSource whole(stored, stored.size());
    decoder.Attach(&whole, kKeyText);
    EXPECT_EQ(NextLines(decoder).size(), 3u);
    EXPECT_FALSE(decoder.error());
}

}  // namespace

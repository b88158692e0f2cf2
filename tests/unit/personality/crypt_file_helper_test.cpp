// CCryptFileHelper on real files: plain and enciphered forms, byte-order marks, files read
// as 16-bit units, line growth, carriage returns, missing and empty files.
#include <gtest/gtest.h>

#include "cryptfile/text_format.h"
#include "ini_text.h"
#include "personality/crypt_file_helper.h"
#include "personality/personality_fields.h"

using testini::Encipher;
using testini::Keystream;
using testini::Lookup;
using testini::TempFile;
using testini::Utf16LeBytes;
using testini::Utf8Bytes;
using testini::WithUtf8Mark;

namespace {

const std::u16string kMissing = u"<missing>";

// Sample of a personality file, with CR LF line ends, a long line, a carriage return inside
// a line, a non-ASCII value and a last line without a line end.
std::u16string SampleText() {
    return u"; personality of the test edition\r\n"
           u"[Runtime]\r\n"
           u"Personality=server\r\n"
           u"ProductName=Ag\u00E9nt Tarvos \u65E5\u672C\r\n"
           u"ProductID=42abc\r\n"
           u"PolicyNamespace=a/b/fw^urn:x,,ips^urn:y\r\n"
           u"FeatureIPS=on\r\n"
           u"Long=" +
           std::u16string(10000, u'x') +
           u"\r\n"
           u"CR=x\ry\r\n"
           u"  [Modules]  \r\n"
           u"Loadable=engine^engine.dll^SERVICE|\r\n"
           u"[GUI]\r\n"
           u"FeatureIPS=0";
}

void ExpectSampleValues(const CCryptFileHelper& ini) {
    EXPECT_EQ(Lookup(ini, u"Runtime", u"ProductName"), u"Ag\u00E9nt Tarvos \u65E5\u672C");
    EXPECT_EQ(Lookup(ini, u"Runtime", u"Long"), std::u16string(10000, u'x'));
    EXPECT_EQ(Lookup(ini, u"Runtime", u"CR"), u"xy");
    EXPECT_EQ(Lookup(ini, u"Modules", u"Loadable"), u"engine^engine.dll^SERVICE|");
    int32_t id = -1;
    EXPECT_TRUE(ini.GetInt(u"Runtime", u"ProductID", id));
    EXPECT_EQ(id, 42);
    int32_t gui = -1;
    EXPECT_TRUE(ini.GetInt(u"GUI", u"FeatureIPS", gui));
    EXPECT_EQ(gui, 0);
    ASSERT_EQ(ini.sections().size(), 3u);
    EXPECT_EQ(ini.sections()[0].name, u"Runtime");
    EXPECT_EQ(ini.sections()[0].entries.size(), 7u);

    Personality p;
    ASSERT_TRUE(ReadPersonality(p, ini));
    EXPECT_EQ(p.edition, 1);
    EXPECT_TRUE(p.FeatureIPS);
    EXPECT_EQ(p.guiLevel[1], 0);
    EXPECT_EQ(p.policyFiles, std::vector<std::u16string>{u"fw.xml"});
    ASSERT_EQ(p.loadableModules.size(), 1u);
    EXPECT_EQ(p.loadableModules[0].runMode, RunService);
}

bool AllAsciiNonZero(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    for (size_t k = from; k < to && k < bytes.size(); ++k) {
        if (bytes[k] == 0 || bytes[k] >= 0x80) {
            return false;
        }
    }
    return true;
}

TEST(CryptFileHelper, PlainAsciiFile) {
    TempFile file(u"pc_plain_ascii.ini", Utf8Bytes(u"[Runtime]\nProductName=Agent\n"));
    ASSERT_TRUE(file.written());
    CCryptFileHelper ini;
    EXPECT_TRUE(ini.FileExists(file.path()));
    ASSERT_TRUE(ini.Load(file.path()));
    EXPECT_EQ(ini.path(), file.path());
    EXPECT_EQ(ini.encoding(), cryptfile::EncodingAnsi);
    EXPECT_FALSE(ini.encrypted());
    EXPECT_EQ(Lookup(ini, u"Runtime", u"ProductName"), u"Agent");
}

TEST(CryptFileHelper, PlainAndEncipheredFormsGiveTheSameValues) {
    const std::vector<uint8_t> plain = Utf8Bytes(SampleText());
    const std::vector<uint8_t> enciphered = Encipher(plain);
    // Without a mark, an enciphered file is recognised by its stored sample not being ASCII.
    ASSERT_FALSE(AllAsciiNonZero(enciphered, 0, 16));

    struct Variant {
        const char16_t* name;
        std::vector<uint8_t> bytes;
        int32_t encoding;
        bool encrypted;
    } variants[] = {
        {u"pc_same_plain.ini", plain, cryptfile::EncodingAnsi, false},
        {u"pc_same_plain_bom.ini", WithUtf8Mark(plain), cryptfile::EncodingUtf8, false},
        {u"pc_same_enc.ini", enciphered, cryptfile::EncodingAnsi, true},
        {u"pc_same_enc_bom.ini", Encipher(WithUtf8Mark(plain)), cryptfile::EncodingUtf8, true},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(personality::Utf16ToUtf8(v.name));
        TempFile file(v.name, v.bytes);
        ASSERT_TRUE(file.written());
        CCryptFileHelper ini;
        ASSERT_TRUE(ini.Load(file.path()));
        EXPECT_EQ(ini.encoding(), v.encoding);
        EXPECT_EQ(ini.encrypted(), v.encrypted);
        ExpectSampleValues(ini);
        // The buffer doubled from 4 until the long line fitted, and kept its size.
        EXPECT_GE(ini.lineCapacity(), 10006);
        EXPECT_EQ(ini.lineCapacity() & (ini.lineCapacity() - 1), 0);
    }
}

TEST(CryptFileHelper, InMemorySourceParsesLikeTheFile) {
    const std::vector<uint8_t> stored = Encipher(WithUtf8Mark(Utf8Bytes(SampleText())));
    cryptfile::MemoryByteSource source(stored.data(), stored.size());
    CCryptFileHelper ini;
    ASSERT_TRUE(ini.LoadFrom(source));
    EXPECT_TRUE(ini.encrypted());
    ExpectSampleValues(ini);
    EXPECT_EQ(ini.path(), nullptr);
}

// A plain UTF-16 file with its FF FE mark is judged enciphered (code 6) by the classification
// rules, so its deciphered bytes are garbage and nothing useful is found.
TEST(CryptFileHelper, PlainUtf16WithMarkIsTakenAsEnciphered) {
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    std::vector<uint8_t> text = Utf16LeBytes(u"[Runtime]\r\nProductName=Agent\r\n");
    bytes.insert(bytes.end(), text.begin(), text.end());
    TempFile file(u"pc_utf16_plain.ini", bytes);
    ASSERT_TRUE(file.written());
    CCryptFileHelper ini;
    ASSERT_TRUE(ini.Load(file.path()));
    EXPECT_TRUE(ini.encrypted());
    EXPECT_EQ(ini.encoding(), cryptfile::EncodingAnsi);
    EXPECT_EQ(Lookup(ini, u"Runtime", u"ProductName"), kMissing);
}

// A stored file that starts with EF BB BF but is not ASCII after it, and whose deciphered
// sample shows no mark, is enciphered code 0: it is deciphered from byte 0 and read as
// UTF-16LE units. Its first two units are what the three mark bytes decipher to.
TEST(CryptFileHelper, EncipheredFileReadAsUtf16Units) {
    const std::u16string body =
        u"\n[Runtime]\r\nProductName=Ag\u00E9nt \u65E5\u672C\r\n"
        u"CR=x\ry\r\nLong=" +
        std::u16string(10000, u'u') + u"\r\nLast=end";
    std::vector<uint8_t> plain = {0, 0, 0, 0x41};
    std::vector<uint8_t> bodyBytes = Utf16LeBytes(body);
    plain.insert(plain.end(), bodyBytes.begin(), bodyBytes.end());
    const std::vector<uint8_t> ks = Keystream(3);
    plain[0] = 0xEF ^ ks[0];
    plain[1] = 0xBB ^ ks[1];
    plain[2] = 0xBF ^ ks[2];
    const std::vector<uint8_t> stored = Encipher(plain);
    ASSERT_EQ(stored[0], 0xEF);
    ASSERT_EQ(stored[1], 0xBB);
    ASSERT_EQ(stored[2], 0xBF);
    ASSERT_EQ(cryptfile::DetectByteOrderMark(plain.data(), 16), 0);
    ASSERT_FALSE(cryptfile::IsUtf8CleanAfterMark(stored.data(), 16));

    TempFile file(u"pc_utf16_units.ini", stored);
    ASSERT_TRUE(file.written());
    CCryptFileHelper ini;
    ASSERT_TRUE(ini.Load(file.path()));
    EXPECT_TRUE(ini.encrypted());
    EXPECT_EQ(ini.encoding(), cryptfile::EncodingNone);
    EXPECT_EQ(Lookup(ini, u"Runtime", u"ProductName"), u"Ag\u00E9nt \u65E5\u672C");
    EXPECT_EQ(Lookup(ini, u"Runtime", u"CR"), u"xy");
    EXPECT_EQ(Lookup(ini, u"Runtime", u"Long"), std::u16string(10000, u'u'));
    EXPECT_EQ(Lookup(ini, u"Runtime", u"Last"), u"end");
    EXPECT_GE(ini.lineCapacity(), 10006);
}

TEST(CryptFileHelper, CarriageReturnsAndLastLine) {
    TempFile file(u"pc_cr.ini", Utf8Bytes(u"[S]\rX\r\nA=x\ry\nB=\r\r1\r\nK=v"));
    ASSERT_TRUE(file.written());
    CCryptFileHelper ini;
    ASSERT_TRUE(ini.Load(file.path()));
    // "[S]\rX" loses its carriage return and becomes the line "[S]X": no header, no '='.
    EXPECT_EQ(Lookup(ini, u"", u"A"), u"xy");
    EXPECT_EQ(Lookup(ini, u"", u"B"), u"1");
    EXPECT_EQ(Lookup(ini, u"", u"K"), u"v");
    EXPECT_EQ(Lookup(ini, u"S", u"A"), kMissing);
}

TEST(CryptFileHelper, MissingAndBadPaths) {
    CCryptFileHelper ini;
    const char16_t* missing = u"pc_no_such_file.ini";
    EXPECT_FALSE(ini.FileExists(missing));
    EXPECT_FALSE(ini.FileExists(u""));
    EXPECT_FALSE(ini.FileExists(nullptr));
    EXPECT_FALSE(ini.Load(missing));
    EXPECT_EQ(ini.path(), missing);
    EXPECT_FALSE(ini.Load(u""));
    EXPECT_FALSE(ini.Load(nullptr));
    EXPECT_FALSE(ini.Load(u"pc_no_such_folder/personality.ini"));
    std::u16string out = u"kept";
    EXPECT_FALSE(ini.GetString(u"Runtime", u"ProductName", out));
    EXPECT_FALSE(ini.GetString(u"", u"", out));
    EXPECT_EQ(out, u"kept");
    EXPECT_TRUE(ini.sections().empty());

    ini.SetPath(missing);
    EXPECT_EQ(ini.path(), missing);
}

TEST(CryptFileHelper, EmptyFileLoadsWithNoSection) {
    TempFile file(u"pc_empty.ini", {});
    ASSERT_TRUE(file.written());
    CCryptFileHelper ini;
    EXPECT_TRUE(ini.FileExists(file.path()));
    ASSERT_TRUE(ini.Load(file.path()));
    EXPECT_TRUE(ini.sections().empty());
    EXPECT_EQ(ini.encoding(), cryptfile::EncodingNone);
    EXPECT_FALSE(ini.encrypted());
    Personality p;
    ASSERT_TRUE(ReadPersonality(p, ini));
    EXPECT_EQ(p.guiLevel[0], 2);
}

TEST(CryptFileHelper, NonAsciiPath) {
    const std::u16string name = u"pc_pers\u00F6nlichkeit_\u65E5.ini";
    TempFile file(name, Utf8Bytes(u"[Runtime]\nProductName=Agent\n"));
    ASSERT_TRUE(file.written());
    CCryptFileHelper ini;
    ASSERT_TRUE(ini.Load(file.path()));
    EXPECT_EQ(Lookup(ini, u"Runtime", u"ProductName"), u"Agent");
}

TEST(CryptFileHelper, SecondLoadMergesIntoTheFirst) {
    TempFile first(u"pc_merge_1.ini", Utf8Bytes(u"[A]\nK=1\nX=1\n"));
    TempFile second(u"pc_merge_2.ini", Encipher(Utf8Bytes(u"[A]\nK=2\n[B]\nY=3\n")));
    ASSERT_TRUE(first.written());
    ASSERT_TRUE(second.written());
    CCryptFileHelper ini;
    ASSERT_TRUE(ini.Load(first.path()));
    ASSERT_TRUE(ini.Load(second.path()));
    EXPECT_EQ(ini.path(), second.path());
    EXPECT_EQ(Lookup(ini, u"A", u"K"), u"2");
    EXPECT_EQ(Lookup(ini, u"A", u"X"), u"1");
    EXPECT_EQ(Lookup(ini, u"B", u"Y"), u"3");
}

TEST(CryptFileHelper, LineBufferGrowsAndStays) {
    std::u16string text = u"[S]\nA=";
    text += std::u16string(100, u'a');
    text += u"\nB=b\nC=";
    text += std::u16string(3000, u'c');
    TempFile file(u"pc_growth.ini", Utf8Bytes(text));
    ASSERT_TRUE(file.written());
    CCryptFileHelper ini;
    ASSERT_TRUE(ini.Load(file.path()));
    EXPECT_EQ(Lookup(ini, u"S", u"A"), std::u16string(100, u'a'));
    EXPECT_EQ(Lookup(ini, u"S", u"B"), u"b");
    EXPECT_EQ(Lookup(ini, u"S", u"C"), std::u16string(3000, u'c'));
    EXPECT_GE(ini.lineCapacity(), 3003);
    EXPECT_LE(ini.lineCapacity(), 8192);
}

// Zero units end a line's measured text: the rest of that line is overwritten by what
// follows. A long run of them still ends, and the buffer stays within twice the run.
TEST(CryptFileHelper, ZeroBytesInsideALineEndCleanly) {
    std::vector<uint8_t> plain = Utf8Bytes(u"[S]\nA=x");
    plain.insert(plain.end(), 100000, 0);
    std::vector<uint8_t> tail = Utf8Bytes(u"\nK=v\n[T]\nB=1\n");
    plain.insert(plain.end(), tail.begin(), tail.end());
    TempFile file(u"pc_zeros.ini", Encipher(plain));
    ASSERT_TRUE(file.written());
    CCryptFileHelper ini;
    ASSERT_TRUE(ini.Load(file.path()));
    EXPECT_TRUE(ini.encrypted());
    EXPECT_LE(ini.lineCapacity(), 1 << 18);
    EXPECT_EQ(Lookup(ini, u"S", u"A"), u"xK=v");
    EXPECT_EQ(Lookup(ini, u"T", u"B"), u"1");
}

}  // namespace

// The INI line rules, fed line by line (the decoder's line cutting is tested with files).
#include <gtest/gtest.h>

#include <climits>

#include "ini_text.h"
#include "personality/crypt_file_helper.h"

using testini::Lookup;
using testini::ParseText;

namespace {

const std::u16string kMissing = u"<missing>";

TEST(IniParse, HeaderForms) {
    CCryptFileHelper ini;
    ParseText(ini,
              u"[Runtime]\nProductName=Agent\n"
              u"[ Runtime ]\nA=spaced\n"
              u"[runtime]\nA=lower\n"
              u"[A]B]\nX=1\n"
              u"[]\nE=empty name\n");
    EXPECT_EQ(Lookup(ini, u"Runtime", u"ProductName"), u"Agent");
    EXPECT_EQ(Lookup(ini, u" Runtime ", u"A"), u"spaced");
    EXPECT_EQ(Lookup(ini, u"Runtime", u"A"), kMissing);
    EXPECT_EQ(Lookup(ini, u"runtime", u"A"), u"lower");
    EXPECT_EQ(Lookup(ini, u"runtime", u"ProductName"), kMissing);
    EXPECT_EQ(Lookup(ini, u"A", u"X"), u"1");
    EXPECT_EQ(Lookup(ini, u"A]B", u"X"), kMissing);
    EXPECT_EQ(Lookup(ini, u"", u"E"), u"empty name");
    ASSERT_EQ(ini.sections().size(), 5u);
    EXPECT_EQ(ini.sections()[0].name, u"Runtime");
    EXPECT_EQ(ini.sections()[4].name, u"");
}

TEST(IniParse, HeaderWithTrailingCommentIsNoHeader) {
    CCryptFileHelper ini;
    ParseText(ini, u"[Other]\n[Runtime] ; main\nK=v\n");
    EXPECT_EQ(Lookup(ini, u"Other", u"K"), u"v");
    EXPECT_EQ(Lookup(ini, u"Runtime", u"K"), kMissing);
}

TEST(IniParse, TrimsWhiteSpaceOfTheWholeLineOnly) {
    CCryptFileHelper ini;
    ParseText(ini,
              u"  \t[S]\t \r\n"
              u" \v\fKey=Value \t\r\n"
              u"\u3000\u00A0Wide=v\u2003\u205F\n"
              u"ProductName = Agent\n");
    EXPECT_EQ(Lookup(ini, u"S", u"Key"), u"Value");
    EXPECT_EQ(Lookup(ini, u"S", u"Wide"), u"v");
    // White space around '=' stays part of the key and the value.
    EXPECT_EQ(Lookup(ini, u"S", u"ProductName"), kMissing);
    EXPECT_EQ(Lookup(ini, u"S", u"ProductName "), u" Agent");
}

TEST(IniParse, WhiteSpaceSetIsFixed) {
    const char16_t spaces[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0xA0,   0x1680,
                               0x2000, 0x2005, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
    for (char16_t u : spaces) {
        EXPECT_TRUE(IsIniWhitespace(u)) << std::hex << static_cast<int>(u);
    }
    const char16_t others[] = {0x00,   0x08,   0x0E,   0x1F,   0x21,   0x85,   0x9F,  0xA1,
                               0x180E, 0x200B, 0x2027, 0x202A, 0x2060, 0xFEFF, 0xFFFF};
    for (char16_t u : others) {
        EXPECT_FALSE(IsIniWhitespace(u)) << std::hex << static_cast<int>(u);
    }
    std::u16string line = u"\u0085 x \uFEFF";
    CCryptFileHelper::TrimWhitespace(line);
    EXPECT_EQ(line, u"\u0085 x \uFEFF");
    line = u" \t\r\n ";
    CCryptFileHelper::TrimWhitespace(line);
    EXPECT_EQ(line, u"");
}

TEST(IniParse, CommentsAndSemicolons) {
    CCryptFileHelper ini;
    ParseText(ini,
              u"[S]\n"
              u";x=1\n"
              u"  ;y=1\n"
              u"A;B=C\n"
              u"K=v ; not a comment\n");
    EXPECT_EQ(Lookup(ini, u"S", u";x"), kMissing);
    EXPECT_EQ(Lookup(ini, u"S", u"  ;y"), kMissing);
    EXPECT_EQ(Lookup(ini, u"S", u";y"), kMissing);
    EXPECT_EQ(Lookup(ini, u"S", u"A;B"), u"C");
    EXPECT_EQ(Lookup(ini, u"S", u"K"), u"v ; not a comment");
    ASSERT_EQ(ini.sections().size(), 1u);
    EXPECT_EQ(ini.sections()[0].entries.size(), 2u);
}

TEST(IniParse, EqualsSignRules) {
    CCryptFileHelper ini;
    ParseText(ini,
              u"[S]\n"
              u"Key=\n"
              u"Key2=a=b\n"
              u"=abc\n"
              u"==x\n"
              u"Modules\n"
              u"[Open\n");
    std::u16string value = u"untouched";
    EXPECT_TRUE(ini.GetString(u"S", u"Key", value));
    EXPECT_EQ(value, u"");
    EXPECT_EQ(Lookup(ini, u"S", u"Key2"), u"a=b");
    // The '=' is looked for from the second unit on.
    EXPECT_EQ(Lookup(ini, u"S", u"="), u"x");
    EXPECT_EQ(Lookup(ini, u"S", u""), kMissing);
    // Lines without '=' after their first unit store nothing.
    EXPECT_EQ(Lookup(ini, u"S", u"Modules"), kMissing);
    EXPECT_EQ(Lookup(ini, u"S", u"[Open"), kMissing);
    ASSERT_EQ(ini.sections().size(), 1u);
    EXPECT_EQ(ini.sections()[0].entries.size(), 3u);
}

TEST(IniParse, LineWithoutEqualsCreatesNoSection) {
    CCryptFileHelper ini;
    ParseText(ini, u"[Lonely]\nModules\n[Open\n");
    EXPECT_TRUE(ini.sections().empty());
}

TEST(IniParse, EntriesBeforeFirstHeaderAreUnnamedSection) {
    CCryptFileHelper ini;
    ParseText(ini, u"Top=1\n[S]\nK=2\n");
    EXPECT_EQ(Lookup(ini, u"", u"Top"), u"1");
    EXPECT_EQ(Lookup(ini, u"S", u"Top"), kMissing);
    EXPECT_EQ(Lookup(ini, u"", u"K"), kMissing);
}

TEST(IniParse, RepeatsMergeAndLastValueWins) {
    CCryptFileHelper ini;
    ParseText(ini,
              u"[A]\nK=first\nOnlyFirst=1\n"
              u"[B]\nK=b\n"
              u"[A]\nK=second\nOnlySecond=2\n");
    EXPECT_EQ(Lookup(ini, u"A", u"K"), u"second");
    EXPECT_EQ(Lookup(ini, u"A", u"OnlyFirst"), u"1");
    EXPECT_EQ(Lookup(ini, u"A", u"OnlySecond"), u"2");
    EXPECT_EQ(Lookup(ini, u"B", u"K"), u"b");
    ASSERT_EQ(ini.sections().size(), 2u);
    EXPECT_EQ(ini.sections()[0].name, u"A");
    EXPECT_EQ(ini.sections()[1].name, u"B");
}

TEST(IniParse, HeaderAloneCreatesNoSection) {
    CCryptFileHelper ini;
    ParseText(ini, u"[Empty]\n[Next]\nK=v\n[Trailing]\n");
    EXPECT_EQ(Lookup(ini, u"Empty", u"K"), kMissing);
    EXPECT_EQ(Lookup(ini, u"Next", u"K"), u"v");
    ASSERT_EQ(ini.sections().size(), 1u);
    for (const IniSection& section : ini.sections()) {
        EXPECT_FALSE(section.entries.empty());
    }
}

TEST(IniParse, KeysAreOrderedByCodeUnits) {
    CCryptFileHelper ini;
    ParseText(ini, u"[S]\nb=1\n\u00E9=2\nB=3\na=4\n");
    ASSERT_EQ(ini.sections().size(), 1u);
    std::u16string order;
    for (const auto& entry : ini.sections()[0].entries) {
        order += entry.first;
    }
    EXPECT_EQ(order, u"Bab\u00E9");
}

TEST(IniParse, LongLineIsOneValue) {
    std::u16string value(10000, u'x');
    value[5000] = u'=';
    CCryptFileHelper ini;
    ParseText(ini, u"[S]\nLong=" + value + u"\n");
    EXPECT_EQ(Lookup(ini, u"S", u"Long"), value);
}

TEST(IniParse, GetIntConversion) {
    CCryptFileHelper ini;
    ParseText(ini,
              u"[N]\n"
              u"A=42abc\nB=abc\nC= \t-17\nD=+5\nE=\n"
              u"F=2147483647\nG=2147483648\nH=-2147483648\nI=-99999999999999999999\n"
              u"J=\u3000 7\nK=- 5\nL=0x10\nM=007\n");
    struct Case {
        const char16_t* key;
        int32_t expected;
    } cases[] = {{u"A", 42},      {u"B", 0},       {u"C", -17},     {u"D", 5},       {u"E", 0},
                 {u"F", INT_MAX}, {u"G", INT_MAX}, {u"H", INT_MIN}, {u"I", INT_MIN}, {u"J", 7},
                 {u"K", 0},       {u"L", 0},       {u"M", 7}};
    for (const Case& c : cases) {
        int32_t out = -12345;
        EXPECT_TRUE(ini.GetInt(u"N", c.key, out)) << static_cast<char>(c.key[0]);
        EXPECT_EQ(out, c.expected) << static_cast<char>(c.key[0]);
    }
    int32_t out = -12345;
    EXPECT_FALSE(ini.GetInt(u"N", u"Missing", out));
    EXPECT_FALSE(ini.GetInt(u"Nope", u"A", out));
    EXPECT_EQ(out, -12345);
}

TEST(IniParse, LookupsOnAnUnloadedReaderFindNothing) {
    CCryptFileHelper ini;
    std::u16string text = u"kept";
    int32_t number = 9;
    EXPECT_FALSE(ini.GetString(u"", u"", text));
    EXPECT_FALSE(ini.GetInt(u"Runtime", u"ProductID", number));
    EXPECT_EQ(text, u"kept");
    EXPECT_EQ(number, 9);
    EXPECT_EQ(ini.lineCapacity(), 4);
    EXPECT_EQ(ini.encoding(), cryptfile::EncodingNone);
    EXPECT_FALSE(ini.encrypted());
}

}  // namespace

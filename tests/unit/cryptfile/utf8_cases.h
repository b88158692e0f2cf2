// Hand-picked conversions, shared by the portable test and the differential test on Wine.
// The expectations are Wine's answers (Windows 7 as Wine 8 implements it). Where Unicode's
// recommended practice (one U+FFFD per maximal subpart) would differ, Wine's answer stands and
// the case says so: a lead whose sequence is longer than what is left of the input swallows the
// rest in one U+FFFD, and a second byte outside the lead's range is taken with the lead.
#pragma once

#include <string>

namespace utf8_cases {

struct ToUtf16Case {
    const char* name;
    std::string bytes;
    std::u16string units;
};

struct ToUtf8Case {
    const char* name;
    std::u16string units;
    std::string bytes;
};

const ToUtf16Case kToUtf16[] = {
    {"ascii", "Abc", u"Abc"},
    {"zero byte", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    {"two bytes", "\xC3\xA9", u"\u00E9"},
    {"three bytes", "\xE2\x82\xAC", u"\u20AC"},
    {"byte order mark kept",
     "\xEF\xBB\xBF"
     "a",
     u"\uFEFFa"},
    {"four bytes", "\xF0\x9F\x98\x80", u"\U0001F600"},
    {"highest", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
    {"lone continuation", "\x80", u"\uFFFD"},
    {"continuations",
     "\x80\xBF"
     "a",
     u"\uFFFD\uFFFDa"},
    {"C0 never leads", "\xC0\x80", u"\uFFFD\uFFFD"},
    {"C1 never leads", "\xC1\xBF", u"\uFFFD\uFFFD"},
    {"F5 never leads", "\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"FF",
     "\xFF"
     "a",
     u"\uFFFDa"},
    {"lead at end", "a\xC3", u"a\uFFFD"},
    {"lead then ascii",
     "\xC3"
     "a",
     u"\uFFFDa"},
    // Wine: fewer bytes left than the sequence needs: one replacement for all of them.
    {"short at end swallows ascii",
     "\xE2"
     "a",
     u"\uFFFD"},
    {"short at end, four-byte lead",
     "\xF0"
     "ab",
     u"\uFFFD"},
    {"cut three-byte at end", "\xE2\x82", u"\uFFFD"},
    {"cut four-byte at end", "\xF0\x9F\x98", u"\uFFFD"},
    {"enough left: only the lead",
     "\xE2"
     "ab",
     u"\uFFFDab"},
    {"third byte wrong",
     "\xE2\x82"
     "a",
     u"\uFFFDa"},
    {"fourth byte wrong",
     "\xF0\x9F\x98"
     "a",
     u"\uFFFDa"},
    // Wine: a second byte outside the lead's range is taken with the lead.
    {"overlong E0", "\xE0\x80\x80", u"\uFFFD\uFFFD"},
    {"overlong F0", "\xF0\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
    {"surrogate ED", "\xED\xA0\x80", u"\uFFFD\uFFFD"},
    {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
    {"ED below surrogates", "\xED\x9F\xBF", u"\uD7FF"},
    {"mixed", "x\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80y", u"x\u00E9\u20AC\U0001F600y"},
    {"line feed after lead", "\xE2\n", u"\uFFFD"},
    {"line feed after lead, more after", "\xE2\nab", u"\uFFFD\nab"},
};

const ToUtf8Case kToUtf8[] = {
    {"ascii", u"Abc", "Abc"},
    {"two bytes", u"\u00E9\u07FF", "\xC3\xA9\xDF\xBF"},
    {"three bytes", u"\u0800\uFFFF", "\xE0\xA0\x80\xEF\xBF\xBF"},
    {"pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
    {"lone high", u"\xD83D", "\xEF\xBF\xBD"},
    {"lone low", u"\xDE00", "\xEF\xBF\xBD"},
    {"high then ascii",
     u"\xD83D"
     u"a",
     "\xEF\xBF\xBD"
     "a"},
    {"low then high", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"two highs then low", u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
    {"zero unit", std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
};

}  // namespace utf8_cases

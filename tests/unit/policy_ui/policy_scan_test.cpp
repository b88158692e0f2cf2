// The IncludeLocalGUI marker scan over fgets pieces.
#include <gtest/gtest.h>

#include <string>

#include "policy_ui/policy_scan.h"

namespace {

using namespace policy_ui;

PolicyMarker Scan(const std::string& text) {
    return ScanPolicyText(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::vector<std::string> Split(const std::string& text, size_t bufferSize = kPolicyPieceChars + 1) {
    return SplitLikeFgets(reinterpret_cast<const uint8_t*>(text.data()), text.size(), bufferSize);
}

const std::string kTrue = "IncludeLocalGUI='true'";
const std::string kFalse = "IncludeLocalGUI='false'";

TEST(PolicyScan, Markers) {
    EXPECT_EQ(Scan("<Policy " + kTrue + " />\n"), PolicyMarker::True);
    EXPECT_EQ(Scan("<Policy " + kFalse + " />\n"), PolicyMarker::False);
    EXPECT_EQ(Scan("<?xml version='1.0'?>\n<Policy Name='x'/>\n"), PolicyMarker::None);
    EXPECT_EQ(Scan(""), PolicyMarker::None);
    EXPECT_EQ(Scan(kTrue), PolicyMarker::True);  // last line without a line feed
}

TEST(PolicyScan, OnlyTheExactMarkersCount) {
    EXPECT_EQ(Scan("IncludeLocalGUI=\"true\"\n"), PolicyMarker::None);
    EXPECT_EQ(Scan("IncludeLocalGUI = 'true'\n"), PolicyMarker::None);
    EXPECT_EQ(Scan("includelocalgui='true'\n"), PolicyMarker::None);
    EXPECT_EQ(Scan("IncludeLocalGUI='TRUE'\n"), PolicyMarker::None);
    EXPECT_EQ(Scan("IncludeLocalGUI='yes'\n"), PolicyMarker::None);
    EXPECT_EQ(Scan("IncludeLocalGUI='tru'\n"), PolicyMarker::None);
}

TEST(PolicyScan, FirstPieceDecidesTrueFirstWithinAPiece) {
    EXPECT_EQ(Scan("<a " + kFalse + " b " + kTrue + "/>\n"), PolicyMarker::True);
    EXPECT_EQ(Scan("<a " + kTrue + " b " + kFalse + "/>\n"), PolicyMarker::True);
    EXPECT_EQ(Scan("<a " + kFalse + "/>\n<b " + kTrue + "/>\n"), PolicyMarker::False);
    EXPECT_EQ(Scan("<b " + kTrue + "/>\n<a " + kFalse + "/>\n"), PolicyMarker::True);

    PolicyScanner scanner;
    EXPECT_EQ(scanner.Feed("nothing here\n"), PolicyMarker::None);
    EXPECT_EQ(scanner.Feed(nullptr), PolicyMarker::None);
    EXPECT_EQ(scanner.Feed(("x" + kFalse + "\n").c_str()), PolicyMarker::False);
    EXPECT_EQ(scanner.Feed(("x" + kTrue + "\n").c_str()), PolicyMarker::False);
    EXPECT_EQ(scanner.result(), PolicyMarker::False);
}

TEST(PolicyScan, MarkerCutByThePieceBoundaryIsFound) {
    for (size_t start = kPolicyPieceChars - kFalse.size(); start <= kPolicyPieceChars; ++start) {
        for (const std::string& marker : {kTrue, kFalse}) {
            const std::string line = std::string(start, ' ') + marker + std::string(40, ' ') + "\n";
            const auto pieces = Split(line);
            ASSERT_GE(pieces.size(), 2u);
            EXPECT_EQ(Scan(line), marker == kTrue ? PolicyMarker::True : PolicyMarker::False)
                << start;
        }
    }
    // In the third piece of a long line, cut by the second boundary.
    const std::string line = std::string(2 * kPolicyPieceChars - 10, 'x') + kFalse + "\n";
    ASSERT_EQ(Split(line).size(), 3u);
    EXPECT_EQ(Scan(line), PolicyMarker::False);
}

TEST(PolicyScan, NeverAcrossALineEnd) {
    EXPECT_EQ(Scan("IncludeLocal\nGUI='true'\n"), PolicyMarker::None);
    EXPECT_EQ(Scan("IncludeLocalGUI='\ntrue'\n"), PolicyMarker::None);
    // A line that fills its piece exactly, line feed included, ends there.
    const std::string full =
        std::string(kPolicyPieceChars - 1 - 16, 'x') + "IncludeLocalGUI=" + "\n";
    ASSERT_EQ(full.size(), kPolicyPieceChars);
    ASSERT_EQ(Split(full + "'true'\n").size(), 2u);
    EXPECT_EQ(Scan(full + "'true'\n"), PolicyMarker::None);
    // A full piece whose line feed comes alone in the next piece: the line still ends.
    const std::string longer = std::string(kPolicyPieceChars - 16, 'x') + "IncludeLocalGUI=";
    ASSERT_EQ(Split(longer + "\n'true'\n").size(), 3u);
    EXPECT_EQ(Scan(longer + "\n'true'\n"), PolicyMarker::None);
    EXPECT_EQ(Scan(longer + "'true'\n"), PolicyMarker::True);
}

TEST(PolicyScan, ZeroByteEndsAPiece) {
    EXPECT_EQ(Scan(std::string("abc\0", 4) + kTrue + "\n"), PolicyMarker::None);
    EXPECT_EQ(Scan(std::string("IncludeLocal\0", 13) + "GUI='true'\n"), PolicyMarker::None);
    EXPECT_EQ(Scan(std::string("abc\0\n", 5) + kTrue + "\n"), PolicyMarker::True);
    // A piece cut short by a zero byte passes nothing on to the next piece of its line.
    const std::string head = std::string(10, 'x') + std::string(1, '\0') +
                             std::string(kPolicyPieceChars - 11 - 12, 'y') + "IncludeLocal";
    ASSERT_EQ(head.size(), kPolicyPieceChars);
    EXPECT_EQ(Scan(head + "GUI='true'\n"), PolicyMarker::None);
    // UTF-16 text: each piece stops at the zero byte after its first character.
    std::string utf16 = "\xFF\xFE";
    for (char c : kTrue + "\n") {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    EXPECT_EQ(Scan(utf16), PolicyMarker::None);
}

TEST(PolicyScan, SplitLikeFgets) {
    EXPECT_TRUE(Split("").empty());
    EXPECT_EQ(Split("a\nb"), (std::vector<std::string>{"a\n", "b"}));
    EXPECT_EQ(Split("\n\n"), (std::vector<std::string>{"\n", "\n"}));
    EXPECT_EQ(Split(std::string("a\0b\n", 4)),
              (std::vector<std::string>{std::string("a\0b\n", 4)}));
    const auto pieces = Split(std::string(600, 'x') + "\n");
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].size(), kPolicyPieceChars);
    EXPECT_EQ(pieces[1].size(), kPolicyPieceChars);
    EXPECT_EQ(pieces[2], std::string(600 - 2 * kPolicyPieceChars, 'x') + "\n");
    EXPECT_EQ(Split("abcdef", 3), (std::vector<std::string>{"ab", "cd", "ef"}));
    EXPECT_EQ(Split("a\nbc", 2), (std::vector<std::string>{"a", "\n", "b", "c"}));
    EXPECT_TRUE(Split("abc", 1).empty());
}

}  // namespace

// The text-mode scan searches whole blocks instead of cutting pieces: against the piece-by-piece
// scan of the text as fgets in text mode delivers it (CR LF read as LF, Ctrl-Z ends the text),
// on texts built to put markers at piece boundaries, after zero bytes and carriage returns, and
// across blocks of every size.
TEST(PolicyScan, TextModeScanConcludesAsThePiecesDo) {
    const auto reference = [](const std::string& raw) {
        std::string text;
        for (size_t i = 0; i < raw.size() && raw[i] != '\x1A'; ++i) {
            if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
                continue;
            text.push_back(raw[i]);
        }
        return Scan(text);
    };
    const auto blocks = [](const std::string& raw, size_t size) {
        TextModeScan scan;
        for (size_t at = 0; at < raw.size(); at += size) {
            const size_t n = std::min(size, raw.size() - at);
            if (!scan.Push(reinterpret_cast<const uint8_t*>(raw.data() + at), n))
                break;
        }
        return scan.Finish();
    };
    // Bits of policy text; a marker is often cut short or spoiled so that later ones count.
    const std::vector<std::string> bits = {kTrue,
                                           kFalse,
                                           kTrue.substr(0, 15),
                                           kFalse.substr(0, 20),
                                           "IncludeLocalGUI='",
                                           "\r\n",
                                           "\n",
                                           "\r",
                                           std::string(1, '\0'),
                                           "\x1A",
                                           "G",
                                           std::string(200, 'x'),
                                           std::string(267, 'y'),
                                           std::string(40, 'z'),
                                           "<Rule Id='7' Name='a'/>"};
    uint32_t seed = 12345;
    const auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    size_t decided = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string raw;
        const size_t parts = 1 + next() % 12;
        for (size_t i = 0; i < parts; ++i) {
            const std::string& bit = bits[next() % bits.size()];
            // The rare Ctrl-Z would end most texts early.
            if (bit == "\x1A" && next() % 4 != 0)
                continue;
            raw += bit;
        }
        const PolicyMarker want = reference(raw);
        decided += want != PolicyMarker::None ? 1 : 0;
        for (const size_t size :
             {size_t(1), size_t(2), size_t(3), size_t(7), size_t(22), size_t(23), size_t(268),
              size_t(269), size_t(1000), raw.size() + 1}) {
            ASSERT_EQ(blocks(raw, size), want) << "round " << round << ", blocks of " << size;
        }
    }
    EXPECT_GT(decided, 1000u) << "the texts exercise decisions";
    // A policy of one line far longer than a block, the marker in its last piece.
    const std::string line = std::string(300000, 'a') + kFalse + "b" + kTrue + "\r\n";
    EXPECT_EQ(reference(line), PolicyMarker::True);
    EXPECT_EQ(blocks(line, 65536), PolicyMarker::True);
}

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

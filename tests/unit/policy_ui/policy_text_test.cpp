// The marker scan over text as the enciphered policy yields it: lines deciphered and cut by the
// cryptfile decoder, then written out as the plain copy, then scanned.
#include <gtest/gtest.h>

#include <string>

#include "cryptfile/text_format.h"
#include "cryptfile_test_util.h"
#include "policy_ui/policy_scan.h"

namespace {

using namespace cryptfile_test;
using policy_ui::PolicyMarker;

// The plain copy of an enciphered policy: every line that NextLine hands out, in order.
std::string PlainCopy(const Bytes& stored) {
    cryptfile::MemoryByteSource source(stored.data(), stored.size());
    cryptfile::TextDecoder decoder;
    decoder.Attach(&source, cryptfile::kKeyText);
    std::string out;
    for (const std::string& line : NextLines(decoder))
        out += line;
    return out;
}

PolicyMarker ScanStored(const Bytes& stored) {
    const std::string text = PlainCopy(stored);
    return policy_ui::ScanPolicyText(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(PolicyText, EncipheredUtf8Policy) {
    const std::string policy =
        "\xEF\xBB\xBF<?xml version='1.0' encoding='utf-8'?>\r\n"
        "<Policy Name='Standard \xE2\x80\x93 Server' IncludeLocalGUI='false'>\r\n</Policy>\r\n";
    EXPECT_EQ(ScanStored(Encipher(ToBytes(policy))), PolicyMarker::False);
    const std::string longLine = "<Policy " + std::string(500, 'a') + " IncludeLocalGUI='true'/>";
    EXPECT_EQ(ScanStored(Encipher(ToBytes(longLine))), PolicyMarker::True);
}

TEST(PolicyText, EncipheredUtf16PolicyYieldsNoMarker) {
    const Bytes stored = Encipher(Utf16LeBytes(u"\uFEFF<Policy IncludeLocalGUI='true'/>\r\n"));
    const std::string text = PlainCopy(stored);
    // Read as deciphered bytes with the mark kept; a line is measured up to its first zero byte.
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(0, 3), "\xFF\xFE<");
    EXPECT_EQ(ScanStored(stored), PolicyMarker::None);
}

}  // namespace

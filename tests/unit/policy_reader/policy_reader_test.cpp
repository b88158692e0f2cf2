// readPolicy on Wine: the decision from enciphered and plain policies, the piece rule, every
// failure of the clean-up table with its log lines, and the files it leaves behind.
#include <gtest/gtest.h>

#include <cstring>

#include "cryptfile/decrypt_file.h"
#include "cryptfile/text_format.h"
#include "host_support.h"
#include "logging/logger.h"
#include "policy_ui/policy_reader.h"
#include "policy_ui/policy_scan.h"
#include "win/scoped.h"

namespace {

using Records = std::vector<std::string>;

const std::wstring kDir = L"C:\\relo_policy";
const std::wstring kLogDir = L"C:\\relo_policy_log";
const char kFound[] = "INFO: Found policy file \n";
const char kSet[] = "INFO: LocalUI Set. \n";
const char kNotSet[] = "INFO: LocalUI not Set. \n";

std::string Encipher(const std::string& plain) {
    cryptfile::Rc4State state;
    cryptfile::Rc4Init(state, reinterpret_cast<const uint8_t*>(cryptfile::kKeyText),
                       std::strlen(cryptfile::kKeyText));
    std::string out = plain;
    cryptfile::Rc4Apply(state, reinterpret_cast<uint8_t*>(&out[0]), out.size());
    return out;
}

std::string Utf8(const std::wstring& w) {
    if (w.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n) - 1);
    return out;
}

std::string Policy(const std::string& settings) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Policy Name='Default'>\r\n  <Settings " +
           settings + "/>\r\n</Policy>\r\n";
}

class PolicyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::freshFolder(kDir);
        host::freshFolder(kLogDir);
        logger_.open(LogPath().c_str(), LOG_ERROR | LOG_WARN | LOG_INFO, LOG_FILE, nullptr);
        gLogger = &logger_;
    }
    void TearDown() override {
        gLogger = nullptr;
        logger_.close();
        SetFileAttributesW(TextPath().c_str(), FILE_ATTRIBUTE_NORMAL);
        host::removeTree(kDir);
        host::removeTree(kLogDir);
    }
    static std::wstring LogPath() { return kLogDir + L"\\policy.log"; }
    static std::wstring PolicyPath(const std::wstring& dir = kDir) { return dir + L"\\policy.xml"; }
    static std::wstring TextPath(const std::wstring& dir = kDir) { return dir + L"\\policy.txt"; }
    static Records Log() { return host::logRecords(LogPath()); }

    // Writes the stored policy, runs readPolicy with the flag at `initial`, and checks that
    // policy.xml is unchanged afterwards.
    static bool Read(const std::string& stored, bool initial, bool& flag) {
        EXPECT_TRUE(host::writeFile(PolicyPath(), stored));
        flag = initial;
        const bool result = readPolicy(kDir, flag);
        EXPECT_EQ(host::readFile(PolicyPath()), stored) << "policy.xml was changed";
        return result;
    }

    // What reading policy.txt back with fgets in text mode concludes: policy.txt made as the
    // run makes it, then read as the C runtime hands it out, piece by piece.
    static PolicyPreview FgetsConclusion() {
        const std::wstring copy = kDir + L"\\fgets.txt";
        if (!DecryptFileToFile(Utf8(PolicyPath()).c_str(), Utf8(copy).c_str()))
            return PolicyPreview::CannotDecipher;
        win::ScopedFile text(_wfopen(copy.c_str(), L"rt"));
        EXPECT_TRUE(text);
        policy_ui::PolicyScanner scanner;
        char piece[policy_ui::kPolicyPieceChars + 1];
        while (text && std::fgets(piece, sizeof(piece), text.get())) {
            if (scanner.Feed(piece) != policy_ui::PolicyMarker::None)
                break;
        }
        text.reset();
        DeleteFileW(copy.c_str());
        switch (scanner.result()) {
            case policy_ui::PolicyMarker::True:
                return PolicyPreview::IncludeUi;
            case policy_ui::PolicyMarker::False:
                return PolicyPreview::ExcludeUi;
            default:
                return PolicyPreview::NoMarker;
        }
    }

    THLogger logger_;
};

}  // namespace

TEST_F(PolicyTest, EncipheredTrueMarkerSetsTheFlag) {
    bool flag;
    EXPECT_TRUE(Read(Encipher(Policy("IncludeLocalGUI='true' Mode='x'")), false, flag));
    EXPECT_TRUE(flag);
    EXPECT_EQ(Log(), (Records{kFound, kSet}));
    EXPECT_FALSE(host::exists(TextPath()));
}

TEST_F(PolicyTest, EncipheredFalseMarkerClearsTheFlag) {
    bool flag;
    EXPECT_TRUE(Read(Encipher("\xEF\xBB\xBF" + Policy("IncludeLocalGUI='false'")), true, flag));
    EXPECT_FALSE(flag);
    EXPECT_EQ(Log(), (Records{kFound, kNotSet}));
    EXPECT_FALSE(host::exists(TextPath()));
}

TEST_F(PolicyTest, PlainPolicyIsReadToo) {
    bool flag;
    EXPECT_TRUE(Read(Policy("IncludeLocalGUI='true'"), false, flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(Read("\xEF\xBB\xBF" + Policy("IncludeLocalGUI='false'"), true, flag));
    EXPECT_FALSE(flag);
    EXPECT_EQ(Log(), (Records{kFound, kSet, kFound, kNotSet}));
    EXPECT_FALSE(host::exists(TextPath()));
}

TEST_F(PolicyTest, NoMarkerLeavesTheFlagAlone) {
    const char* nearMisses[] = {
        "IncludeLocalGUI=\"true\"", "IncludeLocalGUI = 'true'", "includelocalgui='true'",
        "IncludeLocalGUI='TRUE'",   "IncludeLocalGUI='yes'",    "Other='false'",
    };
    for (const char* settings : nearMisses) {
        SCOPED_TRACE(settings);
        for (bool initial : {false, true}) {
            bool flag;
            EXPECT_FALSE(Read(Encipher(Policy(settings)), initial, flag));
            EXPECT_EQ(flag, initial);
            EXPECT_FALSE(host::exists(TextPath()));
        }
    }
    bool flag;
    EXPECT_FALSE(Read("", true, flag));  // an empty policy
    EXPECT_TRUE(flag);
    EXPECT_EQ(Log(), Records(13, kFound)) << "a policy without a marker logs nothing more";
}

TEST_F(PolicyTest, FirstPieceWithAMarkerDecides) {
    bool flag;
    // Both in one piece: 'true' wins.
    EXPECT_TRUE(
        Read(Encipher(Policy("IncludeLocalGUI='false' IncludeLocalGUI='true'")), false, flag));
    EXPECT_TRUE(flag);
    // 'false' on an earlier line than 'true'.
    EXPECT_TRUE(Read(Encipher("<a IncludeLocalGUI='false'/>\r\n<b IncludeLocalGUI='true'/>\r\n"),
                     true, flag));
    EXPECT_FALSE(flag);
    EXPECT_EQ(Log(), (Records{kFound, kSet, kFound, kNotSet}));
}

// The text is read in pieces of 268 characters; a marker that a long line's piece boundary cuts
// is still found, while a marker cut by a line end is not.
TEST_F(PolicyTest, MarkerAcrossAPieceBoundaryIsFound) {
    for (size_t before : {244u, 250u, 265u, 268u + 250u}) {
        SCOPED_TRACE(before);
        const std::string line =
            "<Settings Pad='" + std::string(before - 15, 'p') + "' IncludeLocalGUI='false'/>";
        // The marker starts at before + 2. As the text reads after deciphering and in text mode,
        // does it straddle a piece boundary (from one character to 22 on either side)?
        const std::string text = "<Policy>\n" + line + "\n</Policy>\n";
        const auto pieces =
            policy_ui::SplitLikeFgets(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        bool whole = false;
        for (const std::string& piece : pieces)
            whole |= piece.find("IncludeLocalGUI='false'") != std::string::npos;
        EXPECT_FALSE(whole) << "the marker should straddle a piece boundary";

        bool flag = true;
        EXPECT_TRUE(Read(Encipher("<Policy>\r\n" + line + "\r\n</Policy>\r\n"), true, flag));
        EXPECT_FALSE(flag);
    }
    bool flag = false;
    EXPECT_FALSE(Read(Encipher("<a IncludeLocal\r\nGUI='true'/>\r\n"), false, flag));
    EXPECT_FALSE(flag);
}

TEST_F(PolicyTest, Utf16PoliciesHoldNoMarkerForTheScan) {
    std::string utf16 = "\xFF\xFE";
    for (char c : Policy("IncludeLocalGUI='true'")) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    bool flag;
    EXPECT_FALSE(Read(utf16, false, flag));
    EXPECT_FALSE(Read(Encipher(utf16), false, flag));
    EXPECT_FALSE(flag);
    EXPECT_EQ(Log(), (Records{kFound, kFound}));
    EXPECT_FALSE(host::exists(TextPath()));
}

TEST_F(PolicyTest, MissingPolicyTouchesNothing) {
    ASSERT_TRUE(host::writeFile(TextPath(), "left from before"));
    bool flag = true;
    EXPECT_FALSE(readPolicy(kDir, flag));
    EXPECT_TRUE(flag);
    EXPECT_EQ(Log(), (Records{"ERROR: Can't find policy file. C:\\relo_policy\\policy.xml\n"}));
    EXPECT_EQ(host::readFile(TextPath()), "left from before");
}

TEST_F(PolicyTest, UndecipherablePolicyLogsAndCleansUp) {
    // A folder named policy.xml exists but cannot be read: no policy.txt is made, so the
    // clean-up's deletion fails with "file not found".
    ASSERT_TRUE(CreateDirectoryW(PolicyPath().c_str(), nullptr));
    bool flag = false;
    EXPECT_FALSE(readPolicy(kDir, flag));
    EXPECT_FALSE(flag);
    EXPECT_EQ(Log(),
              (Records{kFound, "ERROR: Can't decrypt policy file. C:\\relo_policy\\policy.xml\n",
                       "ERROR: Can't delete policy.txt file. Errcode :2 \n"}));
}

TEST_F(PolicyTest, UnwritablePolicyTextFailsAndStays) {
    bool flag = true;
    // A folder named policy.txt: no text can be written there, and it cannot be deleted as a
    // file; the code is the platform's answer to the same call.
    ASSERT_TRUE(CreateDirectoryW(TextPath().c_str(), nullptr));
    EXPECT_FALSE(Read(Encipher(Policy("IncludeLocalGUI='false'")), true, flag));
    EXPECT_TRUE(flag);
    ASSERT_FALSE(DeleteFileW(TextPath().c_str()));
    const DWORD folderCode = GetLastError();
    EXPECT_EQ(Log(),
              (Records{kFound, "ERROR: Can't decrypt policy file. C:\\relo_policy\\policy.xml\n",
                       "ERROR: Can't delete policy.txt file. Errcode :" +
                           std::to_string(folderCode) + " \n"}));
    EXPECT_TRUE(GetFileAttributesW(TextPath().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_TRUE(RemoveDirectoryW(TextPath().c_str()));
}

TEST_F(PolicyTest, PolicyTextHeldOpenByAnotherIsNotWrittenInto) {
    // Another handle on policy.txt lets writers in but not readers (nor deletion). The deciphered
    // text goes only into a file made anew for administrators, never into one someone else
    // holds: the policy is not read. The codes are the platform's answers.
    win::ScopedHandle writerOnly(CreateFileW(TextPath().c_str(), GENERIC_WRITE, FILE_SHARE_WRITE,
                                             nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(writerOnly.valid());
    bool flag = true;
    EXPECT_FALSE(Read(Encipher(Policy("IncludeLocalGUI='false'")), true, flag));
    EXPECT_TRUE(flag);
    ASSERT_FALSE(DeleteFileW(TextPath().c_str()));
    const DWORD deleteCode = GetLastError();
    EXPECT_EQ(deleteCode, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(Log(),
              (Records{kFound, "ERROR: Can't decrypt policy file. C:\\relo_policy\\policy.xml\n",
                       "ERROR: Can't delete policy.txt file. Errcode :" +
                           std::to_string(deleteCode) + " \n"}));
    writerOnly.reset();
    EXPECT_EQ(host::readFile(TextPath()), "") << "deciphered text reached the other's file";
}

TEST_F(PolicyTest, ReadOnlyPolicyTextIsNotDeleted) {
    // A read-only policy.txt cannot be deleted, so no deciphered text is written: the policy is
    // not read and the file stays as it was (Wine run as root would let it be opened for
    // writing; it is never opened).
    ASSERT_TRUE(host::writeFile(TextPath(), "old"));
    ASSERT_TRUE(SetFileAttributesW(TextPath().c_str(), FILE_ATTRIBUTE_READONLY));
    bool flag = false;
    EXPECT_FALSE(Read(Encipher(Policy("IncludeLocalGUI='true'")), false, flag));
    EXPECT_FALSE(flag);
    EXPECT_EQ(Log(),
              (Records{kFound, "ERROR: Can't decrypt policy file. C:\\relo_policy\\policy.xml\n",
                       "ERROR: Can't delete policy.txt file. Errcode :5 \n"}));
    EXPECT_EQ(host::readFile(TextPath()), "old");
    EXPECT_TRUE(host::exists(TextPath()));
}

TEST_F(PolicyTest, FolderTooLongForThePathsIsRefusedUntouched) {
    // 250 characters: folder + "\policy.xml" is 261. Cut to 260, the paths would name
    // "policy.xm" and "policy.tx", which exist here and must stay as they are. The whole path
    // exists too (Wine would open it), but the tool's paths hold 260 characters: refused.
    std::wstring dir = kDir + L"\\" + std::wstring(120, L'd');
    dir += L"\\" + std::wstring(250 - dir.size() - 1, L'e');
    ASSERT_EQ(dir.size(), 250u);
    ASSERT_TRUE(
        CreateDirectoryW((L"\\\\?\\" + dir.substr(0, dir.find_last_of(L'\\'))).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + dir).c_str(), nullptr));
    const std::string cutPolicy = Encipher(Policy("IncludeLocalGUI='true'"));
    ASSERT_TRUE(host::writeFile(L"\\\\?\\" + dir + L"\\policy.xm", cutPolicy));
    ASSERT_TRUE(host::writeFile(L"\\\\?\\" + dir + L"\\policy.tx", "cut text"));
    ASSERT_TRUE(host::writeFile(L"\\\\?\\" + dir + L"\\policy.xml", cutPolicy));

    bool flag = false;
    EXPECT_FALSE(readPolicy(dir, flag));
    EXPECT_FALSE(flag);
    EXPECT_EQ(Log(), (Records{"ERROR: Can't find policy file. " + Utf8(dir) + "\\policy.xml\n"}));
    EXPECT_EQ(host::readFile(L"\\\\?\\" + dir + L"\\policy.xm"), cutPolicy);
    EXPECT_EQ(host::readFile(L"\\\\?\\" + dir + L"\\policy.tx"), "cut text");

    // One character less fits: the folder of 249 characters is read.
    const std::wstring fits = dir.substr(0, 249);
    ASSERT_TRUE(MoveFileW((L"\\\\?\\" + dir).c_str(), (L"\\\\?\\" + fits).c_str()));
    EXPECT_TRUE(readPolicy(fits, flag));
    EXPECT_TRUE(flag);
}

TEST_F(PolicyTest, FolderFormsAndNoLogger) {
    bool flag = false;
    // A folder with a trailing backslash: the doubled separator is accepted.
    ASSERT_TRUE(host::writeFile(PolicyPath(), Encipher(Policy("IncludeLocalGUI='true'"))));
    EXPECT_TRUE(readPolicy(kDir + L"\\", flag));
    EXPECT_TRUE(flag);

    // A folder with letters beyond ASCII.
    const std::wstring accented = kDir + L"\\Agent \u00E9t\u00E9 \u20AC";
    host::makeDirs(accented);
    ASSERT_TRUE(host::writeFile(PolicyPath(accented), Encipher(Policy("IncludeLocalGUI='false'"))));
    EXPECT_TRUE(readPolicy(accented, flag));
    EXPECT_FALSE(flag);
    EXPECT_FALSE(host::exists(TextPath(accented)));
    EXPECT_EQ(Log(), (Records{kFound, kSet, kFound, kNotSet}));

    // Without a logger nothing is logged and the result is the same.
    gLogger = nullptr;
    EXPECT_TRUE(readPolicy(kDir, flag));
    EXPECT_TRUE(flag);
    EXPECT_FALSE(readPolicy(kDir + L"\\none", flag));
    EXPECT_EQ(Log().size(), 4u);
}

TEST(ToUtf8, ConvertsUpToTheTerminator) {
    EXPECT_EQ(toUtf8(L""), "");
    EXPECT_EQ(toUtf8(L"C:\\Agent\\policy.xml"), "C:\\Agent\\policy.xml");
    EXPECT_EQ(toUtf8(L"\u00E9\u20AC\U0001F600"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(toUtf8(std::wstring(L"ab\0cd", 5)), "ab");
    // Every unit at its widest: three bytes each.
    const std::wstring cjk(300, L'\u4E2D');
    EXPECT_EQ(toUtf8(cjk).size(), 900u);
}

// The preflight's reading (in memory, no file, no lock) concludes what readPolicy concludes, and
// both what fgets in text mode concludes over policy.txt, on policies made to catch the places
// where they could part: pieces cut at 268 characters, carriage returns at any place, Ctrl-Z,
// zero bytes, UTF-16 text, enciphered and plain.
TEST_F(PolicyTest, PreviewConcludesWhatTheReadConcludes) {
    const std::string markers[] = {"IncludeLocalGUI='true'", "IncludeLocalGUI='false'",
                                   "IncludeLocalGUI=\"true\"", "IncludeLocalGUI='tru"};
    const std::string bits[] = {"\r\n",
                                "\n",
                                "\r",
                                "\r\r\n",
                                std::string(1, '\0'),
                                "\x1a",
                                "<Rule/>",
                                std::string(300, 'x'),
                                std::string(265, 'y')};
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    for (int round = 0; round < 160; ++round) {
        std::string plain;
        for (int part = 0, parts = 2 + next(10); part < parts; ++part) {
            plain += next(3) == 0 ? markers[next(4)] : bits[next(9)];
        }
        if (round % 8 == 7)  // UTF-16 with its mark: zero bytes everywhere
            plain = "\xff\xfe" + [&] {
                std::string w;
                for (char c : plain) {
                    w += c;
                    w += '\0';
                }
                return w;
            }();
        const std::string stored = round % 2 == 0 ? Encipher(plain) : plain;
        bool flag = false;
        const bool read = Read(stored, false, flag);
        const PolicyPreview preview = previewPolicy(kDir);
        const PolicyPreview expected =
            !read ? preview : (flag ? PolicyPreview::IncludeUi : PolicyPreview::ExcludeUi);
        // readPolicy scans policy.txt in large blocks: it concludes what fgets in text mode
        // over the same file concludes.
        const PolicyPreview fgetsSays = FgetsConclusion();
        if (fgetsSays != PolicyPreview::CannotDecipher) {
            EXPECT_EQ(static_cast<int>(read ? expected : PolicyPreview::NoMarker),
                      static_cast<int>(fgetsSays))
                << "round " << round;
        }
        std::string shown;  // the plain text, control bytes as \xNN;
        for (unsigned char c : plain) {
            shown += c >= 32 && c < 127 ? std::string(1, static_cast<char>(c))
                                        : "\\x" + std::to_string(c) + ";";
        }
        EXPECT_EQ(static_cast<int>(preview), static_cast<int>(expected))
            << "round " << round << ": " << shown;
        if (!read) {
            EXPECT_NE(preview, PolicyPreview::IncludeUi) << "round " << round;
            EXPECT_NE(preview, PolicyPreview::ExcludeUi) << "round " << round;
        }
    }
    EXPECT_FALSE(host::exists(TextPath())) << "the preview writes no policy.txt";
    host::removeTree(kDir);
    host::makeDirs(kDir);
    EXPECT_EQ(previewPolicy(kDir), PolicyPreview::Missing);
}

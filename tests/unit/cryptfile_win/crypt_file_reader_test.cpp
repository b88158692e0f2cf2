// CCryptFileReader on Wine's CRT streams: opening and classifying, NextLine's growing buffer,
// lines read as 16-bit units, the reader's lock, and read failures.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "cryptfile/crypt_file_reader.h"
#include "cryptfile/decrypt_file.h"
#include "cryptfile/utf8.h"
#include "win_test_util.h"

namespace {

using namespace cryptfile_win_test;

const std::wstring kDir = L"C:\\relo_reader";

class ReaderTest : public ::testing::Test {
  protected:
    void SetUp() override { host::freshFolder(kDir); }
    void TearDown() override { host::removeTree(kDir); }
    static std::wstring Path(const wchar_t* name) { return kDir + L"\\" + name; }
    // Writes bytes to a file in the test folder; returns its UTF-8 path.
    static std::string File(const wchar_t* name, const std::string& bytes) {
        EXPECT_TRUE(host::writeFile(Path(name), bytes));
        return Utf8(Path(name));
    }
};

std::vector<std::string> AllLines(CCryptFileReader& reader) {
    std::vector<std::string> lines;
    while (const char* line = reader.NextLine()) {
        EXPECT_EQ(reader.LineLength(), std::strlen(line));
        lines.emplace_back(line, reader.LineLength());
        if (lines.size() > 10000)
            break;
    }
    return lines;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST_F(ReaderTest, OpensAndClassifiesPlainAndEncipheredFiles) {
    CCryptFileReader reader;
    EXPECT_FALSE(reader.Open(nullptr, true, cryptfile::kKeyText));
    EXPECT_FALSE(reader.Open(Utf8(Path(L"missing.ini")).c_str(), false, cryptfile::kKeyText));
    EXPECT_EQ(reader.NextLine(), nullptr);

    ASSERT_TRUE(
        reader.Open(File(L"plain.ini", "a=1\r\nb=2\r\n").c_str(), false, cryptfile::kKeyText));
    EXPECT_FALSE(reader.IsEncrypted());
    EXPECT_EQ(reader.GetEncoding(), cryptfile::EncodingAnsi);
    EXPECT_EQ(AllLines(reader), (Lines{"a=1\n", "b=2\n"}));

    // A second Open closes the first file.
    const std::string text = "\xEF\xBB\xBF[Sec]\r\nkey=va\rlue\r\n\r\nlast";
    ASSERT_TRUE(reader.Open(File(L"enc.ini", Encipher(text)).c_str(), false, cryptfile::kKeyText));
    EXPECT_TRUE(reader.IsEncrypted());
    EXPECT_EQ(reader.GetEncoding(), cryptfile::EncodingUtf8);
    EXPECT_EQ(AllLines(reader), (Lines{"[Sec]\n", "key=value\n", "\n", "last\n"}));
    EXPECT_EQ(reader.NextLine(), nullptr);
    EXPECT_FALSE(reader.ReadFailed());

    reader.Close();
    EXPECT_FALSE(reader.IsEncrypted());
    EXPECT_EQ(reader.GetEncoding(), cryptfile::EncodingNone);
    EXPECT_EQ(reader.NextLine(), nullptr);

    // An empty file: plain, no line at all.
    ASSERT_TRUE(reader.Open(File(L"empty.ini", "").c_str(), false, cryptfile::kKeyText));
    EXPECT_FALSE(reader.IsEncrypted());
    EXPECT_EQ(reader.NextLine(), nullptr);
    EXPECT_FALSE(reader.ReadFailed());
}

TEST_F(ReaderTest, LineBufferDoublesUntilALongLineFitsAndStaysGrown) {
    CCryptFileReader reader;
    EXPECT_EQ(reader.LineCapacity(), 12);
    std::string longLine(700, 'x');
    for (size_t i = 0; i < longLine.size(); ++i)
        longLine[i] = static_cast<char>('a' + i % 26);
    ASSERT_TRUE(
        reader.Open(File(L"long.ini", Encipher("short\n" + longLine + "\r\nafter\n")).c_str(),
                    false, cryptfile::kKeyText));
    ASSERT_TRUE(reader.IsEncrypted());
    const char* line = reader.NextLine();
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "short\n");
    EXPECT_EQ(reader.LineCapacity(), 12);
    line = reader.NextLine();
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(std::string(line), longLine + "\n");
    EXPECT_EQ(reader.LineCapacity(), 768);  // 12, 24, ... 768: the first size that holds 701 bytes
    line = reader.NextLine();
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "after\n");
    EXPECT_EQ(reader.LineCapacity(), 768);

    // A line that fills the buffer to the byte, without its line feed, at the end of the file.
    ASSERT_TRUE(reader.Open(File(L"tail.ini", Encipher(std::string(765, 'q'))).c_str(), false,
                            cryptfile::kKeyText));
    line = reader.NextLine();
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(std::string(line), std::string(765, 'q') + "\n");
    EXPECT_EQ(reader.NextLine(), nullptr);
}

TEST_F(ReaderTest, UnitLinesComeOutWholeAsUtf8) {
    // 300 euro signs (three UTF-8 bytes each) and astral characters (a surrogate pair each):
    // far longer in UTF-8 than in units, handed out whole and never cut inside a character.
    std::u16string euros(300, u'\u20AC');
    std::u16string astral;
    for (int i = 0; i < 100; ++i)
        astral += u"\U0001F600a";
    CCryptFileReader reader;
    ASSERT_TRUE(
        reader.Open(File(L"units.ini", UnitFile(euros + u"\r\n" + astral + u"\nend")).c_str(),
                    false, cryptfile::kKeyText));
    ASSERT_TRUE(reader.IsEncrypted());
    ASSERT_EQ(reader.GetEncoding(), cryptfile::EncodingNone);
    ASSERT_NE(reader.NextLine(), nullptr);  // the two units the file opens with

    std::string euro8;
    for (int i = 0; i < 300; ++i)
        euro8 += "\xE2\x82\xAC";
    std::string astral8;
    for (int i = 0; i < 100; ++i)
        astral8 +=
            "\xF0\x9F\x98\x80"
            "a";
    EXPECT_EQ(AllLines(reader), (Lines{euro8 + "\n", astral8 + "\n", "end\n"}));

    // Into a caller's small buffer: pieces of whole characters that join to the line.
    ASSERT_TRUE(reader.Open(Utf8(Path(L"units.ini")).c_str(), false, cryptfile::kKeyText));
    char piece[10];
    ASSERT_NE(reader.ReadLineUtf8(piece, sizeof(piece)), nullptr);
    std::string joined;
    while (reader.ReadLineUtf8(piece, sizeof(piece))) {
        const std::string p(piece);
        const std::u16string units = [&] {
            std::u16string u;
            cryptfile::Utf8ToUtf16(reinterpret_cast<const uint8_t*>(p.data()), p.size(), u);
            return u;
        }();
        EXPECT_EQ(units.find(u'\uFFFD'), std::u16string::npos) << "a piece cut a character";
        joined += p;
        if (!p.empty() && p.back() == '\n')
            break;
    }
    EXPECT_EQ(joined, euro8 + "\n");
}

TEST_F(ReaderTest, Utf16LinesAndSkippedBytes) {
    CCryptFileReader reader;
    ASSERT_TRUE(reader.Open(File(L"w.ini", Encipher("h\xC3\xA9llo\r\nx\n")).c_str(), false,
                            cryptfile::kKeyText));
    ASSERT_TRUE(reader.IsEncrypted());
    char16_t wide[32];
    ASSERT_NE(reader.ReadLineUtf16(wide, 32), nullptr);
    EXPECT_EQ(std::u16string(wide), u"h\u00E9llo\n");
    reader.SkipBytes(1);  // drops "x"
    ASSERT_NE(reader.ReadLineUtf16(wide, 32), nullptr);
    EXPECT_EQ(std::u16string(wide), u"\n");
    EXPECT_EQ(reader.ReadLineUtf16(wide, 32), nullptr);
}

// Text with zero bytes (a UTF-16 text enciphered is read as deciphered bytes) is handed out
// with its zero bytes: LineLength counts them.
TEST_F(ReaderTest, ZeroBytesStayInsideTheLine) {
    const std::string plain = "\xFF\xFE" + Utf16LeBytes(u"ab\ncd");
    CCryptFileReader reader;
    ASSERT_TRUE(reader.Open(File(L"z.ini", Encipher(plain)).c_str(), false, cryptfile::kKeyText));
    ASSERT_TRUE(reader.IsEncrypted());
    ASSERT_EQ(reader.GetEncoding(), cryptfile::EncodingAnsi);
    std::vector<std::string> lines;
    while (const char* line = reader.NextLine())
        lines.emplace_back(line, reader.LineLength());
    EXPECT_EQ(lines, (Lines{std::string("\xFF\xFE"
                                        "a\0b\0\n",
                                        7),
                            std::string("\0c\0d\0\n", 6)}));
}

TEST_F(ReaderTest, AttachFileTakesOverTheStream) {
    CCryptFileReader reader;
    EXPECT_FALSE(reader.AttachFile(nullptr, cryptfile::kKeyText));

    File(L"att.ini", "one\ntwo\n");
    ASSERT_TRUE(reader.AttachFile(_wfopen(Path(L"att.ini").c_str(), L"rb"), cryptfile::kKeyText));
    EXPECT_FALSE(reader.IsEncrypted());
    EXPECT_STREQ(reader.NextLine(), "one\n");
    EXPECT_FALSE(DeleteFileW(Path(L"att.ini").c_str())) << "the reader holds the stream open";
    reader.Close();  // closes the stream it took over
    EXPECT_TRUE(DeleteFileW(Path(L"att.ini").c_str())) << "the stream was left open";
}

TEST_F(ReaderTest, PathsLongerThan260UnitsAreRefused) {
    // A file that exists at a path of 261 units (made through the long-path prefix).
    const std::wstring folder = kDir + L"\\" + std::wstring(120, L'a');
    const std::wstring longPath = folder + L"\\" + std::wstring(261 - folder.size() - 1, L'b');
    ASSERT_EQ(longPath.size(), 261u);
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr));
    ASSERT_TRUE(host::writeFile(L"\\\\?\\" + longPath, "x\n"));
    CCryptFileReader reader;
    EXPECT_FALSE(reader.Open(Utf8(longPath).c_str(), true, cryptfile::kKeyText));
    EXPECT_FALSE(DecryptFileToFile(Utf8(longPath).c_str(), Utf8(Path(L"d.txt")).c_str()));
    EXPECT_FALSE(host::exists(Path(L"d.txt")));
    const std::wstring longOut = longPath.substr(0, longPath.size() - 1) + L"c";
    EXPECT_FALSE(DecryptFileToFile(File(L"s.ini", "x\n").c_str(), Utf8(longOut).c_str()));
    EXPECT_FALSE(host::exists(L"\\\\?\\" + longOut));

    // The rule counts UTF-16 units, not UTF-8 bytes: 259 accented letters are some 500 bytes.
    const std::wstring accentedFolder = kDir + L"\\" + std::wstring(120, L'\u00E9');
    const std::wstring accented =
        accentedFolder + L"\\" + std::wstring(259 - accentedFolder.size() - 1, L'\u00E8');
    ASSERT_EQ(accented.size(), 259u);
    ASSERT_TRUE(CreateDirectoryW(accentedFolder.c_str(), nullptr));
    ASSERT_TRUE(host::writeFile(accented, Encipher("accented=1\n")));
    ASSERT_TRUE(reader.Open(Utf8(accented).c_str(), true, cryptfile::kKeyText));
    EXPECT_STREQ(reader.NextLine(), "accented=1\n");
}

TEST_F(ReaderTest, HoldsTheFilesLockWhileOpen) {
    const std::wstring jobs = ExeFolder() + L"jobs.ini";
    const std::wstring glacis = ExeFolder() + L"glacis.ini";
    ASSERT_TRUE(host::writeFile(jobs, Encipher("[J]\n")));
    const wchar_t jobsMutex[] = L"QSX_PD_B83165DADAE2";
    const wchar_t glacisMutex[] = L"QSX_PD_8631E02D3FF4";
    CFileLockTable keeper;  // keeps the mutexes in being while no reader has them open
    keeper.Initialize();
    {
        CCryptFileReader reader;
        ASSERT_TRUE(reader.Open(Utf8(jobs).c_str(), true, cryptfile::kKeyText));
        EXPECT_EQ(reader.LockedPath(), jobs);
        EXPECT_EQ(WaitElsewhere(jobsMutex), static_cast<DWORD>(WAIT_TIMEOUT));
        // Locking the held path again changes nothing; moving the lock releases the first.
        reader.SetLockedFile(true, jobs.c_str());
        EXPECT_EQ(reader.LockedPath(), jobs);
        reader.SetLockedFile(true, L"");
        EXPECT_EQ(reader.LockedPath(), jobs);
        reader.SetLockedFile(true, L"glacis.ini");
        EXPECT_EQ(reader.LockedPath(), glacis);
        EXPECT_EQ(WaitElsewhere(jobsMutex), static_cast<DWORD>(WAIT_OBJECT_0));
        EXPECT_EQ(WaitElsewhere(glacisMutex), static_cast<DWORD>(WAIT_TIMEOUT));
        reader.SetLockedFile(false, nullptr);
        EXPECT_EQ(reader.LockedPath(), L"");
        EXPECT_EQ(WaitElsewhere(glacisMutex), static_cast<DWORD>(WAIT_OBJECT_0));

        // Reopening the same path locks it again; Close releases it.
        ASSERT_TRUE(reader.Open(Utf8(jobs).c_str(), true, cryptfile::kKeyText));
        ASSERT_TRUE(reader.Open(Utf8(jobs).c_str(), true, cryptfile::kKeyText));
        EXPECT_EQ(reader.LockedPath(), jobs);
        EXPECT_STREQ(reader.NextLine(), "[J]\n");
        reader.Close();
        EXPECT_EQ(WaitElsewhere(jobsMutex), static_cast<DWORD>(WAIT_OBJECT_0));

        // Not asked to lock: no lock.
        ASSERT_TRUE(reader.Open(Utf8(jobs).c_str(), false, cryptfile::kKeyText));
        EXPECT_EQ(reader.LockedPath(), L"");
        EXPECT_EQ(WaitElsewhere(jobsMutex), static_cast<DWORD>(WAIT_OBJECT_0));

        // A missing file in the table: the lock taken for it is let go again.
        EXPECT_FALSE(reader.Open(Utf8(glacis).c_str(), true, cryptfile::kKeyText));
        EXPECT_EQ(reader.LockedPath(), L"");
        EXPECT_EQ(WaitElsewhere(glacisMutex), static_cast<DWORD>(WAIT_OBJECT_0));

        // Destruction releases a held lock.
        ASSERT_TRUE(reader.Open(Utf8(jobs).c_str(), true, cryptfile::kKeyText));
        EXPECT_EQ(WaitElsewhere(jobsMutex), static_cast<DWORD>(WAIT_TIMEOUT));
    }
    EXPECT_EQ(WaitElsewhere(jobsMutex), static_cast<DWORD>(WAIT_OBJECT_0));

    // A file without a row is opened at once, unlocked, while another process holds a lock.
    MutexHolder holder(jobsMutex, L"hold");
    ASSERT_TRUE(holder.WaitReady());
    CCryptFileReader reader;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(reader.Open(File(L"policy.xml", "<p/>\n").c_str(), true, cryptfile::kKeyText));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
    EXPECT_EQ(reader.LockedPath(), L"");
    holder.Finish();
    DeleteFileW(jobs.c_str());
}

// DecryptFileToFile on Wine: what reaches the destination for enciphered and plain sources, and
// that every failure (source, destination, writing) gives false without a half-written result.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdlib>
#include <vector>

#include "cryptfile/crypt_file_reader.h"
#include "cryptfile/decrypt_file.h"
#include "win_test_util.h"

namespace {

using namespace cryptfile_win_test;

const std::wstring kDir = L"C:\\relo_decrypt";

class DecryptTest : public ::testing::Test {
  protected:
    void SetUp() override { host::freshFolder(kDir); }
    void TearDown() override {
        SetFileAttributesW(Path(L"out.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
        host::removeTree(kDir);
    }
    static std::wstring Path(const wchar_t* name) { return kDir + L"\\" + name; }
    // Writes the source, deciphers it into out.txt and returns the result.
    static bool Run(const std::string& stored) {
        EXPECT_TRUE(host::writeFile(Path(L"src.xml"), stored));
        return DecryptFileToFile(Utf8(Path(L"src.xml")).c_str(), Utf8(Path(L"out.txt")).c_str());
    }
    static std::string Out() { return host::readFile(Path(L"out.txt")); }
};

}  // namespace

TEST_F(DecryptTest, EncipheredTextGetsOneCarriageReturnPerLineFeed) {
    ASSERT_TRUE(Run(Encipher("<policy>\r\n  <a x='1'/>\r\n\r\n</policy>\r\n")));
    EXPECT_EQ(Out(), "<policy>\r\n  <a x='1'/>\r\n\r\n</policy>\r\n");

    // Bare line feeds, a carriage return inside a line, and no line feed at the end.
    ASSERT_TRUE(Run(Encipher("one\ntw\ro\r\r\nlast")));
    EXPECT_EQ(Out(), "one\r\ntwo\r\nlast\r\n");

    // The UTF-8 mark is dropped, the text stays byte for byte.
    ASSERT_TRUE(Run(Encipher("\xEF\xBB\xBFna\xC3\xAFve \xE2\x82\xAC\n")));
    EXPECT_EQ(Out(), "na\xC3\xAFve \xE2\x82\xAC\r\n");
}

TEST_F(DecryptTest, LongLinesComeOutWhole) {
    std::string plain;
    std::string expected;
    // Lines of several hundred bytes, one longer than the 1 MiB blocks the output is gathered
    // in, and enough short lines that blocks fill up and are written mid-text.
    std::vector<int> lengths = {300, 600, 5, 1500, 1300000};
    for (int i = 0; i < 40000; ++i)
        lengths.push_back(20 + i % 60);
    for (int len : lengths) {
        std::string line(static_cast<size_t>(len), ' ');
        for (int i = 0; i < len; ++i)
            line[static_cast<size_t>(i)] = static_cast<char>('A' + (i * 7 + len) % 26);
        plain += line + "\r\n";
        expected += line + "\r\n";
    }
    ASSERT_TRUE(Run(Encipher(plain)));
    EXPECT_EQ(Out(), expected);
}

TEST_F(DecryptTest, UnitTextIsWrittenAsUtf8) {
    ASSERT_TRUE(Run(UnitFile(u"caf\u00E9\r\n" + std::u16string(200, u'\u4E2D') + u"\n\U0001F600")));
    std::string out = Out();
    const size_t first = out.find("\r\n");
    ASSERT_NE(first, std::string::npos);
    std::string cjk;
    for (int i = 0; i < 200; ++i)
        cjk += "\xE4\xB8\xAD";
    EXPECT_EQ(out.substr(first + 2), "caf\xC3\xA9\r\n" + cjk + "\r\n\xF0\x9F\x98\x80\r\n");
}

TEST_F(DecryptTest, EncipheredUtf16TextArrivesAsItsDecipheredBytes) {
    const std::string plain = "\xFF\xFE" + Utf16LeBytes(u"<p IncludeLocalGUI='true'/>\n");
    ASSERT_TRUE(Run(Encipher(plain)));
    // Read as bytes: mark and zero bytes stay; the line feed byte gains its carriage return, and
    // the zero byte after it is a last line that gets a line end of its own.
    std::string expected = plain;
    expected.insert(expected.size() - 2, "\r");
    expected += "\r\n";
    EXPECT_EQ(Out(), expected);
}

TEST_F(DecryptTest, PlainSourcesAreCopiedExactly) {
    const std::string crlf = "<policy>\r\n <x/>\r\n</policy>";
    ASSERT_TRUE(Run(crlf));
    EXPECT_EQ(Out(), crlf);
    const std::string utf8 = "\xEF\xBB\xBF<p>\n\r\n";
    ASSERT_TRUE(Run(utf8));
    EXPECT_EQ(Out(), utf8);
    std::string big(300000, 'z');
    for (size_t i = 0; i < big.size(); i += 61)
        big[i] = '\n';
    ASSERT_TRUE(Run(big));
    EXPECT_EQ(Out(), big);
    // Empty: an empty destination, and true.
    ASSERT_TRUE(Run(""));
    EXPECT_TRUE(host::exists(Path(L"out.txt")));
    EXPECT_EQ(Out(), "");
}

TEST_F(DecryptTest, MissingSourceLeavesTheDestinationAlone) {
    const std::string src = Utf8(Path(L"missing.xml"));
    EXPECT_FALSE(DecryptFileToFile(src.c_str(), Utf8(Path(L"out.txt")).c_str()));
    EXPECT_FALSE(host::exists(Path(L"out.txt")));
    ASSERT_TRUE(host::writeFile(Path(L"out.txt"), "before"));
    EXPECT_FALSE(DecryptFileToFile(src.c_str(), Utf8(Path(L"out.txt")).c_str()));
    EXPECT_EQ(Out(), "before");
    EXPECT_FALSE(DecryptFileToFile(nullptr, Utf8(Path(L"out.txt")).c_str()));
    EXPECT_FALSE(DecryptFileToFile(src.c_str(), nullptr));
    // A folder is no source.
    CreateDirectoryW(Path(L"dir.xml").c_str(), nullptr);
    EXPECT_FALSE(DecryptFileToFile(Utf8(Path(L"dir.xml")).c_str(), Utf8(Path(L"out.txt")).c_str()));
    EXPECT_EQ(Out(), "before");
}

TEST_F(DecryptTest, DestinationThatCannotBeWrittenGivesFalse) {
    for (bool enciphered : {false, true}) {
        SCOPED_TRACE(enciphered ? "enciphered" : "plain");
        const std::string text = "<p IncludeLocalGUI='true'/>\n";
        const std::string stored = enciphered ? Encipher(text) : text;

        // A read-only file: not changed, not removed. (Wine run as root would let it be opened
        // for writing; the destination is made anew, and a read-only file cannot be deleted.)
        ASSERT_TRUE(host::writeFile(Path(L"out.txt"), "keep"));
        ASSERT_TRUE(SetFileAttributesW(Path(L"out.txt").c_str(), FILE_ATTRIBUTE_READONLY));
        EXPECT_FALSE(Run(stored));
        EXPECT_EQ(Out(), "keep");
        ASSERT_TRUE(SetFileAttributesW(Path(L"out.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
        ASSERT_TRUE(DeleteFileW(Path(L"out.txt").c_str()));

        // A folder of that name.
        ASSERT_TRUE(CreateDirectoryW(Path(L"out.txt").c_str(), nullptr));
        EXPECT_FALSE(Run(stored));
        EXPECT_EQ(GetFileAttributesW(Path(L"out.txt").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
                  static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
        ASSERT_TRUE(RemoveDirectoryW(Path(L"out.txt").c_str()));

        // A missing folder on the way.
        EXPECT_FALSE(
            DecryptFileToFile(Utf8(Path(L"src.xml")).c_str(), Utf8(Path(L"no\\out.txt")).c_str()));
    }
}

// Present, as far as Windows can tell: a link to a device has no attributes, but is not missing.
bool Present(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// A destination whose writes fail (links to the Unix device that is always full, made by the
// test fixture): false. The unfinished destination is removed where the platform can remove such
// a link; Wine cannot (DeleteFileW gives 87 on a device), so ask it with the probe link. The
// read-failure test below shows the removal of an ordinary file.
TEST_F(DecryptTest, WriteFailureGivesFalse) {
    const char* full = std::getenv("RELOCATOR_FULL_DIR");
    if (!full || !*full)
        GTEST_SKIP() << "RELOCATOR_FULL_DIR not set (run through CTest)";
    const std::wstring dir = host::toWindowsPath(full);
    const bool removable = DeleteFileW((dir + L"\\probe.txt").c_str()) != FALSE;
    for (bool enciphered : {false, true}) {
        SCOPED_TRACE(enciphered ? "enciphered" : "plain");
        const std::wstring link = dir + (enciphered ? L"\\enciphered.txt" : L"\\plain.txt");
        ASSERT_TRUE(Present(link)) << "the fixture makes the link";
        std::string text;
        for (int i = 0; i < 2000; ++i)
            text += "<entry n='" + std::to_string(i) + "'/>\n";
        ASSERT_TRUE(host::writeFile(Path(L"src.xml"), enciphered ? Encipher(text) : text));
        EXPECT_FALSE(DecryptFileToFile(Utf8(Path(L"src.xml")).c_str(), Utf8(link).c_str()));
        EXPECT_EQ(Present(link), !removable);
    }
}

// A source whose reads fail (on Linux, reading the process's own memory at offset 0 gives EIO):
// that is no end of file, so no destination is left.
TEST_F(DecryptTest, ReadFailureGivesFalseAndRemovesTheDestination) {
    const std::wstring failing = L"Z:\\proc\\self\\mem";
    FILE* probe = _wfopen(failing.c_str(), L"rb");
    if (!probe)
        GTEST_SKIP() << "no /proc/self/mem here";
    fclose(probe);

    // Classification reads nothing and finds it plain: the copy's read fails.
    EXPECT_FALSE(DecryptFileToFile(Utf8(failing).c_str(), Utf8(Path(L"out.txt")).c_str()));
    EXPECT_FALSE(host::exists(Path(L"out.txt")));

    // The enciphered half, given a reader whose stream fails.
    CCryptFileReader reader;
    ASSERT_TRUE(reader.AttachFile(_wfopen(failing.c_str(), L"rb"), cryptfile::kKeyText));
    EXPECT_EQ(reader.NextLine(), nullptr);
    EXPECT_TRUE(reader.ReadFailed());
    EXPECT_FALSE(WriteLinesToFile(reader, Path(L"out.txt")));
    EXPECT_FALSE(host::exists(Path(L"out.txt")));
    reader.Close();
    EXPECT_FALSE(reader.ReadFailed());
}

// Text read as bytes goes across in blocks, not line by line: what reaches the destination is
// exactly what the lines NextLine hands out make, each with CR LF, on texts built to put
// carriage returns, line feeds and zero bytes at the reader's 64 KiB block boundaries.
TEST_F(DecryptTest, BlocksWriteWhatTheLinesWrite) {
    const std::vector<std::string> bits = {"\r\n",
                                           "\n",
                                           "\r",
                                           "\r\r\n",
                                           std::string(1, '\0'),
                                           "<Rule Id='1'/>",
                                           std::string(300, 'x')};
    uint32_t seed = 777;
    const auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE(round);
        std::string plain = round % 3 == 0 ? "\xEF\xBB\xBF" : "";
        // Some texts run past a 64 KiB block with a line end right at its boundary.
        const size_t fill = round % 4 == 1 ? 65536 - 1 - plain.size() - next(3) : 0;
        plain += std::string(fill, 'f');
        for (uint32_t part = 0, parts = 1 + next(40); part < parts; ++part)
            plain += bits[next(static_cast<uint32_t>(bits.size()))];
        ASSERT_TRUE(Run(Encipher(plain)));
        std::string lines;
        CCryptFileReader reader;
        ASSERT_TRUE(reader.Open(Utf8(Path(L"src.xml")).c_str(), false, cryptfile::kKeyText));
        while (const char* line = reader.NextLine())
            lines += std::string(line, reader.LineLength() - 1) + "\r\n";
        EXPECT_EQ(Out(), lines);
    }
}

namespace {

// The access rules of a file as SDDL, DACL only.
std::string FileAccess(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return "(unreadable)";
    wchar_t* sddl = nullptr;
    std::string text = "(unconvertible)";
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &sddl,
                                                             nullptr)) {
        text = Utf8(sddl);
        LocalFree(sddl);
    }
    LocalFree(descriptor);
    return text;
}

}  // namespace

// The access rules a file gets when it is created for SYSTEM and administrators only, as this
// platform answers them (Wine keeps them as Unix permissions and reads back what those say).
std::string AdministratorsOnly() {
    const std::wstring reference = kDir + L"\\reference.txt";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)",
                                                         SDDL_REVISION_1, &descriptor, nullptr);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    CloseHandle(CreateFileW(reference.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS, 0,
                            nullptr));
    LocalFree(descriptor);
    const std::string access = FileAccess(reference);
    DeleteFileW(reference.c_str());
    return access;
}

// The deciphered text is for SYSTEM and administrators only, whether the destination is new or
// was there before with the folder's rules; the plain copy of a plain source too.
TEST_F(DecryptTest, TheDecipheredTextIsForAdministratorsOnly) {
    const std::string expected = AdministratorsOnly();
    ASSERT_TRUE(Run(Encipher("<policy IncludeLocalGUI='true'/>\r\n")));
    EXPECT_EQ(FileAccess(Path(L"out.txt")), expected);
    ASSERT_TRUE(DeleteFileW(Path(L"out.txt").c_str()));

    ASSERT_TRUE(host::writeFile(Path(L"out.txt"), "left by someone"));
    ASSERT_NE(FileAccess(Path(L"out.txt")), expected) << "the folder's rules are the same";
    ASSERT_TRUE(Run("<policy IncludeLocalGUI='false'/>\r\n"));
    EXPECT_EQ(Out(), "<policy IncludeLocalGUI='false'/>\r\n");
    EXPECT_EQ(FileAccess(Path(L"out.txt")), expected);
}

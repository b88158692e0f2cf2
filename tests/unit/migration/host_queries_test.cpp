#include <gtest/gtest.h>

#include <windows.h>

#include "host_support.h"
#include "migration/host_queries.h"
#include "win/file_exists.h"

namespace {

const std::wstring kKey = L"SOFTWARE\\QSX\\Tarvos Desktop";

class InstallDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::deleteKey(kKey);
        resetInstallDirCacheForTesting();
    }
    void TearDown() override {
        host::deleteKey(kKey);
        resetInstallDirCacheForTesting();
    }
};

std::wstring currentFolder() {
    wchar_t dir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, dir);
    return dir;
}

}  // namespace

TEST(FileExists, FilesAndFoldersExistMissingOnesDoNot) {
    std::wstring dir = host::freshFolder(L"C:\\relo_fe");
    host::writeFile(dir + L"\\a.txt", "x");
    EXPECT_TRUE(fileExists(dir));
    EXPECT_TRUE(fileExists(dir + L"\\a.txt"));
    EXPECT_FALSE(fileExists(dir + L"\\b.txt"));
    EXPECT_FALSE(fileExists(dir + L"\\missing\\a.txt"));
    EXPECT_FALSE(fileExists(dir + L"\\bad<name>.txt"));
    host::removeTree(dir);
}

TEST(FileExists, APathBeyond260CharactersIsRefused) {
    std::wstring dir = host::freshFolder(L"C:\\relo_fe");
    // The first 260 characters name an existing file; the full path does not.
    std::wstring cut = dir + L"\\" + std::wstring(260 - dir.size() - 1, L'a');
    ASSERT_EQ(cut.size(), 260u);
    host::writeFile(cut, "x");
    ASSERT_TRUE(fileExists(cut));
    EXPECT_FALSE(fileExists(cut + L"b"));
    host::removeTree(dir);
}

TEST_F(InstallDirTest, TrailingBackslashOfTheValueIsRemoved) {
    host::setString(kKey, L"InstallDir", L"D:\\Agents\\Tarvos\\");
    EXPECT_EQ(getInstallDir(), L"D:\\Agents\\Tarvos");
}

TEST_F(InstallDirTest, MissingKeyGivesTheDesktopDefault) {
    EXPECT_EQ(getInstallDir(), L"c:\\program files\\qsx\\tarvos desktop\\");
}

TEST_F(InstallDirTest, ServerEditionUsesItsOwnKeyAndDefault) {
    EXPECT_EQ(lookUpInstallDir(1, L"SOFTWARE\\QSX\\NoSuchServerKey"),
              L"c:\\program files\\qsx\\tarvos server\\");
    resetInstallDirCacheForTesting();
    host::setString(L"SOFTWARE\\QSX\\Server Test", L"InstallDir", L"E:\\Srv");
    EXPECT_EQ(lookUpInstallDir(1, L"SOFTWARE\\QSX\\Server Test"), L"E:\\Srv");
    host::deleteKey(L"SOFTWARE\\QSX\\Server Test");
}

TEST_F(InstallDirTest, MissingValueGivesTheFullCurrentFolderNotADot) {
    host::setString(kKey, L"Other", L"x");
    EXPECT_EQ(getInstallDir(), currentFolder());
}

TEST_F(InstallDirTest, ValueTooLongIsNotCut) {
    host::setString(kKey, L"InstallDir", L"C:\\" + std::wstring(300, L'x'));
    EXPECT_EQ(getInstallDir(), currentFolder());
}

TEST_F(InstallDirTest, UnterminatedValueIsReadWhole) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t text[] = L"C:\\Unterminated";
    RegSetValueExW(key, L"InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(wcslen(text) * sizeof(wchar_t)));
    RegCloseKey(key);
    EXPECT_EQ(getInstallDir(), L"C:\\Unterminated");
}

TEST_F(InstallDirTest, SecondCallAnswersFromTheCache) {
    host::setString(kKey, L"InstallDir", L"C:\\First");
    EXPECT_EQ(getInstallDir(), L"C:\\First");
    host::setString(kKey, L"InstallDir", L"C:\\Second");
    EXPECT_EQ(getInstallDir(), L"C:\\First");
}

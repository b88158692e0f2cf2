// The shortcut maker on Wine's shell link object: every shortcut is loaded back and checked.
#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>

#include "host_support.h"
#include "policy_ui/shortcut.h"
#include "ui_test_support.h"

namespace {

const std::wstring kDir = L"C:\\relo_sc";

class ShortcutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::freshFolder(kDir);
        host::makeDirs(kDir + L"\\app");
        host::writeFile(kDir + L"\\app\\glacis.exe", "ui");
        host::writeFile(kDir + L"\\app\\readme.htm", "<html></html>");
    }
    void TearDown() override { host::removeTree(kDir); }
    static std::wstring link(const wchar_t* name) { return kDir + L"\\" + name; }
};

}  // namespace

TEST_F(ShortcutTest, UiProgramInAnyLetterCaseStartsClosedWithIcon30) {
    for (const wchar_t* name : {L"glacis.exe", L"GLACIS.EXE", L"Glacis.Exe", L"glacisd.exe"}) {
        SCOPED_TRACE(uitest::narrow(name));
        ASSERT_EQ(createShortcut(link(L"ui.lnk"), kDir + L"\\app", name), S_OK);
        uitest::LinkInfo info = uitest::loadLink(link(L"ui.lnk"));
        ASSERT_EQ(info.loaded, S_OK);
        std::wstring target = kDir + L"\\app\\" + name;
        EXPECT_EQ(info.path, target);
        EXPECT_EQ(info.arguments, L"-closed");
        EXPECT_EQ(info.iconPath, target);
        EXPECT_EQ(info.iconIndex, 30);
        EXPECT_EQ(info.workingFolder, kDir + L"\\app");
        EXPECT_EQ(info.description, name);
    }
}

TEST_F(ShortcutTest, OtherTargetsHaveNoArgumentsAndIcon0) {
    for (const wchar_t* name : {L"readme.htm", L"my_glacis.exe", L"glaci.exe"}) {
        SCOPED_TRACE(uitest::narrow(name));
        ASSERT_EQ(createShortcut(link(L"other.lnk"), kDir + L"\\app", name), S_OK);
        uitest::LinkInfo info = uitest::loadLink(link(L"other.lnk"));
        ASSERT_EQ(info.loaded, S_OK);
        EXPECT_EQ(info.path, kDir + L"\\app\\" + name);
        EXPECT_EQ(info.arguments, L"");
        EXPECT_EQ(info.iconPath, kDir + L"\\app\\" + name);
        EXPECT_EQ(info.iconIndex, 0);
        EXPECT_EQ(info.workingFolder, kDir + L"\\app");
        EXPECT_EQ(info.description, name);
    }
}

TEST_F(ShortcutTest, AnExistingFileAtTheLinkPathIsReplaced) {
    host::writeFile(link(L"old.lnk"), "not a shortcut at all");
    ASSERT_EQ(createShortcut(link(L"old.lnk"), kDir + L"\\app", L"readme.htm"), S_OK);
    uitest::LinkInfo info = uitest::loadLink(link(L"old.lnk"));
    ASSERT_EQ(info.loaded, S_OK);
    EXPECT_EQ(info.path, kDir + L"\\app\\readme.htm");

    // And a shortcut replaced by one with other properties keeps none of the old ones.
    ASSERT_EQ(createShortcut(link(L"old.lnk"), kDir + L"\\app", L"glacis.exe"), S_OK);
    ASSERT_EQ(createShortcut(link(L"old.lnk"), kDir + L"\\app", L"readme.htm"), S_OK);
    info = uitest::loadLink(link(L"old.lnk"));
    EXPECT_EQ(info.arguments, L"");
    EXPECT_EQ(info.iconIndex, 0);
    EXPECT_EQ(info.description, L"readme.htm");
}

TEST_F(ShortcutTest, CreateLinkMakesARelativeTargetFull) {
    ASSERT_EQ(createShortcut(link(L"prime.lnk"), kDir + L"\\app", L"readme.htm"), S_OK);
    wchar_t saved[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(kDir.c_str()));
    HRESULT hr = createLink(link(L"rel.lnk"), L"app\\glacis.exe", L"text", L"-x -y", 7);
    SetCurrentDirectoryW(saved);
    ASSERT_EQ(hr, S_OK);
    uitest::LinkInfo info = uitest::loadLink(link(L"rel.lnk"));
    ASSERT_EQ(info.loaded, S_OK);
    EXPECT_EQ(info.path, kDir + L"\\app\\glacis.exe");
    EXPECT_EQ(info.iconPath, kDir + L"\\app\\glacis.exe");
    EXPECT_EQ(info.iconIndex, 7);
    EXPECT_EQ(info.arguments, L"-x -y");
    EXPECT_EQ(info.workingFolder, kDir + L"\\app");
    EXPECT_EQ(info.description, L"text");
}

TEST_F(ShortcutTest, SaveIntoAMissingFolderFailsAndWritesNothing) {
    ASSERT_EQ(createShortcut(link(L"prime.lnk"), kDir + L"\\app", L"readme.htm"), S_OK);
    HRESULT hr = createShortcut(kDir + L"\\missing\\x.lnk", kDir + L"\\app", L"readme.htm");
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_FALSE(host::exists(kDir + L"\\missing"));
}

TEST_F(ShortcutTest, PathsBeyond260CharactersAreRefusedAndNothingIsWritten) {
    // A link path of 261 characters whose first 260 would name a file in an existing folder.
    std::wstring linkName(260 - kDir.size() - 1, L'l');
    std::wstring cutLink = kDir + L"\\" + linkName;
    ASSERT_EQ(cutLink.size(), 260u);
    EXPECT_EQ(createShortcut(cutLink + L"k", kDir + L"\\app", L"readme.htm"), kShortcutPathTooLong);
    EXPECT_EQ(createLink(cutLink + L"k", kDir + L"\\app\\readme.htm", L"d", nullptr, 0),
              kShortcutPathTooLong);
    EXPECT_FALSE(host::exists(cutLink));
    EXPECT_FALSE(host::exists(cutLink + L"k"));

    // A target path (folder, backslash, name) of 261 characters.
    std::wstring folder = kDir + L"\\app";
    std::wstring longName(261 - folder.size() - 1, L't');
    EXPECT_EQ(createShortcut(link(L"t.lnk"), folder, longName), kShortcutPathTooLong);
    EXPECT_EQ(createLink(link(L"t.lnk"), folder + L"\\" + longName, L"d", nullptr, 0),
              kShortcutPathTooLong);
    EXPECT_FALSE(host::exists(link(L"t.lnk")));

    // A relative target that fits until it is made full.
    wchar_t saved[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(kDir.c_str()));
    std::wstring relative(255, L'r');
    HRESULT hr = createLink(link(L"r.lnk"), relative, L"d", nullptr, 0);
    SetCurrentDirectoryW(saved);
    EXPECT_EQ(hr, kShortcutPathTooLong);
    EXPECT_FALSE(host::exists(link(L"r.lnk")));

    // Exactly 260 characters is still taken.
    std::wstring fitName(260 - folder.size() - 1, L'f');
    EXPECT_NE(createShortcut(link(L"f.lnk"), folder, fitName), kShortcutPathTooLong);
}

TEST_F(ShortcutTest, ComIsInitialisedOnceAndNeverAgain) {
    ASSERT_EQ(createShortcut(link(L"one.lnk"), kDir + L"\\app", L"glacis.exe"), S_OK);
    ASSERT_EQ(createShortcut(link(L"two.lnk"), kDir + L"\\app", L"readme.htm"), S_OK);
    // Only the shortcut maker initialises COM on this thread. One uninitialisation undoes a
    // single initialisation, so the next CoInitialize is the first again (S_OK); a second
    // initialisation by the second shortcut would leave it at S_FALSE.
    CoUninitialize();
    // The maker's flag stays set, so it does not initialise again and the shell object is
    // not available to it.
    EXPECT_EQ(createShortcut(link(L"three.lnk"), kDir + L"\\app", L"readme.htm"),
              CO_E_NOTINITIALIZED);
    EXPECT_FALSE(host::exists(link(L"three.lnk")));
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    // The apartment is back as the maker left it, for the tests that follow.
    EXPECT_EQ(createShortcut(link(L"four.lnk"), kDir + L"\\app", L"readme.htm"), S_OK);
}

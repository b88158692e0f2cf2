// The local UI installer against the Wine prefix's all-users shell folders: program file,
// shortcuts loaded back, and the log line by line.
#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <memory>

#include "host_support.h"
#include "policy_ui/local_ui.h"
#include "ui_test_support.h"
#include "win/error_text.h"
#include "win/scoped.h"

namespace {

using Lines = std::vector<std::string>;

const std::wstring kRoot = L"C:\\relo_ui";
const std::wstring kInstall = kRoot + L"\\install";
const std::wstring kProgramFolder = kRoot + L"\\program";
const std::string kProgramBytes = "the agent's user interface";

const wchar_t kShellFoldersKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kCommonPrograms[] = L"Common Programs";

// The stored value that tells the shell where the all-users Programs folder is (this 32-bit
// process reads the 32-bit registry view).
bool readCommonPrograms(std::wstring& value, DWORD& type) {
    win::ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kShellFoldersKey, 0, KEY_READ, key.receive()) != 0) {
        return false;
    }
    wchar_t data[1024] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    if (RegQueryValueExW(key.get(), kCommonPrograms, nullptr, &type, reinterpret_cast<BYTE*>(data),
                         &size) != 0) {
        return false;
    }
    value = data;
    return true;
}

bool writeCommonPrograms(const std::wstring& value, DWORD type) {
    win::ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kShellFoldersKey, 0, KEY_SET_VALUE, key.receive()) != 0) {
        return false;
    }
    return RegSetValueExW(key.get(), kCommonPrograms, 0, type,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == 0;
}

std::wstring shellPath(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
        return L"";
    return path;
}

class LocalUiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        startup_ = shellPath(CSIDL_COMMON_STARTUP);
        programs_ = shellPath(CSIDL_COMMON_PROGRAMS);
        ASSERT_FALSE(startup_.empty());
        ASSERT_FALSE(programs_.empty());
        qsx_ = programs_ + L"\\QSX";
        menu_ = qsx_ + L"\\Tarvos Server";
        menuAgent_ = menu_ + L"\\Tarvos Server Agent.lnk";
        startupAgent_ = startup_ + L"\\Tarvos Server Agent.lnk";
        readme_ = menu_ + L"\\Tarvos Readme.lnk";
        cleanShellFolders();
        host::freshFolder(kRoot);
        host::makeDirs(kInstall);
        host::makeDirs(kProgramFolder);
        host::writeFile(kProgramFolder + L"\\glacis.exe", kProgramBytes);
        log_.reset(new uitest::TestLog(kRoot + L"_test.log"));
    }
    void TearDown() override {
        log_.reset();
        if (!savedPrograms_.empty())
            writeCommonPrograms(savedPrograms_, savedProgramsType_);
        if (!startupAway_.empty())
            MoveFileW(startupAway_.c_str(), startup_.c_str());
        cleanShellFolders();
        host::removeTree(kRoot);
        DeleteFileW((kRoot + L"_test.log").c_str());
    }
    void cleanShellFolders() {
        // The link first: removing the tree through it would empty the folder it points to.
        EXPECT_TRUE(uitest::removeUnixSymlink(menu_));
        host::removeTree(qsx_);
        DeleteFileW(startupAgent_.c_str());
    }
    Lines records() { return log_->records(); }
    std::string copyLine() const {
        return "INFO: Copying file " + uitest::narrow(kProgramFolder) + "\\glacis.exe to " +
               uitest::narrow(kInstall) + "\\glacis.exe\n";
    }
    std::string deleteLine() const {
        return "INFO: Deleting file " + uitest::narrow(kInstall) + "\\glacis.exe \n";
    }
    void expectAgentShortcut(const std::wstring& path) const {
        SCOPED_TRACE(uitest::narrow(path));
        uitest::LinkInfo info = uitest::loadLink(path);
        ASSERT_EQ(info.loaded, S_OK);
        EXPECT_EQ(info.path, kInstall + L"\\glacis.exe");
        EXPECT_EQ(info.arguments, L"-closed");
        EXPECT_EQ(info.iconPath, kInstall + L"\\glacis.exe");
        EXPECT_EQ(info.iconIndex, 30);
        EXPECT_EQ(info.workingFolder, kInstall);
        EXPECT_EQ(info.description, L"glacis.exe");
    }
    void expectReadmeShortcut() const {
        uitest::LinkInfo info = uitest::loadLink(readme_);
        ASSERT_EQ(info.loaded, S_OK);
        EXPECT_EQ(info.path, kInstall + L"\\readme.htm");
        EXPECT_EQ(info.arguments, L"");
        EXPECT_EQ(info.iconPath, kInstall + L"\\readme.htm");
        EXPECT_EQ(info.iconIndex, 0);
        EXPECT_EQ(info.workingFolder, kInstall);
        EXPECT_EQ(info.description, L"readme.htm");
    }
    // Takes the all-users Startup folder away, so that the shell cannot report it.
    void hideStartupFolder() {
        startupAway_ = startup_ + L".away";
        ASSERT_TRUE(MoveFileW(startup_.c_str(), startupAway_.c_str()));
    }
    // Points the shell's all-users Programs folder somewhere else until the test ends.
    void redirectProgramsFolder(const std::wstring& folder) {
        ASSERT_TRUE(readCommonPrograms(savedPrograms_, savedProgramsType_));
        ASSERT_TRUE(writeCommonPrograms(folder, REG_SZ));
    }
    void installWithShortcuts() {
        host::writeFile(kInstall + L"\\readme.htm", "<html></html>");
        ASSERT_TRUE(installUI(kInstall, kProgramFolder));
        ASSERT_TRUE(host::exists(menuAgent_));
        ASSERT_TRUE(host::exists(startupAgent_));
        ASSERT_TRUE(host::exists(readme_));
    }

    std::wstring startup_, programs_, qsx_, menu_, menuAgent_, startupAgent_, readme_;
    std::wstring startupAway_;
    std::wstring savedPrograms_;
    DWORD savedProgramsType_ = REG_EXPAND_SZ;
    std::unique_ptr<uitest::TestLog> log_;
};

}  // namespace

TEST_F(LocalUiTest, InstallCopiesTheProgramAndWritesTheThreeShortcuts) {
    host::writeFile(kInstall + L"\\readme.htm", "<html></html>");
    ASSERT_TRUE(installUI(kInstall, kProgramFolder));
    EXPECT_EQ(host::readFile(kInstall + L"\\glacis.exe"), kProgramBytes);
    expectAgentShortcut(menuAgent_);
    expectAgentShortcut(startupAgent_);
    expectReadmeShortcut();
    EXPECT_EQ(records(), Lines{copyLine()});
}

TEST_F(LocalUiTest, InstallOverAnExistingInstallationReplacesProgramAndShortcuts) {
    host::makeDirs(menu_);
    host::writeFile(kInstall + L"\\glacis.exe", "an older user interface");
    for (const std::wstring& p : {menuAgent_, startupAgent_, readme_})
        host::writeFile(p, "stale");
    ASSERT_TRUE(installUI(kInstall, kProgramFolder));
    EXPECT_EQ(host::readFile(kInstall + L"\\glacis.exe"), kProgramBytes);
    expectAgentShortcut(menuAgent_);
    expectAgentShortcut(startupAgent_);
    expectReadmeShortcut();
    // An existing menu folder is no failure: no CreateDir line.
    EXPECT_EQ(records(), Lines{copyLine()});
}

TEST_F(LocalUiTest, InstallWithoutTheProgramFailsAndLeavesTheStartMenuAlone) {
    DeleteFileW((kProgramFolder + L"\\glacis.exe").c_str());
    EXPECT_FALSE(installUI(kInstall, kProgramFolder));
    EXPECT_FALSE(host::exists(kInstall + L"\\glacis.exe"));
    EXPECT_FALSE(host::exists(qsx_));
    EXPECT_FALSE(host::exists(startupAgent_));
    EXPECT_EQ(records(), (Lines{copyLine(), "ERROR: File can't  be copied with errcode : 2\n"}));
}

TEST_F(LocalUiTest, InstallWhenTheMenuFolderCannotBeMadeLogsBothLinesAndMakesNoShortcut) {
    // "QSX" as a file: the menu folder cannot be made below it.
    host::writeFile(qsx_, "in the way");
    EXPECT_TRUE(installUI(kInstall, kProgramFolder));
    EXPECT_EQ(host::readFile(kInstall + L"\\glacis.exe"), kProgramBytes);
    EXPECT_FALSE(host::exists(startupAgent_));
    std::string menu = uitest::narrow(menu_);
    EXPECT_EQ(records(),
              (Lines{copyLine(),
                     "ERROR: FileCntrl.CreateDir() failed on directory " + menu + ".  Error: (3) " +
                         uitest::narrow(errorText(ERROR_PATH_NOT_FOUND)) + "\n",
                     "ERROR: " + menu + " not found. Shortcut cant be created"}));
}

TEST_F(LocalUiTest, AMenuFolderThatIsALinkCountsAsMissing) {
    // Wine cannot make a junction; a Unix symbolic link is reported as a reparse point.
    host::makeDirs(qsx_);
    host::makeDirs(kRoot + L"\\elsewhere");
    ASSERT_TRUE(uitest::makeUnixSymlink(menu_, kRoot + L"\\elsewhere"));
    DWORD attributes = GetFileAttributesW(menu_.c_str());
    ASSERT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    ASSERT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_FALSE(isDirectory(menu_));

    EXPECT_TRUE(installUI(kInstall, kProgramFolder));
    EXPECT_TRUE(host::exists(kInstall + L"\\glacis.exe"));
    EXPECT_FALSE(host::exists(startupAgent_));
    EXPECT_FALSE(host::exists(kRoot + L"\\elsewhere\\Tarvos Server Agent.lnk"));
    EXPECT_FALSE(host::exists(kRoot + L"\\elsewhere\\Tarvos Readme.lnk"));

    // A Startup shortcut from elsewhere stays when removing, as the menu folder counts as gone.
    host::writeFile(startupAgent_, "kept");
    host::writeFile(kRoot + L"\\elsewhere\\Tarvos Readme.lnk", "kept");
    EXPECT_TRUE(removeUI(kInstall));
    EXPECT_FALSE(host::exists(kInstall + L"\\glacis.exe"));
    EXPECT_EQ(host::readFile(startupAgent_), "kept");
    EXPECT_EQ(host::readFile(kRoot + L"\\elsewhere\\Tarvos Readme.lnk"), "kept");

    std::string menu = uitest::narrow(menu_);
    EXPECT_EQ(records(),
              (Lines{copyLine(), "ERROR: " + menu + " not found. Shortcut cant be created",
                     deleteLine(), "ERROR: " + menu + " not found. Shortcut cant be deleted\n"}));
}

TEST_F(LocalUiTest, WithoutTheStartupFolderBothFolderFailuresAreLoggedAndTheResultIsTrue) {
    hideStartupFolder();
    EXPECT_TRUE(installUI(kInstall, kProgramFolder));
    EXPECT_EQ(host::readFile(kInstall + L"\\glacis.exe"), kProgramBytes);
    EXPECT_FALSE(host::exists(qsx_));
    EXPECT_TRUE(removeUI(kInstall));
    EXPECT_FALSE(host::exists(kInstall + L"\\glacis.exe"));
    const Lines folderLines = {
        "ERROR: RegCntrl.getStartupDir(): Can't get 'Common Startup' value.\n",
        "ERROR: installUI(): getStartupDir() failed\n",
        "ERROR: installUI(): getStartMenuDir() failed\n"};
    Lines expected = {copyLine()};
    expected.insert(expected.end(), folderLines.begin(), folderLines.end());
    expected.push_back(deleteLine());
    expected.insert(expected.end(), folderLines.begin(), folderLines.end());
    EXPECT_EQ(records(), expected);
}

TEST_F(LocalUiTest, WithoutTheProgramsFolderItsFailureIsLoggedAndTheResultIsTrue) {
    redirectProgramsFolder(kRoot + L"\\no_programs");
    // Wine's shell writes the path into the buffer even though it fails with 0x80070002; the
    // caller's output must stay as it was.
    std::wstring programs = L"untouched";
    EXPECT_FALSE(RegCntrl::getStartMenuDir(programs));
    EXPECT_EQ(programs, L"untouched");

    EXPECT_TRUE(installUI(kInstall, kProgramFolder));
    EXPECT_EQ(host::readFile(kInstall + L"\\glacis.exe"), kProgramBytes);
    EXPECT_FALSE(host::exists(startupAgent_));
    EXPECT_FALSE(host::exists(kRoot + L"\\no_programs"));
    EXPECT_TRUE(removeUI(kInstall));
    EXPECT_FALSE(host::exists(kInstall + L"\\glacis.exe"));

    const std::string cantGet =
        "ERROR: RegCntrl.getStartupDir(): Can't get 'Common Programs' value.\n";
    const std::string failed = "ERROR: installUI(): getStartMenuDir() failed\n";
    EXPECT_EQ(records(),
              (Lines{cantGet, copyLine(), cantGet, failed, deleteLine(), cantGet, failed}));
}

TEST_F(LocalUiTest, AMenuFolderBeyond260CharactersIsRefusedNotCut) {
    // Programs folder of 250 characters: the menu folder below it would have 268.
    std::wstring programs = kRoot + L"\\" + std::wstring(250 - kRoot.size() - 1, L'p');
    host::makeDirs(programs);
    ASSERT_TRUE(isDirectory(programs));
    redirectProgramsFolder(programs);
    std::wstring menu = programs + L"\\QSX\\Tarvos Server";

    EXPECT_TRUE(installUI(kInstall, kProgramFolder));
    EXPECT_FALSE(host::exists(programs + L"\\QSX"));
    EXPECT_FALSE(host::exists(startupAgent_));
    EXPECT_TRUE(removeUI(kInstall));

    std::string m = uitest::narrow(menu);
    EXPECT_EQ(records(),
              (Lines{copyLine(),
                     "ERROR: FileCntrl.CreateDir() failed on directory " + m + ".  Error: (206) " +
                         uitest::narrow(errorText(ERROR_FILENAME_EXCED_RANGE)) + "\n",
                     "ERROR: " + m + " not found. Shortcut cant be created", deleteLine(),
                     "ERROR: " + m + " not found. Shortcut cant be deleted\n"}));
}

TEST_F(LocalUiTest, ShortcutsWhosePathsWouldNotFitAreNotWrittenUnderACutName) {
    // The menu folder fits (243 characters), its two shortcut paths (267 and 261) do not; the
    // Startup shortcut does.
    std::wstring programs = kRoot + L"\\" + std::wstring(225 - kRoot.size() - 1, L'p');
    host::makeDirs(programs);
    redirectProgramsFolder(programs);
    std::wstring menu = programs + L"\\QSX\\Tarvos Server";
    ASSERT_EQ(menu.size(), 243u);

    EXPECT_TRUE(installUI(kInstall, kProgramFolder));
    ASSERT_TRUE(isDirectory(menu));
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((menu + L"\\*").c_str(), &data);
    std::vector<std::wstring> names;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (data.cFileName[0] != L'.')
                names.push_back(data.cFileName);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    EXPECT_TRUE(names.empty()) << uitest::narrow(names.empty() ? L"" : names[0]);
    expectAgentShortcut(startupAgent_);

    EXPECT_TRUE(removeUI(kInstall));
    EXPECT_FALSE(host::exists(startupAgent_));
    EXPECT_TRUE(isDirectory(menu));
    EXPECT_EQ(records(), (Lines{copyLine(), deleteLine()}));
}

TEST_F(LocalUiTest, RemoveDeletesProgramAndShortcutsAndKeepsTheFolders) {
    installWithShortcuts();
    host::writeFile(menu_ + L"\\other.txt", "not ours");
    ASSERT_TRUE(removeUI(kInstall));
    EXPECT_FALSE(host::exists(kInstall + L"\\glacis.exe"));
    EXPECT_FALSE(host::exists(menuAgent_));
    EXPECT_FALSE(host::exists(startupAgent_));
    EXPECT_FALSE(host::exists(readme_));
    EXPECT_TRUE(isDirectory(qsx_));
    EXPECT_TRUE(isDirectory(menu_));
    EXPECT_TRUE(host::exists(menu_ + L"\\other.txt"));
    EXPECT_TRUE(host::exists(kInstall + L"\\readme.htm"));
    EXPECT_EQ(records(), (Lines{copyLine(), deleteLine()}));
}

TEST_F(LocalUiTest, RemoveWithTheProgramGoneFailsAndDeletesNothing) {
    installWithShortcuts();
    // The shell may still hold the new shortcuts' target open for a moment on a busy machine.
    std::wstring program = kInstall + L"\\glacis.exe";
    for (int i = 0; i < 100 && host::exists(program); ++i) {
        DeleteFileW(program.c_str());
        Sleep(50);
    }
    ASSERT_FALSE(host::exists(program));
    EXPECT_FALSE(removeUI(kInstall));
    EXPECT_TRUE(host::exists(menuAgent_));
    EXPECT_TRUE(host::exists(startupAgent_));
    EXPECT_TRUE(host::exists(readme_));
    EXPECT_EQ(records(), (Lines{copyLine(), deleteLine(),
                                "ERROR: File can't  be deleted with errcode : 2\n"}));
}

TEST_F(LocalUiTest, RemoveWithTheMenuFolderMissingKeepsTheStartupShortcut) {
    installWithShortcuts();
    host::removeTree(qsx_);
    ASSERT_TRUE(removeUI(kInstall));
    EXPECT_FALSE(host::exists(kInstall + L"\\glacis.exe"));
    EXPECT_TRUE(host::exists(startupAgent_));
    EXPECT_FALSE(host::exists(qsx_));
    EXPECT_EQ(records(), (Lines{copyLine(), deleteLine(),
                                "ERROR: " + uitest::narrow(menu_) +
                                    " not found. Shortcut cant be deleted\n"}));
}

TEST_F(LocalUiTest, InstallationPathsBeyond260CharactersAreRefusedNotCut) {
    // The installation folder leaves room for the 260-character cut of "\glacis.exe".
    std::wstring longInstall = kRoot + L"\\" + std::wstring(252 - kRoot.size(), L'i');
    host::makeDirs(longInstall);
    ASSERT_TRUE(isDirectory(longInstall));
    std::wstring destination = longInstall + L"\\glacis.exe";
    ASSERT_GT(destination.size(), 260u);
    EXPECT_FALSE(installUI(longInstall, kProgramFolder));
    EXPECT_FALSE(host::exists(destination.substr(0, 260)));
    EXPECT_FALSE(host::exists(qsx_));

    host::writeFile(destination.substr(0, 260), "not the program");
    EXPECT_FALSE(removeUI(longInstall));
    EXPECT_EQ(host::readFile(destination.substr(0, 260)), "not the program");

    std::string d = uitest::narrow(destination);
    EXPECT_EQ(records(), (Lines{"INFO: Copying file " + uitest::narrow(kProgramFolder) +
                                    "\\glacis.exe to " + d + "\n",
                                "ERROR: File can't  be copied with errcode : 206\n",
                                "INFO: Deleting file " + d + " \n",
                                "ERROR: File can't  be deleted with errcode : 206\n"}));
}

TEST_F(LocalUiTest, ShellFoldersAreTheCurrentAllUsersFolders) {
    std::wstring startup = L"untouched";
    std::wstring programs = L"untouched";
    ASSERT_TRUE(RegCntrl::getStartupDir(startup));
    ASSERT_TRUE(RegCntrl::getStartMenuDir(programs));
    EXPECT_EQ(startup, startup_);
    EXPECT_EQ(programs, programs_);
    // The paths Wine reports, as measured on its default prefix.
    EXPECT_EQ(programs, L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
    EXPECT_EQ(startup, programs + L"\\StartUp");

    hideStartupFolder();
    startup = L"untouched";
    EXPECT_FALSE(RegCntrl::getStartupDir(startup));
    EXPECT_EQ(startup, L"untouched");
    EXPECT_EQ(records(),
              Lines{"ERROR: RegCntrl.getStartupDir(): Can't get 'Common Startup' value.\n"});
}

TEST_F(LocalUiTest, IsDirectoryWantsAPlainFolder) {
    host::writeFile(kRoot + L"\\file.txt", "x");
    EXPECT_TRUE(isDirectory(kRoot));
    EXPECT_TRUE(isDirectory(kRoot + L"\\"));
    EXPECT_FALSE(isDirectory(kRoot + L"\\file.txt"));
    EXPECT_FALSE(isDirectory(kRoot + L"\\missing"));
    EXPECT_FALSE(isDirectory(L""));
    // A path whose first 260 characters name a folder is refused, not cut.
    std::wstring folder = kRoot + L"\\" + std::wstring(260 - kRoot.size() - 1, L'd');
    ASSERT_EQ(folder.size(), 260u);
    host::makeDirs(folder);
    ASSERT_TRUE(isDirectory(folder));
    EXPECT_FALSE(isDirectory(folder + L"\\"));
    EXPECT_TRUE(records().empty());
}

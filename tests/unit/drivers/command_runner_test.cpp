// ExecuteCommand on Wine: exit codes, failed starts and their log lines, long command lines
// and the hidden console.
#include <gtest/gtest.h>

#include "driver_host.h"
#include "drivers/command_runner.h"
#include "win/strings.h"

using namespace drvtest;

namespace {

const std::wstring kTools = kBase + L"\\tools";
const std::string kFailedPrefix = "ERROR: ExecuteCommand: ERROR:: Failed to create process :: ";

class CommandRunner : public DriverHost {
  protected:
    void SetUp() override {
        DriverHost::SetUp();
        host::makeDirs(kTools);
    }
    std::wstring fake(const std::string& exitCode) {
        std::wstring path = kTools + L"\\tool.exe";
        host::installFake(L"fake_installer.exe", path, exitCode);
        return path;
    }
};

// What CreateProcessW itself answers for the command line, asked the way ExecuteCommand asks.
DWORD platformStartError(const std::wstring& commandLine, const std::wstring& folder) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = commandLine;
    if (CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                       folder.c_str(), &startup, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return 0;
    }
    return GetLastError();
}

}  // namespace

TEST_F(CommandRunner, ExitCodesOfTheProgramAreTheResult) {
    std::wstring tool = fake("0");
    std::wstring command = L"\"" + tool + L"\" -i qsxnet";
    EXPECT_EQ(ExecuteCommand(command, kTools), 0u);
    host::setMode(tool, "5");
    EXPECT_EQ(ExecuteCommand(command, kInstall), 5u);

    std::string narrow = utf8(command);
    EXPECT_EQ(host::runsOf(tool), (std::vector<std::string>{narrow + "\t" + utf8(kTools),
                                                            narrow + "\t" + utf8(kInstall)}));
    EXPECT_EQ(records(), (std::vector<std::string>{executeLine(narrow), executeLine(narrow)}));
}

TEST_F(CommandRunner, AMissingProgramGives2AndNoErrorLine) {
    std::wstring command = L"\"" + kTools + L"\\missing.exe\" -u qsxnet ";
    EXPECT_EQ(ExecuteCommand(command, kTools), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(records(), std::vector<std::string>{executeLine(utf8(command))});
}

TEST_F(CommandRunner, AMissingFolderGivesThePlatformsAnswer) {
    std::wstring command = L"\"" + kBase + L"\\no such folder\\tool.exe\" -i";
    // Windows answers ERROR_PATH_NOT_FOUND (3); Wine answers ERROR_FILE_NOT_FOUND (2). The
    // runner hands on whatever the system says, and only a 2 goes without an ERROR line.
    DWORD platform = platformStartError(command, kTools);
    ASSERT_TRUE(platform == ERROR_PATH_NOT_FOUND || platform == ERROR_FILE_NOT_FOUND) << platform;
    EXPECT_EQ(ExecuteCommand(command, kTools), platform);
    std::vector<std::string> expected{executeLine(utf8(command))};
    if (platform != ERROR_FILE_NOT_FOUND)
        expected.push_back(kFailedPrefix + utf8(command) + " \n");
    EXPECT_EQ(records(), expected);
}

TEST_F(CommandRunner, AFileThatIsNotAProgramIsReportedWithItsCode) {
    std::wstring notes = kTools + L"\\notes.exe";
    ASSERT_TRUE(host::writeFile(notes, "these are notes, not a program\r\n"));
    std::wstring command = L"\"" + notes + L"\" -i";
    DWORD platform = platformStartError(command, kTools);
    ASSERT_NE(platform, 0u);
    ASSERT_NE(platform, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ExecuteCommand(command, kTools), platform);
    EXPECT_EQ(records(), (std::vector<std::string>{executeLine(utf8(command)),
                                                   kFailedPrefix + utf8(command) + " \n"}));
}

TEST_F(CommandRunner, TheErrorLineShowsTheWholeCommandLine) {
    // A long command line with a Latin-1 letter: the %S placeholder shows every character.
    std::wstring notes = kTools + L"\\notes.exe";
    ASSERT_TRUE(host::writeFile(notes, "not a program"));
    std::wstring command = L"\"" + notes + L"\" -i \"caf\u00e9 " + std::wstring(400, L'x') + L"\"";
    DWORD result = ExecuteCommand(command, kTools);
    ASSERT_NE(result, 0u);
    std::vector<std::string> lines = records();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], kFailedPrefix + utf8(command) + " \n");
}

TEST_F(CommandRunner, CommandLinesLongerThan260RunWhole) {
    std::wstring tool = fake("0");
    std::wstring command = L"\"" + tool + L"\" -i \"" + std::wstring(600, L'd') + L"\"";
    ASSERT_GT(command.size(), 600u);
    EXPECT_EQ(ExecuteCommand(command, kTools), 0u);
    EXPECT_EQ(host::runsOf(tool), std::vector<std::string>{utf8(command) + "\t" + utf8(kTools)});
    EXPECT_EQ(records(), std::vector<std::string>{executeLine(utf8(command))});
}

TEST_F(CommandRunner, TheSystemsLimitIsKeptAndABiggerCommandLineIsRefused) {
    std::wstring tool = fake("0");
    std::wstring head = L"\"" + tool + L"\" ";
    // 32766 characters and the terminator: the longest the system takes, run whole.
    std::wstring longest = head + std::wstring(32766 - head.size(), L'a');
    ASSERT_EQ(longest.size(), 32766u);
    EXPECT_EQ(ExecuteCommand(longest, kTools), 0u);
    std::vector<std::string> ran = host::runsOf(tool);
    ASSERT_EQ(ran.size(), 1u);
    EXPECT_EQ(ran[0], utf8(longest) + "\t" + utf8(kTools));

    std::wstring tooLong = longest + L"a";
    EXPECT_EQ(ExecuteCommand(tooLong, kTools), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(host::runsOf(tool).size(), 1u) << "a refused command line must not run";
    std::vector<std::string> lines = records();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].rfind("INFO: ExecuteCommand: \"", 0), 0u);
    EXPECT_EQ(lines[2],
              "ERROR: ExecuteCommand: ERROR:: Command line of 32767 characters is longer than "
              "32766, not run\n");
}

TEST_F(CommandRunner, TheProgramRunsHiddenInANewConsole) {
    std::wstring probe = kTools + L"\\startup_probe.exe";
    ASSERT_TRUE(CopyFileW((host::binDir() + L"\\startup_probe.exe").c_str(), probe.c_str(), FALSE));
    EXPECT_EQ(ExecuteCommand(L"\"" + probe + L"\"", kTools), 0u);
    std::string seen = host::readFile(probe + L".startup");
    // STARTF_USESHOWWINDOW (1) with SW_HIDE (0) and STARTF_USESTDHANDLES (0x100: the NUL
    // device, none of ours); alone in a console of its own.
    EXPECT_EQ(seen, "flags=257 show=0 console=1");
}

TEST(NarrowForLog, Latin1StaysAndOtherCharactersBecomeQuestionMarks) {
    EXPECT_EQ(win::narrowForLog(L"C:\\caf\u00e9 \u00ff"), "C:\\caf\xe9 \xff");
    EXPECT_EQ(win::narrowForLog(L"\u20ac\u4e2d"), "??");
    EXPECT_EQ(win::narrowForLog(std::wstring(5000, L'z')).size(), 5000u);
}

// The whole job as a deployment runs it: drivers, services, policy and local user interface.
#include <gtest/gtest.h>

#include <chrono>

#include "stored_form.h"
#include "host_fixture.h"

using host::HostTest;
using host::Lines;

namespace {

const std::wstring kPrograms = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
const std::wstring kMenuLink = kPrograms + L"\\QSX\\Tarvos Server\\Tarvos Server Agent.lnk";
const std::wstring kStartupLink = kPrograms + L"\\StartUp\\Tarvos Server Agent.lnk";
const std::wstring kReadmeLink = kPrograms + L"\\QSX\\Tarvos Server\\Tarvos Readme.lnk";

void setWineVersion(const wchar_t* version) {
    const wchar_t* path = L"Software\\Wine\\AppDefaults\\Relocator.exe";
    if (!version) {
        RegDeleteTreeW(HKEY_CURRENT_USER, path);
        return;
    }
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

class TypicalRunTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        host::removeTree(kPrograms + L"\\QSX");
        DeleteFileW(kStartupLink.c_str());
        for (const wchar_t* dir : {L"\\NetInstall\\x64", L"\\IfsInstall\\x64", L"\\drivers\\qsxnet",
                                   L"\\drivers\\qsxfltr\\x86\\Win2K3"}) {
            host::makeDirs(install + dir);
        }
        host::installFake(L"fake_installer.exe", netInst());
        host::installFake(L"fake_installer.exe", ifsInst());
        host::writeFile(install + L"\\drivers\\qsxfltr\\x86\\Win2K3\\QsxFFilter.dll", "library");
        host::writeFile(install + L"\\personality.ini",
                        "[Runtime]\r\nPersonality=desktop\r\nProductName=Tarvos Desktop\r\n"
                        "RegistryKey=SOFTWARE\\QSX\\Tarvos Desktop\r\n");
        host::setString(L"SOFTWARE\\QSX\\HostAgent", L"InstallDir", install);
        host::installFake(L"fake_service.exe", tool + L"\\glacis.exe", "exit 0");
        host::writeFile(install + L"\\readme.htm", "<html></html>");
    }
    void TearDown() override {
        setWineVersion(nullptr);
        host::removeTree(kPrograms + L"\\QSX");
        DeleteFileW(kStartupLink.c_str());
        host::deleteKey(L"SOFTWARE\\QSX\\HostAgent");
        HostTest::TearDown();
    }
    std::wstring netInst() const { return install + L"\\NetInstall\\x64\\NetInst.exe"; }
    std::wstring ifsInst() const { return install + L"\\IfsInstall\\x64\\IfsInst.exe"; }

    void oldAgentHost(const std::string& policy) {
        host::installFake(L"fake_service.exe", install + L"\\glacisd.exe");
        ASSERT_EQ(host::createService(L"Glacis", L"\"" + install + L"\\glacisd.exe\""), 0u);
        registerFake(L"HotMend", L"hotmend.exe");
        ASSERT_EQ(host::startService(L"HotMend"), 0u);
        host::installFake(L"fake_service.exe", install + L"\\thService.exe");
        if (!policy.empty())
            host::writeFile(install + L"\\policy.xml", testsupport::encipher(policy));
    }

    Lines driverRecords() const {
        std::string i = host::utf8(install);
        return {
            "INFO: ExecuteCommand: \"" + i + "\\NetInstall\\x64\\NetInst.exe\" -u qsxnet  \n",
            "INFO: ExecuteCommand: \"" + i + "\\NetInstall\\x64\\NetInst.exe\" -i qsxnet \"" + i +
                "\\drivers\\qsxnet\" \n",
            "INFO: Previous QSXNET uninstallation Returned 0 and latest QSXNET Installation "
            "Returned 0 \n",
        };
    }
    std::string runsLine(const std::wstring& exe, const std::wstring& args) const {
        return host::utf8(L"\"" + exe + L"\" " + args + L"\t" + install);
    }
};

const char kPolicyTrue[] =
    "<?xml version=\"1.0\"?>\r\n<Policy Name=\"Default\" IncludeLocalGUI='true'>\r\n</Policy>\r\n";
const char kPolicyFalse[] =
    "<?xml version=\"1.0\"?>\r\n<Policy Name=\"Default\" IncludeLocalGUI='false'>\r\n</Policy>\r\n";

}  // namespace

TEST_F(TypicalRunTest, OldAgentHostOn64BitWindows) {
    oldAgentHost(kPolicyTrue);
    auto started = std::chrono::steady_clock::now();
    auto result = runRelocator();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    printf("typical run: %.2f s wall time (5.00 s of it the two installer pauses)\n", seconds);
    EXPECT_GE(seconds, 5.0);
    EXPECT_EQ(result.exitCode, 0u);

    std::string i = host::utf8(install);
    Lines expected = {"INFO: starting Logging Now\n "};
    Lines drivers = driverRecords();
    expected.insert(expected.end(), drivers.begin(), drivers.end());
    Lines rest = {
        "INFO: UpdateminiFilterDriver:: Installing QSX IFS Drivers.\n",
        "INFO: User Logged in:  " + host::utf8(host::userName()) + "\n",
        "INFO: ExecuteCommand: \"" + i + "\\IfsInstall\\x64\\IfsInst.exe\" -i \"" + i +
            "\\drivers\\qsxfltr\" \"" + i + "\\qsxfltr.log\" \n",
        "INFO: UpdateminiFilterDriver:: IFS driver installer returned 0\n",
        "INFO: UpdateminiFilterDriver()::NOT INSTALLING Rogue SERVICE...64\n",
        "INFO: Rampart Doesnt exist. Not Removing \n",
        "ERROR: Pick up GlacisUi from " + host::utf8(tool) + "\n",
        "INFO: Found policy file \n",
        "INFO: LocalUI Set. \n",
        "INFO: UI should be installed and and doesnt exist. Installing..\n",
        "INFO: Copying file " + host::utf8(tool) + "\\glacis.exe to " + i + "\\glacis.exe\n",
    };
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(records(), expected);

    // The installers, in order, with their exact command lines and the install folder current.
    EXPECT_EQ(host::runsOf(netInst()),
              (Lines{runsLine(netInst(), L"-u qsxnet "),
                     runsLine(netInst(), L"-i qsxnet \"" + install + L"\\drivers\\qsxnet\"")}));
    EXPECT_EQ(host::runsOf(ifsInst()),
              (Lines{runsLine(ifsInst(), L"-i \"" + install + L"\\drivers\\qsxfltr\" \"" + install +
                                             L"\\qsxfltr.log\"")}));
    // The library reached the product folder named by the personality's registry key.
    EXPECT_EQ(host::readFile(install + L"\\QsxFFilter.dll"), "library");

    EXPECT_TRUE(host::exists(install + L"\\glacis.exe"));
    EXPECT_TRUE(host::exists(kMenuLink));
    EXPECT_TRUE(host::exists(kStartupLink));
    EXPECT_TRUE(host::exists(kReadmeLink));
    EXPECT_TRUE(host::waitForState(L"KLOTarvos", SERVICE_RUNNING, 5000));
    EXPECT_FALSE(host::queryService(L"HotMend").exists);
    EXPECT_FALSE(host::exists(install + L"\\policy.xml"));
    EXPECT_FALSE(host::exists(install + L"\\policy.txt"));
    expectReport("migration", "started");
}

TEST_F(TypicalRunTest, PolicyWithoutTheUserInterfaceRemovesIt) {
    oldAgentHost(kPolicyFalse);
    host::installFake(L"fake_service.exe", install + L"\\glacis.exe", "exit 0");
    host::makeDirs(kPrograms + L"\\QSX\\Tarvos Server");
    host::writeFile(kMenuLink, "old link");
    auto result = runRelocator();
    EXPECT_EQ(result.exitCode, 0u);
    Lines log = records();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(Lines(log.end() - 4, log.end()),
              (Lines{"INFO: Found policy file \n", "INFO: LocalUI not Set. \n",
                     "INFO: UI should NOT be installed and exists. deleting..\n",
                     "INFO: Deleting file " + host::utf8(install) + "\\glacis.exe \n"}));
    EXPECT_FALSE(host::exists(install + L"\\glacis.exe"));
    EXPECT_FALSE(host::exists(kMenuLink));
    EXPECT_TRUE(host::exists(kPrograms + L"\\QSX\\Tarvos Server"));
    expectReport("migration", "started");
}

TEST_F(TypicalRunTest, UnreadablePolicyLeavesTheUserInterfaceAlone) {
    oldAgentHost("<Policy Name=\"NoMarker\"/>\r\n");
    auto result = runRelocator();
    EXPECT_EQ(result.exitCode, 0u);
    Lines log = records();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(Lines(log.end() - 2, log.end()),
              (Lines{"INFO: Found policy file \n",
                     "ERROR: Something went wrong with reading policy file\n"}));
    EXPECT_FALSE(host::exists(install + L"\\glacis.exe"));
    EXPECT_FALSE(host::exists(kMenuLink));
    expectReport("migration", "started");
}

TEST_F(TypicalRunTest, RestartRunsTheNetworkDriverStepOnly) {
    registerGlacis();
    registerFake(L"KLOTarvos", L"thService.exe", "", SERVICE_AUTO_START);
    auto result = runRelocator();
    EXPECT_EQ(result.exitCode, 0u);
    Lines expected = {"INFO: starting Logging Now\n "};
    Lines drivers = driverRecords();
    expected.insert(expected.end(), drivers.begin(), drivers.end());
    Lines rest = {"INFO: Tarvos Server 2.0 detected. Starting KLO Tarvos and exiting..\n",
                  "INFO: Successfull thService Start\n",
                  "INFO: Removing Installed Rampart as Rampart is not supposed to be installed\n",
                  "ERROR: Rampart can't be removed with errcode: 1060\n"};
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(records(), expected);
    EXPECT_TRUE(host::runsOf(ifsInst()).empty());
    expectReport("restart", "started");
}

TEST_F(TypicalRunTest, WindowsServer2008SkipsTheNetworkDrivers) {
    setWineVersion(L"win2008");
    registerGlacis();
    registerFake(L"KLOTarvos", L"thService.exe", "", SERVICE_AUTO_START);
    auto started = std::chrono::steady_clock::now();
    runRelocator();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    Lines log = records();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1], "INFO: IsLongHornServer()::returned true...skipping driver update\n");
    EXPECT_EQ(log[2], "INFO: Tarvos Server 2.0 detected. Starting KLO Tarvos and exiting..\n");
    EXPECT_TRUE(host::runsOf(netInst()).empty());
    EXPECT_LT(seconds, 2.0) << "no pause after a skipped update";
    expectReport("restart", "started");
}

TEST_F(TypicalRunTest, RunStoppedDuringTheDriverStepLeavesAnIncompleteLog) {
    oldAgentHost(kPolicyTrue);
    // A network installer that never ends: the tool waits for it until it is stopped.
    host::installFake(L"fake_service.exe", netInst(), "hang");
    HANDLE relocator = host::spawn(L"\"" + tool + L"\\Relocator.exe\"", work);
    ASSERT_NE(relocator, nullptr);
    const bool installerRuns = host::waitForRuns(netInst(), 1);
    TerminateProcess(relocator, 1);
    WaitForSingleObject(relocator, 10000);
    CloseHandle(relocator);
    host::killByName(L"NetInst.exe");
    ASSERT_TRUE(installerRuns);
    EXPECT_EQ(records().size(), 2u) << "the start record and the installer's command line";
    expectReport("unknown", "incomplete", host::ReportExit::Unknown);
}

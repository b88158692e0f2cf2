// The whole job as a deployment runs it: drivers, services, policy and local user interface.
#include <gtest/gtest.h>

#include "typical_host.h"

using host::HostTest;
using host::Lines;

using host::kMenuLink;
using host::kPolicyFalse;
using host::kPolicyTrue;
using host::kPrograms;
using host::kReadmeLink;
using host::kStartupLink;
using host::setWineVersion;
using TypicalRunTest = host::TypicalRunTest;

TEST_F(TypicalRunTest, OldAgentHostOn64BitWindows) {
    oldAgentHost(kPolicyTrue);
    auto result = runRelocator();
    const double seconds = lastRunSeconds();
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
    expectReport("migration", "started", host::ReportExit::Exact, "none");
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
    EXPECT_NE(lastCheck().find("\"id\":\"policy-no-marker\""), std::string::npos);
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
    runRelocator();
    Lines log = records();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[1], "INFO: IsLongHornServer()::returned true...skipping driver update\n");
    EXPECT_EQ(log[2], "INFO: Tarvos Server 2.0 detected. Starting KLO Tarvos and exiting..\n");
    EXPECT_TRUE(host::runsOf(netInst()).empty());
    // A 2 s pause would put two seconds or more between the stamps of these two records (their
    // stamps have whole seconds); the wall time of the run says nothing on a loaded machine.
    const std::string text = host::readFile(host::logPath());
    const size_t skip = text.find("IsLongHornServer()::returned true");
    const size_t next = text.find(" T0x", skip);
    ASSERT_NE(next, std::string::npos);
    auto secondsOf = [&](size_t at) {
        const size_t stamp = text.rfind('/', at) + 6;  // "MM/DD/YYYY hh:mm:ss"
        return std::stoi(text.substr(stamp, 2)) * 3600 + std::stoi(text.substr(stamp + 3, 2)) * 60 +
               std::stoi(text.substr(stamp + 6, 2));
    };
    EXPECT_LE(secondsOf(next) - secondsOf(skip), 1) << "no pause after a skipped update";
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
    expectReport("unknown", "incomplete", host::ReportExit::Unknown, "cut-off");
}

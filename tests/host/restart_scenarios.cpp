// The restart path end to end: the new agent is registered and present.
#include <gtest/gtest.h>

#include "host_fixture.h"

using host::HostTest;
using host::Lines;

namespace {

class RestartTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        registerGlacis();
        registerFake(L"KLOTarvos", L"thService.exe", "", SERVICE_AUTO_START);
        host::installFake(L"fake_service.exe", work + L"\\Rampart.exe", "exit 0");
    }
    void TearDown() override {
        if (helper_) {
            TerminateProcess(helper_, 1);
            CloseHandle(helper_);
        }
        HostTest::TearDown();
    }
    // A separate "thService.exe" process, as left behind by a start that hung.
    HANDLE startStrayAgent(const wchar_t* fake) {
        host::makeDirs(root + L"\\stray");
        std::wstring exe = root + L"\\stray\\thService.exe";
        host::installFake(fake, exe);
        helper_ = host::spawn(L"\"" + exe + L"\" --mode=hang", root + L"\\stray");
        return helper_ && host::waitForRuns(exe, 1) ? helper_ : nullptr;
    }
    HANDLE helper_ = nullptr;
};

const char kDetected[] = "INFO: Tarvos Server 2.0 detected. Starting KLO Tarvos and exiting..\n";
const char kTryOld[] = "INFO: Can't Start thService. Trying start Glacisd and Rampart\n";
const char kRemovingRampart[] =
    "INFO: Removing Installed Rampart as Rampart is not supposed to be installed\n";

// The records of a run whose first start hung and whose rescue started the agent, then `tail`.
Lines rescuedRun(const Lines& tail) {
    Lines lines = {"INFO: starting Logging Now\n ",
                   kDetected,
                   "INFO: thService.exe seems to be stuck in 1053. Terminating and restarting\n",
                   "INFO: Terminating thService, It Should'nt be running now\n",
                   "INFO: Terminated thService\n",
                   "INFO: SuccessFully Started thService\n"};
    lines.insert(lines.end(), tail.begin(), tail.end());
    return lines;
}

}  // namespace

TEST_F(RestartTest, StartSucceedsAndRampartRuns) {
    registerRampart();
    auto result = runRelocator();
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(serviceRecords(), (Lines{"INFO: starting Logging Now\n ", kDetected,
                                       "INFO: Successfull thService Start\n",
                                       "INFO: Rampart DETECTED. Starting it\n"}));
    EXPECT_TRUE(host::waitForState(L"KLOTarvos", SERVICE_RUNNING, 5000));
    EXPECT_EQ(host::runsOf(work + L"\\Rampart.exe").size(), 1u);
    EXPECT_FALSE(host::waitForState(L"Glacis", SERVICE_RUNNING, 0));
    // The restart path updates the network driver, whose package this host lacks.
    expectReport("restart", "follow-up", host::ReportExit::Exact, "driver-installer-failed");
}

TEST_F(RestartTest, FailedStartWithoutAgentProcessStartsGlacisOnly) {
    host::setMode(install + L"\\thService.exe", "exit 1");
    auto result = runRelocator();
    // Rampart is not registered: its removal fails with 1060. The new agent does not run, so the
    // exit code is the start's failure, not the 0 that Rampart's absence would give.
    EXPECT_NE(result.exitCode, 0u);
    EXPECT_NE(result.exitCode, static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
    EXPECT_EQ(serviceRecords(),
              (Lines{"INFO: starting Logging Now\n ", kDetected, kTryOld, kRemovingRampart,
                     "ERROR: Rampart can't be removed with errcode: 1060\n"}));
    EXPECT_TRUE(host::waitForState(L"Glacis", SERVICE_RUNNING, 5000));
    EXPECT_EQ(host::runsOf(install + L"\\thService.exe").size(), 1u) << "no second start";
    expectReport("restart", "not-started", host::ReportExit::Exact,
                 "new-agent-not-started-restart");
}

TEST_F(RestartTest, FailedStartWithRampartGivesTheStartCode) {
    host::setMode(install + L"\\thService.exe", "exit 1");
    registerRampart();
    auto result = runRelocator();
    EXPECT_NE(result.exitCode, 0u);
    Lines log = serviceRecords();
    EXPECT_EQ(log, (Lines{"INFO: starting Logging Now\n ", kDetected, kTryOld,
                          "INFO: Rampart DETECTED. Starting it\n"}));
    EXPECT_EQ(host::runsOf(work + L"\\Rampart.exe").size(), 1u);
    expectReport("restart", "not-started");
}

TEST_F(RestartTest, HungStartIsRescuedByTerminatingTheAgentProcess) {
    // The service's own process hangs once; a stray "thService.exe" keeps running.
    host::setMode(install + L"\\thService.exe", "hangonce");
    HANDLE stray = startStrayAgent(L"fake_service.exe");
    ASSERT_NE(stray, nullptr);
    auto result = runRelocator();
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(
        serviceRecords(),
        rescuedRun({kRemovingRampart, "ERROR: Rampart can't be removed with errcode: 1060\n"}));
    ASSERT_EQ(WaitForSingleObject(stray, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(stray, &code);
    EXPECT_EQ(code, 9999u);
    EXPECT_EQ(host::runsOf(install + L"\\thService.exe").size(), 2u) << "second start made";
    EXPECT_FALSE(host::waitForState(L"Glacis", SERVICE_RUNNING, 0));
    // The restart path updates the network driver, whose package this host lacks.
    expectReport("restart", "follow-up", host::ReportExit::Exact, "driver-installer-failed");
}

TEST_F(RestartTest, HungStartRescuesA64BitAgentProcess) {
    host::setMode(install + L"\\thService.exe", "hangonce");
    HANDLE stray = startStrayAgent(L"fake_service64.exe");
    ASSERT_NE(stray, nullptr);
    runRelocator();
    Lines log = serviceRecords();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[4], "INFO: Terminated thService\n");
    ASSERT_EQ(WaitForSingleObject(stray, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(stray, &code);
    EXPECT_EQ(code, 9999u);
    // The restart path updates the network driver, whose package this host lacks.
    expectReport("restart", "follow-up", host::ReportExit::Exact, "driver-installer-failed");
}

// The first start hangs, the rescue brings the agent up: with Rampart registered the exit code
// is the host's state (success), not the first start's 1053; the first failure stays logged.
TEST_F(RestartTest, RescuedStartWithRampartIsASuccess) {
    host::setMode(install + L"\\thService.exe", "hangonce");
    registerRampart();
    HANDLE stray = startStrayAgent(L"fake_service.exe");
    ASSERT_NE(stray, nullptr);
    auto result = runRelocator();
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(serviceRecords(), rescuedRun({"INFO: Rampart DETECTED. Starting it\n"}));
    EXPECT_TRUE(host::waitForState(L"KLOTarvos", SERVICE_RUNNING, 5000));
    EXPECT_EQ(host::runsOf(work + L"\\Rampart.exe").size(), 1u);
    EXPECT_EQ(endResult(), "migrated");
    expectReport("restart", "follow-up", host::ReportExit::Exact, "driver-installer-failed");
}

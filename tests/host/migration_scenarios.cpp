// The migration path end to end: the real Relocator.exe on a simulated old-agent host.
#include <gtest/gtest.h>

#include "host_fixture.h"

using host::HostTest;
using host::Lines;

namespace {

class MigrationTest : public HostTest {
  protected:
    // The typical old-agent host: Glacis registered from its old folder and stopped, HotMend
    // and Rampart registered and running, the new agent's files in the installation folder.
    void SetUpOldAgentHost(bool withHotMend = true, bool withRampart = true) {
        host::makeDirs(root + L"\\old");
        host::installFake(L"fake_service.exe", root + L"\\old\\glacisd.exe");
        ASSERT_EQ(host::createService(L"Glacis", L"\"" + root + L"\\old\\glacisd.exe\""), 0u);
        host::installFake(L"fake_service.exe", install + L"\\glacisd.exe");
        if (withHotMend) {
            registerFake(L"HotMend", L"hotmend.exe");
            ASSERT_EQ(host::startService(L"HotMend"), 0u);
        }
        if (withRampart) {
            registerRampart();
            ASSERT_EQ(host::startService(L"Rampart"), 0u);
            host::installFake(L"fake_service.exe", work + L"\\Rampart.exe", "exit 0");
        }
        host::installFake(L"fake_service.exe", install + L"\\thService.exe");
        host::writeFile(install + L"\\policy.xml", "<policy IncludeLocalGUI='true'/>");
        host::writeFile(install + L"\\policy.txt", "left over");
    }

    void expectDemandStartIn(const wchar_t* service, const std::wstring& exe) {
        auto info = host::queryService(service);
        ASSERT_TRUE(info.exists) << host::utf8(service);
        EXPECT_EQ(info.binaryPath, L"\"" + install + L"\\" + exe + L"\"");
        EXPECT_EQ(info.startType, static_cast<DWORD>(SERVICE_DEMAND_START));
        EXPECT_EQ(info.serviceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    }

    void expectTarvosRegisteredAndRunning() {
        auto info = host::queryService(L"KLOTarvos");
        ASSERT_TRUE(info.exists);
        EXPECT_EQ(info.binaryPath, L"\"" + install + L"\\thService.exe\"");
        EXPECT_EQ(info.startType, static_cast<DWORD>(SERVICE_AUTO_START));
        EXPECT_EQ(info.serviceType,
                  static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS));
        EXPECT_TRUE(host::waitForState(L"KLOTarvos", SERVICE_RUNNING, 5000));
    }

    // The policy.txt the host set-up leaves, as an interrupted run would, goes first of all.
    std::string leftOverLine() const {
        return "INFO: Deleted " + host::utf8(install) +
               "\\policy.txt left behind by an interrupted run\n";
    }
    std::string pickUpLine() const {
        return "ERROR: Pick up GlacisUi from " + host::utf8(tool) + "\n";
    }
};

}  // namespace

TEST_F(MigrationTest, OldAgentHostMovesToTheNewAgent) {
    SetUpOldAgentHost();
    auto result = runRelocator();
    EXPECT_EQ(result.exitCode, 0u);
    // This host has no installers: the preflight said so.
    EXPECT_NE(lastCheck().find("\"id\":\"installer-missing\""), std::string::npos);
    // Standard output is a text stream: its line feed reaches the pipe as CR LF.
    EXPECT_EQ(result.output, "\r\nRamp found ");
    EXPECT_EQ(serviceRecords(), (Lines{
                                    "INFO: starting Logging Now\n ",
                                    leftOverLine(),
                                    "INFO: Rampart Found. Removing.. \n",
                                    "INFO: Installing ramp.. \n",
                                    pickUpLine(),
                                }));
    expectDemandStartIn(L"Glacis", L"glacisd.exe");
    expectDemandStartIn(L"Rampart", L"Rampart.exe");
    EXPECT_FALSE(host::queryService(L"HotMend").exists);
    EXPECT_FALSE(host::exists(install + L"\\hotmend.exe"));
    expectTarvosRegisteredAndRunning();
    auto rampartRuns = host::runsOf(work + L"\\Rampart.exe");
    ASSERT_EQ(rampartRuns.size(), 1u);
    EXPECT_EQ(rampartRuns[0], host::utf8(L"\"" + work + L"\\Rampart.exe\" -s\t" + work));
    EXPECT_FALSE(host::exists(install + L"\\policy.xml"));
    EXPECT_FALSE(host::exists(install + L"\\policy.txt"));
    // No driver packages on this host: the installers are missing (non-zero).
    expectReport("migration", "follow-up", host::ReportExit::Exact, "driver-installer-failed");
}

TEST_F(MigrationTest, RunningGlacisIsOnlyMarkedAndKeepsItsRegistration) {
    SetUpOldAgentHost();
    ASSERT_EQ(host::startService(L"Glacis"), 0u);
    auto result = runRelocator();
    // The new agent runs, but the old service waits for a restart of the host to go and to be
    // registered again: a soft reboot, not a success.
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED));
    EXPECT_NE(lastCheck().find("\"id\":\"old-agent-running\""), std::string::npos);
    EXPECT_EQ(serviceRecords(),
              (Lines{
                  "INFO: starting Logging Now\n ",
                  leftOverLine(),
                  "ERROR: Glacisd can't be removed with errcode: 1072\n",
                  "INFO: Rampart Found. Removing.. \n",
                  "ERROR: Glacisd can't be added with errcode: 1072\n",
                  "INFO: Installing ramp.. \n",
                  pickUpLine(),
                  "WARN: Restart needed: Glacis stays marked for deletion until the host restarts. "
                  "The first run after the restart registers it and finishes the migration\n",
              }));
    auto glacis = host::queryService(L"Glacis");
    ASSERT_TRUE(glacis.exists);
    EXPECT_EQ(glacis.binaryPath, L"\"" + root + L"\\old\\glacisd.exe\"");
    expectTarvosRegisteredAndRunning();
    expectReport("migration", "restart-needed", host::ReportExit::Exact, "restart-needed");
}

TEST_F(MigrationTest, WithoutHotMendAndRampart) {
    SetUpOldAgentHost(false, false);
    auto result = runRelocator();
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(serviceRecords(), (Lines{
                                    "INFO: starting Logging Now\n ",
                                    leftOverLine(),
                                    "ERROR: HotMend can't be removed with errcode: 1060\n",
                                    "ERROR: HotMend can't be deleted with errcode: 2\n",
                                    "INFO: Rampart Doesnt exist. Not Removing \n",
                                    pickUpLine(),
                                }));
    EXPECT_FALSE(host::queryService(L"Rampart").exists);
    expectDemandStartIn(L"Glacis", L"glacisd.exe");
    expectTarvosRegisteredAndRunning();
    // No driver packages on this host: the installers are missing (non-zero).
    expectReport("migration", "follow-up", host::ReportExit::Exact, "driver-installer-failed");
}

TEST_F(MigrationTest, FailingRampartRunIsLogged) {
    SetUpOldAgentHost();
    host::setMode(work + L"\\Rampart.exe", "exit 3");
    auto result = runRelocator();
    EXPECT_EQ(result.exitCode, 0u);
    Lines log = serviceRecords();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "ERROR: Rogue service failed to start.\n");
    EXPECT_EQ(host::runsOf(work + L"\\Rampart.exe").size(), 1u);
    // No driver packages on this host: the installers are missing (non-zero).
    expectReport("migration", "follow-up", host::ReportExit::Exact, "driver-installer-failed");
}

// The old services are already gone when the new agent fails to start: the old agent is
// started again, so that the host is not left without an agent; the exit code stays the start's.
TEST_F(MigrationTest, NewAgentThatCannotStartGivesItsCodeAndTheOldAgentRuns) {
    SetUpOldAgentHost(true, false);
    // Registered with a program that ends without answering the service control manager.
    host::setMode(install + L"\\thService.exe", "exit 1");
    auto result = runRelocator();
    Lines log = serviceRecords();
    ASSERT_GE(log.size(), 2u);
    EXPECT_NE(result.exitCode, 0u);
    EXPECT_EQ(log[log.size() - 2], "ERROR: TarvosAgent can't be started with errcode: " +
                                       std::to_string(result.exitCode) + "\n");
    EXPECT_EQ(log.back(), "INFO: Can't Start thService. Trying start Glacisd and Rampart\n");
    EXPECT_TRUE(host::waitForState(L"Glacis", SERVICE_RUNNING, 5000));
    EXPECT_EQ(endResult(), "failed");
    EXPECT_EQ(endRecordField("old agent: "), "running");
    EXPECT_FALSE(host::exists(install + L"\\policy.xml"));
    EXPECT_FALSE(host::exists(install + L"\\policy.txt"));
    const std::string report = expectReport("migration", "not-started", host::ReportExit::Exact,
                                            "new-agent-start-failed-" +
                                                std::to_string(result.exitCode));
    EXPECT_EQ(host::jsonField(report, "protectedBy"), "oldAgent") << report;
}

// The fallback path end to end: the real Relocator.exe on a simulated host.
#include <gtest/gtest.h>

#include "typical_host.h"

using host::HostTest;
using host::Lines;
using host::setWineVersion;

TEST_F(HostTest, NoNewAgentFilesLogsBannerAndStartsGlacis) {
    registerGlacis();
    auto result = runRelocator();
    // Nothing was upgraded: a deployment system must not count the host as done.
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << result.output;
    EXPECT_EQ(records(), (Lines{
                             "INFO: starting Logging Now\n ",
                             "ERROR: *** AGENT UPGRADE FAILED. PLEASE GENERATE AGENT BUILD AND "
                             "INSTALL LATEST VERSION MANUALLY *****.\n",
                             "ERROR: Starting old Glacis Service\n",
                         }));
    EXPECT_TRUE(host::waitForState(L"Glacis", SERVICE_RUNNING, 5000));
    EXPECT_EQ(host::runsOf(install + L"\\glacisd.exe").size(), 1u);
    expectReport("fallback", "old-agent-again", host::ReportExit::Exact, "upgrade-refused");
}

TEST_F(HostTest, FallbackWithoutGlacisLogsTheFailedStart) {
    auto result = runRelocator();
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    Lines log = records();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[3], "ERROR: Can't Start Glacisd Service.\n");
    expectReport("fallback", "no-agent", host::ReportExit::Exact, "old-agent-not-started");
}

TEST_F(HostTest, FallbackRunsRampartFromTheWorkingFolder) {
    registerGlacis();
    registerRampart();
    host::installFake(L"fake_service.exe", work + L"\\Rampart.exe", "exit 0");
    auto result = runRelocator();
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    Lines log = records();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[3], "INFO: Rampart DETECTED. Starting it\n");
    auto runs = host::runsOf(work + L"\\Rampart.exe");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], host::utf8(L"\"" + work + L"\\Rampart.exe\" -s\t" + work));
    expectReport("fallback", "old-agent-again");
}

TEST_F(HostTest, AnArgumentForbidsTheMigration) {
    registerGlacis();
    host::installFake(L"fake_service.exe", install + L"\\thService.exe");
    auto result = runRelocator(L" --anything");
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    Lines log = records();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1].rfind("ERROR: *** AGENT UPGRADE FAILED", 0), 0u);
    EXPECT_FALSE(host::queryService(L"KLOTarvos").exists);
    expectReport("fallback", "old-agent-again");
}

TEST_F(HostTest, RegisteredNewAgentWithoutItsExecutableFallsBack) {
    registerGlacis();
    ASSERT_EQ(host::createService(L"KLOTarvos", L"\"" + install + L"\\thService.exe\""), 0u);
    auto result = runRelocator();
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    Lines log = records();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1].rfind("ERROR: *** AGENT UPGRADE FAILED", 0), 0u);
    expectReport("fallback", "old-agent-again");
}

TEST_F(HostTest, EarlierLogIsGoneAndNumberedCopiesRotate) {
    std::wstring dir = host::windowsDir();
    host::writeFile(host::logPath(), "earlier run\r\n");
    for (int n = 1; n <= 5; ++n) {
        host::writeFile(dir + L"\\" + std::to_wstring(n) + L"_Relocator.log",
                        "copy " + std::to_string(n));
    }
    runRelocator();
    expectReport("fallback", "no-agent");
    std::string log = host::readFile(host::logPath());
    EXPECT_EQ(log.find("earlier run"), std::string::npos);
    EXPECT_EQ(log.compare(0, 3, "\xEF\xBB\xBF"), 0) << "UTF-8 byte-order mark";
    EXPECT_NE(log.find("starting Logging Now\r\n"), std::string::npos) << "CR LF line ends";
    // The earlier log was deleted before the logger rotated: nothing moves into 1_.
    EXPECT_FALSE(host::exists(dir + L"\\1_Relocator.log"));
    for (int n = 2; n <= 5; ++n) {
        EXPECT_EQ(host::readFile(dir + L"\\" + std::to_wstring(n) + L"_Relocator.log"),
                  "copy " + std::to_string(n - 1));
    }
    for (int n = 1; n <= 5; ++n)
        DeleteFileW((dir + L"\\" + std::to_wstring(n) + L"_Relocator.log").c_str());
}

namespace {

std::string osLine() {
    std::string log = host::readFile(host::logPath());
    size_t at = log.find("OS Version Info: ");
    if (at == std::string::npos)
        return std::string();
    return log.substr(at, log.find("\r\n", at) - at);
}

}  // namespace

TEST_F(HostTest, HeaderBlockNamesTheFileLevelsAndTheWindowsVersion) {
    runRelocator();
    std::string log = host::readFile(host::logPath());
    const std::string rule(72, '=');
    EXPECT_EQ(log.compare(0, 3 + 2 + 72 + 2, "\xEF\xBB\xBF\r\n" + rule + "\r\n"), 0);
    EXPECT_NE(log.find("\r\nTarvos Host Logging: Relocator.log\r\n"), std::string::npos);
    EXPECT_NE(log.find("\r\nInitial Logging Subscriptions: ERROR WARN INFO\r\n"),
              std::string::npos);
    // Wine's default version: Windows 7 SP1, workstation. The manifest lets the tool see it.
    EXPECT_EQ(osLine(),
              "OS Version Info: Microsoft Windows NT 6.1  \"Service Pack 1\" (ver 6.1 build 7601)");
    EXPECT_EQ("OS Version Info: " + host::jsonField(expectReport("fallback", "no-agent"), "os"),
              osLine());
}

TEST_F(HostTest, HeaderOnWindowsServer2008) {
    setWineVersion(L"win2008");
    runRelocator();
    setWineVersion(nullptr);
    EXPECT_EQ(osLine(),
              "OS Version Info: Microsoft Windows Server 2008 Standard Edition \"Service Pack 2\" "
              "(ver 6.0 build 6002)");
    EXPECT_EQ("OS Version Info: " + host::jsonField(expectReport("fallback", "no-agent"), "os"),
              osLine());
}

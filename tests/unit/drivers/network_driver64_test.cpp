// The network driver update on the 64-bit prefix: x64 un-install and install of qsxnet,
// whatever the registry says.
#include <gtest/gtest.h>

#include "driver_host.h"
#include "drivers/network_driver.h"

using namespace drvtest;

namespace {

const std::wstring kNet64 = L"NetInstall\\x64\\NetInst.exe";
const std::wstring kNet86 = L"NetInstall\\x86\\NetInst.exe";

std::string uninstall64(const std::string& f) {
    return "\"" + f + "\\NetInstall\\x64\\NetInst.exe\" -u qsxnet ";
}
std::string install64(const std::string& f) {
    return "\"" + f + "\\NetInstall\\x64\\NetInst.exe\" -i qsxnet \"" + f + "\\drivers\\qsxnet\"";
}
std::string reinstallReport(int a, int b) {
    return "INFO: Previous QSXNET uninstallation Returned " + std::to_string(a) +
           " and latest QSXNET Installation Returned " + std::to_string(b) + " \n";
}

class NetworkDriver64 : public DriverHost {};

}  // namespace

TEST_F(NetworkDriver64, WithoutTheServiceKeyTheUninstallStillRuns) {
    installInstaller(kNet64, "7");
    installInstaller(kNet86, "0");
    DWORD elapsed = timed([] { UpdateNetworkDrivers(kInstall); });

    std::string f = utf8(kInstall);
    EXPECT_EQ(runs(kNet64),
              (std::vector<std::string>{runInInstall(uninstall64(f)), runInInstall(install64(f))}));
    EXPECT_TRUE(runs(kNet86).empty());
    EXPECT_EQ(records(),
              (std::vector<std::string>{executeLine(uninstall64(f)), executeLine(install64(f)),
                                        reinstallReport(7, 7)}));
    EXPECT_GE(elapsed, 1950u);
}

TEST_F(NetworkDriver64, WithTheServiceKeyTheSamePairRunsAndFailuresAreOnlyReported) {
    setServiceKeyPresent(true);
    installInstaller(kNet64, "1");
    UpdateNetworkDrivers(kInstall);
    std::string f = utf8(kInstall);
    EXPECT_EQ(runs(kNet64).size(), 2u);
    EXPECT_EQ(records(),
              (std::vector<std::string>{executeLine(uninstall64(f)), executeLine(install64(f)),
                                        reinstallReport(1, 1)}));
}

TEST_F(NetworkDriver64, AMissingInstallerGives2InTheReportAndNoErrorLine) {
    host::makeDirs(kInstall + L"\\NetInstall\\x64");
    UpdateNetworkDrivers(kInstall);
    std::string f = utf8(kInstall);
    EXPECT_EQ(records(),
              (std::vector<std::string>{executeLine(uninstall64(f)), executeLine(install64(f)),
                                        reinstallReport(2, 2)}));
}

TEST_F(NetworkDriver64, AnInstallationFolderOf200CharactersRunsWholeCommands) {
    std::wstring longInstall = kBase + L"\\" + std::wstring(200 - kBase.size() - 1, L'n');
    host::makeDirs(longInstall + L"\\NetInstall\\x64");
    std::wstring installer = longInstall + L"\\NetInstall\\x64\\NetInst.exe";
    host::installFake(L"fake_installer.exe", installer, "0");
    UpdateNetworkDrivers(longInstall);
    std::string f = utf8(longInstall);
    ASSERT_GT(install64(f).size(), 400u);
    EXPECT_EQ(host::runsOf(installer),
              (std::vector<std::string>{uninstall64(f) + "\t" + f, install64(f) + "\t" + f}));
}

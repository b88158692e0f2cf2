// The network driver update on the 32-bit prefix: the pair depends on whether the new agent's
// service is registered.
#include <gtest/gtest.h>

#include "driver_host.h"
#include "drivers/network_driver.h"

using namespace drvtest;

namespace {

const std::wstring kNet86 = L"NetInstall\\x86\\NetInst.exe";
const std::wstring kNet64 = L"NetInstall\\x64\\NetInst.exe";
const std::string kF = utf8(kInstall);
const std::string kUninstall = "\"" + kF + "\\NetInstall\\x86\\NetInst.exe\" -u qsxnet ";
const std::string kInstallNet =
    "\"" + kF + "\\NetInstall\\x86\\NetInst.exe\" -i qsxnet \"" + kF + "\\drivers\\qsxnet\"";
const std::string kInstallNfh =
    "\"" + kF + "\\NetInstall\\x86\\NetInst.exe\" -i qsxnfh \"" + kF + "\\drivers\\qsxnet\"";

class NetworkDriver32 : public DriverHost {};

}  // namespace

TEST_F(NetworkDriver32, ComingFromTheOldAgentBothComponentsAreInstalled) {
    installInstaller(kNet86, "0");
    installInstaller(kNet64, "0");
    DWORD elapsed = timed([] { UpdateNetworkDrivers(kInstall); });
    EXPECT_EQ(runs(kNet86),
              (std::vector<std::string>{runInInstall(kInstallNet), runInInstall(kInstallNfh)}));
    EXPECT_TRUE(runs(kNet64).empty());
    EXPECT_EQ(records(),
              (std::vector<std::string>{
                  executeLine(kInstallNet), executeLine(kInstallNfh),
                  "INFO: QSXNET Installation Returned 0 and QSXNFH Installation Returned 0\n"}));
    EXPECT_GE(elapsed, 1950u);
}

TEST_F(NetworkDriver32, WithTheServiceKeyQsxnetIsReinstalled) {
    setServiceKeyPresent(true);
    installInstaller(kNet86, "9");
    UpdateNetworkDrivers(kInstall);
    EXPECT_EQ(runs(kNet86),
              (std::vector<std::string>{runInInstall(kUninstall), runInInstall(kInstallNet)}));
    EXPECT_EQ(records(),
              (std::vector<std::string>{executeLine(kUninstall), executeLine(kInstallNet),
                                        "INFO: Previous QSXNET uninstallation Returned 9 and "
                                        "latest QSXNET Installation Returned 9 \n"}));
}

TEST_F(NetworkDriver32, AMissingInstallerGives2ForBothAndNoErrorLine) {
    host::makeDirs(kInstall + L"\\NetInstall\\x86");
    UpdateNetworkDrivers(kInstall);
    EXPECT_EQ(records(),
              (std::vector<std::string>{
                  executeLine(kInstallNet), executeLine(kInstallNfh),
                  "INFO: QSXNET Installation Returned 2 and QSXNFH Installation Returned 2\n"}));
}

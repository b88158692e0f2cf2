// The filter driver update on the 32-bit prefix: the x86 installer and the library from the
// system folder.
#include <gtest/gtest.h>

#include "driver_host.h"
#include "drivers/filter_driver.h"
#include "personality/personality.h"

using namespace drvtest;

namespace {

const std::wstring kIfs86 = L"IfsInstall\\x86\\IfsInst.exe";
const std::wstring kIfs64 = L"IfsInstall\\x64\\IfsInst.exe";
const std::string kF = utf8(kInstall);
const std::string kUninstall86 =
    "\"" + kF + "\\IfsInstall\\x86\\IfsInst.exe\" -u qsxfltr \"" + kF + "\\qsxfltr.log\"";
const std::string kInstall86 = "\"" + kF + "\\IfsInstall\\x86\\IfsInst.exe\" -i \"" + kF +
                               "\\drivers\\qsxfltr\" \"" + kF + "\\qsxfltr.log\"";

std::wstring systemLibrary() {
    wchar_t path[MAX_PATH] = {};
    ExpandEnvironmentStringsW(L"%windir%\\system32\\QsxFFilter.dll", path, MAX_PATH);
    return path;
}

class FilterDriver32 : public DriverHost {
  protected:
    void TearDown() override {
        DeleteFileW(systemLibrary().c_str());
        DriverHost::TearDown();
    }
};

}  // namespace

TEST_F(FilterDriver32, ThePersonalitySays32Bit) {
    EXPECT_EQ(GetPersonality()->wow64, 0);
}

TEST_F(FilterDriver32, WithTheServiceKeyItReinstallsAndCopiesTheSystemLibrary) {
    setServiceKeyPresent(true);
    installInstaller(kIfs86, "0");
    installInstaller(kIfs64, "0");
    ASSERT_TRUE(host::writeFile(systemLibrary(), "system library"));

    DWORD elapsed = timed([] { UpdateminiFilterDriver(kInstall); });

    EXPECT_EQ(runs(kIfs86),
              (std::vector<std::string>{runInInstall(kUninstall86), runInInstall(kInstall86)}));
    EXPECT_TRUE(runs(kIfs64).empty());
    EXPECT_EQ(host::readFile(kProduct + L"\\QsxFFilter.dll"), "system library");
    std::vector<std::string> lines = records();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "INFO: UpdateminiFilterDriver:: Installing QSX IFS Drivers.\n");
    EXPECT_EQ(lines[1].rfind("INFO: User Logged in:  ", 0), 0u);
    EXPECT_EQ(lines[2], executeLine(kUninstall86));
    EXPECT_EQ(lines[3], "INFO: UpdateminiFilterDriver:: IFS driver un-install returned 0\n");
    EXPECT_EQ(lines[4], executeLine(kInstall86));
    EXPECT_EQ(lines[5], "INFO: UpdateminiFilterDriver:: IFS driver installer returned 0\n");
    EXPECT_GE(elapsed, 2950u);
}

TEST_F(FilterDriver32, WithoutTheServiceKeyOrTheLibraryOnlyTheInstallRunsAndTheCopyFails) {
    installInstaller(kIfs86, "4");
    UpdateminiFilterDriver(kInstall);
    EXPECT_EQ(runs(kIfs86), std::vector<std::string>{runInInstall(kInstall86)});
    std::vector<std::string> lines = records();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], executeLine(kInstall86));
    EXPECT_EQ(lines[3], "INFO: UpdateminiFilterDriver:: IFS driver installer returned 4\n");
    EXPECT_EQ(lines[4],
              "INFO: UpdateminiFilterDriver::Failed to copy driver dll from system32 folder\n");
    EXPECT_FALSE(host::exists(kProduct + L"\\QsxFFilter.dll"));
}

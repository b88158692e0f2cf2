// The filter driver update on the 64-bit prefix, where the 32-bit tool runs under WOW64.
#include <gtest/gtest.h>

#include "driver_host.h"
#include "drivers/filter_driver.h"
#include "personality/personality.h"

using namespace drvtest;

namespace {

const std::wstring kIfs64 = L"IfsInstall\\x64\\IfsInst.exe";
const std::wstring kIfs86 = L"IfsInstall\\x86\\IfsInst.exe";
const std::wstring kLibrarySource = kInstall + L"\\drivers\\qsxfltr\\x86\\Win2K3\\QsxFFilter.dll";

std::string userLine() {
    wchar_t name[300] = {};
    DWORD size = 300;
    GetUserNameW(name, &size);
    return "INFO: User Logged in:  " + utf8(name) + "\n";
}

const std::string kF = utf8(kInstall);
const std::string kUninstall64 =
    "\"" + kF + "\\IfsInstall\\x64\\IfsInst.exe\" -u qsxfltr \"" + kF + "\\qsxfltr.log\"";
const std::string kInstall64 = "\"" + kF + "\\IfsInstall\\x64\\IfsInst.exe\" -i \"" + kF +
                               "\\drivers\\qsxfltr\" \"" + kF + "\\qsxfltr.log\"";
const std::string kRogue = "INFO: UpdateminiFilterDriver()::NOT INSTALLING Rogue SERVICE...64\n";

class FilterDriver64 : public DriverHost {};

}  // namespace

TEST_F(FilterDriver64, ThePersonalitySays64Bit) {
    EXPECT_EQ(GetPersonality()->wow64, 1);
}

TEST_F(FilterDriver64, WithTheServiceKeyItReinstallsAndCopiesTheWin2K3Library) {
    setServiceKeyPresent(true);
    installInstaller(kIfs64, "0");
    installInstaller(kIfs86, "0");
    host::makeDirs(kLibrarySource.substr(0, kLibrarySource.find_last_of(L'\\')));
    host::writeFile(kLibrarySource, "32-bit filter library");

    DWORD elapsed = timed([] { UpdateminiFilterDriver(kInstall); });

    EXPECT_EQ(runs(kIfs64),
              (std::vector<std::string>{runInInstall(kUninstall64), runInInstall(kInstall64)}));
    EXPECT_TRUE(runs(kIfs86).empty());
    EXPECT_EQ(host::readFile(kProduct + L"\\QsxFFilter.dll"), "32-bit filter library");
    EXPECT_EQ(records(),
              (std::vector<std::string>{
                  "INFO: UpdateminiFilterDriver:: Installing QSX IFS Drivers.\n", userLine(),
                  executeLine(kUninstall64),
                  "INFO: UpdateminiFilterDriver:: IFS driver un-install returned 0\n",
                  executeLine(kInstall64),
                  "INFO: UpdateminiFilterDriver:: IFS driver installer returned 0\n", kRogue}));
    EXPECT_GE(elapsed, 2950u);
}

TEST_F(FilterDriver64, WithoutTheServiceKeyOnlyTheInstallRunsAndAFailedCopyIsLogged) {
    installInstaller(kIfs64, "1603");
    host::writeFile(kProduct + L"\\QsxFFilter.dll", "old library");

    UpdateminiFilterDriver(kInstall);

    EXPECT_EQ(runs(kIfs64), std::vector<std::string>{runInInstall(kInstall64)});
    // The driver package's folder is missing: CopyFileW answers 3.
    std::string failed = "INFO: UpdateminiFilterDriver::Failed to copy driver dll from " +
                         utf8(kLibrarySource) + " folder to " + utf8(kProduct) +
                         "\\QsxFFilter.dll. Errcode 3\n";
    EXPECT_EQ(records(), (std::vector<std::string>{
                             "INFO: UpdateminiFilterDriver:: Installing QSX IFS Drivers.\n",
                             userLine(), executeLine(kInstall64),
                             "INFO: UpdateminiFilterDriver:: IFS driver installer returned 1603\n",
                             failed, kRogue}));
    EXPECT_EQ(host::readFile(kProduct + L"\\QsxFFilter.dll"), "old library");
}

TEST_F(FilterDriver64, MissingInstallersGive2WithoutAnErrorLine) {
    setServiceKeyPresent(true);
    host::makeDirs(kInstall + L"\\IfsInstall\\x64");
    UpdateminiFilterDriver(kInstall);
    std::vector<std::string> lines = records();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[3], "INFO: UpdateminiFilterDriver:: IFS driver un-install returned 2\n");
    EXPECT_EQ(lines[5], "INFO: UpdateminiFilterDriver:: IFS driver installer returned 2\n");
    for (const std::string& line : lines)
        EXPECT_NE(line.rfind("ERROR:", 0), 0u) << line;
}

TEST_F(FilterDriver64, ADestinationLongerThan260IsRefusedWith206) {
    // The product folder is read whole (250 characters); the library's path would be 265.
    std::wstring longFolder = kBase + L"\\" + std::wstring(250 - kBase.size() - 1, L'p');
    host::setString(kProductKey, L"InstallDir", longFolder);
    std::wstring folder;
    ASSERT_TRUE(getProductFolder(folder));
    ASSERT_EQ(folder, longFolder);
    installInstaller(kIfs64, "0");
    host::makeDirs(kLibrarySource.substr(0, kLibrarySource.find_last_of(L'\\')));
    host::writeFile(kLibrarySource, "lib");

    UpdateminiFilterDriver(kInstall);

    std::vector<std::string> lines = records();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], "INFO: UpdateminiFilterDriver::Failed to copy driver dll from " +
                            utf8(kLibrarySource) + " folder to " + utf8(longFolder) +
                            "\\QsxFFilter.dll. Errcode 206\n");
    EXPECT_EQ(lines[5], kRogue);
}

TEST_F(FilterDriver64, AnInstallationFolderOf200CharactersRunsWholeCommands) {
    std::wstring longInstall = kBase + L"\\" + std::wstring(200 - kBase.size() - 1, L'i');
    host::makeDirs(longInstall + L"\\IfsInstall\\x64");
    std::wstring installer = longInstall + L"\\IfsInstall\\x64\\IfsInst.exe";
    host::installFake(L"fake_installer.exe", installer, "0");

    UpdateminiFilterDriver(longInstall);

    std::string f = utf8(longInstall);
    std::string command = "\"" + f + "\\IfsInstall\\x64\\IfsInst.exe\" -i \"" + f +
                          "\\drivers\\qsxfltr\" \"" + f + "\\qsxfltr.log\"";
    ASSERT_GT(command.size(), 600u);
    EXPECT_EQ(host::runsOf(installer), std::vector<std::string>{command + "\t" + f});
}

TEST_F(FilterDriver64, WithoutTheProductKeyTheLibraryGoesUnderProgramFiles) {
    Personality personality = *GetPersonality();
    personality.RegistryKey.clear();
    personality.ProductName = u"Relo Fallback";
    // Program Files of a 32-bit program on the 64-bit prefix.
    const std::wstring fallback = L"C:\\Program Files (x86)\\QSX\\Relo Fallback";
    host::freshFolder(fallback);
    installInstaller(kIfs64, "0");
    host::makeDirs(kLibrarySource.substr(0, kLibrarySource.find_last_of(L'\\')));
    host::writeFile(kLibrarySource, "fallback library");

    UpdateminiFilterDriver(kInstall, personality);

    EXPECT_EQ(host::readFile(fallback + L"\\QsxFFilter.dll"), "fallback library");
    EXPECT_FALSE(host::exists(kProduct + L"\\QsxFFilter.dll"));
    host::removeTree(fallback);
}

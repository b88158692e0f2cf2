#include "driver_host.h"

#include "win/strings.h"

#include "personality/personality.h"

namespace drvtest {

std::string utf8(const std::wstring& text) {
    return win::toNarrowUtf8(text);
}

void loadTestPersonality() {
    const std::wstring folder = L"C:\\relo_drv_personality";
    host::freshFolder(folder);
    host::writeFile(folder + L"\\personality.ini",
                    "[Runtime]\r\nPersonality=desktop\r\nProductName=" + kProductName +
                        "\r\nRegistryKey=" + utf8(kProductKey) + "\r\n");
    wchar_t previous[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH + 1, previous);
    SetCurrentDirectoryW(folder.c_str());
    GetPersonality();
    SetCurrentDirectoryW(previous);
    host::removeTree(folder);
}

void DriverHost::SetUp() {
    host::freshFolder(kBase);
    host::makeDirs(kInstall);
    host::makeDirs(kProduct);
    host::deleteKey(kServiceKey);
    host::setString(kProductKey, L"InstallDir", kProduct);
    logger_.open(kLog.c_str(), LOG_ERROR | LOG_WARN | LOG_INFO, LOG_FILE, nullptr);
    gLogger = &logger_;
}

void DriverHost::TearDown() {
    gLogger = nullptr;
    logger_.close();
    host::deleteKey(kServiceKey);
    host::deleteKey(kProductKey);
    host::removeTree(kBase);
}

std::wstring DriverHost::installInstaller(const std::wstring& relativePath,
                                          const std::string& exitCode) {
    std::wstring path = kInstall + L"\\" + relativePath;
    host::makeDirs(path.substr(0, path.find_last_of(L'\\')));
    host::installFake(L"fake_installer.exe", path, exitCode);
    return path;
}

std::vector<std::string> DriverHost::runs(const std::wstring& relativePath) const {
    return host::runsOf(kInstall + L"\\" + relativePath);
}

void DriverHost::setServiceKeyPresent(bool present) {
    if (present) {
        host::setString(kServiceKey, L"ImagePath", L"C:\\agent\\thService.exe");
    } else {
        host::deleteKey(kServiceKey);
    }
}

std::string executeLine(const std::string& commandLine) {
    return "INFO: ExecuteCommand: " + commandLine + " \n";
}

std::string runInInstall(const std::string& commandLine) {
    return commandLine + "\t" + utf8(kInstall);
}

}  // namespace drvtest

// Test host for the driver updates: an installation folder with the installer stand-ins, the
// new agent's service key, the product's registry key and a log that gLogger writes to.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "host_support.h"
#include "logging/logger.h"

namespace drvtest {

const std::wstring kBase = L"C:\\relo_drv";
const std::wstring kInstall = kBase + L"\\inst";
const std::wstring kProduct = kBase + L"\\product";
const std::wstring kLog = kBase + L"\\drivers.log";
const std::wstring kServiceKey = L"SYSTEM\\CurrentControlSet\\Services\\KLOTarvos";
// The personality the test programs load names this key and product.
const std::wstring kProductKey = L"SOFTWARE\\QSX\\Driver Test";
const std::string kProductName = "Tarvos Test";

// Writes a personality naming kProductKey and kProductName, makes the process load it with
// GetPersonality, and removes it again. Called once, before the tests run.
void loadTestPersonality();

std::string utf8(const std::wstring& text);

// Milliseconds that fn took.
template <typename Fn>
DWORD timed(Fn fn) {
    DWORD start = GetTickCount();
    fn();
    return GetTickCount() - start;
}

class DriverHost : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Installs the installer stand-in at kInstall\relativePath with an exit code (empty: 0).
    std::wstring installInstaller(const std::wstring& relativePath,
                                  const std::string& exitCode = "");
    // The starts a stand-in recorded: "command line\tcurrent folder" each.
    std::vector<std::string> runs(const std::wstring& relativePath) const;
    // The log's records, "LEVEL: message".
    std::vector<std::string> records() const { return host::logRecords(kLog); }
    void setServiceKeyPresent(bool present);

    THLogger logger_;
};

// The text of a log record of ExecuteCommand's INFO line.
std::string executeLine(const std::string& commandLine);
// One recorded start: the command line, a tab and kInstall.
std::string runInInstall(const std::string& commandLine);

}  // namespace drvtest

// A simulated host for one scenario: tool, installation and working folders, the agents'
// services registered with fakes, and Relocator.exe run as a separate process.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_support.h"
#include "win/strings.h"

namespace host {

using Lines = std::vector<std::string>;

inline std::string utf8(const std::wstring& w) {
    return win::toNarrowUtf8(w);
}

class HostTest : public ::testing::Test {
  protected:
    const std::wstring root = L"C:\\relo";
    const std::wstring tool = L"C:\\relo\\tool";
    const std::wstring install = L"C:\\relo\\inst";
    const std::wstring work = L"C:\\relo\\work";
    const std::wstring desktopKey = L"SOFTWARE\\QSX\\Tarvos Desktop";

    void SetUp() override {
        cleanServices();
        removeTree(root);
        makeDirs(tool);
        makeDirs(install);
        makeDirs(work);
        CopyFileW((binDir() + L"\\Relocator.exe").c_str(), (tool + L"\\Relocator.exe").c_str(),
                  FALSE);
        setString(desktopKey, L"InstallDir", install);
        DeleteFileW(logPath().c_str());
    }

    void TearDown() override {
        cleanServices();
        deleteKey(desktopKey);
        removeTree(root);
    }

    static void cleanServices() {
        for (const wchar_t* name : {L"KLOTarvos", L"Glacis", L"HotMend", L"Rampart"}) {
            removeService(name);
        }
        for (const wchar_t* exe :
             {L"thService.exe", L"glacisd.exe", L"hotmend.exe", L"Rampart.exe"}) {
            killByName(exe);
        }
    }

    // Registers a service whose program is the service fake copied into the install folder.
    void registerFake(const std::wstring& service,
                      const std::wstring& exe,
                      const std::string& mode = "",
                      DWORD startType = SERVICE_DEMAND_START,
                      DWORD type = SERVICE_WIN32_OWN_PROCESS) {
        installFake(L"fake_service.exe", install + L"\\" + exe, mode);
        ASSERT_EQ(createService(service, L"\"" + install + L"\\" + exe + L"\"", startType, type),
                  0u);
    }
    void registerGlacis() { registerFake(L"Glacis", L"glacisd.exe"); }
    void registerRampart() { registerFake(L"Rampart", L"Rampart.exe"); }

    RunResult runRelocator(const std::wstring& arguments = L"") {
        return run(L"\"" + tool + L"\\Relocator.exe\"" + arguments, work);
    }

    Lines records() { return logRecords(logPath()); }

    // The records of the service steps alone: those of the driver and local UI steps dropped.
    Lines serviceRecords() {
        static const char* const kStepPrefixes[] = {
            "INFO: ExecuteCommand: ",
            "ERROR: ExecuteCommand: ",
            "INFO: Previous QSXNET ",
            "INFO: QSXNET Installation ",
            "INFO: UpdateminiFilterDriver",
            "INFO: User Logged in:",
            "INFO: IsLongHornServer()",
            "INFO: Found policy file",
            "ERROR: Can't find policy file.",
            "ERROR: Can't decrypt policy file.",
            "ERROR: Can't delete policy.txt",
            "ERROR: Something went wrong with reading policy file",
            "INFO: LocalUI ",
            "INFO: UI should",
            "INFO: Copying file",
            "INFO: Deleting file",
            "ERROR: File can't",
            "ERROR: UI can't"};
        Lines kept;
        for (const std::string& record : records()) {
            bool step = false;
            for (const char* prefix : kStepPrefixes)
                step = step || record.rfind(prefix, 0) == 0;
            if (!step)
                kept.push_back(record);
        }
        return kept;
    }
};

}  // namespace host

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

// What the fleet report may know of the tool's exit code: exactly the one it returned, only that
// it was not 0 (the restart path with Rampart after a failed first start logs no code), or
// nothing (a run that did not end).
enum class ReportExit { Exact, NonZero, Unknown };

// The value of "name" in the report's JSON for one host: a string's text, or the literal
// (number, true, false, null) as written.
inline std::string jsonField(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    size_t at = json.find(key);
    if (at == std::string::npos)
        return "(missing)";
    at += key.size();
    if (json[at] != '"')
        return json.substr(at, json.find_first_of(",}", at) - at);
    std::string value;
    for (++at; at < json.size() && json[at] != '"'; ++at) {
        if (json[at] == '\\')
            ++at;
        value.push_back(json[at]);
    }
    return value;
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
        if (ranRelocator_ && !reportChecked_)
            ADD_FAILURE() << "every scenario checks what relocator-report reads from its log";
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
        ranRelocator_ = true;
        lastRun_ = run(L"\"" + tool + L"\\Relocator.exe\"" + arguments, work);
        return lastRun_;
    }

    // Runs relocator-report.exe on this run's log and checks what it reads from the records
    // alone: the path, the outcome, the exit code against the one the tool returned, and its own
    // exit code (0 only for a host that runs the new agent). Returns the host's JSON object.
    std::string expectReport(const std::string& path,
                             const std::string& outcome,
                             ReportExit exit = ReportExit::Exact) {
        reportChecked_ = true;
        const std::wstring json = root + L"\\report.json";
        RunResult report = run(L"\"" + binDir() + L"\\relocator-report.exe\" --json \"" + json +
                                   L"\" \"" + logPath() + L"\"",
                               root);
        const std::string host = readFile(json);
        EXPECT_EQ(jsonField(host, "path"), path) << host;
        EXPECT_EQ(jsonField(host, "outcome"), outcome) << host;
        const std::string exitText = jsonField(host, "exitCodeText");
        switch (exit) {
            case ReportExit::Exact:
                EXPECT_EQ(exitText, std::to_string(lastRun_.exitCode)) << host;
                break;
            case ReportExit::NonZero:
                EXPECT_EQ(exitText, "non-zero") << host;
                EXPECT_NE(lastRun_.exitCode, 0u);
                break;
            case ReportExit::Unknown:
                EXPECT_EQ(exitText, "unknown") << host;
                break;
        }
        const bool fine = outcome == "started" || outcome == "started-after-rescue";
        EXPECT_EQ(report.exitCode, fine ? 0u : 1u) << report.output;
        return host;
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

  private:
    bool ranRelocator_ = false;
    bool reportChecked_ = false;
    RunResult lastRun_;
};

}  // namespace host

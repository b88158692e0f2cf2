// A simulated host for one scenario: tool, installation and working folders, the agents'
// services registered with fakes, and Relocator.exe run as a separate process.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "host_support.h"
#include "win/strings.h"

namespace host {

using Lines = std::vector<std::string>;

inline std::string utf8(const std::wstring& w) {
    return win::toNarrowUtf8(w);
}

// What the fleet report may know of the tool's exit code: exactly the one it returned (the end
// record says it), or nothing (a run that was cut off).
enum class ReportExit { Exact, Unknown };

// The tool's own records that bracket every run: "Relocator V started as process N" right
// after the start record, and "Relocator V finished with exit code N (...)" last of all.
inline bool isToolStartRecord(const std::string& record) {
    return record.rfind("INFO: Relocator ", 0) == 0 &&
           record.find(" started as process ") != std::string::npos;
}
inline bool isEndRecord(const std::string& record) {
    return record.rfind("INFO: Relocator ", 0) == 0 &&
           record.find(" finished with exit code ") != std::string::npos;
}

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

// The strings of an array field in a JSON text, unescaped (\\ and \" only, as the tools write
// paths and command lines).
inline std::vector<std::string> jsonStrings(const std::string& json, const std::string& name) {
    std::vector<std::string> values;
    size_t at = json.find("\"" + name + "\":[");
    if (at == std::string::npos)
        return values;
    at += name.size() + 4;
    while (at < json.size() && json[at] == '"') {
        std::string value;
        for (++at; at < json.size() && json[at] != '"'; ++at) {
            if (json[at] == '\\')
                ++at;
            value.push_back(json[at]);
        }
        values.push_back(value);
        at += 1;
        if (at < json.size() && json[at] == ',')
            ++at;
    }
    return values;
}

class HostTest : public ::testing::Test {
  protected:
    const std::wstring root = L"C:\\relo";
    const std::wstring tool = L"C:\\relo\\tool";
    const std::wstring install = L"C:\\relo\\inst";
    const std::wstring work = L"C:\\relo\\work";
    const std::wstring desktopKey = L"SOFTWARE\\QSX\\Tarvos Desktop";
    // The tool's own records (32-bit view, which this 32-bit test program writes).
    const std::wstring toolKey = L"SOFTWARE\\QSX\\Relocator";

    void SetUp() override {
        cleanServices();
        removeTree(root);
        makeDirs(tool);
        makeDirs(install);
        makeDirs(work);
        CopyFileW((binDir() + L"\\Relocator.exe").c_str(), (tool + L"\\Relocator.exe").c_str(),
                  FALSE);
        CopyFileW((binDir() + L"\\relocator-check.exe").c_str(),
                  (tool + L"\\relocator-check.exe").c_str(), FALSE);
        setString(desktopKey, L"InstallDir", install);
        deleteKey(toolKey);
        DeleteFileW(logPath().c_str());
    }

    void TearDown() override {
        if (keepHost_)
            return;
        if (ranRelocator_ && !reportChecked_)
            ADD_FAILURE() << "every scenario checks what relocator-report reads from its log";
        cleanServices();
        deleteKey(desktopKey);
        deleteKey(toolKey);
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

    // Runs the tool as a deployment does. Without arguments the preflight runs first: it must
    // change nothing on the host, and name the path and the programs that the run then takes.
    RunResult runRelocator(const std::wstring& arguments = L"") {
        ranRelocator_ = true;
        const bool check = arguments.empty();
        if (check)
            lastCheck_ = preflight();
        const std::wstring rampart = work + L"\\Rampart.exe";
        const size_t rampartRuns = runsOf(rampart).size();
        const DWORD started = GetTickCount();
        lastRun_ = run(L"\"" + tool + L"\\Relocator.exe\"" + arguments, work);
        lastRunSeconds_ = (GetTickCount() - started) / 1000.0;
        if (check)
            expectPlanWasRun(rampartRuns);
        return lastRun_;
    }

    // The same, with `poll` called every 20 ms while the tool runs (at most 5 minutes).
    RunResult runRelocatorPolling(const std::function<void()>& poll) {
        ranRelocator_ = true;
        lastCheck_ = preflight();
        const size_t rampartRuns = runsOf(work + L"\\Rampart.exe").size();
        HANDLE process = spawn(L"\"" + tool + L"\\Relocator.exe\"", work);
        EXPECT_NE(process, nullptr);
        for (int i = 0; process && i < 15000 && WaitForSingleObject(process, 20) == WAIT_TIMEOUT;
             ++i)
            poll();
        DWORD code = 1;
        if (process) {
            GetExitCodeProcess(process, &code);
            CloseHandle(process);
        }
        lastRun_ = RunResult();
        lastRun_.exitCode = code;
        expectPlanWasRun(rampartRuns);
        return lastRun_;
    }

    // Runs relocator-check.exe and returns its JSON, after checking that the host is as before.
    std::string preflight() {
        const std::vector<std::wstring> folders = {install, tool, work, windowsDir() + L"\\*"};
        const std::string before = hostSnapshot(folders);
        const std::wstring json = root + L"\\check.json";
        DeleteFileW(json.c_str());
        RunResult check =
            run(L"\"" + tool + L"\\relocator-check.exe\" --json \"" + json + L"\"", work);
        EXPECT_LE(check.exitCode, 2u) << check.output;
        EXPECT_TRUE(before == hostSnapshot(folders)) << "the preflight changed the host";
        return readFile(json);
    }
    const std::string& lastCheck() const { return lastCheck_; }
    // Wall time of the last runRelocator's run of the tool alone (its preflight not counted).
    double lastRunSeconds() const { return lastRunSeconds_; }

    // The path and the programs the run took are those the preflight named: the installers'
    // command lines as logged, and Rampart.exe as it recorded its starts.
    void expectPlanWasRun(size_t rampartRunsBefore) {
        const Lines all = logRecords(logPath());
        std::string path = "(no end record)";
        if (!all.empty() && isEndRecord(all.back())) {
            const size_t at = all.back().find("(path: ") + 7;
            path = all.back().substr(at, all.back().find(',', at) - at);
        }
        EXPECT_EQ(jsonField(lastCheck_, "path"), path) << lastCheck_;
        Lines started;
        const std::string executed = "INFO: ExecuteCommand: ";
        for (const std::string& record : all) {
            if (record.rfind(executed, 0) == 0)
                started.push_back(
                    record.substr(executed.size(), record.size() - executed.size() - 2));
        }
        const Lines rampartRuns = runsOf(work + L"\\Rampart.exe");
        for (size_t i = rampartRunsBefore; i < rampartRuns.size(); ++i)
            started.push_back(rampartRuns[i].substr(0, rampartRuns[i].find('\t')));
        // The steps a resumed migration skips, and the deletion of a left-over policy.txt.
        Lines skipped;
        const std::string skip = "INFO: Step ";
        bool deletedLeftOver = false;
        for (const std::string& record : all) {
            if (record.rfind(skip, 0) == 0 &&
                record.find(" was done by the interrupted run\n") != std::string::npos)
                skipped.push_back(record.substr(skip.size(), record.find(' ', skip.size()) -
                                                                 skip.size()));
            deletedLeftOver = deletedLeftOver ||
                              (record.rfind("INFO: Deleted ", 0) == 0 &&
                               record.find(" left behind by an interrupted run") != std::string::npos);
        }
        EXPECT_EQ(jsonStrings(lastCheck_, "skipped"), skipped) << lastCheck_;
        EXPECT_EQ(jsonField(lastCheck_, "leftOverPolicyText"), deletedLeftOver ? "true" : "false");
        Lines planned = jsonStrings(lastCheck_, "programs");
        // A program the plan names but that is missing is a problem the plan names too.
        const std::string rampart = "\"" + utf8(work) + "\\Rampart.exe\" -s";
        if (!exists(work + L"\\Rampart.exe"))
            planned.erase(std::remove(planned.begin(), planned.end(), rampart), planned.end());
        EXPECT_EQ(planned, started) << lastCheck_;
    }
    // Starts the tool without waiting (the caller closes the handle); a run that is then waited
    // for tells its exit code with ended().
    HANDLE spawnRelocator() {
        ranRelocator_ = true;
        return spawn(L"\"" + tool + L"\\Relocator.exe\"", work);
    }
    void ended(DWORD exitCode) { lastRun_.exitCode = exitCode; }

    // Checks the tool's own start and end records of this run's log, then runs
    // relocator-report.exe on it and checks what it reads from the records alone: the path, the
    // outcome, the exit code against the one the tool returned, its own exit code (0 only for a
    // host that runs the new agent) and, when given, the key of the cause it files the host
    // under. Returns the report's JSON (the host's fields are the first of their names).
    std::string expectReport(const std::string& path,
                             const std::string& outcome,
                             ReportExit exit = ReportExit::Exact,
                             const std::string& cause = std::string()) {
        reportChecked_ = true;
        const Lines all = logRecords(logPath());
        EXPECT_TRUE(all.size() >= 2 && isToolStartRecord(all[1])) << "no tool start record";
        if (exit == ReportExit::Exact) {
            const std::string end = " finished with exit code " +
                                    std::to_string(lastRun_.exitCode) + " (path: " + path +
                                    ", new agent: ";
            EXPECT_TRUE(!all.empty() && isEndRecord(all.back()) &&
                        all.back().find(end) != std::string::npos)
                << "the last record is not the end record with \"" << end
                << "\": " << (all.empty() ? "(none)" : all.back());
        } else {
            for (const std::string& record : all)
                EXPECT_FALSE(isEndRecord(record)) << "a run cut off wrote " << record;
        }
        const std::wstring json = root + L"\\report.json";
        RunResult report = run(L"\"" + binDir() + L"\\relocator-report.exe\" --json \"" + json +
                                   L"\" \"" + logPath() + L"\"",
                               root);
        const std::string host = readFile(json);
        EXPECT_EQ(jsonField(host, "path"), path) << host;
        EXPECT_EQ(jsonField(host, "outcome"), outcome) << host;
        if (!cause.empty()) {
            EXPECT_EQ(jsonField(host, "cause"), cause) << host;
        }
        const std::string exitText = jsonField(host, "exitCodeText");
        switch (exit) {
            case ReportExit::Exact:
                EXPECT_EQ(exitText, std::to_string(lastRun_.exitCode)) << host;
                break;
            case ReportExit::Unknown:
                EXPECT_EQ(exitText, "unknown") << host;
                break;
        }
        const bool fine = outcome == "started" || outcome == "started-after-rescue";
        EXPECT_EQ(report.exitCode, fine ? 0u : 1u) << report.output;
        return host;
    }

    // The records of the run without the tool's own start and end records (expectReport
    // checks those).
    Lines records() {
        Lines kept;
        for (const std::string& record : logRecords(logPath())) {
            if (!isToolStartRecord(record) && !isEndRecord(record))
                kept.push_back(record);
        }
        return kept;
    }
    // A field of the end record ("new agent: ", "result: "); empty when there is none.
    std::string endRecordField(const std::string& label) {
        const Lines all = logRecords(logPath());
        if (all.empty() || !isEndRecord(all.back()))
            return std::string();
        const std::string& end = all.back();
        const size_t at = end.find(label);
        if (at == std::string::npos)
            return std::string();
        const size_t from = at + label.size();
        return end.substr(from, end.find_first_of(",)", from) - from);
    }
    // The end record's state of the new agent ("running", ...).
    std::string endAgentState() { return endRecordField("new agent: "); }
    // The end record's result for the host ("migrated", "restart-needed", "failed").
    std::string endResult() { return endRecordField("result: "); }

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

    // Leaves the host as it is for a later test program (a restart of the prefix between two).
    bool keepHost_ = false;

  private:
    std::string lastCheck_;
    double lastRunSeconds_ = 0;
    bool ranRelocator_ = false;
    bool reportChecked_ = false;
    RunResult lastRun_;
};

}  // namespace host

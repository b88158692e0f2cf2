#include "migration/recorded_children.h"

#include "logging/logger.h"
#include "migration/record_trust.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

constexpr DWORD kEndWaitMs = 10000;

std::wstring fileNameOf(const std::wstring& commandLine) {
    std::wstring program = commandLine;
    if (!program.empty() && program[0] == L'"')
        program = program.substr(1, program.find(L'"', 1) - 1);
    const size_t slash = program.find_last_of(L"\\/");
    return slash == std::wstring::npos ? program : program.substr(slash + 1);
}

bool creationTime(HANDLE process, unsigned long long& created) {
    FILETIME times[4] = {};
    if (!GetProcessTimes(process, &times[0], &times[1], &times[2], &times[3]))
        return false;
    created = win::fileTimeNumber(times[0]);
    return true;
}

// The recorded process itself, still running, opened with `access`; empty otherwise.
win::ScopedHandle openRunningChild(const RecordedChild& child, DWORD access) {
    win::ScopedHandle process(OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                                          FALSE, child.processId));
    unsigned long long created = 0;
    if (!process || !creationTime(process.get(), created) || created != child.created ||
        WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT) {
        process.reset();
    }
    return process;
}

// The record of a program just started; false when its creation time cannot be read.
bool recordChild(HANDLE process, const std::wstring& commandLine, RecordedChild& child) {
    child = RecordedChild();
    child.processId = GetProcessId(process);
    child.program = fileNameOf(commandLine);
    return child.processId != 0 && creationTime(process, child.created);
}

// Whether a recorded program still runs: the same process id with the same creation time.
bool childRunning(const RecordedChild& child) {
    return openRunningChild(child, 0).valid();
}

// The list the run keeps: what an earlier run left is taken over once, then only this run's.
std::vector<RecordedChild>& keptList() {
    static std::vector<RecordedChild> children;
    return children;
}

// The list an earlier run left, when nobody but SYSTEM and administrators can have changed it
// (it names processes for an elevated program to end). An untrusted one is said and removed.
std::vector<RecordedChild> trustedLeftList() {
    std::vector<RecordedChild> children;
    if (!dropUntrustedRecord(kChildrenKey, removeRecordedChildren))
        readRecordedChildren(children);
    return children;
}

}  // namespace

void noteChildStarted(HANDLE process, const std::wstring& commandLine) try {
    static bool saveFailed = false;
    std::vector<RecordedChild>& kept = keptList();
    std::vector<RecordedChild> running;
    for (const RecordedChild& child : kept) {
        if (childRunning(child))
            running.push_back(child);
    }
    RecordedChild child;
    if (recordChild(process, commandLine, child))
        running.push_back(child);
    kept = running;
    const DWORD e = writeRecordedChildren(kept);
    if (e != ERROR_SUCCESS && !saveFailed) {
        saveFailed = true;
        logMessage(gLogger, LOG_WARN, L"Can't record the programs started in %s. Errcode :%d \n",
                   kChildrenKey, e);
    }
} catch (...) {
    // Out of memory: the program runs unrecorded; nothing may escape to the caller.
}

bool leftChildRunning(std::wstring& program, DWORD& processId) {
    if (!recordDistrust(kChildrenKey).empty())
        return false;
    std::vector<RecordedChild> children;
    readRecordedChildren(children);
    for (const RecordedChild& child : children) {
        if (childRunning(child)) {
            program = child.program;
            processId = child.processId;
            return true;
        }
    }
    return false;
}

void endLeftChildren() try {
    std::vector<RecordedChild> unended;
    for (const RecordedChild& child : trustedLeftList()) {
        win::ScopedHandle process = openRunningChild(child, PROCESS_TERMINATE);
        if (!process)
            continue;
        const wchar_t* program = child.program.c_str();
        logMessage(gLogger, LOG_INFO,
                   L"Waiting up to 2 minutes for %s (process %u) left running by the "
                   L"interrupted run\n",
                   program, child.processId);
        if (WaitForSingleObject(process.get(), kLeftChildWaitMs) == WAIT_OBJECT_0)
            continue;
        if (TerminateProcess(process.get(), ERROR_PROCESS_ABORTED)) {
            WaitForSingleObject(process.get(), kEndWaitMs);
            logMessage(gLogger, LOG_WARN,
                       L"Ended %s (process %u), left running by the interrupted run\n", program,
                       child.processId);
        } else {
            unended.push_back(child);
            logMessage(gLogger, LOG_ERROR,
                       L"Can't end %s (process %u), left running by the interrupted run. "
                       L"Errcode :%d \n",
                       program, child.processId, GetLastError());
        }
    }
    // One that could not be ended stays listed, for the next run to try again.
    keptList() = unended;
    if (unended.empty())
        removeRecordedChildren();
    else
        writeRecordedChildren(unended);
} catch (...) {
    // Out of memory: nothing is waited for; nothing may escape to the caller.
}

void forgetChildren() {
    keptList().clear();
    removeRecordedChildren();
}

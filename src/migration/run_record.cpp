#include "migration/run_record.h"

#include "migration/tool_key.h"
#include "win/registry.h"
#include "win/scoped.h"
#include "win/strings.h"

namespace {

using namespace toolkey;

const wchar_t* const kStepNames[] = {L"",         L"drivers", L"old-services", L"registration",
                                     L"local-ui", L"start",   L"cleanup",      L"rampart"};
const wchar_t* const kUiActionNames[] = {L"", L"install", L"remove", L"keep", L"absent"};
constexpr size_t kMaxChildrenChars = 1024;

// The stored names of the values of an enumeration; index 0 (the empty name) stands for none,
// and for any name a later version may have written.
template <size_t N>
const wchar_t* nameAt(const wchar_t* const (&names)[N], size_t index) {
    return index < N ? names[index] : L"";
}
template <size_t N>
size_t indexOf(const wchar_t* const (&names)[N], const std::wstring& name) {
    for (size_t i = 1; i < N; ++i) {
        if (name == names[i])
            return i;
    }
    return 0;
}

// "pid:created:program" for each child, joined by ';'.
std::wstring childrenText(const std::vector<RecordedChild>& children) {
    std::wstring text;
    for (const RecordedChild& child : children) {
        if (!text.empty())
            text += L";";
        text +=
            win::formatWide(L"%u:%I64u:%s", child.processId, child.created, child.program.c_str());
    }
    return text;
}

std::vector<RecordedChild> childrenFrom(const std::wstring& text) {
    std::vector<RecordedChild> children;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(L';', at);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring item = text.substr(at, end - at);
        const size_t first = item.find(L':');
        const size_t second = first == std::wstring::npos ? first : item.find(L':', first + 1);
        if (second != std::wstring::npos) {
            RecordedChild child;
            child.processId = static_cast<DWORD>(wcstoul(item.c_str(), nullptr, 10));
            child.created = _wcstoui64(item.c_str() + first + 1, nullptr, 10);
            child.program = item.substr(second + 1);
            if (child.processId != 0 && child.created != 0)
                children.push_back(child);
        }
        at = end + 1;
    }
    return children;
}

}  // namespace

const wchar_t* stepName(MigrationStep step) {
    return nameAt(kStepNames, static_cast<size_t>(step));
}

MigrationStep stepByName(const std::wstring& name) {
    return static_cast<MigrationStep>(indexOf(kStepNames, name));
}

const wchar_t* uiActionName(UiAction action) {
    return nameAt(kUiActionNames, static_cast<size_t>(action));
}

UiAction uiActionByName(const std::wstring& name) {
    return static_cast<UiAction>(indexOf(kUiActionNames, name));
}

long long recordAgeDays(const MigrationRecord& record) {
    SYSTEMTIME begun = {};
    if (record.begun.size() != 20 ||
        swscanf(record.begun.c_str(), L"%4hu-%2hu-%2huT%2hu:%2hu:%2huZ", &begun.wYear,
                &begun.wMonth, &begun.wDay, &begun.wHour, &begun.wMinute, &begun.wSecond) != 6) {
        return -1;
    }
    FILETIME then = {};
    FILETIME now = {};
    if (!SystemTimeToFileTime(&begun, &then))
        return -1;
    GetSystemTimeAsFileTime(&now);
    constexpr long long kTicksPerDay = 864000000000LL;
    return (static_cast<long long>(win::fileTimeNumber(now)) -
            static_cast<long long>(win::fileTimeNumber(then))) /
           kTicksPerDay;
}

DWORD readMigrationRecord(MigrationRecord& record) {
    record = MigrationRecord();
    return readRecord(kMigrationKey, [&record](HKEY key) {
        record.step = stepByName(readText(key, L"Step"));
        DWORD rampart = 0;
        readNumber(key, L"Rampart", rampart);
        record.rampartPresent = rampart != 0;
        record.uiAction = uiActionByName(readText(key, L"UiAction"));
        record.begun = readText(key, L"Begun");
        record.version = readText(key, L"Version");
        readNumber(key, L"Runs", record.runs);
        readNumber(key, L"Done", record.done);
        record.agentFiles = readText(key, L"AgentFiles");
        DWORD restart = 0;
        readNumber(key, L"RestartWait", restart);
        record.restartWait = restart != 0;
        DWORD failed = 0;
        readNumber(key, L"RestartFailed", failed);
        record.restartFailed = failed != 0;
    });
}

DWORD writeMigrationRecord(const MigrationRecord& record) {
    return writeRecord(kMigrationKey, [&record](HKEY key) {
        DWORD results[] = {
            setText(key, L"Step", stepName(record.step)),
            setNumber(key, L"Rampart", record.rampartPresent ? 1 : 0),
            setText(key, L"UiAction", uiActionName(record.uiAction)),
            setText(key, L"Begun", record.begun),
            setText(key, L"Version", record.version),
            setNumber(key, L"Runs", record.runs),
            setNumber(key, L"Done", record.done),
            setText(key, L"AgentFiles", record.agentFiles),
            setNumber(key, L"RestartWait", record.restartWait ? 1 : 0),
            setNumber(key, L"RestartFailed", record.restartFailed ? 1 : 0),
        };
        return firstFailure(results);
    });
}

DWORD removeMigrationRecord() {
    return removeToolSubkey(L"Migration");
}

bool migrationRecordPresent() {
    return keyOpens(kMigrationKey);
}

DWORD readRecordedChildren(std::vector<RecordedChild>& children) {
    children.clear();
    return readRecord(kChildrenKey, [&children](HKEY key) {
        std::wstring text;
        win::readStringValue(key, L"Children", kMaxChildrenChars, text);
        children = childrenFrom(text);
    });
}

DWORD writeRecordedChildren(const std::vector<RecordedChild>& children) {
    return writeRecord(kChildrenKey, [&children](HKEY key) {
        return setText(key, L"Children", childrenText(children));
    });
}

DWORD removeRecordedChildren() {
    const DWORD rc = removeToolSubkey(L"Children");
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

DWORD writeRestartMarker() {
    win::ScopedRegKey tool;
    DWORD rc = createKey(kToolKey, tool);
    win::ScopedRegKey marker;
    if (rc == ERROR_SUCCESS)
        rc = createKey(kRestartMarkerKey, marker, REG_OPTION_VOLATILE);
    return rc;
}

bool restartMarkerPresent() {
    return keyOpens(kRestartMarkerKey);
}

DWORD removeRestartMarker() {
    const DWORD rc = removeToolSubkey(L"RestartPending");
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

DWORD writeLastRun(const LastRunRecord& record) {
    return writeRecord(kLastRunKey, [&record](HKEY key) {
        DWORD results[] = {
            setText(key, L"Path", record.path),
            setNumber(key, L"ExitCode", record.exitCode),
            setText(key, L"Version", record.version),
            setText(key, L"Ended", record.ended),
            setText(key, L"NewAgent", record.newAgent),
            setText(key, L"Result", record.result),
            setText(key, L"OldAgent", record.oldAgent),
        };
        return firstFailure(results);
    });
}

DWORD readLastRun(LastRunRecord& record) {
    record = LastRunRecord();
    return readRecord(kLastRunKey, [&record](HKEY key) {
        record.path = readText(key, L"Path");
        readNumber(key, L"ExitCode", record.exitCode);
        record.version = readText(key, L"Version");
        record.ended = readText(key, L"Ended");
        record.newAgent = readText(key, L"NewAgent");
        record.result = readText(key, L"Result");
        record.oldAgent = readText(key, L"OldAgent");
    });
}

DWORD clearLastRunResult() {
    win::ScopedRegKey key;
    LONG rc =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLastRunKey, 0, KEY_SET_VALUE | kView, key.receive());
    if (rc == ERROR_SUCCESS)
        rc = RegDeleteValueW(key.get(), L"Result");
    if (rc == ERROR_SUCCESS)
        rc = RegFlushKey(key.get());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(rc);
}

std::wstring utcNow() {
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    return win::formatWide(L"%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
                           now.wHour, now.wMinute, now.wSecond);
}

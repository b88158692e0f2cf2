#include "host_support.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>

#include "win/strings.h"

namespace host {

namespace {

std::wstring wide(const std::string& s) {
    if (s.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), &w[0], n);
    return w;
}

}  // namespace

std::wstring toWindowsPath(const std::string& unixPath) {
    std::wstring w = L"Z:" + wide(unixPath);
    for (wchar_t& c : w) {
        if (c == L'/')
            c = L'\\';
    }
    return w;
}

std::wstring binDir() {
    const char* bin = getenv("RELOCATOR_BIN");
    if (!bin || !*bin) {
        // Run by hand: the folder of the test program itself.
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring s(self);
        return s.substr(0, s.find_last_of(L'\\'));
    }
    if (bin[0] == '/')
        return toWindowsPath(bin);
    return wide(bin);
}

bool writeFile(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f)
        return false;
    size_t n = fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    return n == bytes.size();
}

std::string readFile(const std::wstring& path) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return std::string();
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void removeTree(const std::wstring& path) {
    DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return;
    if (attrs & FILE_ATTRIBUTE_DIRECTORY && !(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = data.cFileName;
                if (name != L"." && name != L"..")
                    removeTree(path + L"\\" + name);
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
        RemoveDirectoryW(path.c_str());
    } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(path.c_str()))
            RemoveDirectoryW(path.c_str());
    }
}

void makeDirs(const std::wstring& path) {
    SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
}

std::wstring freshFolder(const std::wstring& path) {
    removeTree(path);
    makeDirs(path);
    return path;
}

void setMode(const std::wstring& exe, const std::string& mode) {
    if (mode.empty()) {
        DeleteFileW((exe + L".mode").c_str());
    } else {
        writeFile(exe + L".mode", mode);
    }
}

void installFake(const std::wstring& fake, const std::wstring& dest, const std::string& mode) {
    CopyFileW((binDir() + L"\\" + fake).c_str(), dest.c_str(), FALSE);
    DeleteFileW((dest + L".runs").c_str());
    setMode(dest, mode);
}

std::vector<std::string> runsOf(const std::wstring& exe) {
    std::vector<std::string> lines;
    std::string text = readFile(exe + L".runs");
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool waitForRuns(const std::wstring& exe, size_t count, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += 50) {
        std::string text = readFile(exe + L".runs");
        if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= count)
            return true;
        if (waited >= timeoutMs)
            return false;
        Sleep(50);
    }
}

void setString(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
    HKEY h = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   (DWORD)((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
}

void deleteKey(const std::wstring& key) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
}

ServiceInfo queryService(const std::wstring& name) {
    ServiceInfo info;
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!scm)
        return info;
    SC_HANDLE svc = OpenServiceW(scm, name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (svc) {
        info.exists = true;
        DWORD needed = 0;
        QueryServiceConfigW(svc, nullptr, 0, &needed);
        std::vector<BYTE> buf(needed + 16);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data());
        if (QueryServiceConfigW(svc, config, (DWORD)buf.size(), &needed)) {
            info.binaryPath = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
            info.serviceType = config->dwServiceType;
            info.startType = config->dwStartType;
        }
        SERVICE_STATUS status = {};
        if (QueryServiceStatus(svc, &status))
            info.state = status.dwCurrentState;
        CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
    return info;
}

DWORD createService(const std::wstring& name,
                    const std::wstring& command,
                    DWORD startType,
                    DWORD type) {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!scm)
        return GetLastError();
    SC_HANDLE svc = CreateServiceW(scm, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, type,
                                   startType, SERVICE_ERROR_NORMAL, command.c_str(), nullptr,
                                   nullptr, nullptr, nullptr, nullptr);
    DWORD rc = svc ? 0 : GetLastError();
    if (svc)
        CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    return rc;
}

DWORD startService(const std::wstring& name) {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!scm)
        return GetLastError();
    SC_HANDLE svc = OpenServiceW(scm, name.c_str(), SERVICE_ALL_ACCESS);
    DWORD rc = 0;
    if (!svc) {
        rc = GetLastError();
    } else {
        rc = StartServiceW(svc, 0, nullptr) ? 0 : GetLastError();
        CloseServiceHandle(svc);
    }
    CloseServiceHandle(scm);
    if (rc == 0)
        waitForState(name, SERVICE_RUNNING, 10000);
    return rc;
}

bool waitForState(const std::wstring& name, DWORD state, DWORD timeoutMs) {
    for (DWORD waited = 0; waited <= timeoutMs; waited += 50) {
        ServiceInfo info = queryService(name);
        if (info.exists && info.state == state)
            return true;
        Sleep(50);
    }
    return false;
}

void removeService(const std::wstring& name) {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!scm)
        return;
    SC_HANDLE svc = OpenServiceW(scm, name.c_str(), SERVICE_ALL_ACCESS);
    if (svc) {
        SERVICE_STATUS status = {};
        if (ControlService(svc, SERVICE_CONTROL_STOP, &status)) {
            for (int i = 0; i < 200 && status.dwCurrentState != SERVICE_STOPPED; ++i) {
                Sleep(50);
                QueryServiceStatus(svc, &status);
            }
        }
        DeleteService(svc);
        CloseServiceHandle(svc);
        for (int i = 0; i < 200; ++i) {
            SC_HANDLE probe = OpenServiceW(scm, name.c_str(), SERVICE_QUERY_STATUS);
            if (!probe)
                break;
            CloseServiceHandle(probe);
            Sleep(50);
        }
    }
    CloseServiceHandle(scm);
}

namespace {

// Starts a program with a pipe for its standard output and error, the way a deployment job
// does; readEnd is the job's end. False (and the error in result) when it cannot be started.
bool startWithPipe(const std::wstring& commandLine,
                   const std::wstring& currentFolder,
                   PROCESS_INFORMATION& pi,
                   HANDLE& readEnd,
                   RunResult& result) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    CreatePipe(&readEnd, &writeEnd, &sa, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring cmd = commandLine;
    const BOOL started =
        CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr,
                       currentFolder.empty() ? nullptr : currentFolder.c_str(), &si, &pi);
    CloseHandle(writeEnd);
    if (!started) {
        result.exitCode = 0xFFFFFFFF;
        result.output = "CreateProcess failed " + std::to_string(GetLastError());
        CloseHandle(readEnd);
    }
    return started;
}

}  // namespace

RunResult run(const std::wstring& commandLine, const std::wstring& currentFolder) {
    RunResult result;
    PROCESS_INFORMATION pi = {};
    HANDLE readEnd = nullptr;
    if (!startWithPipe(commandLine, currentFolder, pi, readEnd, result))
        return result;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0)
        result.output.append(buf, n);
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(readEnd);
    return result;
}

BoundedRun runWithin(const std::wstring& commandLine,
                     const std::wstring& currentFolder,
                     DWORD timeoutMs) {
    BoundedRun result;
    PROCESS_INFORMATION pi = {};
    HANDLE readEnd = nullptr;
    if (!startWithPipe(commandLine, currentFolder, pi, readEnd, result))
        return result;
    const DWORD begin = GetTickCount();
    while (GetTickCount() - begin < timeoutMs) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) {
            result.endOfOutput = true;
            if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0)
                break;
        } else if (available > 0) {
            char buf[4096];
            DWORD n = 0;
            if (ReadFile(readEnd, buf, sizeof buf, &n, nullptr))
                result.output.append(buf, n);
            continue;
        }
        Sleep(20);
    }
    result.ended = WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
    if (!result.ended) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(readEnd);
    return result;
}

HANDLE spawn(const std::wstring& commandLine, const std::wstring& currentFolder) {
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = commandLine;
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        currentFolder.empty() ? nullptr : currentFolder.c_str(), &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

void killByName(const std::wstring& exeName) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Process32FirstW(snap, &entry); ok; ok = Process32NextW(snap, &entry)) {
        if (_wcsicmp(entry.szExeFile, exeName.c_str()) == 0) {
            HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
            if (p) {
                TerminateProcess(p, 1);
                WaitForSingleObject(p, 5000);
                CloseHandle(p);
            }
        }
    }
    CloseHandle(snap);
}

namespace {

void snapshotKey(HKEY root, const std::wstring& path, std::string& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    out += "[" + win::toNarrowUtf8(path) + "]\n";
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameChars = 16384;
        DWORD type = 0;
        DWORD bytes = static_cast<DWORD>(data.size());
        LONG rc = RegEnumValueW(key, i, name, &nameChars, nullptr, &type, data.data(), &bytes);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        out += win::toNarrowUtf8(name) + "=" + std::to_string(type) + ":";
        if (rc == ERROR_SUCCESS)
            out.append(reinterpret_cast<const char*>(data.data()), bytes);
        out += "\n";
    }
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameChars = 256;
        if (RegEnumKeyExW(key, i, name, &nameChars, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    for (const std::wstring& sub : subkeys)
        snapshotKey(root, path + L"\\" + sub, out);
}

void snapshotFolder(const std::wstring& folder, bool deep, std::string& out) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::wstring> subfolders;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out += win::toNarrowUtf8(folder + L"\\" + name) + (isFolder ? " <dir>" : "") + " " +
               std::to_string(data.nFileSizeLow) + " " +
               std::to_string(data.ftLastWriteTime.dwLowDateTime) + "\n";
        if (isFolder && deep)
            subfolders.push_back(folder + L"\\" + name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    for (const std::wstring& sub : subfolders)
        snapshotFolder(sub, deep, out);
}

}  // namespace

std::string hostSnapshot(const std::vector<std::wstring>& folders) {
    std::string out;
    // The keys the tool and the product own, and the services; all of SOFTWARE would take
    // minutes under an emulated 32-bit Wine.
    snapshotKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QSX", out);
    snapshotKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services", out);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    std::vector<BYTE> buffer(256 * 1024);
    DWORD needed = 0, count = 0, resume = 0;
    if (manager &&
        EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                              buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &count,
                              &resume, nullptr)) {
        auto* services = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            out += "service " + win::toNarrowUtf8(services[i].lpServiceName) + " " +
                   std::to_string(services[i].ServiceStatusProcess.dwCurrentState) + " " +
                   std::to_string(services[i].ServiceStatusProcess.dwProcessId) + "\n";
        }
    }
    if (manager)
        CloseServiceHandle(manager);
    for (const std::wstring& folder : folders) {
        const bool shallow = folder.size() > 2 && folder.substr(folder.size() - 2) == L"\\*";
        snapshotFolder(shallow ? folder.substr(0, folder.size() - 2) : folder, !shallow, out);
    }
    return out;
}

std::vector<std::string> logRecords(const std::wstring& path) {
    std::string text = readFile(path);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    std::string lf;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        lf += text[i];
    }
    static const std::regex stamp(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d T0x\d+ )");
    std::vector<std::string> records;
    std::vector<std::pair<size_t, size_t>> marks;
    for (auto it = std::sregex_iterator(lf.begin(), lf.end(), stamp); it != std::sregex_iterator();
         ++it) {
        marks.emplace_back(static_cast<size_t>(it->position()), static_cast<size_t>(it->length()));
    }
    for (size_t i = 0; i < marks.size(); ++i) {
        size_t begin = marks[i].first + marks[i].second;
        size_t end = i + 1 < marks.size() ? marks[i + 1].first : lf.size();
        records.push_back(lf.substr(begin, end - begin));
    }
    return records;
}

std::wstring windowsDir() {
    wchar_t dir[MAX_PATH] = {};
    GetWindowsDirectoryW(dir, MAX_PATH);
    return dir;
}

std::wstring logPath() {
    return windowsDir() + L"\\Relocator.log";
}

std::wstring userName() {
    wchar_t name[256] = {};
    DWORD size = 256;
    if (!GetUserNameW(name, &size))
        return std::wstring();
    return name;
}

}  // namespace host

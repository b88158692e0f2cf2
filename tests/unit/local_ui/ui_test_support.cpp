#include "ui_test_support.h"

#include "win/strings.h"

#include <objbase.h>
#include <shlobj.h>

#include "host_support.h"
#include "win/com_ptr.h"

namespace uitest {

namespace {

using GetUnixFileName = char*(CDECL*)(LPCWSTR);
using GetDosFileName = WCHAR*(CDECL*)(LPCSTR);

// Wine's own exports for translating between Unix and Windows paths.
template <typename Function>
Function wineExport(const char* name) {
    FARPROC proc = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

std::string unixPath(const std::wstring& path) {
    auto get = wineExport<GetUnixFileName>("wine_get_unix_file_name");
    if (get == nullptr)
        return std::string();
    char* name = get(path.c_str());
    if (name == nullptr)
        return std::string();
    std::string out(name);
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

std::wstring dosPath(const char* unixName) {
    auto get = wineExport<GetDosFileName>("wine_get_dos_file_name");
    if (get == nullptr)
        return std::wstring();
    WCHAR* name = get(unixName);
    if (name == nullptr)
        return std::wstring();
    std::wstring out(name);
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

std::wstring wide(const std::string& text) {
    if (text.empty())
        return std::wstring();
    int n =
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

// Starts a Unix program. Wine starts it but hands back no process handle, so the caller polls
// for the program's effect instead of waiting for it.
bool startUnix(const char* tool, const std::vector<std::string>& args) {
    std::wstring program = dosPath(tool);
    if (program.empty())
        return false;
    std::wstring command = L"\"" + program + L"\"";
    for (const std::string& a : args)
        command += L" \"" + wide(a) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        return false;
    }
    if (pi.hThread != nullptr)
        CloseHandle(pi.hThread);
    if (pi.hProcess != nullptr) {
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hProcess);
    }
    return true;
}

bool waitForPresence(const std::wstring& path, bool present) {
    for (int i = 0; i < 200; ++i) {
        if ((GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == present)
            return true;
        Sleep(50);
    }
    return false;
}

}  // namespace

LinkInfo loadLink(const std::wstring& linkPath) {
    LinkInfo info;
    win::ComPtr<IShellLinkW> link;
    info.loaded = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   link.receive());
    if (FAILED(info.loaded))
        return info;
    win::ComPtr<IPersistFile> file;
    info.loaded = link.queryInterface(IID_IPersistFile, file);
    if (FAILED(info.loaded))
        return info;
    info.loaded = file->Load(linkPath.c_str(), STGM_READ);
    if (FAILED(info.loaded))
        return info;

    wchar_t text[INFOTIPSIZE] = {};
    if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH)))
        info.path = text;
    text[0] = L'\0';
    if (SUCCEEDED(link->GetArguments(text, INFOTIPSIZE)))
        info.arguments = text;
    text[0] = L'\0';
    if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &info.iconIndex)))
        info.iconPath = text;
    text[0] = L'\0';
    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH)))
        info.workingFolder = text;
    text[0] = L'\0';
    if (SUCCEEDED(link->GetDescription(text, INFOTIPSIZE)))
        info.description = text;
    return info;
}

bool makeUnixSymlink(const std::wstring& linkPath, const std::wstring& target) {
    std::string from = unixPath(target);
    std::string to = unixPath(linkPath);
    if (from.empty() || to.empty())
        return false;
    return startUnix("/bin/ln", {"-s", from, to}) && waitForPresence(linkPath, true);
}

bool removeUnixSymlink(const std::wstring& linkPath) {
    DWORD attributes = GetFileAttributesW(linkPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return true;  // no link there
    }
    std::string path = unixPath(linkPath);
    if (path.empty())
        return false;
    return startUnix("/bin/rm", {path}) && waitForPresence(linkPath, false);
}

TestLog::TestLog(const std::wstring& path) : path_(path) {
    DeleteFileW(path.c_str());
    logger_.open(path.c_str(), LOG_ERROR | LOG_WARN | LOG_INFO, LOG_FILE, nullptr);
    gLogger = &logger_;
}

TestLog::~TestLog() {
    if (gLogger == &logger_)
        gLogger = nullptr;
}

std::vector<std::string> TestLog::records() {
    if (gLogger == &logger_)
        gLogger = nullptr;
    logger_.close();
    return host::logRecords(path_);
}

std::string narrow(const std::wstring& text) {
    return win::toNarrowUtf8(text);
}

}  // namespace uitest

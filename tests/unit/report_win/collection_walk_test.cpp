// The collection walk on Windows, where the library's filesystem layer follows reparse points,
// stops at 260 characters and throws on names that do not convert: a collection with a link
// loop, a log deeper than 260 characters and a log that cannot be opened is reported whole,
// each host once, the unreadable log listed, and the walk ends. Wine cannot make a junction,
// but shows a Unix symbolic link as a reparse point: the loop is made with ln.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <stdexcept>

#include "../report/log_files.h"
#include "report/file_system.h"
#include "report/fleet.h"

namespace fs = std::filesystem;
using namespace reporttest;

namespace {

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// Writes the file through the \\?\ form, making its folders on the way.
void writeLong(const fs::path& path, const std::string& bytes) {
    const std::wstring full = report::systemPath(path).native();
    for (size_t at = full.find(L'\\', 7); at != std::wstring::npos; at = full.find(L'\\', at + 1))
        CreateDirectoryW(full.substr(0, at).c_str(), nullptr);
    Handle file(CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_NE(file.get(), INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ASSERT_EQ(written, bytes.size());
}

// The Unix path of a Windows one.
std::string unixPath(const fs::path& path) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName ? unixName(path.c_str()) : nullptr;
    const std::string text = name ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}

// Starts a program of the host (Wine starts Unix programs too; its handle does not tell when
// one ends, so callers wait for its result).
void runUnix(const std::string& command) {
    std::wstring wide(command.begin(), command.end());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &wide[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process))
        << command;
    Handle processHandle(process.hProcess);
    Handle threadHandle(process.hThread);
}

// A Unix symbolic link `name` -> `target` in `folder`.
void unixLink(const fs::path& folder, const char* name, const char* target) {
    const std::string unixFolder = unixPath(folder);
    ASSERT_FALSE(unixFolder.empty()) << "runs on Wine";
    runUnix(std::string("Z:\\bin\\ln -s ") + target + " " + unixFolder + "/" + name);
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    for (int i = 0; i < 300 && attributes == INVALID_FILE_ATTRIBUTES; ++i) {
        Sleep(100);
        attributes = GetFileAttributesW((folder / name).c_str());
    }
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << "ln made no link in 30 s";
    ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << "Wine shows the link as one";
}

}  // namespace

TEST(CollectionWalk, LinkLoopsLongPathsAndLockedLogsReportedWholeAndOnce) {
    wchar_t temp[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const fs::path root =
        fs::path(temp) / (L"relocator_walk_" + std::to_wstring(GetCurrentProcessId()));
    const std::string good = logText(migrationStarted());
    writeLong(root / L"WS-1" / L"Relocator.log", good);
    writeLong(root / L"WS-2" / L"Relocator.log", good);
    fs::path deep = root / L"share";
    for (int i = 0; i < 6; ++i)
        deep /= std::wstring(50, L'a' + i);
    deep /= L"DEEP-HOST";
    ASSERT_GT(deep.native().size(), 300u);
    writeLong(deep / L"Relocator.log", good);
    writeLong(root / L"LOCKED" / L"Relocator.log", good);
    // Two links back to parents: with both followed the walk never ended.
    unixLink(root / L"WS-1", "loop", "..");
    unixLink(root / L"WS-2", "loop", "../WS-1");
    const std::wstring locked = report::systemPath(root / L"LOCKED" / L"Relocator.log").native();
    Handle held(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);

    std::map<std::string, report::HostReport> hosts;
    report::forEachLog({root}, report::HostNaming::Auto, false, [&](const report::LogFile& log) {
        if (hosts.count(log.host) != 0)
            throw std::runtime_error("host seen twice: " + log.host);
        hosts[log.host] = report::reportFor(log);
    });
    held.reset();
    ASSERT_EQ(hosts.size(), 4u);
    for (const char* name : {"WS-1", "WS-2", "DEEP-HOST"}) {
        ASSERT_EQ(hosts.count(name), 1u) << name;
        EXPECT_EQ(hosts[name].outcome, report::Outcome::Started)
            << name << hosts[name].reason.str();
    }
    ASSERT_EQ(hosts.count("LOCKED"), 1u);
    EXPECT_EQ(hosts["LOCKED"].outcome, report::Outcome::Unreadable);
    EXPECT_NE(hosts["LOCKED"].reason.str().find("cannot be opened"), std::string::npos)
        << hosts["LOCKED"].reason.str();

    // NTFS takes a name with an unpaired surrogate (Wine does not make one): it is shown
    // escaped, where converting it threw and ended the whole report.
    const fs::path odd = root / L"h\xD800x" / L"Relocator.log";
    EXPECT_EQ(report::logFileFor(odd, report::HostNaming::Auto).host, "h\\uD800x");
    EXPECT_EQ(report::pathText(fs::path(L"a\xDC01\xD83D\xDE00")), "a\\uDC01\xF0\x9F\x98\x80");

    // rm does not follow the links.
    runUnix("Z:\\bin\\rm -rf " + unixPath(root));
}

namespace {

// Makes a Unix file `name` in `folder` with `command` (its Unix path appended) and waits until
// the folder's listing shows it.
void unixNode(const fs::path& folder, const char* name, const std::string& command) {
    const std::string unixFolder = unixPath(folder);
    ASSERT_FALSE(unixFolder.empty()) << "runs on Wine";
    runUnix(command + " " + unixFolder + "/" + name);
    WIN32_FIND_DATAW data = {};
    for (int i = 0; i < 300; ++i) {
        const HANDLE find = FindFirstFileW((folder / name).c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            FindClose(find);
            return;
        }
        Sleep(100);
    }
    FAIL() << command << " made no " << name << " in 30 s";
}

}  // namespace

// Only regular files are read as logs. Under a log's name a collection can hold a link to a
// device or a FIFO (Wine lists both as plain files; read, /dev/zero never ends and a FIFO
// waits for a writer), and a device can be named on the command line ("NUL"): each is listed
// as unreadable, with what it is, and never read.
TEST(CollectionWalk, DevicesUnderLogNamesListedWithoutBeingRead) {
    wchar_t temp[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const fs::path root =
        fs::path(temp) / (L"relocator_devices_" + std::to_wstring(GetCurrentProcessId()));
    writeLong(root / L"WS-1" / L"Relocator.log", logText(migrationStarted()));
    unixNode(root, "WS-ZERO_Relocator.log", "Z:\\bin\\ln -s /dev/zero");
    unixNode(root, "WS-FIFO_Relocator.log", "Z:\\usr\\bin\\mkfifo");
    unixNode(root / L"WS-1", "1_Relocator.log", "Z:\\bin\\ln -s /dev/zero");

    std::map<std::string, report::HostReport> hosts;
    const auto collect = [&](const report::LogFile& log) {
        if (hosts.count(log.host) != 0)
            throw std::runtime_error("host seen twice: " + log.host);
        hosts[log.host] = report::reportFor(log);
    };
    report::forEachLog({root, L"NUL"}, report::HostNaming::Auto, false, collect);
    ASSERT_EQ(hosts.size(), 4u) << "WS-1, WS-ZERO, WS-FIFO and NUL; no rotated copy";
    EXPECT_EQ(hosts["WS-1"].outcome, report::Outcome::Started) << hosts["WS-1"].reason.str();
    const std::map<std::string, std::string> unread = {
        {"WS-ZERO", "a character device, not a regular file (not read)"},
        {"WS-FIFO", "a pipe, not a regular file (not read)"},
        {"NUL", "a character device, not a regular file (not read)"},
    };
    for (const auto& [name, reason] : unread) {
        ASSERT_EQ(hosts.count(name), 1u) << name;
        EXPECT_EQ(hosts[name].outcome, report::Outcome::Unreadable) << name;
        EXPECT_NE(hosts[name].reason.str().find(reason), std::string::npos)
            << name << ": " << hosts[name].reason.str();
    }

    // Asked for every run, the rotated copy is listed the same way, under its host.
    hosts.clear();
    report::forEachLog({root / L"WS-1"}, report::HostNaming::Auto, true,
                       [&](const report::LogFile& log) {
                           if (log.run == 1)
                               hosts[log.host] = report::reportFor(log);
                       });
    ASSERT_EQ(hosts.count("WS-1"), 1u);
    EXPECT_EQ(hosts["WS-1"].outcome, report::Outcome::Unreadable) << hosts["WS-1"].reason.str();

    runUnix("Z:\\bin\\rm -rf " + unixPath(root));
}

// The fleet report over a large collection: makes (once) a tree of host folders, each with the
// Relocator.log of a typical run, then reports on it as relocator-report does (every output
// written) and gives the wall time, the processor time and the peak memory.
//
//   report_bench DIR [HOSTS]      HOSTS defaults to 100000; the tree is DIR/site-NNN/host-NNNNNN
//
// The logs are written through the shared log layout; the mix of runs is fixed (most hosts
// migrated, some restarted, a few fallbacks, failed starts and stopped runs).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "logging/log_format.h"
#include "report/file_outputs.h"
#include "report/fleet.h"
#include "report/html_output.h"
#include "report/table_output.h"

namespace fs = std::filesystem;

namespace {

constexpr int kHostsPerSite = 1000;
constexpr char kOs[] = "Microsoft Windows NT 6.1  \"Service Pack 1\" (ver 6.1 build 7601)";

struct Line {
    int32_t level;
    const char* text;
};

const Line kMigration[] = {
    {logfmt::kLevelInfo,
     "ExecuteCommand: \"C:\\Program Files (x86)\\QSX\\Tarvos Desktop\\NetInstall\\x64\\NetInst.exe\" -u qsxnet  \n"},
    {logfmt::kLevelInfo,
     "ExecuteCommand: \"C:\\Program Files (x86)\\QSX\\Tarvos Desktop\\NetInstall\\x64\\NetInst.exe\" -i qsxnet \"C:\\Program Files (x86)\\QSX\\Tarvos Desktop\\drivers\\qsxnet\" \n"},
    {logfmt::kLevelInfo,
     "Previous QSXNET uninstallation Returned 0 and latest QSXNET Installation Returned 0 \n"},
    {logfmt::kLevelInfo, "UpdateminiFilterDriver:: Installing QSX IFS Drivers.\n"},
    {logfmt::kLevelInfo, "User Logged in:  SYSTEM\n"},
    {logfmt::kLevelInfo,
     "ExecuteCommand: \"C:\\Program Files (x86)\\QSX\\Tarvos Desktop\\IfsInstall\\x64\\IfsInst.exe\" -i \"C:\\Program Files (x86)\\QSX\\Tarvos Desktop\\drivers\\qsxfltr\" \"C:\\Program Files (x86)\\QSX\\Tarvos Desktop\\qsxfltr.log\" \n"},
    {logfmt::kLevelInfo, "UpdateminiFilterDriver:: IFS driver installer returned 0\n"},
    {logfmt::kLevelInfo, "UpdateminiFilterDriver()::NOT INSTALLING Rogue SERVICE...64\n"},
    {logfmt::kLevelError, "HotMend can't be removed with errcode: 1060\n"},
    {logfmt::kLevelError, "HotMend can't be deleted with errcode: 2\n"},
    {logfmt::kLevelInfo, "Rampart Doesnt exist. Not Removing \n"},
    {logfmt::kLevelError, "Pick up GlacisUi from C:\\Windows\\ccmcache\\1a\n"},
    {logfmt::kLevelInfo, "Found policy file \n"},
    {logfmt::kLevelInfo, "LocalUI Set. \n"},
    {logfmt::kLevelInfo, "UI should be installed and and doesnt exist. Installing..\n"},
    {logfmt::kLevelInfo,
     "Copying file C:\\Windows\\ccmcache\\1a\\glacis.exe to C:\\Program Files (x86)\\QSX\\Tarvos Desktop\\glacis.exe\n"},
};
const Line kRestart[] = {
    {logfmt::kLevelInfo, "Tarvos Server 2.0 detected. Starting KLO Tarvos and exiting..\n"},
    {logfmt::kLevelInfo, "Successfull thService Start\n"},
    {logfmt::kLevelInfo, "Removing Installed Rampart as Rampart is not supposed to be installed\n"},
    {logfmt::kLevelError, "Rampart can't be removed with errcode: 1060\n"},
};
const Line kFallback[] = {
    {logfmt::kLevelError,
     "*** AGENT UPGRADE FAILED. PLEASE GENERATE AGENT BUILD AND INSTALL LATEST VERSION MANUALLY *****.\n"},
    {logfmt::kLevelError, "Starting old Glacis Service\n"},
};
const Line kStartFailed = {logfmt::kLevelError,
                           "TarvosAgent can't be started with errcode: 1053\n"};

void append(std::string& text, logfmt::RecordStamp& stamp, const Line& line) {
    logfmt::appendRecordHead(text, stamp, 2412, logfmt::levelName(line.level).text, "");
    text += line.text;
    stamp.second = (stamp.second + 1) % 60;
}

// One host's log: run kind by the host's number, CR LF line ends, byte-order mark. Most logs are
// the current tool's (start and end records); one host in twenty ran a tool before them.
std::string logOf(int host) {
    std::string text = logfmt::headerBlock("Relocator.log", "ERROR WARN INFO", kOs);
    logfmt::RecordStamp stamp = {12, 7, 2026, 1 + host % 20, host % 60, 0};
    append(text, stamp, {logfmt::kLevelInfo, "starting Logging Now\n "});
    const bool current = host % 20 != 7;
    if (current)
        append(text, stamp, {logfmt::kLevelInfo, "Relocator 1.2.0 started as process 2412\n"});
    const int kind = host % 100;
    const char* end = nullptr;
    if (kind < 10) {
        for (const Line& line : kRestart)
            append(text, stamp, line);
        end =
            "Relocator 1.2.0 finished with exit code 0 (path: restart, new agent: running, "
            "result: migrated)\n";
    } else if (kind < 14) {
        for (const Line& line : kFallback)
            append(text, stamp, line);
        end =
            "Relocator 1.2.0 finished with exit code 2 (path: fallback, new agent: not-started, "
            "result: failed)\n";
    } else {
        // Stopped runs end after the filter driver step.
        const size_t lines = kind < 16 ? 8 : std::size(kMigration);
        for (size_t i = 0; i < lines; ++i)
            append(text, stamp, kMigration[i]);
        if (kind < 19 && kind >= 16) {
            append(text, stamp, kStartFailed);
            end =
                "Relocator 1.2.0 finished with exit code 1053 (path: migration, new agent: "
                "stopped, result: failed)\n";
        } else if (kind >= 16) {
            end =
                "Relocator 1.2.0 finished with exit code 0 (path: migration, new agent: running, "
                "result: migrated)\n";
        }
    }
    if (current && end != nullptr)
        append(text, stamp, {logfmt::kLevelInfo, end});
    std::string out = "\xEF\xBB\xBF";
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

bool makeTree(const fs::path& dir, int hosts) {
    // Named after the mix: a tree of an earlier mix is made again.
    const fs::path done = dir / ".complete-2";
    if (fs::exists(done))
        return true;
    std::printf("making %d host folders in %s ...\n", hosts, dir.c_str());
    for (int host = 0; host < hosts; ++host) {
        char name[64];
        std::snprintf(name, sizeof name, "site-%03d/host-%06d", host / kHostsPerSite, host);
        const fs::path folder = dir / name;
        fs::create_directories(folder);
        const std::string text = logOf(host);
        std::FILE* f = std::fopen((folder / "Relocator.log").c_str(), "wb");
        if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size())
            return false;
        std::fclose(f);
    }
    std::fclose(std::fopen(done.c_str(), "wb"));
    return true;
}

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) try {
    if (argc < 2) {
        std::fputs("usage: report_bench DIR [HOSTS]\n", stderr);
        return 2;
    }
    const fs::path dir = argv[1];
    const int hosts = argc > 2 ? std::atoi(argv[2]) : 100000;
    if (!makeTree(dir / "logs", hosts))
        return 1;
    const fs::path out = dir / "out";
    fs::create_directories(out);

    const auto start = std::chrono::steady_clock::now();
    report::Fleet fleet;
    report::readLogs({dir / "logs"}, report::HostNaming::Auto, false, fleet, [] {});
    const auto read = std::chrono::steady_clock::now();
    fleet.order();
    std::FILE* table = std::fopen((out / "table.txt").c_str(), "wb");
    report::writeTable(table, fleet, false);
    std::fclose(table);
    const bool written = report::writeCsv(out / "fleet.csv", fleet) &&
                         report::writeJson(out / "fleet.json", fleet) &&
                         report::writeHtml(out / "fleet.html", fleet);
    const auto end = std::chrono::steady_clock::now();

    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    const report::Totals totals = fleet.totals();
    std::printf("hosts reported: %zu (%zu needing attention)\n", totals.hosts, totals.attention);
    std::printf("wall time: %.2f s (reading %.2f s, ordering and writing the outputs %.2f s)\n",
                std::chrono::duration<double>(end - start).count(),
                std::chrono::duration<double>(read - start).count(),
                std::chrono::duration<double>(end - read).count());
    std::printf("processor time: %.2f s user, %.2f s system\n", seconds(usage.ru_utime),
                seconds(usage.ru_stime));
    std::printf("peak memory (resident): %.1f MiB\n", usage.ru_maxrss / 1024.0);
    return written && totals.hosts == static_cast<size_t>(hosts) ? 0 : 1;
} catch (const std::exception& e) {
    std::fprintf(stderr, "report_bench: %s\n", e.what());
    return 1;
}

// What a hostile host (it writes its own log) or an odd collection can put in front of the
// report: lines crafted to make the line matcher slow, failure texts a spreadsheet would
// evaluate, links back to a parent folder, names that are no UTF-8. Each host is reported once,
// nothing is lost, and the report ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>

#include "log_files.h"
#include "report/file_outputs.h"
#include "report/fleet.h"
#include "report/log_line_matcher.h"
#include "report/inventory.h"

namespace fs = std::filesystem;
using namespace reporttest;

namespace {

std::string repeated(const std::string& unit, size_t bytes) {
    std::string out;
    while (out.size() + unit.size() <= bytes)
        out += unit;
    return out;
}

}  // namespace

TEST(HostileInput, CraftedLinesFormulasLinksAndOddNamesAreReportedOnceAndSafely) {
    // 1. The matcher is linear in the line's length: lines that repeat the literals after the
    // placeholders without ever completing the pattern (tried occurrence against every later
    // occurrence, 400 such lines of 7.6 KB took many seconds).
    const std::vector<std::pair<int32_t, std::string>> crafted = {
        {logfmt::kLevelInfo,
         "Relocator " + repeated(" finished with exit code 1 (path: , new agent: )", 7600) + "x"},
        {logfmt::kLevelInfo, "UpdateminiFilterDriver::Failed to copy driver dll from " +
                                 repeated(" folder to . Errcode 1", 7600) + "x"},
    };
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i) {
        for (const auto& [level, line] : crafted) {
            report::LineMatch match;
            EXPECT_FALSE(report::matchLogLine(level, line, match)) << line.substr(0, 60);
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_LT(seconds, 3.0) << "400 crafted lines of 7.6 KB (under the sanitizers)";
    // A forged end record inside a legitimate one: the placeholders take as little as they can.
    report::LineMatch end;
    ASSERT_TRUE(report::matchLogLine(
        logfmt::kLevelInfo,
        "Relocator 1.1 finished with exit code 5 (path: a, new agent: b) finished with exit code "
        "0 (path: migration, new agent: running)",
        end));
    EXPECT_EQ(end.line->id, report::LineId::EndRecord);
    EXPECT_EQ(end.numbers[0], 5);
    EXPECT_EQ(end.texts[1], "a");

    // 2. A collection with links back to its parents, a name that is no UTF-8, and failure texts
    // that begin like formulas.
    const fs::path root =
        fs::temp_directory_path() / ("relocator_hostile_" + std::to_string(getpid()));
    fs::remove_all(root);
    const std::vector<Record> formulas =
        run({error("=HYPERLINK(\"http://evil.example/\",\"click\")"),
             error("@SUM(1+1)*cmd|' /C calc'!A0"), error("Pick up GlacisUi from +C:\\t"),
             info("UI should be installed and exists")});
    writeBytes(root / "WS-1" / "Relocator.log", logText(formulas));
    writeBytes(root / "WS-2" / "deeper" / "Relocator.log", logText(migrationStarted()));
    writeBytes(root / "bad\xFF\xFEname" / "Relocator.log", logText(restartStarted()));
    fs::create_directory_symlink(root, root / "WS-1" / "loop");
    fs::create_directory_symlink(root / "WS-2", root / "WS-2" / "deeper" / "back");
    fs::create_directory_symlink(root / "WS-2", root / "link-to-WS-2");
    // A FIFO named like a log: opening it must not wait for a writer that never comes.
    fs::create_directories(root / "WS-3");
    ASSERT_EQ(mkfifo((root / "WS-3" / "Relocator.log").c_str(), 0600), 0);

    report::Fleet fleet;
    std::map<std::string, int> seen;
    report::forEachLog({root}, report::HostNaming::Auto, false, [&](const report::LogFile& log) {
        if (++seen[log.host] > 1)
            throw std::runtime_error("host visited twice: " + log.host);
        fleet.add(report::reportFor(log));
    });
    const std::map<std::string, int> once = {
        {"WS-1", 1}, {"deeper", 1}, {"bad\\xFF\\xFEname", 1}, {"WS-3", 1}};
    EXPECT_EQ(seen, once);
    for (const report::HostReport& host : fleet.hosts()) {
        if (host.host == "WS-3")
            EXPECT_EQ(host.outcome, report::Outcome::Unreadable) << host.reason.str();
    }
    fleet.order();

    const fs::path csv = root / "fleet.csv";
    ASSERT_TRUE(report::writeCsv(csv, fleet));
    std::stringstream text;
    text << std::ifstream(csv, std::ios::binary).rdbuf();
    const auto rows = csvHostTable(text.str());
    ASSERT_EQ(rows.size(), 5u) << text.str();
    bool formulaKept = false;
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), rows[0].size()) << text.str();
        for (const std::string& field : row) {
            EXPECT_TRUE(field.empty() ||
                        std::string("=+-@\t\r").find(field[0]) == std::string::npos)
                << "a spreadsheet would evaluate " << field;
            formulaKept |= field.find(
                               "'=HYPERLINK(\"http://evil.example/\",\"click\") | "
                               "@SUM(1+1)*cmd|' /C calc'!A0") != std::string::npos;
        }
    }
    EXPECT_TRUE(formulaKept) << "the failure texts are kept whole: " << text.str();
    fs::remove_all(root);
}

// Only regular files are read. A device linked in under a log's name never ends (/dev/zero) and
// a FIFO waits for a writer: each is listed with what it is, under its host, and never read. The
// FIFOs here hold a healthy log that a reader would find, so a read would show.
TEST(HostileInput, DevicesAndFifosNamedLikeLogsAreListedWithoutBeingRead) {
    const fs::path root =
        fs::temp_directory_path() / ("relocator_special_" + std::to_string(getpid()));
    fs::remove_all(root);
    writeBytes(root / "WS-1" / "Relocator.log", logText(migrationStarted()));
    fs::create_symlink("/dev/zero", root / "WS-ZERO_Relocator.log");
    fs::create_directories(root / "WS-NULL");
    fs::create_symlink("/dev/null", root / "WS-NULL" / "Relocator.log");
    // Rotated copies are left out as ever, whatever they are.
    fs::create_symlink("/dev/zero", root / "WS-NULL" / "1_Relocator.log");
    const std::string healthy = logText(migrationStarted());
    std::vector<int> writers;
    for (const fs::path& fifo :
         {root / "WS-FIFO_Relocator.log", root / "WS-FIFO_relocator-check.json"}) {
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        // Read and write: the FIFO then has a writer, and the log waits in it.
        const int fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, healthy.data(), healthy.size()), static_cast<ssize_t>(healthy.size()));
        writers.push_back(fd);
    }
    fs::create_symlink(root / "WS-FIFO_Relocator.log", root / "WS-LINK_Relocator.log");

    std::map<std::string, report::HostReport> hosts;
    std::vector<fs::path> preflights;
    const auto collect = [&](const report::LogFile& log) {
        EXPECT_EQ(hosts.count(log.host), 0u) << log.host;
        hosts[log.host] = report::reportFor(log);
    };
    report::forEachLog({root, "/dev/zero"}, report::HostNaming::Auto, false, collect,
                       [&](const fs::path& path) { preflights.push_back(path); });
    for (const int fd : writers)
        close(fd);

    EXPECT_TRUE(preflights.empty()) << "a FIFO is no preflight output to read";
    const std::map<std::string, std::string> unread = {
        {"WS-ZERO", "a character device, not a regular file (not read)"},
        {"WS-NULL", "a character device, not a regular file (not read)"},
        {"WS-FIFO", "a FIFO, not a regular file (not read)"},
        {"WS-LINK", "a FIFO, not a regular file (not read)"},
        {"WS-FIFO_relocator-check.json",
         "a FIFO, not a regular file (not read as a preflight output)"},
        // Named on the command line: taken as a log whatever its name, and still not read.
        {"zero", "a character device, not a regular file (not read)"},
    };
    ASSERT_EQ(hosts.size(), unread.size() + 1) << "WS-1 beside them, no rotated copy";
    EXPECT_EQ(hosts["WS-1"].outcome, report::Outcome::Started) << hosts["WS-1"].reason.str();
    for (const auto& [host, reason] : unread) {
        ASSERT_EQ(hosts.count(host), 1u) << host;
        EXPECT_EQ(hosts[host].outcome, report::Outcome::Unreadable) << host;
        EXPECT_NE(hosts[host].reason.str().find(reason), std::string::npos)
            << host << ": " << hosts[host].reason.str();
    }

    // The inventory is read the same way: a device is refused, not read without end.
    std::vector<std::string> inventory;
    std::string error;
    EXPECT_FALSE(report::readInventory("/dev/zero", inventory, error));
    EXPECT_NE(error.find("a character device"), std::string::npos) << error;
    fs::remove_all(root);
}

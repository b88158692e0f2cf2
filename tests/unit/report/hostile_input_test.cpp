// What a hostile host (it writes its own log) or an odd collection can put in front of the
// report: lines crafted to make the line matcher slow, failure texts a spreadsheet would
// evaluate, links back to a parent folder, names that are no UTF-8. Each host is reported once,
// nothing is lost, and the report ends.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>

#include "log_files.h"
#include "report/file_outputs.h"
#include "report/fleet.h"
#include "report/log_lines.h"

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
            EXPECT_EQ(host.outcome, report::Outcome::NotALog) << host.reason.str();
    }
    fleet.order();

    const fs::path csv = root / "fleet.csv";
    ASSERT_TRUE(report::writeCsv(csv, fleet));
    std::stringstream text;
    text << std::ifstream(csv, std::ios::binary).rdbuf();
    const auto rows = csvRows(text.str());
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

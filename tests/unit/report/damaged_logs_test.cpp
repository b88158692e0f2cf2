// A fleet's collection holds every kind of damaged file: each gets its own outcome and reason,
// the report never stops for one, and the healthy logs beside them are reported as usual.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <map>
#include <random>

#include "log_files.h"
#include "report/fleet.h"

namespace fs = std::filesystem;
using namespace reporttest;

namespace {

struct Expected {
    report::Outcome outcome;
    std::string reason;  // a part of the reason
    std::string path;
};

long peakRssKiB() {
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::map<std::string, report::HostReport> readFleet(const fs::path& root, bool allRuns) {
    std::map<std::string, report::HostReport> hosts;
    report::forEachLog({root}, report::HostNaming::Auto, allRuns, [&](const report::LogFile& log) {
        report::HostReport host = report::reportFor(log);
        hosts[host.host + (host.run ? "#" + std::to_string(host.run) : "")] = host;
    });
    return hosts;
}

std::string utf16(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

class DamagedLogs : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("relocator_report_" + std::to_string(getpid()));
        fs::remove_all(root);
    }
    void TearDown() override { fs::remove_all(root); }
    fs::path log(const std::string& host) const { return root / host / "Relocator.log"; }
    fs::path root;
};

}  // namespace

TEST_F(DamagedLogs, EachGetsItsOwnOutcomeAndReasonAndTheOthersAreReported) {
    const std::string good = logText(migrationStarted());
    writeBytes(log("healthy"), good);
    writeBytes(root / "flat" / "FLATHOST_Relocator.log", logText(restartStarted()));
    writeBytes(log("healthy").parent_path() / "1_Relocator.log", logText(fallbackWithoutAgent()));

    std::string noise(4096, '\0');
    std::mt19937 random(7);
    for (char& c : noise)
        c = static_cast<char>(random() % 7 == 0 ? 0 : random());
    writeBytes(log("binary"), noise);
    writeBytes(log("utf16"), utf16("Tarvos Host Logging: Relocator.log\r\n"));
    writeBytes(log("cut"), good.substr(0, good.find("Pick up") + 4));
    writeBytes(log("empty"), "");
    writeBytes(log("other"), "2026-12-07 00:55:32 setup.exe: installing\r\n");
    writeBytes(log("other-header"),
               "\xEF\xBB\xBF" + crlf(logfmt::headerBlock("thService.log", "ERROR", nullptr)));
    fs::create_directories(root / "vanished");
    fs::create_symlink(root / "nowhere", log("vanished"));

    // 1 GB: a migration stopped by the host going down, the rest of the file never written
    // (zeros, a hole in the file here).
    const std::string stopped = logText(run({info("Rampart Found. Removing.. ")}));
    writeBytes(log("huge"), stopped);
    fs::resize_file(log("huge"), uint64_t(1) << 30);

    const long rssBefore = peakRssKiB();
    auto hosts = readFleet(root, false);
    const long rssGrowthKiB = peakRssKiB() - rssBefore;

    using O = report::Outcome;
    const std::map<std::string, Expected> expected = {
        {"healthy", {O::Started, "", "migration"}},
        {"FLATHOST", {O::Started, "", "restart"}},
        {"binary", {O::NotALog, "binary data", "unknown"}},
        {"utf16", {O::NotALog, "UTF-16", "unknown"}},
        {"cut", {O::Incomplete, "ends inside a record: \"Pick", "migration"}},
        {"empty", {O::NotALog, "empty file", "unknown"}},
        {"other", {O::NotALog, "text of another program; first line \"2026-12-07", "unknown"}},
        {"other-header", {O::NotALog, "its header names \"thService.log\"", "unknown"}},
        {"vanished", {O::Unreadable, "cannot be opened", "unknown"}},
        {"huge", {O::Incomplete, "1073741", "migration"}},
    };
    ASSERT_EQ(hosts.size(), expected.size()) << "the earlier run is left out";
    for (const auto& [name, want] : expected) {
        SCOPED_TRACE(name);
        ASSERT_EQ(hosts.count(name), 1u);
        const report::HostReport& host = hosts[name];
        EXPECT_EQ(host.outcome, want.outcome) << host.reason.str();
        EXPECT_NE(host.reason.str().find(want.reason), std::string::npos) << host.reason.str();
        EXPECT_EQ(report::pathName(host.path), want.path);
    }
    EXPECT_NE(hosts["huge"].reason.str().find("stopped after \"Rampart Found. Removing.. \""),
              std::string::npos);
    EXPECT_LT(rssGrowthKiB, 64 * 1024) << "a 1 GB file is read as a stream";
    EXPECT_EQ(hosts["healthy"].failures.size(), 1u);
    EXPECT_TRUE(hosts["healthy"].failures[0].harmless) << "HotMend 1060: not registered";

    // With --all-runs the rotated copy is listed as an earlier run of its host.
    auto all = readFleet(root, true);
    ASSERT_EQ(all.count("healthy#1"), 1u);
    EXPECT_EQ(all["healthy#1"].outcome, O::NoAgent);
    report::Fleet fleet;
    for (auto& [name, host] : all)
        fleet.add(host);
    EXPECT_EQ(fleet.totals().hosts, expected.size());
    EXPECT_EQ(fleet.totals().earlierRuns, 1u);
    EXPECT_EQ(fleet.exitCode(), 1);
}

// relocator-report run end to end over a collection with a host for every path and outcome:
// the protection counts at the top of each output match each host's outcome and add up to the
// hosts, the causes that leave hosts unprotected come first, a host is counted under every cause
// it has, and a pilot's preflight outputs are hosts with their planned path and problems.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "log_files.h"
#include "report/host_report.h"

namespace fs = std::filesystem;
using namespace reporttest;
using nlohmann::json;

namespace {

// Runs relocator-report over `input` with every output written into `out`; its exit code.
int runReport(const fs::path& input, const fs::path& out, const std::string& more = "") {
    fs::create_directories(out);
    const std::string command = std::string(RELOCATOR_REPORT_BIN) + " '" + input.string() +
                                "' --csv '" + (out / "fleet.csv").string() + "' --json '" +
                                (out / "fleet.json").string() + "' --html '" +
                                (out / "fleet.html").string() + "' " + more + " > '" +
                                (out / "table.txt").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A preflight output as relocator-check --json writes it.
std::string check(const std::string& host,
                  const std::string& path,
                  const std::vector<std::string>& problems) {
    json doc = {{"tool", "relocator-check"},
                {"version", "1.2.0"},
                {"host", host},
                {"path", path},
                {"steps", json::array()},
                {"problems", json::array()},
                {"lastRun", nullptr},
                {"exitCode", problems.empty() ? 0 : 1}};
    for (const std::string& id : problems) {
        doc["problems"].push_back({{"id", id},
                                   {"text", id + " text"},
                                   {"consequence", "c"},
                                   {"action", "Fix " + id + " on the host."}});
    }
    return doc.dump() + "\n";
}

std::map<std::string, json> hostsByName(const json& doc) {
    std::map<std::string, json> hosts;
    for (const json& host : doc.at("hosts")) {
        EXPECT_EQ(hosts.count(host.at("host")), 0u) << "one object per host: " << host.at("host");
        hosts[host.at("host")] = host;
    }
    return hosts;
}

class FleetReport : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("relocator_fleet_" + std::to_string(getpid()));
        fs::remove_all(root);
    }
    void TearDown() override { fs::remove_all(root); }
    fs::path root;
};

}  // namespace

TEST_F(FleetReport, ProtectionAndCausesOverEveryPathAndOutcome) {
    const auto toolStart = info("Relocator 1.2.0 started as process 4242");
    const auto end = [](const std::string& rest) {
        return info("Relocator 1.2.0 finished with exit code " + rest);
    };
    const auto upgradeFailed = error(
        "*** AGENT UPGRADE FAILED. PLEASE GENERATE AGENT BUILD AND INSTALL LATEST VERSION "
        "MANUALLY *****.");
    const auto startingOld = error("Starting old Glacis Service");
    const auto detected = info("Tarvos Server 2.0 detected. Starting KLO Tarvos and exiting..");
    const auto tryOld = info("Can't Start thService. Trying start Glacisd and Rampart");
    const auto rampart = info("Rampart DETECTED. Starting it");
    const auto pickUp = error("Pick up GlacisUi from C:\\t");
    const auto exists = info("UI should be installed and exists");
    const auto pending = error("KLOTarvos was not seen running within 30 s (state: start-pending)");
    struct Case {
        std::vector<Record> records;
        const char* outcome;
        const char* protection;
    };
    const std::map<std::string, Case> cases = {
        {"fb-noagent", {fallbackWithoutAgent(), "no-agent", "unprotected"}},
        {"fb-old", {run({upgradeFailed, startingOld}), "old-agent-again", "oldAgent"}},
        // Its new agent did not start, and its filter library was not copied either.
        {"mig-1058",
         {run({info("UpdateminiFilterDriver::Failed to copy driver dll from system32 folder"),
               pickUp, exists, error("TarvosAgent can't be started with errcode: 1058")}),
          "not-started", "unprotected"}},
        {"rs-old", {run({detected, tryOld, rampart}), "not-started", "oldAgent"}},
        {"rs-none",
         {run({detected, tryOld, info("Can't Start Glacsd."), rampart}), "no-agent",
          "unprotected"}},
        {"mig-stopped",
         {run({toolStart, pickUp, exists,
               end("1053 (path: migration, new agent: stopped, result: failed)")}),
          "not-running", "unprotected"}},
        // The rescued start hung too: the old agent was started instead.
        {"rs-hung-old",
         {run({toolStart, detected, pending, info("SuccessFully Started thService"), pending,
               tryOld, rampart,
               end("1053 (path: restart, new agent: start-pending, result: failed)")}),
          "not-running", "oldAgent"}},
        {"cut-before-start", {run({toolStart, pickUp}), "incomplete", "unknown"}},
        {"cut-agent-running",
         {run({toolStart, detected, info("KLOTarvos is already running")}), "incomplete",
          "newAgent"}},
        {"cut-old-failed",
         {run({toolStart, upgradeFailed, startingOld, error("Can't Start Glacisd Service.")}),
          "incomplete", "unprotected"}},
        {"restart-needed",
         {run({toolStart, pickUp, exists,
               Record{logfmt::kLevelWarn,
                      "Restart needed: Glacis stays marked for deletion until the host restarts. "
                      "The first run after the restart registers it and finishes the "
                      "migration\n"},
               end("3010 (path: migration, new agent: running, result: restart-needed)")}),
          "restart-needed", "newAgent"}},
        // Two follow-ups: the old service marked for deletion and the network driver's 2.
        {"follow-two",
         {run({info("Previous QSXNET uninstallation Returned 0 and latest QSXNET Installation "
                    "Returned 2 "),
               error("Glacisd can't be removed with errcode: 1072"), pickUp, exists}),
          "follow-up", "newAgent"}},
        {"net-2",
         {run({info("Previous QSXNET uninstallation Returned 2 and latest QSXNET Installation "
                    "Returned 2 "),
               pickUp, exists}),
          "follow-up", "newAgent"}},
        {"rescued",
         {run({detected, info("SuccessFully Started thService"), rampart}), "started-after-rescue",
          "newAgent"}},
        {"ok", {migrationStarted(), "started", "newAgent"}},
        {"no-policy",
         {run({pickUp, info("Found policy file "),
               error("Something went wrong with reading policy file")}),
          "started", "newAgent"}},
        {"ws-both", {migrationStarted(), "started", "newAgent"}},
    };
    const fs::path logs = root / "logs";
    for (const auto& [host, c] : cases)
        writeBytes(logs / host / "Relocator.log", logText(c.records));
    writeBytes(logs / "not-a-log" / "Relocator.log", "2026-12-07 setup.exe: installing\r\n");
    fs::create_directories(logs / "unreadable");
    fs::create_symlink(logs / "nowhere", logs / "unreadable" / "Relocator.log");
    // A preflight output beside a log of the same host (its name in another case), and one alone.
    writeBytes(logs / "WS-BOTH_relocator-check.json",
               check("WS-BOTH", "restart", {"drivers-reinstalled"}));
    writeBytes(logs / "pilot-1_relocator-check.json", check("PILOT-1", "migration", {}));
    std::map<std::string, std::pair<std::string, std::string>> expected;
    for (const auto& [host, c] : cases)
        expected[host] = {c.outcome, c.protection};
    expected["not-a-log"] = {"not-a-log", "unknown"};
    expected["unreadable"] = {"unreadable", "unknown"};
    expected["pilot-1"] = {"not-run", "unknown"};
    expected["GHOST"] = {"no-log", "unknown"};
    std::string inventory = "Host\r\nGHOST\r\n";
    for (const auto& [host, want] : expected)
        inventory += host == "GHOST" ? "" : host + "\r\n";
    writeBytes(root / "fleet.txt", inventory);

    const fs::path out = root / "out";
    EXPECT_EQ(runReport(logs, out, "--hosts '" + (root / "fleet.txt").string() + "'"), 1);
    const json doc = json::parse(readAll(out / "fleet.json"));
    const std::map<std::string, json> hosts = hostsByName(doc);

    // Every outcome is there, and each host's protection is the one its outcome gives.
    std::set<std::string> outcomes;
    std::map<std::string, size_t> tally;
    ASSERT_EQ(hosts.size(), expected.size());
    for (const auto& [name, want] : expected) {
        SCOPED_TRACE(name);
        ASSERT_EQ(hosts.count(name), 1u);
        EXPECT_EQ(hosts.at(name).at("outcome"), want.first);
        EXPECT_EQ(hosts.at(name).at("protectedBy"), want.second);
        outcomes.insert(want.first);
        ++tally[want.second];
    }
    EXPECT_EQ(outcomes.size(), size_t(report::kOutcomeCount)) << "every outcome covered";
    const json& protection = doc.at("protection");
    size_t sum = 0;
    for (const char* key : {"newAgent", "oldAgent", "unprotected", "unknown"}) {
        EXPECT_EQ(protection.at(key), tally[key]) << key;
        sum += protection.at(key).get<size_t>();
        // Every host is in the inventory: the shares are of it.
        EXPECT_NEAR(doc.at("protectionShareOfInventory").at(key).get<double>(),
                    double(tally[key]) / expected.size(), 1e-4);
    }
    EXPECT_EQ(sum, doc.at("totals").at("hosts"));
    EXPECT_EQ(sum, doc.at("hosts").size());

    // The causes: those that leave hosts unprotected first, marked urgent; each one's count is
    // every host that has it, whichever is the host's main cause.
    const json& causes = doc.at("causes");
    ASSERT_FALSE(causes.empty());
    EXPECT_TRUE(causes[0].at("urgent").get<bool>());
    bool explainsUnprotected = false;
    for (const auto& [name, host] : hosts)
        explainsUnprotected |=
            host.at("cause") == causes[0].at("cause") && host.at("protectedBy") == "unprotected";
    EXPECT_TRUE(explainsUnprotected) << causes[0];
    bool urgentEnded = false;
    for (const json& cause : causes) {
        SCOPED_TRACE(cause.at("cause").get<std::string>());
        urgentEnded |= !cause.at("urgent").get<bool>();
        EXPECT_FALSE(urgentEnded && cause.at("urgent").get<bool>()) << "urgent causes first";
        size_t having = 0;
        for (const auto& [name, host] : hosts) {
            const json& list = host.at("causes");
            having += std::count(list.begin(), list.end(), cause.at("cause"));
        }
        EXPECT_EQ(cause.at("hosts"), having);
    }
    const auto causesOf = [&](const std::string& host) {
        return hosts.at(host).at("causes").get<std::vector<std::string>>();
    };
    EXPECT_EQ(causesOf("mig-1058"), (std::vector<std::string>{"new-agent-start-failed-1058",
                                                              "filter-library-not-copied"}));
    EXPECT_EQ(causesOf("follow-two"), (std::vector<std::string>{"old-agent-marked-for-deletion",
                                                                "driver-installer-failed"}));
    EXPECT_EQ(causesOf("no-policy"), (std::vector<std::string>{"policy-not-read"}));
    EXPECT_EQ(hosts.at("follow-two").at("cause"), "old-agent-marked-for-deletion");
    // The network driver's installer returned 2: it is missing, and its log is not the filter
    // driver's.
    const std::string next = hosts.at("net-2").at("nextAction");
    EXPECT_NE(next.find("NetInstall"), std::string::npos) << next;
    EXPECT_EQ(next.find("qsxfltr"), std::string::npos) << next;

    // The host with a log and a preflight output shows both; the preflight alone is a host.
    EXPECT_EQ(hosts.at("ws-both").at("plannedPath"), "restart");
    EXPECT_EQ(hosts.at("ws-both").at("problems"), json::array({"drivers-reinstalled"}));
    EXPECT_EQ(hosts.at("pilot-1").at("plannedPath"), "migration");

    // The terminal, the CSV and the page open with the same counts.
    const std::string table = readAll(out / "table.txt");
    EXPECT_NE(table.find("Protection of " + std::to_string(sum) + " hosts"), std::string::npos);
    EXPECT_LT(table.find("Protection of "), table.find("Causes: ")) << table;
    EXPECT_TRUE(std::regex_search(table, std::regex("\n  none \\(unprotected\\) +" +
                                                    std::to_string(tally["unprotected"]) + " ")))
        << table;
    const std::string csv = readAll(out / "fleet.csv");
    EXPECT_EQ(csv.compare(0, 3, "\xEF\xBB\xBF"), 0) << "a byte-order mark for spreadsheets";
    const auto summary = csvRows(csv.substr(3));
    ASSERT_GE(summary.size(), 2u);
    EXPECT_EQ(summary[0], (std::vector<std::string>{"protection", "newAgent", "oldAgent",
                                                    "unprotected", "unknown", "all"}));
    EXPECT_EQ(summary[1][3], std::to_string(tally["unprotected"]));
    const std::string page = readAll(out / "fleet.html");
    EXPECT_LT(page.find("data-protection=\"unprotected\" data-count=\"" +
                        std::to_string(tally["unprotected"]) + "\""),
              page.find("<table id=\"causes\">"));
    // A cause links to the rows of its hosts, those it is not the main cause of included.
    const size_t row = page.find("data-cause=\"filter-library-not-copied\" data-hosts=\"1\"");
    ASSERT_NE(row, std::string::npos);
    std::smatch link;
    const std::string rowText = page.substr(row, page.find("</tr>", row) - row);
    ASSERT_TRUE(std::regex_search(rowText, link, std::regex("href=\"#(h\\d+)\">mig-1058<")));
    EXPECT_TRUE(std::regex_search(
        page, std::regex("<tr class=\"host[^\"]*\" data-host=\"mig-1058\"[^>]* id=\"" +
                         link[1].str() + "\"")));
}

TEST_F(FleetReport, APilotsPreflightOutputsAreItsHostsEachProblemOnce) {
    writeBytes(
        root / "pilot" / "WS1_relocator-check.json",
        check("WS1", "migration", {"installer-missing", "old-agent-running", "installer-missing"}));
    writeBytes(root / "pilot" / "ws2" / "relocator-check.json", check("WS2", "restart", {}));
    writeBytes(root / "pilot" / "WS3_relocator-check.json",
               check("WS3", "fallback", {"new-agent-missing"}));
    writeBytes(root / "pilot" / "WS4_relocator-check.json", "{\"tool\":\"relocator-check\",");
    const fs::path out = root / "out";
    EXPECT_EQ(runReport(root / "pilot", out), 1) << "problems lie ahead";

    const std::map<std::string, std::pair<std::string, std::vector<std::string>>> expected = {
        {"WS1", {"migration", {"installer-missing", "old-agent-running"}}},
        {"ws2", {"restart", {}}},
        {"WS3", {"fallback", {"new-agent-missing"}}},
    };
    const json doc = json::parse(readAll(out / "fleet.json"));
    const std::map<std::string, json> hosts = hostsByName(doc);
    ASSERT_EQ(hosts.size(), 4u);
    for (const auto& [name, want] : expected) {
        SCOPED_TRACE(name);
        ASSERT_EQ(hosts.count(name), 1u);
        EXPECT_EQ(hosts.at(name).at("plannedPath"), want.first);
        EXPECT_EQ(hosts.at(name).at("problems").get<std::vector<std::string>>(), want.second);
        EXPECT_EQ(hosts.at(name).at("protectedBy"), "unknown");
    }
    EXPECT_EQ(hosts.at("WS1").at("nextAction"), "Fix installer-missing on the host.");
    EXPECT_TRUE(hosts.at("WS4").at("plannedPath").is_null());
    EXPECT_EQ(doc.at("protection").at("unknown"), 4);

    // The CSV: one row per host, with its planned path and problems.
    const auto rows = csvHostTable(readAll(out / "fleet.csv"));
    ASSERT_EQ(rows.size(), 5u);
    const auto column = [&](const char* name) {
        return std::find(rows[0].begin(), rows[0].end(), name) - rows[0].begin();
    };
    std::map<std::string, std::vector<std::string>> byHost;
    for (size_t i = 1; i < rows.size(); ++i) {
        EXPECT_EQ(byHost.count(rows[i][column("host")]), 0u);
        byHost[rows[i][column("host")]] = rows[i];
    }
    EXPECT_EQ(byHost["WS1"][column("planned_path")], "migration");
    EXPECT_EQ(byHost["WS1"][column("preflight_problems")], "installer-missing old-agent-running");
    EXPECT_EQ(byHost["WS1"][column("preflight_next_action")], "Fix installer-missing on the host.");
    EXPECT_EQ(byHost["WS3"][column("cause")], "preflight-fallback");

    // The totals count a problem once per host, however often the check lists it.
    const std::string table = readAll(out / "table.txt");
    EXPECT_NE(table.find("    installer-missing               1\n"), std::string::npos) << table;
    EXPECT_NE(table.find("not run yet (preflight only)"), std::string::npos);
}

// The report's web page opened in a real headless browser (Debian's chromium): the host rows
// read back from the rendered page carry each host's outcome, path and exit code, hosts needing
// attention come first, the chart shows the totals, and nothing is fetched from elsewhere. And
// the causes view in every output, the page at 1280 pixels.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "log_files.h"
#include "report/host_report.h"
#include "report/log_lines.h"

namespace fs = std::filesystem;
using namespace reporttest;

namespace {

std::string unescape(std::string text) {
    const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
    for (const auto& [entity, plain] : entities) {
        for (size_t at; (at = text.find(entity)) != std::string::npos;)
            text.replace(at, std::strlen(entity), plain);
    }
    return text;
}

// Single quotes for the shell, whatever the text holds.
std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

int exitCodeOf(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Row {
    std::string host, outcome, path, exit;
};

std::vector<Row> hostRows(const std::string& dom) {
    static const std::regex row(
        "<tr class=\"host[^\"]*\" data-host=\"([^\"]*)\" data-run=\"0\" data-outcome=\"([^\"]*)\""
        " data-path=\"([^\"]*)\" data-exit=\"([^\"]*)\"[^>]*>");
    std::vector<Row> rows;
    for (std::sregex_iterator it(dom.begin(), dom.end(), row), end; it != end; ++it)
        rows.push_back({unescape((*it)[1]), (*it)[2], (*it)[3], (*it)[4]});
    return rows;
}

}  // namespace

TEST(HtmlPage, RenderedHostRowsNeedingAttentionFirst) {
    const fs::path root =
        fs::temp_directory_path() / ("relocator_html_" + std::to_string(getpid()));
    fs::remove_all(root);
    const std::string oddName = "web-<b>&\"quoted\" 'x'";
    writeBytes(root / "logs" / "web-ok" / "Relocator.log", logText(migrationStarted()));
    writeBytes(root / "logs" / oddName / "Relocator.log", logText(fallbackWithoutAgent()));
    const std::string cut = logText(restartStarted());
    writeBytes(root / "logs" / "web-cut" / "Relocator.log", cut.substr(0, cut.size() - 10));
    const fs::path page = root / "fleet.html";

    const int reportExit = exitCodeOf(std::string(RELOCATOR_REPORT_BIN) + " --totals " +
                                      shellQuoted((root / "logs").string()) + " --html " +
                                      shellQuoted(page.string()) + " > /dev/null");
    EXPECT_EQ(reportExit, 1) << "hosts need attention";
    const std::string source = readAll(page);
    ASSERT_FALSE(source.empty());
    for (const char* fetch : {"src=", "url(", "@import", "<script", "<link"})
        EXPECT_EQ(source.find(fetch), std::string::npos) << fetch << ": the page stands alone";
    // Links only within the page (a cause to its hosts' rows).
    for (size_t at = source.find("href="); at != std::string::npos;
         at = source.find("href=", at + 1)) {
        EXPECT_EQ(source.compare(at, 7, "href=\"#"), 0) << source.substr(at, 40);
    }

    const fs::path profile = root / "profile";
    fs::create_directories(profile);
    const int browserExit = exitCodeOf(
        "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync "
        "--user-data-dir=" +
        shellQuoted(profile.string()) + " --dump-dom " + shellQuoted("file://" + page.string()) +
        " > " + shellQuoted((root / "dom.html").string()) + " 2> " +
        shellQuoted((root / "browser.log").string()));
    ASSERT_EQ(browserExit, 0) << "chromium (installed by scripts/setup.sh): "
                              << readAll(root / "browser.log");
    const std::string dom = readAll(root / "dom.html");

    const std::vector<Row> rows = hostRows(dom);
    ASSERT_EQ(rows.size(), 3u) << dom.substr(0, 2000);
    EXPECT_EQ(rows[0].host, oddName);
    EXPECT_EQ(rows[0].outcome, "no-agent");
    EXPECT_EQ(rows[0].path, "fallback");
    EXPECT_EQ(rows[0].exit, "0");
    EXPECT_EQ(rows[1].host, "web-cut");
    EXPECT_EQ(rows[1].outcome, "incomplete");
    EXPECT_EQ(rows[1].path, "restart");
    EXPECT_EQ(rows[1].exit, "unknown");
    EXPECT_EQ(rows[2].host, "web-ok");
    EXPECT_EQ(rows[2].outcome, "started");
    EXPECT_EQ(rows[2].path, "migration");
    EXPECT_EQ(rows[2].exit, "0");
    // The chart: one bar per outcome, with its count.
    for (const char* bar : {"data-outcome=\"no-agent\" data-count=\"1\"",
                            "data-outcome=\"incomplete\" data-count=\"1\"",
                            "data-outcome=\"started\" data-count=\"1\"",
                            "data-outcome=\"not-started\" data-count=\"0\""}) {
        EXPECT_NE(dom.find(bar), std::string::npos) << bar;
    }
    EXPECT_NE(dom.find("3 hosts, 2 need attention."), std::string::npos);
    fs::remove_all(root);
}

// The causes view in every output over a collection whose hosts fail for a few causes, with
// an inventory naming hosts that never sent a log: each host under the cause its log sets up
// (the record that explains its outcome, not its first failure line), the causes ranked by
// their hosts, each with one next action; the page read back from the browser at 1280 pixels,
// without sideways scrolling and with no text cut.
TEST(HtmlPage, CausesFirstInEveryOutputAndThePageFits1280Pixels) {
    const fs::path root =
        fs::temp_directory_path() / ("relocator_causes_" + std::to_string(getpid()));
    fs::remove_all(root);
    const auto pickUp = error("Pick up GlacisUi from C:\\t");
    const auto exists = info("UI should be installed and exists");
    const auto startFailed = [](int code) {
        return error("TarvosAgent can't be started with errcode: " + std::to_string(code));
    };
    const auto noise = info(
        "Previous QSXNET uninstallation Returned 1 and latest QSXNET Installation Returned 0 ");
    const std::string longHost = "WS-" + std::string(120, 'L');
    const std::map<std::string, std::vector<Record>> logs = {
        {"WS-A", run({pickUp, exists, startFailed(1058)})},
        {"WS-B", run({pickUp, exists, startFailed(1058)})},
        // The installer's noise comes first; the failed start explains the outcome.
        {"WS-E", run({noise, pickUp, exists, startFailed(1058)})},
        {longHost, run({pickUp, exists, startFailed(1053)})},
        {"SRV-F", fallbackWithoutAgent()},
        // Two follow-ups: the old service waiting for a restart outweighs the installer.
        {"WS-G", run({info("UpdateminiFilterDriver:: IFS driver installer returned 1"),
                      error("HotMend can't be removed with errcode: 5"),
                      error("Glacisd can't be removed with errcode: 1072"), pickUp, exists})},
        {"WS-H",
         run({info("UpdateminiFilterDriver:: IFS driver installer returned 3"), pickUp, exists})},
        {"WS-OK", migrationStarted()},
    };
    for (const auto& [host, records] : logs)
        writeBytes(root / "logs" / host / "Relocator.log", logText(records));
    writeBytes(root / "inventory.csv",
               "\xEF\xBB\xBFSite;Host Name\r\nx;WS-A\r\nx;ws-b\r\nx;WS-E\r\nx;SRV-F\r\nx;"
               "ws-ok.corp.example\r\ny;GHOST-1\r\ny;GHOST-2\r\ny;GHOST-1\r\n");
    const fs::path out = root / "out";
    fs::create_directories(out);
    const int reportExit =
        exitCodeOf(std::string(RELOCATOR_REPORT_BIN) + " " + shellQuoted((root / "logs").string()) +
                   " --hosts " + shellQuoted((root / "inventory.csv").string()) + " --csv " +
                   shellQuoted((out / "fleet.csv").string()) + " --json " +
                   shellQuoted((out / "fleet.json").string()) + " --html " +
                   shellQuoted((out / "fleet.html").string()) + " > " +
                   shellQuoted((out / "table.txt").string()));
    EXPECT_EQ(reportExit, 1);

    // Ranked by harm (unprotected hosts first, then retries, then follow-ups), then by hosts,
    // then the worst outcome first. A host counts under every cause it has: WS-G under both of
    // its follow-ups, WS-E (its new agent did not start) under the installer's failure too.
    const std::vector<std::pair<std::string, std::string>> causes = {
        {"new-agent-start-failed-1058", "3"}, {"old-agent-not-started", "1"},
        {"new-agent-start-failed-1053", "1"}, {"no-log", "2"},
        {"driver-installer-failed", "3"},     {"old-agent-marked-for-deletion", "1"}};
    const std::map<std::string, std::string> causeOf = {
        {"WS-A", causes[0].first},    {"WS-B", causes[0].first},
        {"WS-E", causes[0].first},    {"GHOST-1", causes[3].first},
        {"GHOST-2", causes[3].first}, {"SRV-F", causes[1].first},
        {longHost, causes[2].first},  {"WS-H", causes[4].first},
        {"WS-G", causes[5].first},    {"WS-OK", "none"}};

    // The terminal: the heading, then the causes with their next actions, before any host.
    const std::string table = readAll(out / "table.txt");
    EXPECT_EQ(table.find("Report of "), 0u) << table;
    EXPECT_NE(table.find(" over 8 files from "), std::string::npos) << table.substr(0, 300);
    EXPECT_NE(table.find("Causes: 9 of 10 hosts need attention"), std::string::npos);
    EXPECT_NE(table.find("of the inventory, reported                     5 of 7 (71.4%)"),
              std::string::npos);
    // Three hosts sent a log but are not in the inventory.
    EXPECT_NE(table.find("with a log, not in the inventory               3 "), std::string::npos)
        << table;
    size_t at = 0;
    for (const auto& [key, hosts] : causes) {
        SCOPED_TRACE(key);
        report::Cause cause;
        for (int id = 0; id < report::kCauseCount; ++id) {
            report::Cause tried;
            tried.id = static_cast<report::CauseId>(id);
            if (key.rfind("new-agent-start-failed-", 0) == 0)
                tried.code = std::stoll(key.substr(key.rfind('-') + 1));
            if (report::causeKey(tried) == key)
                cause = tried;
        }
        ASSERT_NE(cause.id, report::CauseId::None);
        const std::string block = "\n" + std::string(7 - hosts.size(), ' ') + hosts + "  " +
                                  report::causeLabel(cause) + "\n         " +
                                  report::plainText(report::causeInfo(cause.id).meaning) +
                                  "\n         Next: " + report::causeAction(cause) + "\n";
        const size_t found = table.find(block);
        ASSERT_NE(found, std::string::npos) << block << "\nin\n" << table.substr(0, 2500);
        EXPECT_GT(found, at) << "ranked";
        at = found;
    }
    EXPECT_LT(at, table.find("\nHOST ")) << "the causes come before the hosts";

    // CSV: the cause, its host count and next action lead every row.
    const auto rows = csvHostTable(readAll(out / "fleet.csv"));
    ASSERT_EQ(rows.size(), causeOf.size() + 1);
    EXPECT_EQ(rows[0][0], "cause");
    EXPECT_EQ(rows[0][3], "next_action");
    for (size_t i = 1; i < rows.size(); ++i) {
        const std::string& host = rows[i][4];
        SCOPED_TRACE(host);
        ASSERT_EQ(causeOf.count(host), 1u);
        EXPECT_EQ(rows[i][0], causeOf.at(host));
        const bool healthy = causeOf.at(host) == "none";
        EXPECT_EQ(rows[i][3].empty(), healthy);
        EXPECT_EQ(rows[i][8], healthy ? "no" : "yes");
    }
    EXPECT_EQ(rows[1][0], causes[0].first) << "rows in the order of the causes";
    EXPECT_EQ(rows[1][2], "3");

    // JSON: the causes, then the hosts.
    const std::string json = readAll(out / "fleet.json");
    EXPECT_NE(json.find("\"inventoryHosts\":7,\"inventoryReported\":5,\"notInInventory\":3"),
              std::string::npos);
    size_t jsonAt = 0;
    for (const auto& [key, hosts] : causes) {
        const size_t found = json.find("{\"cause\":\"" + key + "\"");
        ASSERT_NE(found, std::string::npos) << key;
        EXPECT_GT(found, jsonAt) << key;
        EXPECT_NE(json.find("\"hostCount\":" + hosts, found), std::string::npos);
        jsonAt = found;
    }
    EXPECT_LT(jsonAt, json.find("\"hosts\":["));
    EXPECT_NE(json.find("\"host\":\"WS-G\""), std::string::npos);

    // The page in the browser at 1280 pixels. A copy of it carries a script that writes what the
    // layout measured into the page (the page itself has none).
    std::string page = readAll(out / "fleet.html");
    EXPECT_EQ(page.find("<script"), std::string::npos);
    page.replace(page.find("</body>"), 7,
                 "<script>const d = document.documentElement; let cut = 0;"
                 "for (const c of document.querySelectorAll('td, th'))"
                 "  if (c.scrollWidth > c.clientWidth + 1) ++cut;"
                 "document.body.setAttribute('data-measured', d.scrollWidth + ' ' + d.clientWidth"
                 " + ' ' + cut);"
                 // A word (not a path or a host name of many characters) laid out on more than
                 // one line was broken inside; a line may end after a hyphen.
                 "const broken = []; const w = document.createTreeWalker(document.body, 4);"
                 "for (let n; (n = w.nextNode());) {"
                 "  if (!n.parentElement.closest('td, th')) continue;"
                 "  for (const m of n.data.matchAll(/[^\\s-]+/g)) {"
                 "    if (m[0].length > 20) continue;"
                 "    const r = document.createRange();"
                 "    r.setStart(n, m.index); r.setEnd(n, m.index + m[0].length);"
                 "    const tops = new Set(Array.from(r.getClientRects(), x => Math.round(x.top)));"
                 "    if (tops.size > 1) broken.push(m[0]);"
                 "  }"
                 "}"
                 "document.body.setAttribute('data-broken', broken.join(' '));"
                 // The protection counts are seen without scrolling (the window is 900 high).
                 "const p = document.getElementById('protection');"
                 "document.body.setAttribute('data-protection-bottom',"
                 "  p ? Math.round(p.getBoundingClientRect().bottom) : -1);</script></body>");
    writeBytes(out / "measured.html", page);
    const int browserExit = exitCodeOf(
        "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync "
        "--window-size=1280,900 --user-data-dir=" +
        shellQuoted((root / "profile").string()) + " --dump-dom " +
        shellQuoted("file://" + (out / "measured.html").string()) + " > " +
        shellQuoted((out / "dom.html").string()) + " 2> " +
        shellQuoted((out / "browser.log").string()));
    ASSERT_EQ(browserExit, 0) << readAll(out / "browser.log");
    const std::string dom = readAll(out / "dom.html");
    std::smatch measured;
    ASSERT_TRUE(
        std::regex_search(dom, measured, std::regex("data-measured=\"(\\d+) (\\d+) (\\d+)\"")));
    EXPECT_LE(std::stoi(measured[1]), std::stoi(measured[2])) << "no sideways scrolling";
    EXPECT_LE(std::stoi(measured[2]), 1280);
    EXPECT_EQ(measured[3], "0") << "no cell cuts its text";
    EXPECT_NE(dom.find("data-broken=\"\""), std::string::npos)
        << "words broken inside: " << dom.substr(dom.find("data-broken="), 300);
    std::smatch protection;
    ASSERT_TRUE(std::regex_search(dom, protection,
                                  std::regex("data-protection-bottom=\"(-?\\d+)\"")));
    EXPECT_GT(std::stoi(protection[1]), 0) << "no protection table";
    EXPECT_LE(std::stoi(protection[1]), 900) << "the protection counts need scrolling";
    EXPECT_NE(dom.find("<p id=\"made\">Made "), std::string::npos);
    EXPECT_NE(dom.find(", over 8 files.</p>"), std::string::npos);
    static const std::regex causeRow(
        "<tr class=\"cause[^\"]*\" data-cause=\"([^\"]*)\" data-hosts=\"(\\d+)\"");
    std::vector<std::pair<std::string, std::string>> rendered;
    for (std::sregex_iterator it(dom.begin(), dom.end(), causeRow), end; it != end; ++it)
        rendered.emplace_back((*it)[1], (*it)[2]);
    EXPECT_EQ(rendered, causes);
    for (const Row& row : hostRows(dom)) {
        if (row.host != "WS-G")
            continue;
        const size_t tr = dom.find("data-host=\"WS-G\"");
        const std::string rowText = dom.substr(tr, dom.find("</tr>", tr) - tr);
        EXPECT_NE(rowText.find("Glacisd can't be removed with errcode: 1072</span> <span "
                               "class=\"next\">Next: Restart the host"),
                  std::string::npos)
            << rowText;
        EXPECT_NE(rowText.find("<details><summary>2 other failure lines</summary>"),
                  std::string::npos)
            << "the installer's 1 and HotMend's 5 on demand: " << rowText;
        EXPECT_EQ(row.outcome, "follow-up");
    }

    // Every next action is one an administrator carries out, not a pointer elsewhere.
    for (int id = 1; id < report::kCauseCount; ++id) {
        const std::string action = report::causeInfo(static_cast<report::CauseId>(id)).action;
        EXPECT_FALSE(action.empty() || action.rfind("See ", 0) == 0 ||
                     action.rfind("The host has", 0) == 0)
            << id << ": " << action;
    }
    size_t count = 0;
    const report::LogLine* lines = report::logLines(count);
    for (size_t i = 0; i < count; ++i) {
        const std::string action = lines[i].action;
        EXPECT_FALSE(action.rfind("See ", 0) == 0 || action.rfind("The host has", 0) == 0 ||
                     action.rfind("Only ", 0) == 0)
            << lines[i].text << ": " << action;
    }
    fs::remove_all(root);
}

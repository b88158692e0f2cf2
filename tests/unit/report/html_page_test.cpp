// The report's web page opened in a real headless browser (Debian's chromium): the host rows
// read back from the rendered page carry each host's outcome, path and exit code, hosts needing
// attention come first, the chart shows the totals, and nothing is fetched from elsewhere.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

#include "log_files.h"

namespace fs = std::filesystem;
using namespace reporttest;

namespace {

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

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
    for (const char* fetch : {"src=", "href=", "url(", "@import", "<script", "<link"})
        EXPECT_EQ(source.find(fetch), std::string::npos) << fetch << ": the page stands alone";

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

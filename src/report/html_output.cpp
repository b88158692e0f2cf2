#include "report/html_output.h"

#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "report/output_file.h"
#include "report/text_escape.h"

namespace report {

namespace {

constexpr char kPageStart[] = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Relocator fleet report</title>
<style>
body { font-family: sans-serif; margin: 1.5em; color: #222; }
table { border-collapse: collapse; margin-bottom: 2em; width: 100%; table-layout: fixed; }
th, td { border: 1px solid #ccc; padding: 0.3em 0.5em; text-align: left; vertical-align: top;
         overflow-wrap: break-word; word-break: normal; hyphens: manual; }
table.hosts, table#causes { font-size: 85%; }
th { background: #eee; }
tr.urgent td { background: #fbe3e3; }
.urgent-mark { color: #a00; font-weight: bold; }
table#protection { width: auto; }
tr.protection-unprotected td { color: #a00; font-weight: bold; }
details.cause-hosts a { margin-right: 0.6em; }
tr.group th { background: #f6e6d0; }
tr.attention td.outcome { font-weight: bold; color: #a00; }
ul.failures { margin: 0; padding-left: 1.2em; }
li.harmless { color: #777; }
.code, .meaning, .action { display: block; font-size: 90%; }
.action, .next { color: #050; }
.record { font-family: monospace; }
svg { max-width: 100%; height: auto; }
svg text { font-size: 13px; }
</style>
</head>
<body>
<h1>Relocator fleet report</h1>
)";

// Column widths that add up to the page's width and hold the longest word of each column (a
// date, "unknown"): texts wrap between words, and only a path or a host name longer than its
// column breaks inside.
constexpr char kTableHead[] =
    "<colgroup><col style=\"width:9%\"><col style=\"width:11%\"><col style=\"width:7%\">"
    "<col style=\"width:7%\"><col style=\"width:9%\"><col style=\"width:9%\">"
    "<col style=\"width:9%\"><col style=\"width:28%\"><col style=\"width:11%\"></colgroup>\n"
    "<thead><tr><th>Host</th><th>Outcome</th><th>Path</th><th>Exit code</th><th>Started</th>"
    "<th>Ended</th><th>OS</th><th>Cause and next action</th><th>Log</th></tr></thead>\n";
constexpr int kColumns = 9;
// Rows of hosts running the new agent shown on the page.
constexpr size_t kMaxHealthyRows = 1000;

// Colours of the bars: attention outcomes red to orange, the others green.
const char* barColour(Outcome outcome) {
    switch (outcome) {
        case Outcome::NoAgent:
            return "#b00000";
        case Outcome::NotStarted:
        case Outcome::NotRunning:
            return "#d03000";
        case Outcome::OldAgentAgain:
            return "#e06000";
        case Outcome::Incomplete:
        case Outcome::Unreadable:
        case Outcome::NotALog:
        case Outcome::NoLog:
            return "#e0a000";
        case Outcome::NotRun:
            return "#8080a0";
        case Outcome::RestartNeeded:
        case Outcome::FollowUp:
            return "#a0a000";
        case Outcome::StartedAfterRescue:
            return "#60a040";
        case Outcome::Started:
            break;
    }
    return "#208020";
}

std::string chart(const Totals& t) {
    constexpr int kRow = 26;
    constexpr int kLabel = 330;
    constexpr int kBar = 400;
    size_t most = 1;
    for (size_t n : t.perOutcome)
        most = n > most ? n : most;
    std::string svg = "<svg id=\"totals\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      std::to_string(kLabel + kBar + 80) + "\" height=\"" +
                      std::to_string(kRow * kOutcomeCount + 10) + "\" role=\"img\">\n";
    for (int i = 0; i < kOutcomeCount; ++i) {
        const OutcomeInfo& info = outcomeInfo(static_cast<Outcome>(i));
        const size_t n = t.perOutcome[i];
        const int y = i * kRow + 5;
        const int width = static_cast<int>(n * kBar / most);
        svg += "<g class=\"bar\" data-outcome=\"" + std::string(info.key) + "\" data-count=\"" +
               std::to_string(n) + "\">";
        svg += "<text x=\"0\" y=\"" + std::to_string(y + 16) + "\">" + htmlEscape(info.label) +
               "</text>";
        svg += "<rect x=\"" + std::to_string(kLabel) + "\" y=\"" + std::to_string(y) +
               "\" width=\"" + std::to_string(width) + "\" height=\"20\" fill=\"" +
               barColour(info.outcome) + "\"/>";
        svg += "<text x=\"" + std::to_string(kLabel + width + 6) + "\" y=\"" +
               std::to_string(y + 16) + "\">" + std::to_string(n) + "</text></g>\n";
    }
    return svg + "</svg>\n";
}

std::string failureItem(const Failure& f) {
    std::string li = f.harmless ? "<li class=\"harmless\">" : "<li>";
    li += htmlEscape(f.text.str());
    if (f.code != kNoCode)
        li += "<span class=\"code\">" + htmlEscape(codeText(f.code)) + "</span>";
    if (f.harmless)
        return li + " (harmless)</li>";
    if (f.line == nullptr)
        return li + "<span class=\"meaning\">A line the guide does not know.</span></li>";
    li += "<span class=\"meaning\">" + htmlEscape(plainText(f.line->meaning)) + "</span>";
    if (f.line->action[0] != '\0')
        li += "<span class=\"action\">Next: " + htmlEscape(plainText(f.line->action)) + "</span>";
    return li + "</li>";
}

std::string cell(const std::string& text, const char* cls = nullptr) {
    return std::string(cls ? "<td class=\"" + std::string(cls) + "\">" : "<td>") +
           htmlEscape(text) + "</td>";
}

// What the host's preflight output says: the planned path, its problems, the next action.
std::string preflightPart(const Preflight& p) {
    std::string div =
        "<div class=\"preflight\" data-planned-path=\"" + htmlEscape(p.path) + "\">Preflight: ";
    if (!p.readable())
        return div + htmlEscape(p.reason) + "</div>";
    div += "would take the " + htmlEscape(p.path) + " path";
    if (p.problems.empty())
        div += ", no problem seen";
    for (size_t i = 0; i < p.problems.size(); ++i) {
        div += std::string(i ? ", " : "; problems: ") + "<span class=\"problem\">" +
               htmlEscape(p.problems[i]) + "</span>";
    }
    if (!p.action.empty())
        div += " <span class=\"next\">Next: " + htmlEscape(p.action) + "</span>";
    return div + "</div>";
}

std::string hostRow(const HostReport& h, size_t index) {
    const OutcomeInfo& info = outcomeInfo(h.outcome);
    const std::string exit = exitCodeText(h.exit);
    std::string tr = std::string("<tr class=\"host") + (needsAttention(h) ? " attention" : "") +
                     "\" data-host=\"" + htmlEscape(h.host) + "\" data-run=\"" +
                     std::to_string(h.run) + "\" data-outcome=\"" + info.key + "\" data-path=\"" +
                     pathName(h.path) + "\" data-exit=\"" + exit + "\" data-cause=\"" +
                     htmlEscape(causeKey(h.cause)) + "\" id=\"h" + std::to_string(index) + "\">";
    tr += cell(h.host) + cell(info.label, "outcome") + cell(pathName(h.path)) + cell(exit) +
          cell(h.started.text()) + cell(h.ended.text()) + cell(h.os.str());
    tr += "<td>";
    // The cause and its next action in one line; the rest on demand.
    if (h.cause.id != CauseId::None) {
        tr += "<div class=\"cause\"><span class=\"record\">" + htmlEscape(h.cause.record.str()) +
              "</span> <span class=\"next\">Next: " + htmlEscape(nextAction(h)) + "</span></div>";
    }
    const std::vector<Cause> causes = hostCauses(h);
    for (size_t i = h.cause.id == CauseId::None ? 0 : 1; i < causes.size(); ++i) {
        tr += "<div class=\"also\" data-cause=\"" + htmlEscape(causeKey(causes[i])) +
              "\">Also: " + htmlEscape(causeLabel(causes[i])) + "</div>";
    }
    if (h.preflight != nullptr)
        tr += preflightPart(*h.preflight);
    std::vector<const Failure*> others;
    for (const Failure& f : h.failures) {
        if (f.text != h.cause.record)
            others.push_back(&f);
    }
    const bool reason = !h.reason.empty() && h.reason != h.cause.record;
    if (reason || !others.empty() || h.moreFailures > 0) {
        const size_t count = others.size() + h.moreFailures;
        tr += "<details><summary>" +
              (count > 0 ? std::to_string(count) + " other failure line" + (count > 1 ? "s" : "")
                         : std::string("details")) +
              "</summary>";
        if (reason)
            tr += "<div class=\"reason\">" + htmlEscape(h.reason.str()) + "</div>";
        if (!others.empty() || h.moreFailures > 0) {
            tr += "<ul class=\"failures\">";
            for (const Failure* f : others)
                tr += failureItem(*f);
            if (h.moreFailures > 0)
                tr += "<li>... and " + std::to_string(h.moreFailures) + " more</li>";
            tr += "</ul>";
        }
        tr += "</details>";
    }
    tr += "</td>" + cell(h.file) + "</tr>\n";
    return tr;
}

// Links to the rows of each cause's hosts, by the cause's rank; at most kMaxCauseLinks each.
constexpr size_t kMaxCauseLinks = 200;
std::vector<std::string> causeLinks(const Fleet& fleet) {
    std::unordered_map<std::string, size_t> rank;
    for (size_t i = 0; i < fleet.causes().size(); ++i)
        rank.emplace(causeKey(fleet.causes()[i].cause), i);
    std::vector<std::string> links(fleet.causes().size());
    std::vector<size_t> counts(links.size(), 0);
    for (size_t i = 0; i < fleet.hosts().size(); ++i) {
        const HostReport& host = fleet.hosts()[i];
        if (host.run != 0)
            continue;
        for (const Cause& cause : hostCauses(host)) {
            const auto at = rank.find(causeKey(cause));
            if (at == rank.end() || ++counts[at->second] > kMaxCauseLinks)
                continue;
            links[at->second] +=
                "<a href=\"#h" + std::to_string(i) + "\">" + htmlEscape(host.host) + "</a> ";
        }
    }
    for (size_t i = 0; i < links.size(); ++i) {
        if (counts[i] > kMaxCauseLinks)
            links[i] += "... and " + std::to_string(counts[i] - kMaxCauseLinks) + " more";
    }
    return links;
}

// The causes: for each, its hosts (linked to their rows), what it means and the one next
// action; those that leave hosts unprotected first, marked urgent.
std::string causeTable(const Fleet& fleet) {
    if (fleet.causes().empty())
        return std::string();
    std::string table =
        "<h2>Causes</h2>\n<table id=\"causes\">\n<colgroup><col style=\"width:7%\">"
        "<col style=\"width:25%\"><col style=\"width:34%\"><col style=\"width:34%\"></colgroup>"
        "\n<thead><tr><th>Hosts</th><th>Cause</th><th>What it means</th><th>Next action</th>"
        "</tr></thead>\n<tbody>\n";
    const std::vector<std::string> links = causeLinks(fleet);
    for (size_t i = 0; i < fleet.causes().size(); ++i) {
        const CauseGroup& group = fleet.causes()[i];
        const bool urgent = group.harm == Harm::Unprotected;
        std::string label =
            urgent ? "<span class=\"urgent-mark\">Urgent, hosts unprotected:</span> " : "";
        label += htmlEscape(causeLabel(group.cause));
        label +=
            "<details class=\"cause-hosts\"><summary>its hosts</summary>" + links[i] + "</details>";
        table += std::string("<tr class=\"cause") + (urgent ? " urgent" : "") + "\" data-cause=\"" +
                 htmlEscape(causeKey(group.cause)) + "\" data-hosts=\"" +
                 std::to_string(group.hosts) + "\" data-harm=\"" + harmKey(group.harm) + "\">" +
                 cell(std::to_string(group.hosts)) + "<td>" + label + "</td>" +
                 cell(plainText(causeInfo(group.cause.id).meaning)) +
                 cell(causeAction(group.cause)) + "</tr>\n";
    }
    return table + "</tbody></table>\n";
}

// Which agent protects the hosts, first on the page; with an inventory, the shares of it.
std::string protectionTable(const Totals& t) {
    std::string table =
        "<h2>Protection</h2>\n<table id=\"protection\">\n<thead><tr><th>Agent running</th>"
        "<th>Hosts</th>" +
        std::string(t.inventory > 0 ? "<th>Of the inventory</th>" : "") +
        "</tr></thead>\n<tbody>\n";
    for (int i = 0; i < kProtectionCount; ++i) {
        const Protection p = static_cast<Protection>(i);
        table += std::string("<tr class=\"protection-") + protectionKey(p) +
                 "\" data-protection=\"" + protectionKey(p) + "\" data-count=\"" +
                 std::to_string(t.protection[i]) + "\">" + cell(protectionLabel(p)) +
                 cell(std::to_string(t.protection[i]));
        if (t.inventory > 0)
            table += cell(percent(t.protectionListed[i], t.inventory));
        table += "</tr>\n";
    }
    return table + "</tbody></table>\n";
}

// One table of the hosts that pass the test, under a heading, with a row naming each cause
// before its hosts; nothing when no host passes.
template <typename Test>
void section(OutputFile& out,
             const Fleet& fleet,
             const char* id,
             const char* title,
             Test test,
             size_t limit = static_cast<size_t>(-1)) {
    bool open = false;
    uint32_t group = 0;
    size_t shown = 0;
    size_t left = 0;
    for (const HostReport& host : fleet.hosts()) {
        if (!test(host))
            continue;
        // A host with a cause besides is shown whatever the limit: its cause links to it.
        if (shown >= limit && hostCauses(host).empty()) {
            ++left;
            continue;
        }
        ++shown;
        if (!open) {
            out.put(std::string("<h2>") + title + "</h2>\n<table class=\"hosts\" id=\"" + id +
                    "\">\n" + kTableHead + "<tbody>\n");
            open = true;
        }
        if (host.run == 0 && host.group != group && host.group >= 1 &&
            host.group <= fleet.causes().size()) {
            const CauseGroup& cause = fleet.causes()[host.group - 1];
            out.put("<tr class=\"group\"><th colspan=\"" + std::to_string(kColumns) + "\">" +
                    htmlEscape(causeLabel(cause.cause)) + " (" + std::to_string(cause.hosts) +
                    ")</th></tr>\n");
        }
        group = host.group;
        out.put(hostRow(host, static_cast<size_t>(&host - fleet.hosts().data())));
    }
    if (open)
        out.put("</tbody></table>\n");
    if (left > 0) {
        out.put("<p class=\"more\">... and " + std::to_string(left) +
                " more: the CSV and JSON outputs list every host.</p>\n");
    }
}

}  // namespace

bool writeHtml(const std::filesystem::path& path, const Fleet& fleet) {
    OutputFile out(path);
    const Totals t = fleet.totals();
    out.put(kPageStart);
    const Fleet::Source& source = fleet.source();
    if (!source.made.empty()) {
        std::string from;
        for (const std::string& input : source.inputs)
            from += (from.empty() ? "" : ", ") + htmlEscape(input);
        out.put("<p id=\"made\">Made " + htmlEscape(source.made) + " from " + from +
                (source.inventory.empty() ? ""
                                          : " with the inventory " + htmlEscape(source.inventory)) +
                ", over " + std::to_string(fleet.files()) + " files.</p>\n");
    }
    std::string summary =
        std::to_string(t.hosts) + " hosts, " + std::to_string(t.attention) + " need attention.";
    if (t.inventory > 0) {
        summary += " " + std::to_string(t.reported) + " of the inventory's " +
                   std::to_string(t.inventory) + " hosts reported (" +
                   percent(t.reported, t.inventory) + ").";
        if (t.unlisted > 0) {
            summary += " " + std::to_string(t.unlisted) +
                       " hosts with a log are not in the inventory (a misnamed folder, or an "
                       "inventory out of date).";
        }
    }
    out.put(protectionTable(t));
    out.put("<p id=\"summary\">" + summary + "</p>\n");
    out.put(causeTable(fleet));
    out.put(chart(t));
    section(out, fleet, "attention", "Hosts needing attention, by cause",
            [](const HostReport& h) { return h.run == 0 && needsAttention(h); });
    // Hosts that need nothing: a page of a million rows would help no one.
    section(
        out, fleet, "new-agent", "Hosts running the new agent, or ready for the run",
        [](const HostReport& h) { return h.run == 0 && !needsAttention(h); }, kMaxHealthyRows);
    section(out, fleet, "earlier-runs", "Earlier runs (rotated copies, not counted)",
            [](const HostReport& h) { return h.run != 0; });
    out.put("</body>\n</html>\n");
    return out.close();
}

}  // namespace report

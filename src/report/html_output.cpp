#include "report/html_output.h"

#include <cstdio>
#include <string>
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
         overflow-wrap: anywhere; word-break: break-word; }
th { background: #eee; }
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

// Column widths that add up to the page's width: long texts wrap, none is cut.
constexpr char kTableHead[] =
    "<colgroup><col style=\"width:9%\"><col style=\"width:10%\"><col style=\"width:7%\">"
    "<col style=\"width:5%\"><col style=\"width:8%\"><col style=\"width:8%\">"
    "<col style=\"width:10%\"><col style=\"width:31%\"><col style=\"width:12%\"></colgroup>\n"
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

std::string hostRow(const HostReport& h) {
    const OutcomeInfo& info = outcomeInfo(h.outcome);
    const std::string exit = exitCodeText(h.exit);
    std::string tr = std::string("<tr class=\"host") + (info.attention ? " attention" : "") +
                     "\" data-host=\"" + htmlEscape(h.host) + "\" data-run=\"" +
                     std::to_string(h.run) + "\" data-outcome=\"" + info.key + "\" data-path=\"" +
                     pathName(h.path) + "\" data-exit=\"" + exit + "\" data-cause=\"" +
                     htmlEscape(causeKey(h.cause)) + "\">";
    tr += cell(h.host) + cell(info.label, "outcome") + cell(pathName(h.path)) + cell(exit) +
          cell(h.started.text()) + cell(h.ended.text()) + cell(h.os.str());
    tr += "<td>";
    // The cause and its next action in one line; the rest on demand.
    if (h.cause.id != CauseId::None) {
        tr += "<div class=\"cause\"><span class=\"record\">" + htmlEscape(h.cause.record.str()) +
              "</span> <span class=\"next\">Next: " + htmlEscape(causeAction(h.cause)) +
              "</span></div>";
    }
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

// The causes: for each, its hosts, what it means and the one next action.
std::string causeTable(const Fleet& fleet) {
    if (fleet.causes().empty())
        return std::string();
    std::string table =
        "<h2>Causes</h2>\n<table id=\"causes\">\n<colgroup><col style=\"width:7%\">"
        "<col style=\"width:23%\"><col style=\"width:35%\"><col style=\"width:35%\"></colgroup>"
        "\n<thead><tr><th>Hosts</th><th>Cause</th><th>What it means</th><th>Next action</th>"
        "</tr></thead>\n<tbody>\n";
    for (const CauseGroup& group : fleet.causes()) {
        table += "<tr class=\"cause\" data-cause=\"" + htmlEscape(causeKey(group.cause)) +
                 "\" data-hosts=\"" + std::to_string(group.hosts) + "\">" +
                 cell(std::to_string(group.hosts)) + cell(causeLabel(group.cause)) +
                 cell(plainText(causeInfo(group.cause.id).meaning)) +
                 cell(causeAction(group.cause)) + "</tr>\n";
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
        if (shown == limit) {
            ++left;
            continue;
        }
        ++shown;
        if (!open) {
            out.put(std::string("<h2>") + title + "</h2>\n<table id=\"" + id + "\">\n" +
                    kTableHead + "<tbody>\n");
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
        out.put(hostRow(host));
    }
    if (open)
        out.put("</tbody></table>\n");
    if (left > 0) {
        out.put("<p class=\"more\">... and " + std::to_string(left) +
                " more: the CSV and JSON outputs list every host.</p>\n");
    }
}

std::string percent(size_t part, size_t whole) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", whole ? 100.0 * part / whole : 0.0);
    return text;
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
    out.put("<p id=\"summary\">" + summary + "</p>\n");
    out.put(causeTable(fleet));
    out.put(chart(t));
    section(out, fleet, "attention", "Hosts needing attention, by cause",
            [](const HostReport& h) { return h.run == 0 && needsAttention(h); });
    // Hosts that need nothing: a page of a million rows would help no one.
    section(
        out, fleet, "new-agent", "Hosts running the new agent",
        [](const HostReport& h) { return h.run == 0 && !needsAttention(h); }, kMaxHealthyRows);
    section(out, fleet, "earlier-runs", "Earlier runs (rotated copies, not counted)",
            [](const HostReport& h) { return h.run != 0; });
    out.put("</body>\n</html>\n");
    return out.close();
}

}  // namespace report

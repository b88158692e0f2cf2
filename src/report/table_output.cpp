#include "report/table_output.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "report/text_escape.h"

namespace report {

namespace {

constexpr size_t kMaxHostColumn = 32;
constexpr size_t kOutcomeColumn = 46;
constexpr size_t kPathColumn = 10;
constexpr size_t kExitColumn = 9;
constexpr size_t kStampColumn = 20;
constexpr char kDetailIndent[] = "      ";

std::string padded(std::string text, size_t width) {
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text + ' ';
}

void put(std::FILE* out, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), out);
}

std::string runLabel(const HostReport& host) {
    return host.run == 0 ? host.host : host.host + " (run -" + std::to_string(host.run) + ")";
}

size_t hostColumn(const Fleet& fleet) {
    size_t width = 4;
    for (const HostReport& host : fleet.hosts())
        width = std::max(width, std::min(kMaxHostColumn, runLabel(host).size()));
    return width;
}

void writeFailure(std::FILE* out, const Failure& f) {
    const std::string indent = kDetailIndent;
    std::string text = indent + (f.harmless ? "- " : "! ") + terminalText(f.text.str());
    if (f.code != kNoCode)
        text += "\n" + indent + "    " + codeText(f.code);
    if (f.harmless) {
        put(out, text + "  (harmless)\n");
        return;
    }
    if (f.line == nullptr) {
        text += "\n" + indent + "    a line the guide does not know";
    } else {
        text += "\n" + indent + "    " + plainText(f.line->meaning);
        if (f.line->action[0] != '\0')
            text += "\n" + indent + "    Next: " + plainText(f.line->action);
    }
    put(out, text + "\n");
}

void writeHost(std::FILE* out, const HostReport& host, size_t hostWidth, bool failures) {
    std::string row = padded(terminalText(runLabel(host)), hostWidth);
    row += padded(outcomeInfo(host.outcome).label, kOutcomeColumn);
    row += padded(pathName(host.path), kPathColumn);
    row += padded(exitCodeText(host.exit), kExitColumn);
    row += padded(host.started.empty() ? "-" : host.started.text(), kStampColumn);
    row += padded(host.ended.empty() ? "-" : host.ended.text(), kStampColumn);
    row += terminalText(host.os.str());
    while (!row.empty() && row.back() == ' ')
        row.pop_back();
    put(out, row + "\n");
    const std::string indent = kDetailIndent;
    if (host.cause.id != CauseId::None) {
        // The cause and its next action in one line.
        put(out, indent + "cause: " + terminalText(host.cause.record.str()) +
                     " -- next: " + terminalText(nextAction(host)) + "\n");
    }
    const std::vector<Cause> causes = hostCauses(host);
    for (size_t i = host.cause.id == CauseId::None ? 0 : 1; i < causes.size(); ++i)
        put(out, indent + "also: " + causeLabel(causes[i]) + "\n");
    if (const Preflight* preflight = host.preflight) {
        std::string line = indent + "preflight: ";
        if (!preflight->readable()) {
            line += terminalText(preflight->reason);
        } else {
            line += "would take the " + preflight->path + " path";
            for (size_t i = 0; i < preflight->problems.size(); ++i)
                line += (i ? ", " : "; problems: ") + terminalText(preflight->problems[i]);
            if (!preflight->action.empty())
                line += " -- next: " + terminalText(preflight->action);
        }
        put(out, line + "\n");
    }
    if (!host.reason.empty() && host.reason != host.cause.record)
        put(out, indent + terminalText(host.reason.str()) + "\n");
    if (needsAttention(host) && !host.file.empty())
        put(out, indent + "file: " + terminalText(host.file) + "\n");
    size_t lines = host.moreFailures;
    for (const Failure& f : host.failures)
        lines += f.text != host.cause.record ? 1 : 0;
    if (!failures) {
        if (lines > 0 && needsAttention(host)) {
            put(out, indent + std::to_string(lines) + " other failure line" +
                         (lines > 1 ? "s" : "") + " (--failures lists them)\n");
        }
        return;
    }
    for (const Failure& f : host.failures)
        writeFailure(out, f);
    if (host.moreFailures > 0) {
        put(out, indent + "... and " + std::to_string(host.moreFailures) + " more failure lines\n");
    }
}

const char* harmTitle(Harm harm) {
    switch (harm) {
        case Harm::Unprotected:
            return "URGENT: hosts left unprotected";
        case Harm::Retry:
            return "failures that need a restart, a retry or the log again";
        case Harm::FollowUp:
            return "follow-ups on hosts the new agent protects";
        case Harm::Ahead:
            break;
    }
    return "seen ahead of the run by the preflight";
}

// Which agent protects the hosts, before anything else; with an inventory, the shares of it.
void writeProtection(std::FILE* out, const Totals& t) {
    put(out, "Protection of " + std::to_string(t.hosts) + " hosts" +
                 (t.inventory > 0 ? " (inventory: " + std::to_string(t.inventory) + ")" : "") +
                 "\n");
    for (int i = 0; i < kProtectionCount; ++i) {
        std::string count = std::to_string(t.protection[i]);
        count.insert(0, count.size() < 7 ? 7 - count.size() : 0, ' ');
        std::string line = "  " + padded(protectionLabel(static_cast<Protection>(i)), 20) + count;
        if (t.inventory > 0) {
            line += "   " + percent(t.protectionListed[i], t.inventory) + " of the inventory";
        }
        put(out, line + "\n");
    }
}

// The causes first: for each, its hosts, what it means and the one next action.
void writeCauses(std::FILE* out, const Fleet& fleet) {
    const Totals t = fleet.totals();
    const Fleet::Source& source = fleet.source();
    if (!source.made.empty()) {
        std::string from;
        for (const std::string& input : source.inputs)
            from += (from.empty() ? "" : ", ") + terminalText(input);
        put(out,
            "Report of " + source.made + " over " + std::to_string(fleet.files()) + " files from " +
                from +
                (source.inventory.empty() ? "" : "; inventory " + terminalText(source.inventory)) +
                "\n");
    }
    writeProtection(out, t);
    put(out, "Causes: " + std::to_string(t.attention) + " of " + std::to_string(t.hosts) +
                 " hosts need attention\n");
    if (fleet.causes().empty())
        return;
    put(out, "  HOSTS  CAUSE\n");
    bool first = true;
    Harm harm = Harm::Unprotected;
    for (const CauseGroup& group : fleet.causes()) {
        if (first || group.harm != harm)
            put(out, std::string("  -- ") + harmTitle(group.harm) + "\n");
        first = false;
        harm = group.harm;
        std::string count = std::to_string(group.hosts);
        count.insert(0, count.size() < 7 ? 7 - count.size() : 0, ' ');
        put(out, count + "  " + causeLabel(group.cause) + "\n");
        put(out, "         " + plainText(causeInfo(group.cause.id).meaning) + "\n");
        put(out, "         Next: " + causeAction(group.cause) + "\n");
    }
}

void writeTotals(std::FILE* out, const Fleet& fleet) {
    const Totals t = fleet.totals();
    put(out, "\nTotals\n");
    for (int i = 0; i < kOutcomeCount; ++i) {
        const OutcomeInfo& info = outcomeInfo(static_cast<Outcome>(i));
        put(out,
            "  " + padded(info.label, kOutcomeColumn) + std::to_string(t.perOutcome[i]) + "\n");
    }
    put(out, "  " + padded("hosts", kOutcomeColumn) + std::to_string(t.hosts) + "\n");
    if (t.inventory > 0) {
        put(out, "  " + padded("of the inventory, reported", kOutcomeColumn) +
                     std::to_string(t.reported) + " of " + std::to_string(t.inventory) + " (" +
                     percent(t.reported, t.inventory) + ")\n");
        if (t.unlisted > 0) {
            put(out, "  " + padded("with a log, not in the inventory", kOutcomeColumn) +
                         std::to_string(t.unlisted) +
                         " (a misnamed folder, or an inventory out of date)\n");
        }
    }
    put(out,
        "  " + padded("needing attention", kOutcomeColumn) + std::to_string(t.attention) + "\n");
    if (t.earlierRuns > 0) {
        put(out, "  " + padded("earlier runs listed (not counted)", kOutcomeColumn) +
                     std::to_string(t.earlierRuns) + "\n");
    }
}

}  // namespace

void writeTable(std::FILE* out, const Fleet& fleet, bool totalsOnly, bool failures) {
    writeCauses(out, fleet);
    if (!totalsOnly && !fleet.hosts().empty()) {
        const size_t width = hostColumn(fleet);
        std::string head = padded("HOST", width) + padded("OUTCOME", kOutcomeColumn) +
                           padded("PATH", kPathColumn) + padded("EXIT", kExitColumn) +
                           padded("STARTED", kStampColumn) + padded("ENDED", kStampColumn) + "OS";
        put(out, "\n" + head + "\n");
        uint32_t group = 0;
        bool earlier = false;
        for (const HostReport& host : fleet.hosts()) {
            if (host.group != group && host.run == 0) {
                group = host.group;
                const bool caused = group >= 1 && group <= fleet.causes().size();
                const std::string title =
                    caused ? causeLabel(fleet.causes()[group - 1].cause) + " (" +
                                 std::to_string(fleet.causes()[group - 1].hosts) + ")"
                           : std::string("running the new agent, or ready for the run");
                put(out, "== " + title + "\n");
            } else if (host.run != 0 && !earlier) {
                earlier = true;
                put(out, "== earlier runs (not counted)\n");
            }
            writeHost(out, host, width, failures);
        }
    }
    writeTotals(out, fleet);
}

}  // namespace report

#include "report/table_output.h"

#include <algorithm>
#include <string>

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
    std::string text = indent + (f.harmless ? "- " : "! ") + terminalText(f.text);
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

void writeHost(std::FILE* out, const HostReport& host, size_t hostWidth) {
    std::string row = padded(terminalText(runLabel(host)), hostWidth);
    row += padded(outcomeInfo(host.outcome).label, kOutcomeColumn);
    row += padded(pathName(host.path), kPathColumn);
    row += padded(exitCodeText(host.exit), kExitColumn);
    row += padded(host.started.empty() ? "-" : host.started, kStampColumn);
    row += padded(host.ended.empty() ? "-" : host.ended, kStampColumn);
    row += terminalText(host.os);
    while (!row.empty() && row.back() == ' ')
        row.pop_back();
    put(out, row + "\n");
    if (!host.reason.empty())
        put(out, std::string(kDetailIndent) + terminalText(host.reason) + "\n");
    if (needsAttention(host))
        put(out, std::string(kDetailIndent) + "file: " + terminalText(host.file) + "\n");
    for (const Failure& f : host.failures)
        writeFailure(out, f);
    if (host.moreFailures > 0) {
        put(out, std::string(kDetailIndent) + "... and " + std::to_string(host.moreFailures) +
                     " more failure lines\n");
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
    put(out,
        "  " + padded("needing attention", kOutcomeColumn) + std::to_string(t.attention) + "\n");
    if (t.earlierRuns > 0) {
        put(out, "  " + padded("earlier runs listed (not counted)", kOutcomeColumn) +
                     std::to_string(t.earlierRuns) + "\n");
    }
}

}  // namespace

void writeTable(std::FILE* out, const Fleet& fleet, bool totalsOnly) {
    if (!totalsOnly && !fleet.hosts().empty()) {
        const size_t width = hostColumn(fleet);
        std::string head = padded("HOST", width) + padded("OUTCOME", kOutcomeColumn) +
                           padded("PATH", kPathColumn) + padded("EXIT", kExitColumn) +
                           padded("STARTED", kStampColumn) + padded("ENDED", kStampColumn) + "OS";
        put(out, head + "\n");
        for (const HostReport& host : fleet.hosts())
            writeHost(out, host, width);
    }
    writeTotals(out, fleet);
}

}  // namespace report

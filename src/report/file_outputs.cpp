#include "report/file_outputs.h"

#include <cstdio>
#include <string>
#include <vector>

#include "report/host_protection.h"
#include "report/output_file.h"
#include "report/text_escape.h"
#include "report/win32_codes.h"

namespace report {

namespace {

// The cause first: sorted by it, the rows read as the causes view. What a host's preflight
// output says follows its log's columns.
constexpr char kCsvHead[] =
    "cause,cause_text,cause_hosts,next_action,host,run,outcome,outcome_text,needs_attention,"
    "path,exit_code,started,ended,os,reason,cause_record,failures,file,protection,causes,"
    "planned_path,preflight_problems,preflight_next_action,preflight_file\r\n";

// A spreadsheet takes the byte-order mark as UTF-8; without it, host names and failure texts
// beyond ASCII come out garbled.
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

// Which agent protects the hosts, before the hosts' rows: the counts, and with an inventory
// the shares of it; a blank line ends it.
std::string csvSummary(const Totals& t) {
    std::string head = "protection";
    std::string counts = "hosts";
    std::string shares = "share_of_inventory";
    for (int i = 0; i < kProtectionCount; ++i) {
        const char* key = protectionKey(static_cast<Protection>(i));
        head += std::string(",") + key;
        counts += "," + std::to_string(t.protection[i]);
        shares += "," + percent(t.protectionListed[i], t.inventory);
    }
    std::string text = head + ",all\r\n" + counts + "," + std::to_string(t.hosts) + "\r\n";
    if (t.inventory > 0)
        text += shares + "," + std::to_string(t.inventory) + "\r\n";
    return text + "\r\n";
}

std::string causeKeys(const HostReport& host) {
    std::string keys;
    for (const Cause& cause : hostCauses(host))
        keys += (keys.empty() ? "" : " ") + causeKey(cause);
    return keys;
}

size_t causeHosts(const Fleet& fleet, const HostReport& h) {
    return h.run == 0 && h.group >= 1 && h.group <= fleet.causes().size()
               ? fleet.causes()[h.group - 1].hosts
               : 0;
}

// "text [code NAME]" of each failure line, separated by " | ".
std::string failureList(const HostReport& host) {
    std::string list;
    for (const Failure& f : host.failures) {
        if (!list.empty())
            list += " | ";
        list += f.text;
        if (f.code != kNoCode) {
            const Win32Code* known = findWin32Code(f.code);
            list += " [" + std::to_string(f.code) + (known ? std::string(" ") + known->name : "") +
                    (f.harmless ? ", harmless]" : "]");
        }
    }
    return list;
}

std::string csvRow(const Fleet& fleet, const HostReport& h) {
    const OutcomeInfo& info = outcomeInfo(h.outcome);
    const bool caused = h.cause.id != CauseId::None;
    const Preflight* preflight = h.preflight;
    std::string problems;
    if (preflight != nullptr) {
        for (const std::string& id : preflight->problems)
            problems += (problems.empty() ? "" : " ") + id;
    }
    const std::string fields[] = {causeKey(h.cause),
                                  caused ? causeLabel(h.cause) : std::string(),
                                  std::to_string(causeHosts(fleet, h)),
                                  nextAction(h),
                                  h.host,
                                  std::to_string(h.run),
                                  info.key,
                                  info.label,
                                  needsAttention(h) ? "yes" : "no",
                                  pathName(h.path),
                                  exitCodeText(h.exit),
                                  h.started.text(),
                                  h.ended.text(),
                                  h.os.str(),
                                  h.reason,
                                  h.cause.record,
                                  failureList(h),
                                  h.file,
                                  protectionKey(protectionOf(h)),
                                  causeKeys(h),
                                  preflight ? preflight->path : std::string(),
                                  problems,
                                  preflight ? preflight->action : std::string(),
                                  preflight ? preflight->file : std::string()};
    std::string row;
    for (const std::string& field : fields) {
        if (!row.empty())
            row += ',';
        row += csvField(field);
    }
    return row + "\r\n";
}

std::string jsonString(const std::string& text) {
    return "\"" + jsonEscape(text) + "\"";
}

// A failure names its line of the guide; what the line means and what to do about it, and the
// code's name and text, stand once in the head ("lines", "codes"): a fleet's hosts mostly share
// them, and written per host they made the file ten times its size.
std::string jsonFailure(const Failure& f) {
    std::string o = "{\"text\":" + jsonString(f.text);
    if (f.code != kNoCode)
        o += ",\"code\":" + std::to_string(f.code);
    o += std::string(",\"harmless\":") + (f.harmless ? "true" : "false");
    o += ",\"line\":" + (f.line ? jsonString(f.line->text) : "null");
    return o + "}";
}

// Every line of the guide with its meaning and next step, and every code the tool logs.
std::string jsonGuide() {
    std::string o = "\"lines\":[";
    size_t count = 0;
    const LogLine* lines = logLines(count);
    for (size_t i = 0; i < count; ++i) {
        o += i ? ",\n" : "\n";
        o += "{\"line\":" + jsonString(lines[i].text) +
             ",\"meaning\":" + jsonString(plainText(lines[i].meaning)) +
             ",\"action\":" + jsonString(plainText(lines[i].action)) + "}";
    }
    o += "],\n\"codes\":{";
    const Win32Code* codes = win32Codes(count);
    for (size_t i = 0; i < count; ++i) {
        o += i ? ",\n" : "\n";
        o += "\"" + std::to_string(codes[i].code) + "\":{\"name\":" + jsonString(codes[i].name) +
             ",\"text\":" + jsonString(codes[i].text) + "}";
    }
    return o + "}";
}

// What the host's preflight output says, right after its name: the planned path, each problem
// once, the next action; an unreadable output has no path but a reason.
std::string jsonPreflight(const Preflight& p) {
    std::string o = ",\"plannedPath\":" + (p.readable() ? jsonString(p.path) : "null");
    o += ",\"problems\":[";
    for (size_t i = 0; i < p.problems.size(); ++i)
        o += (i ? "," : "") + jsonString(p.problems[i]);
    o += "],\"preflightNextAction\":" + (p.action.empty() ? "null" : jsonString(p.action));
    o += ",\"preflightFile\":" + jsonString(p.file);
    if (!p.readable())
        o += ",\"preflightReason\":" + jsonString(p.reason);
    return o;
}

std::string jsonHost(const HostReport& h) {
    const OutcomeInfo& info = outcomeInfo(h.outcome);
    std::string o = "{\"host\":" + jsonString(h.host);
    if (h.preflight != nullptr)
        o += jsonPreflight(*h.preflight);
    o += ",\"file\":" + jsonString(h.file);
    o += ",\"run\":" + std::to_string(h.run);
    if (h.unlisted)
        o += ",\"notInInventory\":true";
    o += ",\"started\":" + (h.started.empty() ? "null" : jsonString(h.started.text()));
    o += ",\"ended\":" + (h.ended.empty() ? "null" : jsonString(h.ended.text()));
    o += ",\"os\":" + (h.os.empty() ? "null" : jsonString(h.os.str()));
    o += ",\"path\":" + jsonString(pathName(h.path));
    o += ",\"outcome\":" + jsonString(info.key);
    o += ",\"outcomeText\":" + jsonString(info.label);
    o += std::string(",\"needsAttention\":") + (needsAttention(h) ? "true" : "false");
    o += ",\"exitCode\":" +
         (h.exit.kind == ExitCode::Known ? std::to_string(h.exit.value) : std::string("null"));
    o += ",\"exitCodeText\":" + jsonString(exitCodeText(h.exit));
    o += ",\"reason\":" + jsonString(h.reason);
    o += ",\"protectedBy\":" + jsonString(protectionKey(protectionOf(h)));
    const bool caused = h.cause.id != CauseId::None;
    o += ",\"cause\":" + jsonString(causeKey(h.cause));
    o += ",\"causeText\":" + (caused ? jsonString(causeLabel(h.cause)) : "null");
    o += ",\"causeRecord\":" + (caused ? jsonString(h.cause.record) : "null");
    const std::string action = nextAction(h);
    o += ",\"nextAction\":" + (action.empty() ? "null" : jsonString(action));
    o += ",\"causes\":[";
    const std::vector<Cause> causes = hostCauses(h);
    for (size_t i = 0; i < causes.size(); ++i)
        o += (i ? "," : "") + jsonString(causeKey(causes[i]));
    o += "]";
    o += ",\"failures\":[";
    for (size_t i = 0; i < h.failures.size(); ++i)
        o += (i ? "," : "") + jsonFailure(h.failures[i]);
    o += "],\"moreFailures\":" + std::to_string(h.moreFailures);
    return o + "}";
}

// The heading and the causes before the hosts. No key here is "outcome" or "path": a reader
// that takes a host's first "outcome" or "path" finds the host's.
std::string jsonHead(const Fleet& fleet) {
    const Fleet::Source& source = fleet.source();
    const Totals t = fleet.totals();
    std::string o = "{\"made\":" + (source.made.empty() ? "null" : jsonString(source.made));
    o += ",\"inputs\":[";
    for (size_t i = 0; i < source.inputs.size(); ++i)
        o += (i ? "," : "") + jsonString(source.inputs[i]);
    o += "],\"inventory\":" + (source.inventory.empty() ? "null" : jsonString(source.inventory));
    o += ",\"files\":" + std::to_string(fleet.files());
    // Which agent protects the hosts: the four add up to the hosts reported. With an inventory,
    // the share of it each stands for.
    o += ",\n\"protection\":{";
    for (int i = 0; i < kProtectionCount; ++i) {
        o += std::string(i ? "," : "") + "\"" + protectionKey(static_cast<Protection>(i)) +
             "\":" + std::to_string(t.protection[i]);
    }
    o += "}";
    if (t.inventory > 0) {
        o += ",\"protectionShareOfInventory\":{";
        for (int i = 0; i < kProtectionCount; ++i) {
            char share[16];
            std::snprintf(share, sizeof share, "%.4f",
                          static_cast<double>(t.protectionListed[i]) / t.inventory);
            o += std::string(i ? "," : "") + "\"" + protectionKey(static_cast<Protection>(i)) +
                 "\":" + share;
        }
        o += "}";
    }
    o += ",\n\"totals\":{\"hosts\":" + std::to_string(t.hosts) +
         ",\"needingAttention\":" + std::to_string(t.attention);
    if (t.inventory > 0) {
        o += ",\"inventoryHosts\":" + std::to_string(t.inventory) +
             ",\"inventoryReported\":" + std::to_string(t.reported) +
             ",\"notInInventory\":" + std::to_string(t.unlisted);
    }
    for (int i = 0; i < kOutcomeCount; ++i) {
        o += ",\"" + std::string(outcomeInfo(static_cast<Outcome>(i)).key) +
             "\":" + std::to_string(t.perOutcome[i]);
    }
    o += "},\n\"causes\":[";
    bool first = true;
    for (const CauseGroup& group : fleet.causes()) {
        o += first ? "\n" : ",\n";
        first = false;
        o += "{\"cause\":" + jsonString(causeKey(group.cause));
        o += ",\"causeText\":" + jsonString(causeLabel(group.cause));
        o += ",\"hostCount\":" + std::to_string(group.hosts);
        o += ",\"hosts\":" + std::to_string(group.hosts);
        o += ",\"harm\":" + jsonString(harmKey(group.harm));
        o += std::string(",\"urgent\":") + (group.harm == Harm::Unprotected ? "true" : "false");
        o += ",\"unprotectedHosts\":" + std::to_string(group.unprotected);
        o += ",\"meaning\":" + jsonString(plainText(causeInfo(group.cause.id).meaning));
        o += ",\"nextAction\":" + jsonString(causeAction(group.cause)) + "}";
    }
    return o + "],\n" + jsonGuide() + ",\n\"hosts\":[";
}

}  // namespace

bool writeCsv(const std::filesystem::path& path, const Fleet& fleet) {
    OutputFile out(path);
    out.put(kUtf8Bom);
    out.put(csvSummary(fleet.totals()));
    out.put(kCsvHead);
    for (const HostReport& host : fleet.hosts())
        out.put(csvRow(fleet, host));
    return out.close();
}

bool writeJson(const std::filesystem::path& path, const Fleet& fleet) {
    OutputFile out(path);
    out.put(jsonHead(fleet));
    bool first = true;
    for (const HostReport& host : fleet.hosts()) {
        out.put(first ? "\n" : ",\n");
        out.put(jsonHost(host));
        first = false;
    }
    out.put("\n]}\n");
    return out.close();
}

}  // namespace report

#include "report/file_outputs.h"

#include <string>

#include "report/output_file.h"
#include "report/text_escape.h"
#include "report/win32_codes.h"

namespace report {

namespace {

// The cause first: sorted by it, the rows read as the causes view.
constexpr char kCsvHead[] =
    "cause,cause_text,cause_hosts,next_action,host,run,outcome,outcome_text,needs_attention,"
    "path,exit_code,started,ended,os,reason,cause_record,failures,file\r\n";

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
    const std::string fields[] = {causeKey(h.cause),
                                  caused ? causeLabel(h.cause) : std::string(),
                                  std::to_string(causeHosts(fleet, h)),
                                  caused ? causeAction(h.cause) : std::string(),
                                  h.host,
                                  std::to_string(h.run),
                                  info.key,
                                  info.label,
                                  info.attention ? "yes" : "no",
                                  pathName(h.path),
                                  exitCodeText(h.exit),
                                  h.started.text(),
                                  h.ended.text(),
                                  h.os.str(),
                                  h.reason,
                                  h.cause.record,
                                  failureList(h),
                                  h.file};
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

std::string jsonHost(const HostReport& h) {
    const OutcomeInfo& info = outcomeInfo(h.outcome);
    std::string o = "{\"host\":" + jsonString(h.host);
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
    o += std::string(",\"needsAttention\":") + (info.attention ? "true" : "false");
    o += ",\"exitCode\":" +
         (h.exit.kind == ExitCode::Known ? std::to_string(h.exit.value) : std::string("null"));
    o += ",\"exitCodeText\":" + jsonString(exitCodeText(h.exit));
    o += ",\"reason\":" + jsonString(h.reason);
    const bool caused = h.cause.id != CauseId::None;
    o += ",\"cause\":" + jsonString(causeKey(h.cause));
    o += ",\"causeText\":" + (caused ? jsonString(causeLabel(h.cause)) : "null");
    o += ",\"causeRecord\":" + (caused ? jsonString(h.cause.record) : "null");
    o += ",\"nextAction\":" + (caused ? jsonString(causeAction(h.cause)) : "null");
    o += ",\"failures\":[";
    for (size_t i = 0; i < h.failures.size(); ++i)
        o += (i ? "," : "") + jsonFailure(h.failures[i]);
    o += "],\"moreFailures\":" + std::to_string(h.moreFailures);
    return o + "}";
}

// The heading and the causes before the hosts. No key here is one a host object has before its
// own: a reader that takes a host's first "outcome" or "path" finds the host's.
std::string jsonHead(const Fleet& fleet) {
    const Fleet::Source& source = fleet.source();
    const Totals t = fleet.totals();
    std::string o = "{\"made\":" + (source.made.empty() ? "null" : jsonString(source.made));
    o += ",\"inputs\":[";
    for (size_t i = 0; i < source.inputs.size(); ++i)
        o += (i ? "," : "") + jsonString(source.inputs[i]);
    o += "],\"inventory\":" + (source.inventory.empty() ? "null" : jsonString(source.inventory));
    o += ",\"files\":" + std::to_string(fleet.files());
    o += ",\"totals\":{\"hosts\":" + std::to_string(t.hosts) +
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
        o += ",\"meaning\":" + jsonString(plainText(causeInfo(group.cause.id).meaning));
        o += ",\"nextAction\":" + jsonString(causeAction(group.cause)) + "}";
    }
    return o + "],\n" + jsonGuide() + ",\n\"hosts\":[";
}

}  // namespace

bool writeCsv(const std::filesystem::path& path, const Fleet& fleet) {
    OutputFile out(path);
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

#include "report/file_outputs.h"

#include <string>

#include "report/output_file.h"
#include "report/text_escape.h"
#include "report/win32_codes.h"

namespace report {

namespace {

constexpr char kCsvHead[] =
    "host,run,outcome,outcome_text,needs_attention,path,exit_code,started,ended,os,reason,"
    "failures,file\r\n";

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

std::string csvRow(const HostReport& h) {
    const OutcomeInfo& info = outcomeInfo(h.outcome);
    const std::string fields[] = {h.host,
                                  std::to_string(h.run),
                                  info.key,
                                  info.label,
                                  info.attention ? "yes" : "no",
                                  pathName(h.path),
                                  exitCodeText(h.exit),
                                  h.started,
                                  h.ended,
                                  h.os,
                                  h.reason,
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

std::string jsonFailure(const Failure& f) {
    std::string o = "{\"text\":" + jsonString(f.text);
    if (f.code != kNoCode) {
        o += ",\"code\":" + std::to_string(f.code);
        const Win32Code* known = findWin32Code(f.code);
        o += ",\"codeName\":" + (known ? jsonString(known->name) : "null");
        o += ",\"codeText\":" + (known ? jsonString(known->text) : "null");
    }
    o += std::string(",\"harmless\":") + (f.harmless ? "true" : "false");
    o += ",\"meaning\":" + (f.line ? jsonString(plainText(f.line->meaning)) : "null");
    o += ",\"action\":" + (f.line ? jsonString(plainText(f.line->action)) : "null");
    return o + "}";
}

std::string jsonHost(const HostReport& h) {
    const OutcomeInfo& info = outcomeInfo(h.outcome);
    std::string o = "{\"host\":" + jsonString(h.host);
    o += ",\"file\":" + jsonString(h.file);
    o += ",\"run\":" + std::to_string(h.run);
    o += ",\"started\":" + (h.started.empty() ? "null" : jsonString(h.started));
    o += ",\"ended\":" + (h.ended.empty() ? "null" : jsonString(h.ended));
    o += ",\"os\":" + (h.os.empty() ? "null" : jsonString(h.os));
    o += ",\"path\":" + jsonString(pathName(h.path));
    o += ",\"outcome\":" + jsonString(info.key);
    o += ",\"outcomeText\":" + jsonString(info.label);
    o += std::string(",\"needsAttention\":") + (info.attention ? "true" : "false");
    o += ",\"exitCode\":" +
         (h.exit.kind == ExitCode::Known ? std::to_string(h.exit.value) : std::string("null"));
    o += ",\"exitCodeText\":" + jsonString(exitCodeText(h.exit));
    o += ",\"reason\":" + jsonString(h.reason);
    o += ",\"failures\":[";
    for (size_t i = 0; i < h.failures.size(); ++i)
        o += (i ? "," : "") + jsonFailure(h.failures[i]);
    o += "],\"moreFailures\":" + std::to_string(h.moreFailures);
    return o + "}";
}

}  // namespace

bool writeCsv(const std::filesystem::path& path, const Fleet& fleet) {
    OutputFile out(path);
    out.put(kCsvHead);
    for (const HostReport& host : fleet.hosts())
        out.put(csvRow(host));
    return out.close();
}

bool writeJson(const std::filesystem::path& path, const Fleet& fleet) {
    OutputFile out(path);
    out.put("[");
    bool first = true;
    for (const HostReport& host : fleet.hosts()) {
        out.put(first ? "\n" : ",\n");
        out.put(jsonHost(host));
        first = false;
    }
    out.put("\n]\n");
    return out.close();
}

}  // namespace report

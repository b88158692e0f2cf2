// Test logs written the way the tool's logger writes them: UTF-8 byte-order mark, the header
// block, records with their heads, CR LF line ends, all through the shared log layout.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "logging/log_format.h"

namespace reporttest {

struct Record {
    int32_t level;
    std::string message;  // as logged, with its own line end
};

inline Record info(const std::string& message) {
    return {logfmt::kLevelInfo, message + "\n"};
}
inline Record error(const std::string& message) {
    return {logfmt::kLevelError, message + "\n"};
}

// LF as the text stream writes it.
inline std::string crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

inline std::string logText(const std::vector<Record>& records,
                           const char* os =
                               "Microsoft Windows NT 6.1  \"Service Pack 1\" (ver "
                               "6.1 build 7601)") {
    std::string text = logfmt::headerBlock("Relocator.log", "ERROR WARN INFO", os);
    logfmt::RecordStamp stamp = {12, 7, 2026, 0, 55, 32};
    for (const Record& r : records) {
        logfmt::appendRecordHead(text, stamp, 2412, logfmt::levelName(r.level).text, "");
        text += r.message;
        ++stamp.second;
    }
    return "\xEF\xBB\xBF" + crlf(text);
}

// The records of typical runs, each starting with the start record.
inline std::vector<Record> run(std::vector<Record> rest) {
    rest.insert(rest.begin(), {logfmt::kLevelInfo, "starting Logging Now\n "});
    return rest;
}

inline std::vector<Record> migrationStarted() {
    return run({info("ExecuteCommand: \"C:\\inst\\NetInstall\\x64\\NetInst.exe\" -u qsxnet  "),
                error("HotMend can't be removed with errcode: 1060"),
                info("Rampart Doesnt exist. Not Removing "),
                error("Pick up GlacisUi from C:\\tool"), info("Found policy file "),
                info("LocalUI Set. "), info("UI should be installed and exists")});
}

inline std::vector<Record> restartStarted() {
    return run({info("Tarvos Server 2.0 detected. Starting KLO Tarvos and exiting.."),
                info("Successfull thService Start"),
                info("Removing Installed Rampart as Rampart is not supposed to be installed"),
                error("Rampart can't be removed with errcode: 1060")});
}

inline std::vector<Record> fallbackWithoutAgent() {
    return run({error("*** AGENT UPGRADE FAILED. PLEASE GENERATE AGENT BUILD AND INSTALL LATEST "
                      "VERSION MANUALLY *****."),
                error("Starting old Glacis Service"), error("Can't Start Glacisd Service.")});
}

// A file's bytes; empty when it cannot be read.
inline std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
#ifdef _WIN32
    std::FILE* f = _wfopen(path.c_str(), L"wb");
#else
    std::FILE* f = std::fopen(path.c_str(), "wb");
#endif
    if (f) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

// The fields of a CSV text (RFC 4180), row by row.
inline std::vector<std::vector<std::string>> csvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            rows.back().back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            rows.back().emplace_back();
        } else if (!quoted && c == '\n') {
            rows.emplace_back(1);
        } else if (quoted || c != '\r') {
            rows.back().back() += c;
        }
    }
    if (rows.back().size() == 1 && rows.back()[0].empty())
        rows.pop_back();
    return rows;
}

// The hosts' table of the report's CSV: its header row and the rows after it, past the
// byte-order mark and the protection summary that open the file.
inline std::vector<std::vector<std::string>> csvHostTable(const std::string& text) {
    std::vector<std::vector<std::string>> rows = csvRows(text);
    size_t head = 0;
    while (head < rows.size() && rows[head][0] != "cause")
        ++head;
    rows.erase(rows.begin(), rows.begin() + static_cast<long>(head));
    return rows;
}

}  // namespace reporttest

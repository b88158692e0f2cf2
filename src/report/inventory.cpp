#include "report/inventory.h"

#include <algorithm>

#include "report/file_source.h"
#include "report/file_system.h"
#include "report/line_scanner.h"

namespace report {

namespace {

std::string trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return std::string();
    const size_t last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last + 1 - first));
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
}

// The fields of one CSV line (RFC 4180 quoting; a quoted field holds no line feed here).
std::vector<std::string> fields(std::string_view line, char separator) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            out.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == separator) {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    for (std::string& field : out)
        field = trimmed(field);
    return out;
}

class InventorySink : public LineSink {
  public:
    explicit InventorySink(std::vector<std::string>& hosts) : hosts_(hosts) {}

    size_t start(const uint8_t* bytes, size_t n) override {
        return n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    }

    bool line(std::string_view text, const LineInfo&) override {
        if (trimmed(text).empty())
            return true;
        if (first_) {
            first_ = false;
            if (header(text))
                return true;
        }
        if (column_ == kNone) {
            hosts_.push_back(trimmed(text));
        } else {
            const std::vector<std::string> row = fields(text, separator_);
            if (column_ < row.size() && !row[column_].empty())
                hosts_.push_back(row[column_]);
        }
        return true;
    }

  private:
    static constexpr size_t kNone = static_cast<size_t>(-1);

    // A CSV header names a column like host: the file is a CSV, and that column is taken.
    bool header(std::string_view text) {
        for (const char separator : {',', ';'}) {
            if (text.find(separator) == std::string_view::npos)
                continue;
            const std::vector<std::string> names = fields(text, separator);
            for (size_t i = 0; i < names.size(); ++i) {
                if (lower(names[i]).find("host") != std::string::npos) {
                    column_ = i;
                    separator_ = separator;
                    return true;
                }
            }
        }
        return false;
    }

    std::vector<std::string>& hosts_;
    bool first_ = true;
    size_t column_ = kNone;
    char separator_ = ',';
};

}  // namespace

bool readInventory(const std::filesystem::path& path,
                   std::vector<std::string>& hosts,
                   std::string& error) {
    hosts.clear();
    FileSource source(path);
    if (!source.ok()) {
        error = pathText(path) + " cannot be opened: " + source.error();
        return false;
    }
    InventorySink sink(hosts);
    if (scanLines(source, sink).readFailed) {
        error = pathText(path) + " cannot be read to its end";
        return false;
    }
    if (hosts.empty()) {
        error = pathText(path) + " names no host";
        return false;
    }
    return true;
}

std::string hostKey(const std::string& name) {
    return lower(name.substr(0, name.find('.')));
}

}  // namespace report

#include "report/inventory.h"
#include "text/utf8_text.h"

#include <algorithm>
#include <cstring>
#include <set>

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

// UTF-16 text (after its byte-order mark) as UTF-8, converted a block at a time as it is read,
// so that the line reader takes it as it takes a UTF-8 inventory. Windows PowerShell 5.1's `>`
// and Out-File write UTF-16LE. What is no character (an unpaired surrogate, an odd last byte)
// becomes U+FFFD.
class Utf16Source : public cryptfile::ByteSource {
  public:
    Utf16Source(cryptfile::ByteSource& in, bool bigEndian) : in_(in), bigEndian_(bigEndian) {}

    int ReadByte() override {
        uint8_t byte = 0;
        return Read(&byte, 1) == 1 ? byte : -1;
    }
    bool Rewind() override { return false; }
    size_t Read(uint8_t* buf, size_t n) override {
        size_t given = 0;
        while (given < n && (at_ < out_.size() || fill())) {
            const size_t take = std::min(n - given, out_.size() - at_);
            std::memcpy(buf + given, out_.data() + at_, take);
            at_ += take;
            given += take;
        }
        return given;
    }
    bool ReadFailed() const override { return in_.ReadFailed(); }

  private:
    static constexpr uint32_t kReplacement = 0xFFFD;

    // Converts the next block; false at the end.
    bool fill() {
        out_.clear();
        at_ = 0;
        while (out_.empty()) {
            uint8_t raw[4096];
            size_t got = 0;
            if (odd_ >= 0) {
                raw[got++] = static_cast<uint8_t>(odd_);
                odd_ = -1;
            }
            const size_t read = in_.Read(raw + got, sizeof raw - got);
            got += read;
            if (read == 0) {
                if (high_ != 0)
                    text::appendUtf8(out_, kReplacement);
                if (got == 1)
                    text::appendUtf8(out_, kReplacement);
                high_ = 0;
                return !out_.empty();
            }
            size_t i = 0;
            for (; i + 1 < got; i += 2)
                unit(bigEndian_ ? (raw[i] << 8 | raw[i + 1]) : (raw[i] | raw[i + 1] << 8));
            if (i < got)
                odd_ = raw[i];
        }
        return true;
    }

    void unit(uint32_t u) {
        const bool high = u >= 0xD800 && u <= 0xDBFF;
        const bool low = u >= 0xDC00 && u <= 0xDFFF;
        if (high_ != 0 && low) {
            text::appendUtf8(out_, 0x10000 + ((high_ - 0xD800) << 10) + (u - 0xDC00));
            high_ = 0;
            return;
        }
        if (high_ != 0)
            text::appendUtf8(out_, kReplacement);
        high_ = high ? u : 0;
        if (!high)
            text::appendUtf8(out_, low ? kReplacement : u);
    }

    cryptfile::ByteSource& in_;
    const bool bigEndian_;
    std::string out_;
    size_t at_ = 0;
    int odd_ = -1;       // a byte of a unit cut by the block's end
    uint32_t high_ = 0;  // a high surrogate waiting for its low one
};

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
        const std::string line = trimmed(text);
        // Comments, and the type line Export-Csv of Windows PowerShell 5.1 writes first.
        if (line.empty() || line[0] == '#')
            return true;
        if (underline_) {
            // A table that PowerShell formatted underlines its heading with dashes.
            underline_ = false;
            if (line.find_first_not_of("- ") == std::string::npos)
                return true;
        }
        if (first_) {
            first_ = false;
            if (header(text))
                return true;
        }
        if (column_ == kNone) {
            // A one-column CSV quotes its names.
            const std::string host = fields(line, '\n')[0];
            if (!host.empty())
                hosts_.push_back(host);
        } else {
            const std::vector<std::string> row = fields(text, separator_);
            if (column_ < row.size() && !row[column_].empty())
                hosts_.push_back(row[column_]);
        }
        return true;
    }

  private:
    static constexpr size_t kNone = static_cast<size_t>(-1);

    // A heading a directory or a console export gives the host names ("Name", "Computername",
    // "Host Name", "DNSHostName"), compared without case, spaces, underscores and dashes.
    static bool heading(const std::string& name) {
        static const std::set<std::string> kHeadings = {
            "computer", "computername", "devicename", "dnshostname", "fqdn",
            "host",     "hostname",     "hostnames",  "hosts",       "machinename",
            "name",     "netbiosname",  "servername", "systemname",
        };
        std::string key;
        for (const char c : lower(name)) {
            if (c != ' ' && c != '_' && c != '-')
                key += c;
        }
        return kHeadings.count(key) != 0;
    }

    // A CSV's header picks its column: the first whose name has "host" in it, else the first
    // heading. A list's heading is skipped, with the dashes that may underline it; a host name
    // with "host" in it ("dbhost01") is no heading.
    bool header(std::string_view text) {
        for (const char separator : {',', ';'}) {
            if (text.find(separator) == std::string_view::npos)
                continue;
            const std::vector<std::string> names = fields(text, separator);
            size_t named = kNone;
            for (size_t i = 0; i < names.size(); ++i) {
                if (lower(names[i]).find("host") != std::string::npos) {
                    named = i;
                    break;
                }
                if (named == kNone && heading(names[i]))
                    named = i;
            }
            if (named != kNone) {
                column_ = named;
                separator_ = separator;
                return true;
            }
        }
        underline_ = heading(fields(text, '\n')[0]);
        return underline_;
    }

    std::vector<std::string>& hosts_;
    bool first_ = true;
    bool underline_ = false;
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
    // UTF-16 is told by its byte-order mark; anything else is read as UTF-8 (the sink skips
    // its mark).
    uint8_t mark[2] = {};
    const size_t marked = source.Read(mark, sizeof mark);
    const bool little = marked == 2 && mark[0] == 0xFF && mark[1] == 0xFE;
    const bool big = marked == 2 && mark[0] == 0xFE && mark[1] == 0xFF;
    if (!little && !big && !source.Rewind()) {
        error = pathText(path) + " cannot be read";
        return false;
    }
    Utf16Source utf16(source, big);
    InventorySink sink(hosts);
    if (scanLines(little || big ? static_cast<cryptfile::ByteSource&>(utf16) : source, sink)
            .readFailed) {
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

#include "report/run_reader.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "logging/log_format.h"
#include "report/line_scanner.h"
#include "report/run_judge.h"

namespace report {

namespace {

constexpr char kLogName[] = "Relocator.log";
// The first bytes kept to say what a file that is no log holds.
constexpr size_t kSampleBytes = 512;
// A record's message spans one line but for the blank after the first record's line feed.
constexpr size_t kMaxMessageBytes = 2 * kMaxLineBytes;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x | 0x20) == (y | 0x20);
           });
}

std::string quotedLine(std::string_view text) {
    constexpr size_t kChars = 80;
    std::string out = "\"";
    for (char c : text.substr(0, kChars))
        out.push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
    return out + (text.size() > kChars ? "...\"" : "\"");
}

// What bytes that are no log of the tool look like.
std::string describeForeignBytes(const std::string& sample, std::string_view firstLine) {
    const size_t zeros = static_cast<size_t>(std::count(sample.begin(), sample.end(), '\0'));
    if (zeros == 0)
        return "text of another program; first line " + quotedLine(firstLine);
    size_t oddZeros = 0;
    for (size_t i = 1; i < sample.size(); i += 2)
        oddZeros += sample[i] == '\0' ? 1 : 0;
    if (oddZeros * 4 >= sample.size() && oddZeros * 10 >= zeros * 9)
        return "UTF-16 text without a byte-order mark (the tool writes UTF-8)";
    return "binary data (zero bytes at the start)";
}

class RunReader : public LineSink {
  public:
    explicit RunReader(HostReport& report) : report_(report) {}

    size_t start(const uint8_t* bytes, size_t n) override;
    bool line(std::string_view text, const LineInfo& info) override;
    void finish(const ScanResult& scan);

  private:
    bool startsLog(std::string_view text, bool terminated);
    bool cutHead(std::string_view text);
    bool headerLine(std::string_view text, bool terminated);
    bool recordLine(std::string_view text, bool terminated);
    void continueRecord(std::string_view piece);
    void endRecord(bool followed);
    void damage(const LineInfo& info);
    bool decide(Outcome outcome, std::string reason);

    HostReport& report_;
    bool decided_ = false;
    std::string sample_;
    std::string firstLine_;
    bool seenText_ = false;
    bool header_ = false;
    bool headerCut_ = false;  // the file ends inside the header block
    std::string cutHead_;     // the start of a record head the file ends in
    RunJudge judge_;
    bool pending_ = false;
    logfmt::RecordHead head_;
    std::string message_;
    uint64_t damageFrom_ = 0;
    uint64_t damageBytes_ = 0;
};

bool RunReader::decide(Outcome outcome, std::string reason) {
    report_.outcome = outcome;
    report_.reason = reason;
    decided_ = true;
    return false;
}

size_t RunReader::start(const uint8_t* bytes, size_t n) {
    sample_.assign(reinterpret_cast<const char*>(bytes), std::min(n, kSampleBytes));
    switch (cryptfile::DetectByteOrderMark(bytes, n)) {
        case cryptfile::EncodingUtf8:
            return cryptfile::ByteOrderMarkLength(cryptfile::EncodingUtf8);
        case cryptfile::EncodingUtf16LE:
        case cryptfile::EncodingUtf16BE:
            decide(Outcome::NotALog,
                   "UTF-16 text (the tool writes UTF-8): saved again by "
                   "another program?");
            return kStop;
        case cryptfile::EncodingUtf32LE:
        case cryptfile::EncodingUtf32BE:
            decide(Outcome::NotALog, "UTF-32 text (the tool writes UTF-8)");
            return kStop;
        default:
            return 0;
    }
}

bool RunReader::line(std::string_view text, const LineInfo& info) {
    const bool garbled = info.overlong || text.find('\0') != std::string_view::npos;
    if (!seenText_ && !text.empty()) {
        seenText_ = true;
        firstLine_.assign(text.substr(0, kSampleBytes));
        if (garbled || !startsLog(text, info.terminated))
            return decide(Outcome::NotALog, describeForeignBytes(sample_, firstLine_));
    }
    if (garbled) {
        damage(info);
        return true;
    }
    if (!info.terminated && cutHead(text))
        return true;
    if (!pending_ && judge_.records() == 0 && logfmt::findRecordHead(text) != 0)
        return headerLine(text, info.terminated);
    return recordLine(text, info.terminated);
}

// A header line, a record, or what is left of either when the file ends inside it.
bool RunReader::startsLog(std::string_view text, bool terminated) {
    std::string_view unused;
    if (logfmt::findRecordHead(text) == 0 ||
        logfmt::classifyHeaderLine(text, unused) != logfmt::HeaderLine::Other) {
        return true;
    }
    return !terminated && (logfmt::startsHeaderLine(text) || logfmt::startsRecordHead(text));
}

// The last line of the file holds no whole record head but the start of one (after the blank
// that ends the first record): the file ends inside that record.
bool RunReader::cutHead(std::string_view text) {
    if (logfmt::findRecordHead(text) != std::string_view::npos)
        return false;
    const bool blank = !text.empty() && text[0] == ' ';
    const std::string_view rest = text.substr(blank ? 1 : 0);
    if (!logfmt::startsRecordHead(rest))
        return false;
    if (blank)
        continueRecord(" ");
    cutHead_.assign(rest);
    return true;
}

bool RunReader::headerLine(std::string_view text, bool terminated) {
    if (!terminated && logfmt::startsHeaderLine(text)) {
        headerCut_ = true;
        return true;
    }
    std::string_view value;
    switch (logfmt::classifyHeaderLine(text, value)) {
        case logfmt::HeaderLine::FileName:
            if (!equalsIgnoringCase(value, kLogName)) {
                return decide(Outcome::NotALog,
                              "log of another program: its header names " + quotedLine(value));
            }
            header_ = true;
            return true;
        case logfmt::HeaderLine::Os:
            report_.os = SharedText(value.substr(0, kSampleBytes));
            return true;
        case logfmt::HeaderLine::Other:
            return decide(Outcome::NotALog,
                          "unexpected line in the header block: " + quotedLine(text));
        default:
            return true;
    }
}

bool RunReader::recordLine(std::string_view text, bool terminated) {
    size_t at = logfmt::findRecordHead(text);
    continueRecord(text.substr(0, at));
    while (at != std::string_view::npos) {
        if (pending_)
            endRecord(true);
        if (judge_.foreign()) {
            return decide(Outcome::NotALog, "its first record is not the tool's start record: " +
                                                quotedLine(judge_.firstMessage()));
        }
        logfmt::parseRecordHead(text.substr(at), head_);
        const size_t body = at + head_.length;
        at = logfmt::findRecordHead(text, body);
        message_.assign(text.substr(body, at == std::string_view::npos ? at : at - body));
        pending_ = true;
    }
    if (pending_ && terminated && message_.size() < kMaxMessageBytes)
        message_.push_back('\n');
    return true;
}

void RunReader::continueRecord(std::string_view piece) {
    if (pending_ && message_.size() + piece.size() <= kMaxMessageBytes)
        message_.append(piece);
}

// Hands the pending record to the judge. A record another one follows has ended; the last one
// of the file has when its line ended.
void RunReader::endRecord(bool followed) {
    std::string_view body = message_;
    bool terminated = followed;
    if (body.size() >= 2 && body.substr(body.size() - 2) == "\n ") {
        body.remove_suffix(2);
        terminated = true;
    } else if (!body.empty() && body.back() == '\n') {
        body.remove_suffix(1);
        terminated = true;
    }
    judge_.record(head_, body, terminated);
    pending_ = false;
}

void RunReader::damage(const LineInfo& info) {
    if (damageBytes_ == 0)
        damageFrom_ = info.offset;
    damageBytes_ += info.length;
}

void RunReader::finish(const ScanResult& scan) {
    if (decided_)
        return;
    if (pending_)
        endRecord(false);
    if (scan.readFailed) {
        decide(Outcome::Unreadable,
               "read error after " + std::to_string(scan.bytesRead) + " bytes");
        return;
    }
    std::string damaged;
    if (damageBytes_ > 0) {
        damaged = std::to_string(damageBytes_) + " bytes of zeros or unbroken data from byte " +
                  std::to_string(damageFrom_) + " (not written out: the host went down?)";
    }
    if (!cutHead_.empty())
        judge_.cutAtEnd(cutHead_);
    if (judge_.records() == 0) {
        if (!cutHead_.empty()) {
            report_.outcome = Outcome::Incomplete;
            report_.reason = "the file ends inside its first record";
        } else if (scan.bytesRead == 0) {
            decide(Outcome::NotALog, "empty file");
        } else if (header_ || headerCut_) {
            report_.outcome = Outcome::Incomplete;
            report_.reason = headerCut_ ? "the file ends inside the header block"
                                        : "only the header block: the run stopped right after "
                                          "opening its log";
            if (!damaged.empty())
                addReason(report_, damaged);
        } else {
            decide(Outcome::NotALog, "no header block and no record of the tool");
        }
        return;
    }
    if (judge_.foreign()) {
        decide(Outcome::NotALog, "its first record is not the tool's start record: " +
                                     quotedLine(judge_.firstMessage()));
        return;
    }
    judge_.judge(report_, damaged);
}

}  // namespace

void readRun(cryptfile::ByteSource& source, HostReport& report) {
    RunReader reader(report);
    const ScanResult scan = scanLines(source, reader);
    reader.finish(scan);
}

}  // namespace report

// Cuts a byte stream into lines with bounded memory: the source is read in blocks, and a line
// longer than the limit is kept only up to it (the rest is skipped, however long). Files of
// any size are read this way, never whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cryptfile/text_format.h"

namespace report {

// Bytes of a line kept; the logger writes at most 2047 characters of message per record, which
// with the record head fits in this many bytes of UTF-8.
constexpr size_t kMaxLineBytes = 8192;
// Bytes read from the source at a time.
constexpr size_t kBlockBytes = 64 * 1024;

struct LineInfo {
    uint64_t offset = 0;     // of the line's first byte in the source
    uint64_t length = 0;     // bytes of the whole line, without its line feed
    bool terminated = true;  // ended with a line feed (false only for the last line)
    bool overlong = false;   // longer than kMaxLineBytes: only the first part is given
};

class LineSink {
  public:
    virtual ~LineSink() = default;
    // The first block of the source (empty for an empty source), before any line. Returns how
    // many bytes to skip before the first line (a byte-order mark), or kStop.
    virtual size_t start(const uint8_t* bytes, size_t n) = 0;
    // One line without its line feed and without the carriage return before it. False stops
    // the reading.
    virtual bool line(std::string_view text, const LineInfo& info) = 0;

    static constexpr size_t kStop = static_cast<size_t>(-1);
};

struct ScanResult {
    uint64_t bytesRead = 0;
    bool readFailed = false;  // the source reported a read error
    bool stopped = false;     // the sink stopped the reading
};

// Reads the source from its current position to its end (or until the sink stops it).
ScanResult scanLines(cryptfile::ByteSource& source, LineSink& sink);

}  // namespace report

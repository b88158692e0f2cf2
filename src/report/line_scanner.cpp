#include "report/line_scanner.h"

#include <cstring>
#include <memory>
#include <string>

namespace report {

namespace {

// Collects one line across block boundaries, keeping at most kMaxLineBytes of it.
class LineBuffer {
  public:
    explicit LineBuffer(uint64_t offset) {
        text_.reserve(kMaxLineBytes);
        info_.offset = offset;
    }

    void append(const uint8_t* bytes, size_t n) {
        info_.length += n;
        const size_t room = kMaxLineBytes - text_.size();
        if (n > room) {
            info_.overlong = true;
            n = room;
        }
        text_.append(reinterpret_cast<const char*>(bytes), n);
    }
    bool empty() const { return info_.length == 0; }

    // Hands the line to the sink and starts the next one at `nextOffset`.
    bool deliver(LineSink& sink, bool terminated, uint64_t nextOffset) {
        info_.terminated = terminated;
        std::string_view view = text_;
        if (terminated && !info_.overlong && !view.empty() && view.back() == '\r') {
            view.remove_suffix(1);
            --info_.length;
        }
        const bool more = sink.line(view, info_);
        text_.clear();
        info_ = LineInfo();
        info_.offset = nextOffset;
        return more;
    }

  private:
    std::string text_;
    LineInfo info_;
};

}  // namespace

ScanResult scanLines(cryptfile::ByteSource& source, LineSink& sink) {
    ScanResult result;
    // One block per thread for all its files: a fleet is a million small logs.
    thread_local std::unique_ptr<uint8_t[]> block(new uint8_t[kBlockBytes]);
    size_t n = source.Read(block.get(), kBlockBytes);
    result.bytesRead = n;
    size_t skip = sink.start(block.get(), n);
    if (skip == LineSink::kStop) {
        result.stopped = true;
        result.readFailed = source.ReadFailed();
        return result;
    }
    uint64_t base = 0;  // offset of block[0]
    size_t at = skip < n ? skip : n;
    LineBuffer line(at);
    while (n > 0) {
        while (at < n) {
            const void* feed = std::memchr(block.get() + at, '\n', n - at);
            const size_t end = feed ? static_cast<const uint8_t*>(feed) - block.get() : n;
            line.append(block.get() + at, end - at);
            if (feed == nullptr)
                break;
            if (!line.deliver(sink, true, base + end + 1)) {
                result.stopped = true;
                return result;
            }
            at = end + 1;
        }
        base += n;
        n = source.Read(block.get(), kBlockBytes);
        result.bytesRead += n;
        at = 0;
    }
    result.readFailed = source.ReadFailed();
    if (!line.empty() && !line.deliver(sink, false, base))
        result.stopped = true;
    return result;
}

}  // namespace report

#include "report/progress_line.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define REPORT_ISATTY(fd) _isatty(fd)
#define REPORT_FILENO(f) _fileno(f)
#else
#include <unistd.h>
#define REPORT_ISATTY(fd) isatty(fd)
#define REPORT_FILENO(f) fileno(f)
#endif

namespace report {

namespace {

constexpr std::chrono::milliseconds kInterval(200);

}  // namespace

ProgressLine::ProgressLine()
    : enabled_(REPORT_ISATTY(REPORT_FILENO(stderr)) != 0),
      next_(std::chrono::steady_clock::now() + kInterval) {}

ProgressLine::~ProgressLine() {
    clear();
}

void ProgressLine::tick() {
    ++logs_;
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_)
        return;
    next_ = now + kInterval;
    std::fprintf(stderr, "\rreading logs: %lu", static_cast<unsigned long>(logs_));
    std::fflush(stderr);
    shown_ = true;
}

void ProgressLine::clear() {
    if (!shown_)
        return;
    std::fprintf(stderr, "\r%40s\r", "");
    std::fflush(stderr);
    shown_ = false;
}

}  // namespace report

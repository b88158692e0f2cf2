// The tool's log: time-stamped records in a UTF-8 text file, optionally mirrored to an
// attached debugger and to the event-trace system.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "logging/log_format.h"

// Levels are bits tested against the logger's mask. <windows.h> defines ERROR as a macro,
// so the names carry a LOG_ prefix.
enum LogLevel : int32_t {
    LOG_NONE = logfmt::kLevelNone,
    LOG_ERROR = logfmt::kLevelError,
    LOG_WARN = logfmt::kLevelWarn,
    LOG_INFO = logfmt::kLevelInfo,
    LOG_DEBUG = logfmt::kLevelDebug,
    LOG_ALL = logfmt::kLevelAll,
};

enum LogOutput : int32_t {
    LOG_DEBUGGER = 1,
    LOG_FILE = 2,
    LOG_TRACE = 4,
};

// Characters of the stored path and tag, without the terminator.
constexpr size_t kLogPathChars = 260;
constexpr size_t kLogTagChars = 32;
// Characters of one formatted message, without the terminator; longer ones are cut.
constexpr size_t kLogMessageChars = 2047;

class THLogger {
  public:
    THLogger();
    virtual ~THLogger();
    THLogger(const THLogger&) = delete;
    THLogger& operator=(const THLogger&) = delete;

    // (Re)configures the logger. A new path (none open, or another path ignoring case) rotates
    // the older copies, opens the file afresh and writes the header block.
    void open(const wchar_t* path, int32_t mask, int32_t outputs, const wchar_t* tag);
    void close();
    // Writes the header block of a new log; false when there is no file or it failed.
    bool writeHeader();
    // Formats and writes one message (the body of logMessage).
    void logV(int32_t level, const wchar_t* format, va_list args);

    int32_t mask() const { return mask_; }
    int32_t outputs() const { return outputs_; }
    const wchar_t* path() const { return path_; }
    const wchar_t* tag() const { return tag_; }
    bool hasFile() const { return file_ != nullptr; }

  private:
    FILE* file_;
    int32_t mask_;
    int32_t outputs_;
    wchar_t path_[kLogPathChars + 1];
    wchar_t tag_[kLogTagChars + 1];
};

class THSingletonLogger : public THLogger {
  public:
    // The process-wide logger; made and opened by the first call with a non-empty path.
    // Later calls return it and ignore their arguments. Null when it cannot be allocated.
    static THLogger* instance(const wchar_t* path, int32_t mask, int32_t outputs);
    ~THSingletonLogger() override;

  private:
    THSingletonLogger() = default;
};

// The logger every component writes to; null when none could be made.
extern THLogger* gLogger;

void logMessage(THLogger* logger, int32_t level, const wchar_t* format, ...);
const wchar_t* levelName(int32_t level);

// Moves "name" to "1_name", "1_name" to "2_name" ... and drops "5_name".
void rotateFiles(const wchar_t* path);

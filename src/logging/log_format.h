// The text layout of the tool's log, in one place for the logger that writes it and the fleet
// report that reads it back: the level names, the head of each record (time stamp, thread,
// level, tag) and the lines of the header block. Portable: no <windows.h>, so that the report's
// core builds natively.
//
// Writing works on wide text (the logger's) and narrow text alike; reading works on the UTF-8
// bytes of a log file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace logfmt {

// Level values: bits tested against a logger's mask.
constexpr int32_t kLevelNone = 0;
constexpr int32_t kLevelError = 1;
constexpr int32_t kLevelWarn = 2;
constexpr int32_t kLevelInfo = 4;
constexpr int32_t kLevelDebug = 8;
constexpr int32_t kLevelAll = -1;

// A level and its name, in narrow and wide form (written once, see kLevels in the source).
struct LevelName {
    int32_t level;
    const char* text;
    const wchar_t* wideText;
    bool known;  // false for the "UNKNOWN" name of any other value
};

// The name of a level value: NONE, ERROR, WARN, INFO, DEBUG, ALL, or UNKNOWN for any other.
const LevelName& levelName(int32_t level);

// The level a name stands for; null when the text is no level name (UNKNOWN is one).
const LevelName* levelByText(std::string_view text);

// Local time of a record, as the logger takes it from the C library (month 1 to 12).
struct RecordStamp {
    int month = 0;
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Appends the head of one record: "MM/DD/YYYY hh:mm:ss T0x<thread> LEVEL: ", and "[tag] " when
// the tag is not empty. The numbers are formatted as printf's %02d / %04d / %d would, so the
// thread id (an unsigned value printed with %d) reads as the signed 32-bit number.
void appendRecordHead(std::wstring& out,
                      const RecordStamp& stamp,
                      uint32_t thread,
                      const wchar_t* level,
                      const wchar_t* tag);
void appendRecordHead(std::string& out,
                      const RecordStamp& stamp,
                      uint32_t thread,
                      const char* level,
                      const char* tag);

// A record head read back from a log line.
struct RecordHead {
    RecordStamp stamp;
    int64_t thread = 0;
    const LevelName* level = nullptr;
    size_t length = 0;  // bytes of the head, up to the message (or its "[tag] ")
};

// Reads a record head at the start of text. False when the text does not start with one (the
// stamp must have the widths the logger writes for a valid date: 2/2/4 2:2:2 digits).
bool parseRecordHead(std::string_view text, RecordHead& head);

// True when text could be the start of a record head cut short: what is left of one when a
// file ends inside it.
bool startsRecordHead(std::string_view text);

// Where the next record head starts in text, from `from` on; npos when there is none.
size_t findRecordHead(std::string_view text, size_t from = 0);

// "YYYY-MM-DD hh:mm:ss": a stamp in the order that sorts.
std::string sortableStamp(const RecordStamp& stamp);

// Header block: an empty line, the rule, the file name, the subscribed levels, the OS
// description (left out when null), the rule; every line ends with a line feed. Nothing is cut:
// the caller decides whether the whole block fits.
constexpr size_t kRuleChars = 72;
std::wstring headerBlock(const wchar_t* fileName, const wchar_t* subscriptions, const wchar_t* os);
std::string headerBlock(const char* fileName, const char* subscriptions, const char* os);

// A header line read back. Empty and Other carry no value.
enum class HeaderLine { Empty, Rule, FileName, Subscriptions, Os, Other };
HeaderLine classifyHeaderLine(std::string_view line, std::string_view& value);

// True when text is the start of a header line (of the rule, or of a label and its value): what
// is left of one when a file ends inside it.
bool startsHeaderLine(std::string_view text);

}  // namespace logfmt

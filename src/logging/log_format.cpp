#include "logging/log_format.h"

#include <cstdio>
#include <cwchar>
#include <type_traits>

namespace logfmt {

namespace {

// One literal, both forms: the wide one is the narrow text with the L prefix added.
#define LOGFMT_BOTH(text) text, L"" text

struct Text {
    const char* narrow;
    const wchar_t* wide;

    template <typename Ch>
    const Ch* get() const {
        if constexpr (std::is_same_v<Ch, char>) {
            return narrow;
        } else {
            return wide;
        }
    }
};

constexpr LevelName kLevels[] = {
    {kLevelNone, LOGFMT_BOTH("NONE"), true},   {kLevelError, LOGFMT_BOTH("ERROR"), true},
    {kLevelWarn, LOGFMT_BOTH("WARN"), true},   {kLevelInfo, LOGFMT_BOTH("INFO"), true},
    {kLevelDebug, LOGFMT_BOTH("DEBUG"), true}, {kLevelAll, LOGFMT_BOTH("ALL"), true},
};
constexpr LevelName kUnknownLevel = {0, LOGFMT_BOTH("UNKNOWN"), false};

constexpr Text kThreadPrefix = {LOGFMT_BOTH(" T0x")};
constexpr Text kFileLabel = {LOGFMT_BOTH("Tarvos Host Logging: ")};
constexpr Text kSubscriptionsLabel = {LOGFMT_BOTH("Initial Logging Subscriptions: ")};
constexpr Text kOsLabel = {LOGFMT_BOTH("OS Version Info: ")};

// printf's %0<width>d: the sign counts towards the width, zeros fill the rest.
template <typename Ch>
void appendNumber(std::basic_string<Ch>& out, int64_t value, int width) {
    char digits[24];
    const int n = std::snprintf(digits, sizeof digits, "%lld",
                                static_cast<long long>(value < 0 ? -value : value));
    const int used = n + (value < 0 ? 1 : 0);
    if (value < 0)
        out.push_back(static_cast<Ch>('-'));
    for (int i = used; i < width; ++i)
        out.push_back(static_cast<Ch>('0'));
    for (int i = 0; i < n; ++i)
        out.push_back(static_cast<Ch>(digits[i]));
}

// The layouts as the logger has always formatted them, by Microsoft's printf rules: %s is a
// string as wide as the format. The record's last %s is its message.
constexpr Text kRecordFormat = {LOGFMT_BOTH("%02d/%02d/%04d %02d:%02d:%02d T0x%d %s: %s")};
constexpr Text kTaggedRecordFormat = {
    LOGFMT_BOTH("%02d/%02d/%04d %02d:%02d:%02d T0x%d %s: [%s] %s")};
constexpr Text kHeaderFormat = {LOGFMT_BOTH("\n%s\n%s%s\n%s%s\n%s%s\n%s\n")};
constexpr Text kHeaderWithoutOsFormat = {LOGFMT_BOTH("\n%s\n%s%s\n%s%s\n%s\n")};

#undef LOGFMT_BOTH

// Appends printf output of one of the formats above. The C library's wide printf reads %s as a
// narrow string, so the wide format is handed over with %ls, which means a wide string to both
// the C library and Microsoft's.
template <typename... Args>
void appendFormatted(std::string& out, const Text& format, Args... args) {
    const int n = std::snprintf(nullptr, 0, format.narrow, args...);
    if (n <= 0)
        return;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    std::snprintf(&out[at], static_cast<size_t>(n) + 1, format.narrow, args...);
    out.resize(at + static_cast<size_t>(n));
}

template <typename... Args>
void appendFormatted(std::wstring& out, const Text& format, Args... args) {
    std::wstring c;
    for (const wchar_t* p = format.wide; *p != L'\0'; ++p) {
        c.push_back(*p);
        if (p[0] == L'%' && p[1] == L's')
            c.push_back(L'l');
    }
    // C's swprintf reports -1 for a buffer too small; MinGW's reports the length it needed.
    for (size_t cap = 256; cap <= (size_t{1} << 24); cap *= 2) {
        std::wstring buf(cap, L'\0');
        const int n = std::swprintf(&buf[0], cap, c.c_str(), args...);
        if (n >= 0 && static_cast<size_t>(n) < cap) {
            out.append(buf, 0, static_cast<size_t>(n));
            return;
        }
    }
}

template <typename Ch>
void appendHead(std::basic_string<Ch>& out,
                const RecordStamp& s,
                uint32_t thread,
                const Ch* level,
                const Ch* tag) {
    const Ch none[] = {0};
    // The thread id is printed with %d: above 2^31 it reads as the signed number.
    const int id = static_cast<int>(static_cast<int32_t>(thread));
    if (tag != nullptr && tag[0] != 0) {
        appendFormatted(out, kTaggedRecordFormat, s.month, s.day, s.year, s.hour, s.minute,
                        s.second, id, level, tag, none);
    } else {
        appendFormatted(out, kRecordFormat, s.month, s.day, s.year, s.hour, s.minute, s.second, id,
                        level, none);
    }
}

template <typename Ch>
std::basic_string<Ch> block(const Ch* file, const Ch* subscriptions, const Ch* os) {
    const std::basic_string<Ch> rule(kRuleChars, static_cast<Ch>('='));
    std::basic_string<Ch> out;
    if (os != nullptr) {
        appendFormatted(out, kHeaderFormat, rule.c_str(), kFileLabel.get<Ch>(), file,
                        kSubscriptionsLabel.get<Ch>(), subscriptions, kOsLabel.get<Ch>(), os,
                        rule.c_str());
    } else {
        appendFormatted(out, kHeaderWithoutOsFormat, rule.c_str(), kFileLabel.get<Ch>(), file,
                        kSubscriptionsLabel.get<Ch>(), subscriptions, rule.c_str());
    }
    return out;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Exactly `width` digits at text[at]; advances `at`.
bool readDigits(std::string_view text, size_t& at, size_t width, int& value) {
    if (at + width > text.size())
        return false;
    value = 0;
    for (size_t i = 0; i < width; ++i) {
        const char c = text[at + i];
        if (!isDigit(c))
            return false;
        value = value * 10 + (c - '0');
    }
    at += width;
    return true;
}

bool readChar(std::string_view text, size_t& at, char c) {
    if (at >= text.size() || text[at] != c)
        return false;
    ++at;
    return true;
}

bool readStamp(std::string_view text, size_t& at, RecordStamp& s) {
    return readDigits(text, at, 2, s.month) && readChar(text, at, '/') &&
           readDigits(text, at, 2, s.day) && readChar(text, at, '/') &&
           readDigits(text, at, 4, s.year) && readChar(text, at, ' ') &&
           readDigits(text, at, 2, s.hour) && readChar(text, at, ':') &&
           readDigits(text, at, 2, s.minute) && readChar(text, at, ':') &&
           readDigits(text, at, 2, s.second);
}

bool validStamp(const RecordStamp& s) {
    return s.month >= 1 && s.month <= 12 && s.day >= 1 && s.day <= 31 && s.hour <= 23 &&
           s.minute <= 59 && s.second <= 60;
}

// "<digits>" or "-<digits>", at most ten digits (a 32-bit number).
bool readThread(std::string_view text, size_t& at, int64_t& thread) {
    const bool negative = at < text.size() && text[at] == '-';
    size_t p = negative ? at + 1 : at;
    int64_t value = 0;
    size_t digits = 0;
    while (p < text.size() && isDigit(text[p]) && digits < 11) {
        value = value * 10 + (text[p] - '0');
        ++p;
        ++digits;
    }
    if (digits == 0 || digits > 10)
        return false;
    thread = negative ? -value : value;
    at = p;
    return true;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

const LevelName& levelName(int32_t level) {
    for (const LevelName& entry : kLevels) {
        if (entry.level == level)
            return entry;
    }
    return kUnknownLevel;
}

const LevelName* levelByText(std::string_view text) {
    for (const LevelName& entry : kLevels) {
        if (text == entry.text)
            return &entry;
    }
    return text == kUnknownLevel.text ? &kUnknownLevel : nullptr;
}

void appendRecordHead(std::wstring& out,
                      const RecordStamp& stamp,
                      uint32_t thread,
                      const wchar_t* level,
                      const wchar_t* tag) {
    appendHead(out, stamp, thread, level, tag);
}

void appendRecordHead(std::string& out,
                      const RecordStamp& stamp,
                      uint32_t thread,
                      const char* level,
                      const char* tag) {
    appendHead(out, stamp, thread, level, tag);
}

bool parseRecordHead(std::string_view text, RecordHead& head) {
    size_t at = 0;
    RecordHead h;
    if (!readStamp(text, at, h.stamp) || !validStamp(h.stamp))
        return false;
    const std::string_view threadPrefix = kThreadPrefix.narrow;
    if (!startsWith(text.substr(at), threadPrefix))
        return false;
    at += threadPrefix.size();
    if (!readThread(text, at, h.thread) || !readChar(text, at, ' '))
        return false;
    const size_t colon = text.find(':', at);
    // The longest level name is "UNKNOWN".
    if (colon == std::string_view::npos || colon - at > 7)
        return false;
    h.level = levelByText(text.substr(at, colon - at));
    at = colon + 1;
    if (h.level == nullptr || !readChar(text, at, ' '))
        return false;
    h.length = at;
    head = h;
    return true;
}

bool startsRecordHead(std::string_view text) {
    // The stamp's shape ('0' for a digit), then the thread number, a blank, the level, ':'.
    constexpr std::string_view kShape = "00/00/0000 00:00:00 T0x";
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool fits = i < kShape.size() ? (kShape[i] == '0' ? isDigit(c) : c == kShape[i])
                                            : isDigit(c) || c == '-' || c == ' ' || c == ':' ||
                                                  (c >= 'A' && c <= 'Z');
        if (!fits)
            return false;
    }
    return !text.empty();
}

size_t findRecordHead(std::string_view text, size_t from) {
    // A head starts "MM/": look for the slash, then check the whole head from two bytes before.
    for (size_t slash = text.find('/', from + 2); slash != std::string_view::npos;
         slash = text.find('/', slash + 1)) {
        RecordHead head;
        if (parseRecordHead(text.substr(slash - 2), head))
            return slash - 2;
    }
    return std::string_view::npos;
}

std::string sortableStamp(const RecordStamp& s) {
    std::string out;
    appendNumber(out, s.year, 4);
    out.push_back('-');
    appendNumber(out, s.month, 2);
    out.push_back('-');
    appendNumber(out, s.day, 2);
    out.push_back(' ');
    appendNumber(out, s.hour, 2);
    out.push_back(':');
    appendNumber(out, s.minute, 2);
    out.push_back(':');
    appendNumber(out, s.second, 2);
    return out;
}

std::wstring headerBlock(const wchar_t* fileName, const wchar_t* subscriptions, const wchar_t* os) {
    return block(fileName, subscriptions, os);
}

std::string headerBlock(const char* fileName, const char* subscriptions, const char* os) {
    return block(fileName, subscriptions, os);
}

bool startsHeaderLine(std::string_view text) {
    if (text.size() <= kRuleChars && text.find_first_not_of('=') == std::string_view::npos)
        return true;
    for (const Text* label : {&kFileLabel, &kSubscriptionsLabel, &kOsLabel}) {
        const std::string_view full = label->narrow;
        if (startsWith(text, full) || startsWith(full, text))
            return true;
    }
    return false;
}

HeaderLine classifyHeaderLine(std::string_view line, std::string_view& value) {
    value = std::string_view();
    if (line.empty())
        return HeaderLine::Empty;
    if (line.size() == kRuleChars && line.find_first_not_of('=') == std::string_view::npos)
        return HeaderLine::Rule;
    const struct {
        const Text& label;
        HeaderLine kind;
    } labelled[] = {{kFileLabel, HeaderLine::FileName},
                    {kSubscriptionsLabel, HeaderLine::Subscriptions},
                    {kOsLabel, HeaderLine::Os}};
    for (const auto& entry : labelled) {
        const std::string_view label = entry.label.narrow;
        if (startsWith(line, label)) {
            value = line.substr(label.size());
            return entry.kind;
        }
    }
    return HeaderLine::Other;
}

}  // namespace logfmt

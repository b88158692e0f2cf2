#include "report/log_line_matcher.h"

#include <iterator>
#include <vector>

namespace report {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// "{N}" or "{WORD...}" at pattern[at]; its length, 0 when there is none.
size_t placeholderAt(std::string_view pattern, size_t at, bool& number) {
    if (pattern[at] != '{')
        return 0;
    const size_t close = pattern.find('}', at);
    if (close == std::string_view::npos)
        return 0;
    number = pattern.substr(at, close + 1 - at) == "{N}";
    return close + 1 - at;
}

// An optional minus and 1 to 18 digits.
bool readNumber(std::string_view text, size_t& at, int64_t& value) {
    size_t p = at;
    const bool negative = p < text.size() && text[p] == '-';
    if (negative)
        ++p;
    const size_t first = p;
    int64_t v = 0;
    while (p < text.size() && isDigit(text[p]) && p - first < 18) {
        v = v * 10 + (text[p] - '0');
        ++p;
    }
    if (p == first || (p < text.size() && isDigit(text[p])))
        return false;
    value = negative ? -v : v;
    at = p;
    return true;
}

void capture(LineMatch& m, std::string_view text) {
    if (m.textCount < std::size(m.texts))
        m.texts[m.textCount] = text;
    ++m.textCount;
}

// Matches the piece of the pattern from p up to its next any-text placeholder (or its end)
// at text[t..]: literals and numbers only, so there is one way or none. Returns the end of the
// piece in the pattern and, in t, in the text; npos when it does not match here.
size_t matchPiece(std::string_view pattern,
                  size_t p,
                  std::string_view text,
                  size_t& t,
                  LineMatch& m) {
    while (p < pattern.size()) {
        bool number = false;
        const size_t hole = placeholderAt(pattern, p, number);
        if (hole == 0) {
            if (t >= text.size() || text[t] != pattern[p])
                return std::string_view::npos;
            ++p;
            ++t;
        } else if (number) {
            int64_t value = 0;
            if (!readNumber(text, t, value))
                return std::string_view::npos;
            if (m.numberCount < std::size(m.numbers))
                m.numbers[m.numberCount] = value;
            ++m.numberCount;
            p += hole;
        } else {
            break;
        }
    }
    return p;
}

// Matches the whole text against the pattern. Any-text placeholders take as little as they
// can: each piece after one is placed at the earliest end it can have, which leaves the most
// text for the rest, so nothing is ever tried twice. A piece that begins with a literal is
// only tried where that literal occurs, and only until a match that ends earlier is no longer
// possible: the work is linear in the text's length, whatever a hostile log holds.
bool matchFrom(std::string_view pattern, std::string_view text, LineMatch& m) {
    size_t t = 0;
    size_t p = matchPiece(pattern, 0, text, t, m);
    while (p != std::string_view::npos && p < pattern.size()) {
        bool number = false;
        p += placeholderAt(pattern, p, number);  // an any-text placeholder
        if (p == pattern.size()) {
            capture(m, text.substr(t));  // the hole takes the rest
            return true;
        }
        const size_t literalEnd = pattern.find('{', p);
        const std::string_view literal = pattern.substr(p, literalEnd - p);
        if (literal.empty())
            return false;  // two holes in a row: no line of the tool has them
        LineMatch best;
        size_t bestEnd = std::string_view::npos;
        size_t bestStart = 0;
        size_t bestP = 0;
        // A start past the best end so far cannot end earlier.
        for (size_t at = text.find(literal, t);
             at != std::string_view::npos &&
             (bestEnd == std::string_view::npos || at + literal.size() <= bestEnd);
             at = text.find(literal, at + 1)) {
            LineMatch tried = m;
            size_t end = at;
            const size_t nextP = matchPiece(pattern, p, text, end, tried);
            if (nextP == std::string_view::npos)
                continue;
            // The last piece must end the text: the first start that does is the match.
            if (nextP == pattern.size() && end != text.size())
                continue;
            if (bestEnd == std::string_view::npos || end < bestEnd) {
                best = tried;
                bestEnd = end;
                bestStart = at;
                bestP = nextP;
            }
            if (nextP == pattern.size())
                break;
        }
        if (bestEnd == std::string_view::npos)
            return false;
        capture(best, text.substr(t, bestStart - t));
        m = best;
        t = bestEnd;
        p = bestP;
    }
    return p != std::string_view::npos && t == text.size();
}

// The lines a message can be, by its level and first byte, in the table's order: every record
// of every log is matched, a million logs' worth in a fleet, and most lines' first byte alone
// rules them out. A line that begins with a placeholder is in every list of its level.
struct LineIndex {
    static constexpr int kLevels = 8;  // level values are 1, 2 and 4
    const LogLine* table = nullptr;
    std::vector<uint8_t> lines[kLevels][256];
    std::vector<std::string_view> prefix;  // the literal text before the first placeholder

    LineIndex() {
        size_t count = 0;
        table = logLines(count);  // fewer than 256 lines: log_lines.cpp asserts it
        prefix.resize(count);
        for (size_t i = 0; i < count; ++i) {
            const LogLine& line = table[i];
            const std::string_view text = line.text;
            prefix[i] = text.substr(0, text.find('{'));
            if (line.level < 0 || line.level >= kLevels)
                continue;
            for (int c = 0; c < 256; ++c) {
                if (prefix[i].empty() || static_cast<uint8_t>(prefix[i][0]) == c)
                    lines[line.level][c].push_back(static_cast<uint8_t>(i));
            }
        }
    }
};

}  // namespace

bool matchLogLine(int32_t level, std::string_view message, LineMatch& match) {
    static const LineIndex index;
    if (level < 0 || level >= LineIndex::kLevels)
        return false;
    const uint8_t first = message.empty() ? 0 : static_cast<uint8_t>(message[0]);
    for (const uint8_t i : index.lines[level][first]) {
        const std::string_view prefix = index.prefix[i];
        if (message.substr(0, prefix.size()) != prefix)
            continue;
        LineMatch m;
        if (matchFrom(index.table[i].text, message, m)) {
            m.line = &index.table[i];
            match = m;
            return true;
        }
    }
    return false;
}

}  // namespace report

// Reads a record's message as one of the tool's log lines: the placeholders of the line's
// text ({N}, {PATH}, ...) are matched and their values kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "report/log_lines.h"

namespace report {

// A record's message matched against the table.
struct LineMatch {
    const LogLine* line = nullptr;
    int64_t numbers[3] = {};  // the values of the first three {N}
    size_t numberCount = 0;
    std::string_view texts[4];  // what the first four text placeholders stand for
    size_t textCount = 0;
};

// Finds the line of this level whose text the message (without its line end) is. False when
// none is, or a number does not fit 64 bits.
bool matchLogLine(int32_t level, std::string_view message, LineMatch& match);

}  // namespace report

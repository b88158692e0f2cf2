#include "report/log_lines.h"

#include <array>

#include "report/log_lines_drivers_ui.h"
#include "report/log_lines_paths.h"
#include "report/log_lines_start_end.h"

namespace report {

namespace {

template <size_t Total, size_t N>
constexpr void append(std::array<LogLine, Total>& all, size_t& at, const LogLine (&part)[N]) {
    for (size_t i = 0; i < N; ++i)
        all[at++] = part[i];
}

// The kinds' tables as one, in the order given: the guide's order, and the matcher's (where
// two lines could read one message, the first wins).
template <size_t... N>
constexpr std::array<LogLine, (N + ...)> joined(const LogLine (&... parts)[N]) {
    std::array<LogLine, (N + ...)> all{};
    size_t at = 0;
    (append(all, at, parts), ...);
    return all;
}

// The guide opens a section where the section of a line changes: a table holds its own only.
template <size_t N>
constexpr bool allIn(const LogLine (&lines)[N], Section section) {
    for (const LogLine& line : lines) {
        if (line.section != section)
            return false;
    }
    return true;
}
static_assert(allIn(line_tables::kStartUpLines, Section::StartUp) &&
                  allIn(line_tables::kMigrationLines, Section::Migration) &&
                  allIn(line_tables::kRestartLines, Section::Restart) &&
                  allIn(line_tables::kDriverLines, Section::Drivers) &&
                  allIn(line_tables::kPolicyUiLines, Section::PolicyUi) &&
                  allIn(line_tables::kEndLines, Section::End),
              "a line stands in the table of its section");

constexpr auto kLines = joined(line_tables::kStartUpLines,
                               line_tables::kMigrationLines,
                               line_tables::kRestartLines,
                               line_tables::kDriverLines,
                               line_tables::kPolicyUiLines,
                               line_tables::kEndLines);
static_assert(kLines.size() < 256, "the matcher keeps line numbers in a byte");

}  // namespace

const LogLine* logLines(size_t& count) {
    count = kLines.size();
    return kLines.data();
}

const LogLine& logLine(LineId id) {
    for (const LogLine& line : kLines) {
        if (line.id == id)
            return line;
    }
    return kLines[0];
}

}  // namespace report

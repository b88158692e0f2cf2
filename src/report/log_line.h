// The type of a row of the log-line tables: what a line of the tool's log says, where it stands
// in the guide and how it bears on the host. Below both the tables (log_lines_*.h) and the joined
// table (log_lines.h), so that a table needs nothing of the table that joins it.
#pragma once

#include <cstdint>

namespace report {

// The lines the report's judgement of a run looks at; every other line is Other.
enum class LineId {
    Other,
    StartLogging,
    UpgradeFailed,
    StartingOldGlacis,
    GlacisStartFailed,
    RampartDetected,
    MigrationStep,  // a line only the migration path writes
    PickUpUi,
    PolicyOutcome,  // the local UI step's decision: the step has run
    TarvosStartFailed,
    Detected,
    FirstStartOk,
    RescueOk,
    TryOldAgent,
    OldAgentFailed,
    RemovingRampart,
    ToolStarted,        // the tool's own start record: a log that has it ends with an end record
    EndRecord,          // the run's last record: exit code, path, state of the new agent
    AlreadyRunning,     // the new agent's service was found running
    Resumed,            // an interrupted migration is taken up again
    RestartNeeded,      // the migration waits for a restart (exit code 3010)
    NotSeenRunning,     // a start was accepted, but the agent was not seen running
    RestartDidNotFree,  // the restart asked for did not free a service (exit code 1072)
};

enum class Section { StartUp, Migration, Restart, Drivers, PolicyUi, End };

// How a line bears on the host: not at all, as a failure, or as a failure when one of its
// numbers is not 0 (installer exit codes).
enum class Concern { None, Failure, NonZero };

// What follows the text in the file: a line feed (most), a line feed and one blank (the first
// record), or nothing, so that the next record runs on in the same line.
enum class LineEnd { Feed, FeedAndBlank, None };

constexpr int64_t kNoCode = -1;

struct LogLine {
    LineId id;
    Section section;
    int32_t level;  // logfmt::kLevelError, kLevelWarn or kLevelInfo
    // The exact text; {N} stands for a decimal number, {PATH}, {NAME}, {TEXT} and
    // {COMMAND LINE} for any text.
    const char* text;
    Concern concern;
    bool win32Code;        // the first {N} is a Win32 code
    int64_t harmlessCode;  // a failure with this code is harmless; kNoCode when none is
    LineEnd end;
    const char* meaning;  // Markdown: `code` spans
    const char* action;   // Markdown; empty when there is nothing to do
};

}  // namespace report

// The fixed vocabulary a host's run is judged in: the outcomes a host can have and the causes
// that explain them, each with its meaning and the next action, as the outputs and
// docs/log-lines.md give them.
#pragma once

#include <cstdint>
#include <string>

#include "report/log_lines.h"
#include "report/shared_text.h"

namespace report {

// In the order a fleet's hosts are listed: the worst first.
enum class Outcome {
    NoAgent,        // no agent started at all: the host is unprotected
    NotStarted,     // the new agent did not start
    NotRunning,     // its start was accepted, but it was never seen running
    OldAgentAgain,  // upgrade refused, the old agent started again
    Incomplete,     // the run was stopped, or is still running
    Unreadable,     // the file could not be read
    NotALog,        // not a log of this tool
    NoLog,          // a host of the inventory whose log was never collected
    NotRun,         // only a preflight output: the tool has not run there yet
    RestartNeeded,  // the new agent runs; the first run after a restart finishes the migration
    FollowUp,       // the new agent started, but a step failed in a way that needs a person
    StartedAfterRescue,
    Started,
};
constexpr int kOutcomeCount = 13;

struct OutcomeInfo {
    Outcome outcome;
    const char* key;    // for CSV and JSON: "no-agent", ...
    const char* label;  // for people: "no agent started (host unprotected)", ...
    bool attention;     // the host needs an administrator
    const char* meaning;
    const char* action;  // empty when there is nothing to do
};

const OutcomeInfo& outcomeInfo(Outcome outcome);

// What explains a host's outcome, so that a fleet's hosts can be counted by cause: the record
// that explains it (not the first failure line: that is often an installer's noise), or for
// hosts without a usable log the reason.
enum class CauseId {
    None,  // nothing to explain: the new agent runs
    OldAgentNotStarted,
    NoAgentAfterRestart,
    NewAgentStartFailed,  // with the code the start failed with
    NewAgentNotStartedRestart,
    AgentStopped,
    AgentStartPending,
    UpgradeRefused,
    CutOff,
    EndsInsideRecord,
    NothingLogged,
    StoppedOlderTool,
    Unreadable,
    NotALog,
    NoLog,
    RestartNeeded,  // exit code 3010: a service waits for a restart to be registered again
    // Follow-up: the new agent started. The most serious first: of several, a run gets the
    // first of these.
    RestartDidNotFree,    // exit code 1072: the restart asked for did not free a service
    MigrationUnfinished,  // a migration record is left that this run did not take up
    PolicyCopyLeft,
    OldAgentMarkedForDeletion,
    DriverInstallerFailed,
    FilterLibraryNotCopied,
    MigrationRecordKept,
    RecordUntrusted,  // a record others could change was ignored and removed
    // Noted on a host whatever its outcome, never its outcome's cause: the policy could not be
    // used, so the local user interface was left as it was.
    PolicyNotRead,
    // Hosts with a preflight output only: what the check sees ahead of the run.
    PreflightFallback,
    PreflightProblems,
    PreflightUnreadable,
};
constexpr int kCauseCount = static_cast<int>(CauseId::PreflightUnreadable) + 1;
static_assert(kCauseCount <= 32, "a host keeps its other causes as bits of 32");

// How much harm a cause's hosts are in, the most first: the causes are ranked by it before
// their host counts.
enum class Harm {
    Unprotected,  // its hosts run no agent: urgent
    Retry,        // a failure that a restart, a retry or a collection mends
    FollowUp,     // the new agent runs; a step needs a person
    Ahead,        // seen ahead of the run by the preflight
};

struct CauseInfo {
    CauseId id;
    const char* key;      // for CSV, JSON and the page: "new-agent-start-failed", ...
    const char* label;    // for people, short
    const char* meaning;  // what it means for the host
    const char* action;   // one thing an administrator can do about it
};

const CauseInfo& causeInfo(CauseId id);
const char* harmKey(Harm harm);  // "unprotected", "retry", "follow-up", "ahead"

struct Cause {
    CauseId id = CauseId::None;
    SharedText record;       // the record (or reason) that gives it, cut to kMaxFailureText
    int64_t code = kNoCode;  // the Win32 code it carries, where the cause depends on it
};

// The cause as the views group it: its key, with the code where it carries one
// ("new-agent-start-failed-1058"); its label with the code's name; and the one next action,
// chosen by the code where the code decides it.
std::string causeKey(const Cause& cause);
std::string causeLabel(const Cause& cause);
std::string causeAction(const Cause& cause);

}  // namespace report

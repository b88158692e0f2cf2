// What the report knows of one run of the tool on one host: the small record kept per log,
// and the fixed vocabulary of paths and outcomes it is told in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/log_lines.h"

namespace report {

enum class RunPath { Unknown, Migration, Restart, Fallback };

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

// Text most hosts of a fleet share (the OS description, failure lines, reasons), held once per
// distinct value for the whole report: a million hosts keep a pointer each. Safe to make from
// several threads. Equal texts are the same copy, so comparing them compares pointers.
class SharedText {
  public:
    SharedText();
    explicit SharedText(std::string_view text);
    SharedText& operator=(std::string_view text) { return *this = SharedText(text); }
    bool empty() const { return text_->empty(); }
    const std::string& str() const { return *text_; }
    operator const std::string&() const { return *text_; }
    bool operator==(const SharedText& other) const { return text_ == other.text_; }
    bool operator!=(const SharedText& other) const { return text_ != other.text_; }

  private:
    const std::string* text_;
};

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
    PolicyCopyLeft,
    OldAgentMarkedForDeletion,
    DriverInstallerFailed,
    FilterLibraryNotCopied,
    MigrationRecordKept,
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

struct Cause {
    CauseId id = CauseId::None;
    SharedText record;       // the record (or reason) that gives it, cut to kMaxFailureText
    int64_t code = kNoCode;  // the Win32 code it carries, where the cause depends on it
};

// Which agent protects a host, as far as its log tells.
enum class Protection { NewAgent, OldAgent, None, Unknown };
constexpr int kProtectionCount = 4;
const char* protectionKey(Protection protection);    // "newAgent", ... (JSON)
const char* protectionLabel(Protection protection);  // "new agent", ... (people)

const OutcomeInfo& outcomeInfo(Outcome outcome);
const char* pathName(RunPath path);

// The exit code the tool returned, as far as the records tell it.
struct ExitCode {
    enum Kind { Unknown, Known, NonZero } kind = Unknown;
    int64_t value = 0;  // for Known
};
std::string exitCodeText(const ExitCode& exit);  // "0", "1053", "non-zero", "unknown"

// One failure line of the log, explained.
struct Failure {
    const LogLine* line = nullptr;
    SharedText text;  // the message as logged, cut to kMaxFailureText bytes
    int64_t code = kNoCode;
    bool harmless = false;
};
constexpr size_t kMaxFailureText = 512;
// Failure lines kept per run; the rest are only counted.
constexpr size_t kMaxFailures = 32;

// A record's time as "YYYY-MM-DD hh:mm:ss", kept in the record itself: a million hosts need
// no heap block each for it.
class Stamp {
  public:
    Stamp() = default;
    explicit Stamp(std::string_view text);
    bool empty() const { return text_[0] == '\0'; }
    std::string text() const { return text_; }

  private:
    char text_[20] = {};
};

// What a host's preflight output (relocator-check --json) says of the run ahead.
struct Preflight {
    std::string file;                   // UTF-8
    std::string host;                   // from the file's name, else its own "host" field
    std::string path;                   // "migration", "restart", "fallback"; empty: unreadable
    std::string reason;                 // why it is no preflight output, when it is not
    std::vector<std::string> problems;  // problem ids, each once, in the check's order
    std::string action;                 // the first problem's next action, as the check says it
    bool readable() const { return !path.empty(); }
    bool needsAttention() const { return !readable() || path == "fallback" || !problems.empty(); }
};

struct HostReport {
    std::string host;  // UTF-8
    std::string file;  // the log's path, UTF-8
    int run = 0;       // 0: the current log; 1 to 5: the rotated copy N_Relocator.log
    Stamp started;     // first and last record; empty when none
    Stamp ended;
    SharedText os;  // the header's OS description; empty when absent
    RunPath path = RunPath::Unknown;
    Outcome outcome = Outcome::NotALog;
    ExitCode exit;
    SharedText reason;  // why, for the outcomes that need one said
    std::vector<Failure> failures;
    size_t moreFailures = 0;  // failure lines beyond kMaxFailures
    Cause cause;
    uint32_t otherCauses = 0;  // a bit per CauseId the records show besides `cause`
    uint32_t group = 0;        // the rank of its cause in the fleet (Fleet::order)
    bool unlisted = false;     // an inventory was given, and it lacks this host
    // Which agent the records last showed started: for a log that stops early, and for a new
    // agent that was never seen running.
    Protection lastSeen = Protection::Unknown;
    const Preflight* preflight = nullptr;  // its preflight output, held by the fleet
};

bool needsAttention(const HostReport& host);
Protection protectionOf(const HostReport& host);

// Every cause of the host: its outcome's cause first, then the others in the order of CauseId.
std::vector<Cause> hostCauses(const HostReport& host);
const char* harmKey(Harm harm);  // "unprotected", "retry", "follow-up", "ahead"

// The one next action for the host: its cause's, or for a host known by its preflight output
// only, the check's own for its first problem.
std::string nextAction(const HostReport& host);

// Adds a part to the host's reason, after "; " when it has one.
void addReason(HostReport& host, std::string_view part);

// The cause as the views group it: its key, with the code where it carries one
// ("new-agent-start-failed-1058"); its label with the code's name; and the one next action,
// chosen by the code where the code decides it.
std::string causeKey(const Cause& cause);
std::string causeLabel(const Cause& cause);
std::string causeAction(const Cause& cause);

// The follow-up cause a failure line of a run that started the new agent gives; None for a
// failure that needs no one. PolicyNotRead is noted, but leaves the outcome as it is.
CauseId followUpCause(const Failure& failure);

// Fills in the cause of a host whose outcome the log's records did not explain (no log,
// unreadable, not a log, incomplete without a finer cause).
void defaultCause(HostReport& host);

// "1053 ERROR_SERVICE_REQUEST_TIMEOUT: The service did not ...", or the code alone when the
// table does not know it.
std::string codeText(int64_t code);

// A share as the outputs show it: "12.5%" (0.0% of nothing).
std::string percent(size_t part, size_t whole);

// Text of the guide's Markdown for a terminal or a page: `code` spans and [text](link) become
// their text.
std::string plainText(const char* markdown);

}  // namespace report

// What the report knows of one run of the tool on one host: the small record kept per log,
// and the paths it is told in. The outcomes and causes, the shared texts, the protection and
// the text formats come with it: the report's files take the whole vocabulary from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/log_lines.h"
#include "report/outcome_catalogue.h"
#include "report/protection.h"
#include "report/shared_text.h"
#include "report/display_text.h"

namespace report {

enum class RunPath { Unknown, Migration, Restart, Fallback };

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

// Every cause of the host: its outcome's cause first, then the others in the order of CauseId.
std::vector<Cause> hostCauses(const HostReport& host);

// The one next action for the host: its cause's, or for a host known by its preflight output
// only, the check's own for its first problem.
std::string nextAction(const HostReport& host);

// Adds a part to the host's reason, after "; " when it has one.
void addReason(HostReport& host, std::string_view part);

// The follow-up cause a failure line of a run that started the new agent gives; None for a
// failure that needs no one. PolicyNotRead is noted, but leaves the outcome as it is.
CauseId followUpCause(const Failure& failure);

// Fills in the cause of a host whose outcome the log's records did not explain (no log,
// unreadable, not a log, incomplete without a finer cause).
void defaultCause(HostReport& host);

}  // namespace report

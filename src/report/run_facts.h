// What the records of one run show, gathered record by record: the path they point to, the
// steps of that path logged, the tool's own start and end records, the records that explain an
// outcome, which agent was last seen started, and the failure lines. RunJudge decides from
// these facts alone, once the file has been read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "logging/log_format.h"
#include "report/host_report.h"
#include "report/log_line_matcher.h"

namespace report {

// Of a record's text, the start that a reason quotes: enough to recognise it.
constexpr size_t kQuotedChars = 160;

class RunFacts {
  public:
    // One record: its head and its message without its line end. `terminated` is false when
    // the record had no line end and no record followed it (the file ends inside it, unless it
    // is one of the lines the tool writes without a line end).
    void record(const logfmt::RecordHead& head, std::string_view message, bool terminated);

    // The file ends inside the head of a record after the last one: `start` is what is left.
    void cutAtEnd(const std::string& start);

    // Number of records seen so far.
    size_t records() const { return records_; }
    // True when the first record was not the tool's start record.
    bool foreign() const { return foreign_; }
    const std::string& firstMessage() const { return firstMessage_; }

  protected:
    size_t records_ = 0;
    bool foreign_ = false;
    std::string firstMessage_;
    logfmt::RecordStamp first_;
    logfmt::RecordStamp last_;
    std::string lastMessage_;
    bool lastWhole_ = true;

    RunPath path_ = RunPath::Unknown;
    // Fallback
    bool startingOldGlacis_ = false;
    bool glacisStartFailed_ = false;
    // Migration
    bool pickUpUi_ = false;
    bool policyOutcome_ = false;
    bool tarvosStartFailed_ = false;
    int64_t tarvosStartCode_ = 0;
    // Restart
    bool firstStartOk_ = false;
    bool rescueOk_ = false;
    bool triedOldAgent_ = false;
    bool oldAgentFailed_ = false;
    bool rampartDetected_ = false;
    bool removingRampart_ = false;

    // The tool's own start and end records.
    bool toolStarted_ = false;
    bool ended_ = false;
    int64_t endExitCode_ = 0;
    std::string endPath_;
    std::string endAgent_;
    std::string endResult_;  // empty in the end record of a tool before 1.2
    bool alreadyRunning_ = false;
    bool resumed_ = false;

    // The records that explain an outcome, as first seen; and the most serious failure that
    // leaves a host with the new agent running in need of a person.
    Cause upgradeFailed_;
    Cause glacisFailed_;
    Cause tarvosFailed_;
    Cause triedOld_;
    Cause oldFailed_;
    Cause endRecord_;
    Cause restartNeeded_;
    Cause followUp_;

    uint32_t followUps_ = 0;  // a bit per follow-up cause seen

    // Which agent the records last showed started, for a run cut off before its end. A start
    // the tool waits to see running counts once a record after it shows the wait over.
    Protection seen_ = Protection::Unknown;
    bool newStartPending_ = false;
    bool oldStartPending_ = false;

    std::vector<Failure> failures_;
    size_t moreFailures_ = 0;

  private:
    void note(const LineMatch& match, std::string_view message);
    void track(LineId id);
    void failure(const LineMatch& match, std::string_view message);
};

}  // namespace report

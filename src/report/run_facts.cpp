#include "report/run_facts.h"

namespace report {

namespace {

bool nonZeroNumber(const LineMatch& match) {
    const size_t n = match.numberCount < 3 ? match.numberCount : 3;
    for (size_t i = 0; i < n; ++i) {
        if (match.numbers[i] != 0)
            return true;
    }
    return false;
}

// Keeps the first record of a kind as the cause it would give.
void remember(Cause& cause, CauseId id, std::string_view message, int64_t code = kNoCode) {
    if (cause.id != CauseId::None)
        return;
    cause.id = id;
    cause.record = message.substr(0, kMaxFailureText);
    cause.code = code;
}

}  // namespace

void RunFacts::record(const logfmt::RecordHead& head, std::string_view message, bool terminated) {
    LineMatch match;
    const bool known = head.level->known && matchLogLine(head.level->level, message, match);
    if (records_ == 0) {
        first_ = head.stamp;
        firstMessage_.assign(message.substr(0, kQuotedChars));
        // Cut short, the start record is a beginning of its text.
        const std::string_view start = logLine(LineId::StartLogging).text;
        foreign_ = !(known && match.line->id == LineId::StartLogging) &&
                   !(!terminated && start.substr(0, message.size()) == message);
    }
    ++records_;
    last_ = head.stamp;
    lastMessage_.assign(message.substr(0, kQuotedChars));
    // A line the tool writes without a line end is whole without one.
    lastWhole_ = terminated || (known && match.line->end == LineEnd::None);
    if (records_ == 1)
        return;
    if (known) {
        note(match, message);
    } else if (head.level->level == logfmt::kLevelError) {
        // An error the guide does not know (a newer tool?): listed, unexplained.
        failure(LineMatch(), message);
    }
    track(known ? match.line->id : LineId::Other);
}

void RunFacts::track(LineId id) {
    // The record after an accepted start shows the wait for it over, unless it says otherwise.
    if (newStartPending_ && id != LineId::NotSeenRunning)
        seen_ = Protection::NewAgent;
    if (oldStartPending_ && id != LineId::OldAgentFailed && id != LineId::GlacisStartFailed)
        seen_ = Protection::OldAgent;
    newStartPending_ = false;
    oldStartPending_ = false;
    switch (id) {
        case LineId::FirstStartOk:
        case LineId::RescueOk:
            // Tools before the start record did not wait: a start accepted was the answer.
            if (toolStarted_)
                newStartPending_ = true;
            else
                seen_ = Protection::NewAgent;
            break;
        case LineId::AlreadyRunning:
            seen_ = Protection::NewAgent;
            break;
        case LineId::TryOldAgent:
        case LineId::StartingOldGlacis:
            seen_ = Protection::Unknown;
            oldStartPending_ = true;
            break;
        case LineId::NotSeenRunning:
        case LineId::TarvosStartFailed:
        case LineId::OldAgentFailed:
        case LineId::GlacisStartFailed:
            seen_ = Protection::None;
            break;
        default:
            break;
    }
}

void RunFacts::cutAtEnd(const std::string& start) {
    lastWhole_ = false;
    lastMessage_.assign(start.substr(0, kQuotedChars));
}

void RunFacts::note(const LineMatch& match, std::string_view message) {
    const LogLine& line = *match.line;
    if (line.concern == Concern::Failure ||
        (line.concern == Concern::NonZero && nonZeroNumber(match))) {
        failure(match, message);
    }
    const bool undecided = path_ == RunPath::Unknown;
    switch (line.id) {
        case LineId::UpgradeFailed:
            path_ = RunPath::Fallback;
            remember(upgradeFailed_, CauseId::UpgradeRefused, message);
            break;
        case LineId::Detected:
            path_ = RunPath::Restart;
            break;
        case LineId::MigrationStep:
            path_ = undecided ? RunPath::Migration : path_;
            break;
        case LineId::PickUpUi:
            path_ = undecided ? RunPath::Migration : path_;
            pickUpUi_ = true;
            break;
        case LineId::PolicyOutcome:
            policyOutcome_ = true;
            break;
        case LineId::TarvosStartFailed:
            tarvosStartFailed_ = true;
            tarvosStartCode_ = match.numbers[0];
            remember(tarvosFailed_, CauseId::NewAgentStartFailed, message, match.numbers[0]);
            break;
        case LineId::StartingOldGlacis:
            startingOldGlacis_ = true;
            break;
        case LineId::GlacisStartFailed:
            glacisStartFailed_ = true;
            remember(glacisFailed_, CauseId::OldAgentNotStarted, message);
            break;
        case LineId::FirstStartOk:
            firstStartOk_ = true;
            break;
        case LineId::RescueOk:
            rescueOk_ = true;
            break;
        case LineId::TryOldAgent:
            triedOldAgent_ = true;
            remember(triedOld_, CauseId::NewAgentNotStartedRestart, message);
            break;
        case LineId::OldAgentFailed:
            oldAgentFailed_ = true;
            remember(oldFailed_, CauseId::NoAgentAfterRestart, message);
            break;
        case LineId::RampartDetected:
            rampartDetected_ = true;
            break;
        case LineId::RemovingRampart:
            removingRampart_ = true;
            break;
        case LineId::ToolStarted:
            toolStarted_ = true;
            break;
        case LineId::EndRecord:
            ended_ = true;
            endExitCode_ = match.numbers[0];
            endPath_.assign(match.texts[1]);
            endAgent_.assign(match.texts[2]);
            endResult_.assign(match.textCount > 3 ? match.texts[3] : std::string_view());
            endRecord_.record = message.substr(0, kMaxFailureText);
            break;
        case LineId::RestartNeeded:
            remember(restartNeeded_, CauseId::RestartNeeded, message);
            break;
        case LineId::AlreadyRunning:
            alreadyRunning_ = true;
            break;
        case LineId::Resumed:
            resumed_ = true;
            path_ = RunPath::Migration;
            break;
        case LineId::RestartDidNotFree:
        case LineId::StartLogging:
        case LineId::NotSeenRunning:
        case LineId::Other:
            break;
    }
}

void RunFacts::failure(const LineMatch& match, std::string_view message) {
    Failure f;
    f.line = match.line;
    f.text = message.substr(0, kMaxFailureText);
    if (match.line != nullptr && match.line->win32Code && match.numberCount > 0) {
        f.code = match.numbers[0];
        f.harmless = f.code == match.line->harmlessCode;
    }
    // Looked at before the cap, so that no number of earlier failures can hide it; the most
    // serious one is the cause.
    const CauseId followUp = followUpCause(f);
    if (followUp != CauseId::None)
        followUps_ |= 1u << static_cast<int>(followUp);
    // A policy that could not be used leaves the agent as it is: noted, never the outcome.
    if (followUp != CauseId::None && followUp != CauseId::PolicyNotRead &&
        (followUp_.id == CauseId::None || followUp < followUp_.id)) {
        followUp_.id = followUp;
        followUp_.record = f.text;
    }
    if (failures_.size() >= kMaxFailures) {
        ++moreFailures_;
        return;
    }
    failures_.push_back(std::move(f));
}

}  // namespace report

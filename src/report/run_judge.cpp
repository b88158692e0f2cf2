#include "report/run_judge.h"

namespace report {

namespace {

constexpr size_t kQuotedChars = 160;

std::string quoted(std::string_view text) {
    std::string out = "\"";
    out.append(text.substr(0, kQuotedChars));
    if (text.size() > kQuotedChars)
        out += "...";
    out += '"';
    return out;
}

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

void RunJudge::record(const logfmt::RecordHead& head, std::string_view message, bool terminated) {
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

void RunJudge::track(LineId id) {
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

void RunJudge::cutAtEnd(const std::string& start) {
    lastWhole_ = false;
    lastMessage_.assign(start.substr(0, kQuotedChars));
}

void RunJudge::note(const LineMatch& match, std::string_view message) {
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

void RunJudge::failure(const LineMatch& match, std::string_view message) {
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

bool RunJudge::complete() const {
    if (toolStarted_)
        return ended_;
    switch (path_) {
        case RunPath::Fallback:
            return startingOldGlacis_;
        case RunPath::Migration:
            return pickUpUi_ && policyOutcome_;
        case RunPath::Restart:
            return (firstStartOk_ || rescueOk_ || triedOldAgent_) &&
                   (rampartDetected_ || removingRampart_);
        case RunPath::Unknown:
            break;
    }
    return false;
}

void RunJudge::outcome(HostReport& report) const {
    ExitCode& exit = report.exit;
    exit.kind = ExitCode::Known;
    exit.value = 0;
    switch (report.path) {
        case RunPath::Fallback:
            report.outcome = glacisStartFailed_ ? Outcome::NoAgent : Outcome::OldAgentAgain;
            break;
        case RunPath::Migration:
            // Since 1.3 a failed start is rescued as on the restart path.
            report.outcome = !tarvosStartFailed_ ? Outcome::Started
                             : rescueOk_         ? Outcome::StartedAfterRescue
                                                 : Outcome::NotStarted;
            exit.value = tarvosStartFailed_ ? tarvosStartCode_ : 0;
            break;
        case RunPath::Restart:
            report.outcome = firstStartOk_ || alreadyRunning_ ? Outcome::Started
                             : rescueOk_                      ? Outcome::StartedAfterRescue
                             : oldAgentFailed_                ? Outcome::NoAgent
                                                              : Outcome::NotStarted;
            if (report.outcome == Outcome::NotStarted)
                report.reason = "the old agent was started instead";
            // With Rampart registered the tool returns the first start's code, which the log
            // does not show; only its success does.
            if (rampartDetected_ && !firstStartOk_)
                exit.kind = ExitCode::NonZero;
            break;
        case RunPath::Unknown:
            break;
    }
    if (!ended_) {
        explain(report);
        return;
    }
    // The end record knows what the records alone cannot: the code returned, and whether the
    // agent whose start was accepted came up.
    exit.kind = ExitCode::Known;
    exit.value = endExitCode_;
    const bool started =
        report.outcome == Outcome::Started || report.outcome == Outcome::StartedAfterRescue;
    if (started && endAgent_ != "running") {
        report.outcome = Outcome::NotRunning;
        report.reason = "the new agent's service was last seen " + endAgent_;
        report.cause = endRecord_;
        report.cause.id =
            endAgent_ == "start-pending" ? CauseId::AgentStartPending : CauseId::AgentStopped;
    }
    // The new agent runs, but the migration is finished only by the first run after a restart.
    const bool restartNeeded =
        endResult_ == "restart-needed" || (endResult_.empty() && endExitCode_ == 3010);
    if (restartNeeded && started) {
        report.outcome = Outcome::RestartNeeded;
        report.cause = restartNeeded_;
        report.cause.id = CauseId::RestartNeeded;
        report.reason = "exit code 3010: the first run after a restart finishes the migration";
        return;
    }
    if (resumed_)
        addReason(report, "finished a migration that an earlier run began");
    explain(report);
}

void RunJudge::explain(HostReport& report) const {
    switch (report.outcome) {
        case Outcome::NoAgent:
            report.cause = report.path == RunPath::Fallback ? glacisFailed_ : oldFailed_;
            break;
        case Outcome::NotStarted:
            report.cause = report.path == RunPath::Migration ? tarvosFailed_ : triedOld_;
            break;
        case Outcome::OldAgentAgain:
            report.cause = upgradeFailed_;
            break;
        case Outcome::Started:
        case Outcome::StartedAfterRescue:
            if (followUp_.id != CauseId::None) {
                report.outcome = Outcome::FollowUp;
                report.cause = followUp_;
            }
            break;
        default:
            break;
    }
}

RunPath RunJudge::endPath() const {
    if (endPath_ == "migration")
        return RunPath::Migration;
    if (endPath_ == "restart")
        return RunPath::Restart;
    if (endPath_ == "fallback")
        return RunPath::Fallback;
    return RunPath::Unknown;
}

void RunJudge::judge(HostReport& report, const std::string& damage) const {
    report.path = ended_ && endPath() != RunPath::Unknown ? endPath() : path_;
    report.failures = failures_;
    report.moreFailures = moreFailures_;
    report.otherCauses = followUps_;
    report.lastSeen = seen_;
    if (records_ > 0) {
        report.started = Stamp(logfmt::sortableStamp(first_));
        report.ended = Stamp(logfmt::sortableStamp(last_));
    }
    report.exit = ExitCode();
    if (lastWhole_ && complete()) {
        outcome(report);
        if (!toolStarted_) {
            addReason(report,
                      "no end record: a tool before 1.1, or a run cut off after its last step");
        }
        if (!damage.empty())
            addReason(report, damage);
        return;
    }
    report.outcome = Outcome::Incomplete;
    if (!lastWhole_) {
        report.reason = "the file ends inside a record: " + quoted(lastMessage_);
        report.cause.id = CauseId::EndsInsideRecord;
    } else if (records_ <= 1) {
        report.reason = "nothing logged after the start record";
        report.cause.id = CauseId::NothingLogged;
    } else if (toolStarted_) {
        const std::string cutOff =
            "no end record: the run was cut off (killed, or the host "
            "went down) after ";
        report.reason = cutOff + quoted(lastMessage_);
        report.cause.id = CauseId::CutOff;
    } else {
        report.reason = "stopped after " + quoted(lastMessage_) +
                        "; no end record: a tool before 1.1, or the run was cut off";
        report.cause.id = CauseId::StoppedOlderTool;
    }
    report.cause.record = lastMessage_;
    if (!damage.empty())
        addReason(report, damage);
}

}  // namespace report

#include "report/run_judge.h"

namespace report {

namespace {

std::string quoted(std::string_view text) {
    std::string out = "\"";
    out.append(text.substr(0, kQuotedChars));
    if (text.size() > kQuotedChars)
        out += "...";
    out += '"';
    return out;
}

}  // namespace

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

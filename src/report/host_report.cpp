#include "report/host_report.h"

#include <algorithm>

namespace report {

Stamp::Stamp(std::string_view text) {
    const size_t n = std::min(text.size(), sizeof text_ - 1);
    std::copy(text.begin(), text.begin() + n, text_);
}

std::vector<Cause> hostCauses(const HostReport& host) {
    std::vector<Cause> causes;
    if (host.cause.id != CauseId::None)
        causes.push_back(host.cause);
    for (int id = 1; id < kCauseCount; ++id) {
        if ((host.otherCauses >> id & 1u) != 0 && static_cast<CauseId>(id) != host.cause.id) {
            Cause other;
            other.id = static_cast<CauseId>(id);
            causes.push_back(other);
        }
    }
    return causes;
}

std::string nextAction(const HostReport& host) {
    if (host.outcome == Outcome::NotRun && host.preflight != nullptr &&
        !host.preflight->action.empty())
        return host.preflight->action;
    // Which installer failed, and so what to do, is the failure line's own.
    if (host.cause.id == CauseId::DriverInstallerFailed) {
        for (const Failure& f : host.failures) {
            if (f.text == host.cause.record && f.line != nullptr && f.line->action[0] != '\0')
                return plainText(f.line->action);
        }
    }
    return host.cause.id == CauseId::None ? std::string() : causeAction(host.cause);
}

CauseId followUpCause(const Failure& failure) {
    if (failure.line == nullptr || failure.harmless)
        return CauseId::None;
    const std::string_view text = failure.line->text;
    const auto starts = [&](std::string_view head) { return text.substr(0, head.size()) == head; };
    if ((starts("Glacisd can't be removed") || starts("Glacisd can't be added")) &&
        failure.code == 1072)
        return CauseId::OldAgentMarkedForDeletion;
    if (failure.line->concern == Concern::NonZero)
        return CauseId::DriverInstallerFailed;
    if (starts("UpdateminiFilterDriver::Failed to copy driver dll"))
        return CauseId::FilterLibraryNotCopied;
    if (starts("Can't remove the migration record"))
        return CauseId::MigrationRecordKept;
    if (failure.line->id == LineId::RestartDidNotFree)
        return CauseId::RestartDidNotFree;
    if (starts("A migration begun {TEXT} by Relocator {TEXT} is not finished"))
        return CauseId::MigrationUnfinished;
    if (starts("The record {PATH} is ignored"))
        return CauseId::RecordUntrusted;
    if (starts("Can't delete {PATH} left behind"))
        return CauseId::PolicyCopyLeft;
    if (failure.line->id == LineId::PolicyOutcome)
        return CauseId::PolicyNotRead;
    return CauseId::None;
}

void defaultCause(HostReport& host) {
    if (host.cause.id != CauseId::None || !needsAttention(host))
        return;
    switch (host.outcome) {
        case Outcome::Unreadable:
            host.cause.id = CauseId::Unreadable;
            break;
        case Outcome::NotALog:
            host.cause.id = CauseId::NotALog;
            break;
        case Outcome::NoLog:
            host.cause.id = CauseId::NoLog;
            break;
        case Outcome::NotRun:
            host.cause.id = host.preflight == nullptr || !host.preflight->readable()
                                ? CauseId::PreflightUnreadable
                            : host.preflight->path == "fallback" ? CauseId::PreflightFallback
                                                                 : CauseId::PreflightProblems;
            break;
        default:
            host.cause.id = CauseId::NothingLogged;
            break;
    }
    if (host.cause.record.empty())
        host.cause.record = host.reason.str().substr(0, kMaxFailureText);
}

const char* pathName(RunPath path) {
    switch (path) {
        case RunPath::Migration:
            return "migration";
        case RunPath::Restart:
            return "restart";
        case RunPath::Fallback:
            return "fallback";
        case RunPath::Unknown:
            break;
    }
    return "unknown";
}

std::string exitCodeText(const ExitCode& exit) {
    switch (exit.kind) {
        case ExitCode::Known:
            return std::to_string(exit.value);
        case ExitCode::NonZero:
            return "non-zero";
        case ExitCode::Unknown:
            break;
    }
    return "unknown";
}

bool needsAttention(const HostReport& host) {
    if (host.outcome == Outcome::NotRun)
        return host.preflight == nullptr || host.preflight->needsAttention();
    return outcomeInfo(host.outcome).attention;
}

void addReason(HostReport& host, std::string_view part) {
    if (host.reason.empty()) {
        host.reason = part;
        return;
    }
    std::string text = host.reason;
    text += "; ";
    text.append(part);
    host.reason = text;
}

}  // namespace report

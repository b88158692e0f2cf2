#include "report/host_protection.h"

namespace report {

// The outcome says which agent runs, but for a log cut off (its records tell how far the run
// got) and for hosts without a usable log (nothing is known).
Protection protectionOf(const HostReport& host) {
    switch (host.outcome) {
        case Outcome::Started:
        case Outcome::StartedAfterRescue:
        case Outcome::FollowUp:
        case Outcome::RestartNeeded:
            return Protection::NewAgent;
        case Outcome::OldAgentAgain:
            return Protection::OldAgent;
        case Outcome::NotStarted:
            // The restart path starts the old agent instead; a migration does too since 1.3,
            // when its records show it.
            return host.path == RunPath::Restart || host.lastSeen == Protection::OldAgent
                       ? Protection::OldAgent
                       : Protection::None;
        case Outcome::NotRunning:
            // Stopped again, or hung in its start: nothing protects the host, unless the records
            // show the old agent started after it.
            return host.lastSeen == Protection::OldAgent ? Protection::OldAgent : Protection::None;
        case Outcome::NoAgent:
            return Protection::None;
        case Outcome::Incomplete:
            return host.lastSeen;
        case Outcome::Unreadable:
        case Outcome::NotALog:
        case Outcome::NoLog:
        case Outcome::NotRun:
            break;
    }
    return Protection::Unknown;
}

}  // namespace report

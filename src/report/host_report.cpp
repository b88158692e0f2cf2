#include "report/host_report.h"

#include "report/win32_codes.h"

namespace report {

namespace {

// clang-format off
constexpr OutcomeInfo kOutcomes[kOutcomeCount] = {
    {Outcome::NoAgent, "no-agent", "no agent started (host unprotected)", true,
     "Neither the new agent nor the old one could be started: the host runs no protection.",
     "Urgent: start `KLOTarvos` or `Glacis` by hand, find out why both failed (failure lines), then run the tool again."},
    {Outcome::NotStarted, "not-started", "new agent not started", true,
     "The new agent's service `KLOTarvos` did not start. On the restart path the old agent was started instead.",
     "Fix the cause the failure lines name (see [exit-codes.md](exit-codes.md)), then run the tool again."},
    {Outcome::NotRunning, "not-running", "new agent start accepted, never seen running", true,
     "The service control manager accepted the start of `KLOTarvos`, but within 30 s the service was not seen running: it stopped again (`stopped`) or hung in its start (`start-pending`). The exit code is 0 all the same.",
     "Look at `KLOTarvos` on the host (its state, the agent's own log); start it by hand or run the tool again."},
    {Outcome::OldAgentAgain, "old-agent-again", "upgrade refused, old agent started again", true,
     "The fallback path ran: nothing was upgraded, the old agent was started again. The exit code is 0 all the same.",
     "Copy the Tarvos files into the installation folder and run the tool again, without arguments."},
    {Outcome::Incomplete, "incomplete", "log incomplete", true,
     "The log stops before its path's last step: the run was killed, the host went down, or the tool is still running; or the file was cut.",
     "Look at the host; collect the log again once the tool has ended."},
    {Outcome::Unreadable, "unreadable", "log cannot be read", true,
     "The file could not be opened or read.", "Collect the file again; check the collection's rights."},
    {Outcome::NotALog, "not-a-log", "not a log of this tool", true,
     "The file is not a log written by `Relocator.exe` (the reason says what it is instead).",
     "Check the collection: fetch `%WINDIR%\\Relocator.log` of this host."},
    {Outcome::StartedAfterRescue, "started-after-rescue", "new agent started after rescue of a hung start",
     false,
     "The first start hung; the tool ended the hung `thService.exe` and the second start succeeded. With `Rampart` registered the exit code is the first start's, not 0.",
     ""},
    {Outcome::Started, "started", "new agent started", false,
     "The new agent's service `KLOTarvos` was started.", ""},
};
// clang-format on

}  // namespace

const OutcomeInfo& outcomeInfo(Outcome outcome) {
    return kOutcomes[static_cast<int>(outcome)];
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
    return outcomeInfo(host.outcome).attention;
}

std::string codeText(int64_t code) {
    std::string text = std::to_string(code);
    if (const Win32Code* known = findWin32Code(code)) {
        text += ' ';
        text += known->name;
        text += ": ";
        text += known->text;
    }
    return text;
}

std::string plainText(const char* markdown) {
    std::string out;
    for (const char* p = markdown; *p != '\0'; ++p) {
        if (*p == '`')
            continue;
        if (*p == ']' && p[1] == '(') {
            // "[text](link)": the text is already out; skip the link.
            while (*p != '\0' && *p != ')')
                ++p;
            if (*p == '\0')
                break;
            continue;
        }
        if (*p != '[')
            out.push_back(*p);
    }
    return out;
}

}  // namespace report

#include "report/outcome_catalogue.h"

#include "report/display_text.h"
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
     "Fix what the start's code names (the cause's next action says how), then run the tool again."},
    {Outcome::NotRunning, "not-running", "new agent start accepted, never seen running", true,
     "The service control manager accepted the start of `KLOTarvos`, but within 30 s the service was not seen running: it stopped again (`stopped`) or hung in its start (`start-pending`). On the restart path the tool ended the hung process and started it once more, in vain. The exit code is 1053 (tools before 1.2: 0).",
     "Look at `KLOTarvos` on the host (its state, the agent's own log); start it by hand or run the tool again."},
    {Outcome::OldAgentAgain, "old-agent-again", "upgrade refused, old agent started again", true,
     "The fallback path ran: nothing was upgraded, the old agent was started again. The exit code is 2 (the new agent's program is missing) or 87 (the tool was given an argument); tools before 1.2 returned 0.",
     "Copy the Tarvos files into the installation folder and run the tool again, without arguments."},
    {Outcome::Incomplete, "incomplete", "log incomplete", true,
     "The log stops before its path's last step: the run was killed, the host went down, or the tool is still running; or the file was cut.",
     "Look at the host; collect the log again once the tool has ended."},
    {Outcome::Unreadable, "unreadable", "log cannot be read", true,
     "The file could not be opened or read.", "Collect the file again; check the collection's rights."},
    {Outcome::NotALog, "not-a-log", "not a log of this tool", true,
     "The file is not a log written by `Relocator.exe` (the reason says what it is instead).",
     "Check the collection: fetch `%WINDIR%\\Relocator.log` of this host."},
    {Outcome::NoLog, "no-log", "no log collected", true,
     "The host is in the inventory (--hosts), but no log of it was found: the deployment never ran there, or its log was never collected.",
     "Check that the deployment reached the host; collect `%WINDIR%\\Relocator.log` from it."},
    {Outcome::NotRun, "not-run", "not run yet (preflight only)", false,
     "Only the host's preflight output (`relocator-check --json`) was found: it tells the path the tool would take and the problems it would meet.",
     "Fix the problems the preflight lists, then run the tool."},
    {Outcome::RestartNeeded, "restart-needed", "restart needed, then the tool finishes", true,
     "The new agent runs, but a service the migration registers again (`Glacis`, the cause names it) stays marked for deletion until the host restarts. The tool returned 3010 and kept its migration record: the first run after the restart registers the service and finishes the migration.",
     "Let the deployment system restart the host (3010 is a soft reboot) and run the tool again after it; or restart the host and run the tool by hand."},
    {Outcome::FollowUp, "follow-up", "new agent started, follow-up needed", true,
     "The new agent's service `KLOTarvos` was started, but a step failed in a way that needs a person (the cause says which).",
     "Carry out the cause's next action on the host."},
    {Outcome::StartedAfterRescue, "started-after-rescue", "new agent started after rescue of a hung start",
     false,
     "The first start hung; the tool ended the hung `thService.exe` and the second start succeeded. With `Rampart` registered the exit code is the first start's, not 0.",
     ""},
    {Outcome::Started, "started", "new agent started", false,
     "The new agent's service `KLOTarvos` was started.", ""},
};
constexpr CauseInfo kCauses[] = {
    {CauseId::None, "none", "new agent runs", "Nothing to do.", ""},
    {CauseId::OldAgentNotStarted, "old-agent-not-started", "fallback, and the old agent did not start (host unprotected)",
     "The new agent's files were missing, so the tool fell back to the old agent, and the old agent's service `Glacis` could not be started either.",
     "Urgent: start the service `Glacis` by hand (`sc start Glacis`), then copy the Tarvos files into the installation folder and run the tool again without arguments."},
    {CauseId::NoAgentAfterRestart, "no-agent-after-restart", "neither agent starts (host unprotected)",
     "The new agent is installed but did not start, and the old agent could not be started instead.",
     "Urgent: start `KLOTarvos` by hand (`sc start KLOTarvos`) and read the error it gives; repair or reinstall the agent, then run the tool again."},
    {CauseId::NewAgentStartFailed, "new-agent-start-failed", "the new agent's service did not start",
     "The migration registered `KLOTarvos`, but its start failed with the code shown; the exit code is that code.",
     "Start `KLOTarvos` by hand on the host (`sc start KLOTarvos`) to see the error, fix it, then run the tool again."},
    {CauseId::NewAgentNotStartedRestart, "new-agent-not-started-restart", "the new agent did not start; the old agent runs",
     "The new agent is installed but its start failed; the tool started the old agent instead, so the host is protected by the old agent.",
     "Start `KLOTarvos` by hand (`sc start KLOTarvos`) to see the error, repair the agent's installation, then run the tool again."},
    {CauseId::AgentStopped, "agent-stopped", "the new agent stopped after its start",
     "The start of `KLOTarvos` was accepted, but the service stopped again within 30 s.",
     "Read the agent's own log on the host for why it stopped, fix that, then start `KLOTarvos` (`sc start KLOTarvos`)."},
    {CauseId::AgentStartPending, "agent-start-pending", "the new agent hangs in its start",
     "The start of `KLOTarvos` was accepted, but after 30 s the service was still starting; the exit code is 1053.",
     "After a migration: run the tool again, its restart path ends a hung `thService.exe` and starts it once more. When that rescue failed too (restart path): read the agent's own log on the host and repair its installation."},
    {CauseId::UpgradeRefused, "upgrade-refused", "the new agent's files are missing: fallback to the old agent",
     "The tool found no `thService.exe` in the installation folder (or was run with an argument), so nothing was upgraded and the old agent was started again.",
     "Copy the Tarvos files into the folder named by `HKLM\\SOFTWARE\\QSX\\Tarvos Desktop\\InstallDir`, and make the deployment run the tool without arguments; then run it again."},
    {CauseId::CutOff, "cut-off", "the run was cut off",
     "The tool wrote its start record but no end record: it was killed (a deployment time limit?) or the host went down.",
     "Run the tool again on the host (it finishes an interrupted migration); if the deployment kills it, give it 30 minutes (see deploying.md)."},
    {CauseId::EndsInsideRecord, "ends-inside-record", "the log file ends inside a record",
     "The file was cut while it was written or copied: the run was stopped, or the collection copied a log still being written.",
     "Collect the log again once the tool has ended on the host."},
    {CauseId::NothingLogged, "nothing-logged", "nothing logged after the start",
     "The run stopped at once, or the tool is still running.",
     "Collect the log again once the tool has ended; if it stays this way, run the tool by hand on the host."},
    {CauseId::StoppedOlderTool, "stopped-older-tool", "stopped before its last step (a tool before 1.1)",
     "An older tool writes no end record; this log stops before its path's last step.",
     "Deploy the current tool and run it again on the host."},
    {CauseId::Unreadable, "unreadable", "the log or its folder cannot be read",
     "The report could not open or list it (the reason says why): its hosts are not judged.",
     "Give the account that runs the report read access to the item, or collect it again."},
    {CauseId::NotALog, "not-a-log", "the collected file is not this tool's log",
     "The file is binary, UTF-16, empty or another program's log (the reason says which).",
     "Collect `%WINDIR%\\Relocator.log` of the host again."},
    {CauseId::NoLog, "no-log", "no log collected",
     "The host is in the inventory but no log of it was found: the deployment never ran there, or its log was never collected.",
     "Check in the deployment system that the job reached the host; then collect `%WINDIR%\\Relocator.log` from it."},
    {CauseId::RestartNeeded, "restart-needed", "a restart is needed to finish the migration",
     "A service the migration registers again was still marked for deletion (it was running when the migration deleted it), so the tool ended with 3010 and keeps its migration record.",
     "Restart the host, then run the tool once without arguments: it registers the service and finishes the migration."},
    {CauseId::RestartDidNotFree, "restart-did-not-free", "the restart did not free the old agent's service (1072)",
     "The host restarted after the tool asked for it with 3010, and `Glacis` is still marked for deletion, so the migration cannot be finished. The new agent runs; the tool returns 1072 and asks for no further restart.",
     "Find what keeps `Glacis` (the old agent's watchdog, protection of its service key, a Fast Startup shut-down instead of a restart), remove that cause, then run the tool again: it finishes the migration."},
    {CauseId::MigrationUnfinished, "migration-unfinished", "a migration is left unfinished by this run",
     "A migration record is there, but this run took the restart or fallback path (an argument was given, or the new agent's files are missing) and left it: the run is no success.",
     "Make the deployment run the tool without arguments, with the Tarvos files in the installation folder; that run finishes the migration."},
    {CauseId::OldAgentMarkedForDeletion, "old-agent-marked-for-deletion", "the old agent's service is only marked for deletion (1072)",
     "`Glacis` was running, so its service could only be marked for deletion; it keeps its registration until the host restarts.",
     "Restart the host; the old service is then removed."},
    {CauseId::DriverInstallerFailed, "driver-installer-failed", "a driver installer returned non-zero",
     "A network or filter driver installer (`NetInst.exe`, `IfsInst.exe`) failed; the agent runs, but without that driver's update.",
     "The failure line names the installer and its code. 2 (or 3): the installer is missing; copy the agent's `NetInstall` or `IfsInstall` folder for the host's bitness into the installation folder and run the tool again. Other codes: run that installer by hand with the command line logged before the line (the filter driver's writes `qsxfltr.log` in the installation folder), fix what it reports, then run the tool again."},
    {CauseId::FilterLibraryNotCopied, "filter-library-not-copied", "the filter library was not copied",
     "`QsxFFilter.dll` could not be copied into the product folder.",
     "Copy `QsxFFilter.dll` by hand from the folder the failure line names (32-bit: the system folder) into the product's installation folder."},
    {CauseId::MigrationRecordKept, "migration-record-kept", "the migration record could not be removed",
     "The migration finished, but its registry record stayed: the next run takes the migration path again.",
     "Delete the key `HKLM\\SOFTWARE\\QSX\\Relocator\\Migration` (32-bit view) on the host."},
    {CauseId::RecordUntrusted, "record-untrusted", "a record others could change was ignored",
     "A record of the tool (the migration's progress, or the programs a run started) could be changed by others than SYSTEM and administrators; it was ignored and removed, and a migration was done from the start.",
     "Find out who wrote the key the line names (under `HKLM\\SOFTWARE\\QSX\\Relocator`) and why; the tool itself gives only SYSTEM and administrators write access."},
    {CauseId::PolicyCopyLeft, "policy-copy-left", "a plain-text copy of the policy stays on the host",
     "An interrupted run left `policy.txt` and this run could not delete it: the policy is readable in plain text.",
     "Delete `policy.txt` from the installation folder by hand."},
    {CauseId::PolicyNotRead, "policy-not-read", "the policy could not be used: the local user interface was left as it was",
     "`policy.xml` was missing, could not be deciphered or held no `IncludeLocalGUI` marker, so the local user interface was neither installed nor removed.",
     "Put a valid `policy.xml` into the installation folder and run the tool again, or install or remove `glacis.exe` and its shortcuts by hand as the policy asks."},
    {CauseId::PreflightFallback, "preflight-fallback", "the preflight says the run would fall back to the old agent",
     "The new agent's program is missing on the host, so `Relocator.exe` would upgrade nothing and start the old agent again.",
     "Copy the Tarvos files into the installation folder, then run the check again."},
    {CauseId::PreflightProblems, "preflight-problems", "the preflight sees problems ahead",
     "The run would migrate or restart, but the check found problems it would meet (each host lists them).",
     "Carry out each problem's next action on the host, then run the check again."},
    {CauseId::PreflightUnreadable, "preflight-unreadable", "the preflight output cannot be read",
     "The file is named like a preflight output but is damaged, cut, or another program's.",
     "Run `relocator-check.exe --json FILE` on the host again and collect the file."},
};

// Next actions for the codes a service start fails with most.
struct CodeAction {
    int64_t code;
    const char* action;
};
// 2 and 3 both say the service's program is missing.
constexpr char kProgramMissing[] =
    "Copy the Tarvos files into the installation folder (the service's program is missing), then run the tool again.";
constexpr CodeAction kStartActions[] = {
    {2, kProgramMissing},
    {3, kProgramMissing},
    {5, "Run the deployment as SYSTEM or an administrator, then run the tool again."},
    {1053, "End any hung `thService.exe` (`taskkill /im thService.exe /f`), then run the tool again: its restart path rescues a hung start."},
    {1058, "Enable the service: `sc config KLOTarvos start= auto`, then run the tool again."},
    {1068, "Start the services `KLOTarvos` depends on (`sc qc KLOTarvos` lists them), then run the tool again."},
    {1069, "Correct the account `KLOTarvos` logs on as (`sc config KLOTarvos obj= LocalSystem`), then run the tool again."},
    {1072, "Restart the host (an old registration is marked for deletion), then run the tool again."},
    {193, "Replace `thService.exe` in the installation folder with an intact copy, then run the tool again."},
};
// clang-format on

}  // namespace

const CauseInfo& causeInfo(CauseId id) {
    for (const CauseInfo& info : kCauses) {
        if (info.id == id)
            return info;
    }
    return kCauses[0];
}

std::string causeKey(const Cause& cause) {
    std::string key = causeInfo(cause.id).key;
    if (cause.code != kNoCode)
        key += "-" + std::to_string(cause.code);
    return key;
}

std::string causeLabel(const Cause& cause) {
    std::string label = causeInfo(cause.id).label;
    if (cause.code != kNoCode) {
        label += ": " + std::to_string(cause.code);
        if (const Win32Code* known = findWin32Code(cause.code))
            label += std::string(" ") + known->name;
    }
    return label;
}

std::string causeAction(const Cause& cause) {
    if (cause.id == CauseId::NewAgentStartFailed) {
        for (const CodeAction& a : kStartActions) {
            if (a.code == cause.code)
                return plainText(a.action);
        }
    }
    return plainText(causeInfo(cause.id).action);
}

const char* harmKey(Harm harm) {
    switch (harm) {
        case Harm::Unprotected:
            return "unprotected";
        case Harm::Retry:
            return "retry";
        case Harm::FollowUp:
            return "follow-up";
        case Harm::Ahead:
            break;
    }
    return "ahead";
}

const OutcomeInfo& outcomeInfo(Outcome outcome) {
    return kOutcomes[static_cast<int>(outcome)];
}

}  // namespace report

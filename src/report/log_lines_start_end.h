// The lines every run writes at its start and end: the tool's own start and end records, its
// run guard, what an interrupted run left behind, and the path choice (with the fallback path,
// which is decided and done there). log_lines.cpp joins the tables in the guide's order.
#pragma once

#include "report/log_lines_shorthand.h"

namespace report::line_tables {

// Start-up and path choice.
// clang-format off
inline constexpr LogLine kStartUpLines[] = {
    {LineId::StartLogging, Section::StartUp, I, "starting Logging Now", kNone, false, kNoCode,
     LineEnd::FeedAndBlank, "The run started.", ""},
    {LineId::ToolStarted, Section::StartUp, I, "Relocator {TEXT} started as process {N}", kNone,
     false, kNoCode, kFeed,
     "The tool's version and process id. A log that has this line ends with the line \"Relocator ... finished with exit code ...\"; one that does not was cut off (the tool was killed or the host went down).",
     ""},
    {LineId::Other, Section::StartUp, W, "Can't take the run guard {PATH}. Errcode :{N} ", kFail,
     true, kNoCode, kFeed,
     "The file that keeps a second copy of the tool from working at the same time could not be made, and the tool does not run as an administrator (5): the run went on unguarded. (An administrator's run that cannot take the guard changes nothing, writes no log and returns 1618.)",
     "Run the tool as an administrator (or SYSTEM)."},
    {LineId::Other, Section::StartUp, W, "Can't record the programs started in {PATH}. Errcode :{N} ",
     kFail, true, kNoCode, kFeed,
     "The list of the programs the run starts (installers, `Rampart.exe -s`) could not be written: if this run is killed while one runs, the next run cannot wait for it.",
     "Run the tool as an administrator (or SYSTEM)."},
    {LineId::Other, Section::StartUp, I, "Deleted {PATH} left behind by an interrupted run", kNone,
     false, kNoCode, kFeed,
     "An earlier run was cut off while it read the policy and left its plain-text copy; it is deleted.",
     ""},
    {LineId::Other, Section::StartUp, E,
     "Can't delete {PATH} left behind by an interrupted run. Errcode :{N} ", kFail, true,
     kNoCode, kFeed,
     "The plain-text copy of the policy that an interrupted run left could not be deleted; it stays readable on the host.",
     "Delete `policy.txt` from the installation folder by hand."},
    {LineId::Other, Section::StartUp, W,
     "A migration begun {TEXT} by Relocator {TEXT} is not finished (last step begun: {NAME}). This run leaves it to the first run without arguments that finds {PATH}",
     kFail, false, kNoCode, kFeed,
     "A migration record is there, but this run takes the fallback or restart path (the new agent's program is missing, or an argument was given): the record stays for a run that can finish the migration, and this run is no success (87 with an argument).",
     "Copy the Tarvos files into the installation folder and run the tool without arguments; to give the migration up instead, delete `HKLM\\SOFTWARE\\QSX\\Relocator\\Migration` (32-bit view)."},
    {LineId::Other, Section::StartUp, W,
     "The record {PATH} is ignored: {TEXT}, and only SYSTEM and administrators may change it. {TEXT}",
     kFail, false, kNoCode, kFeed,
     "A record of the tool (`...\\Migration`: the migration's progress; `...\\Children`: the programs a run started) could be changed by others than SYSTEM and administrators (its access list grants them write access, or another account owns it), so it is no instruction for the tool: no step is skipped and no process it lists is waited for or ended. It was removed (\"It was removed\"); a migration this run takes is done from the start with a record of the tool's own.",
     "Find out who wrote the key (an earlier tool run never gives others write access); the tool keeps its records under `HKLM\\SOFTWARE\\QSX\\Relocator` for SYSTEM and administrators only. \"It can't be removed\": delete the key `Migration` by hand."},
    {LineId::UpgradeFailed, Section::StartUp, E,
     "*** AGENT UPGRADE FAILED. PLEASE GENERATE AGENT BUILD AND INSTALL LATEST VERSION MANUALLY *****.",
     kFail, false, kNoCode, kFeed,
     "Fallback path: the tool was started with an argument while the new agent is not registered, or the new agent's program `thService.exe` is not in the installation folder. Nothing is upgraded: the exit code is 2 (the program is missing) or 87 (an argument was given).",
     "Check that the Tarvos files were copied into the folder named by `HKLM\\SOFTWARE\\QSX\\Tarvos Desktop\\InstallDir` (server edition: the personality's key), and that the deployment runs the tool without arguments."},
    {LineId::StartingOldGlacis, Section::StartUp, E, "Starting old Glacis Service", kNone, false,
     kNoCode, kFeed, "Fallback: the old agent is started again.", ""},
    {LineId::GlacisStartFailed, Section::StartUp, E, "Can't Start Glacisd Service.", kFail, false,
     kNoCode, kFeed, "Fallback: the old agent could not be started either.",
     "Urgent, the host has no running agent: start the service `Glacis` by hand (`sc start Glacis`) and read the error it gives."},
    {LineId::RampartDetected, Section::StartUp, I, "Rampart DETECTED. Starting it", kNone, false,
     kNoCode, kFeed,
     "The application-protection service is registered; `Rampart.exe -s` is run from the tool's working folder. On the restart path the exit code is then the first start's code.",
     ""},
};
// clang-format on

// End of every run.
// clang-format off
inline constexpr LogLine kEndLines[] = {
    {LineId::Other, Section::End, W, "Can't record the run's end in {PATH}. Errcode :{N} ",
     kFail, true, kNoCode, kFeed,
     "The registry record of the last run (for a detection rule) could not be written.",
     "Rely on the exit code and the log's last line for this host."},
    {LineId::EndRecord, Section::End, I,
     "Relocator {TEXT} finished with exit code {N} (path: {NAME}, new agent: {NAME}, result: {NAME}, old agent: {NAME})",
     kNone, false, kNoCode, kFeed,
     "The run's last record: the exit code the tool returned, the path it took, the state the new agent's service was seen in at the end (`running`; `stopped` or `start-pending`: the start was accepted but the agent was not running; `not-started`), the result for the host: `migrated` (nothing left to finish and the new agent runs; exit code 0 or 1056), `restart-needed` (3010) or `failed`, and the state of the old agent's service `Glacis` (`running` where the tool started it because the new agent does not run; `absent` where it is not registered). The same facts are in the registry under `HKLM\\SOFTWARE\\QSX\\Relocator\\LastRun`.",
     ""},
    {LineId::EndRecord, Section::End, I,
     "Relocator {TEXT} finished with exit code {N} (path: {NAME}, new agent: {NAME}, result: {NAME})",
     kNone, false, kNoCode, kFeed,
     "The last record of a 1.2 tool: as above without the old agent's state; a rescued start could end with the first start's failure code, and a failed migration left the old agent stopped. The run's last record: the exit code the tool returned, the path it took, the state the new agent's service was seen in at the end (`running`; `stopped` or `start-pending`: the start was accepted but the agent was not running; `not-started`), and the result for the host: `migrated` (nothing left to finish and the new agent runs; exit code 0 or 1056), `restart-needed` (3010) or `failed`. The same facts are in the registry under `HKLM\\SOFTWARE\\QSX\\Relocator\\LastRun`.",
     ""},
    {LineId::EndRecord, Section::End, I,
     "Relocator {TEXT} finished with exit code {N} (path: {NAME}, new agent: {NAME})", kNone,
     false, kNoCode, kFeed,
     "The last record of a tool before 1.2: as above without the result; the exit code was 0 for some runs that left the new agent not running.",
     ""},
};
// clang-format on

}  // namespace report::line_tables
